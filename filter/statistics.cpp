#include "exact_arithmetic.h"

#include "statistics.h"

#include <limits>

#include "colour.h"
#include "statistics_passes.h"

namespace lumasift LUMASIFT_HIDDEN {

namespace {

bool estimate_statistics(CallState& call, const HostImage& image, ImageStatistics& statistics)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const bool floating = is_floating(image.value_class);
    statistics = {0.0, floating ? 0.0 : class_range(image.value_class), nan, nan, nan};
    if (is_empty(image)) {
        return true;
    }
    ImageRange range = EMPTY_RANGE;
    if (floating) {
        if (!gather_image_range(call, image, scale_block_side(image.rows, image.cols), range)) {
            return false;
        }
        statistics.scale = scale_of(range);
    }
    const BlockLattice lattice = noise_lattice(image.rows, image.cols, image.channels, image.value_class, range);
    // One pass over the image keeps what the readings count, a few
    // megabytes at most (MOST_NOISE_BLOCKS), and the readings count it.
    const Scratch<BlockRecord> records(new BlockRecord[most_block_records(image, lattice)]);
    std::size_t count = 0;
    if (!gather_records(call, image, lattice, records.get(), count)) {
        return false;
    }
    statistics_of_records(records.get(), count, statistics);
    return true;
}

}  // namespace

bool measure_colour(const HostImage& image, ImageStatistics (&statistics)[COLOUR_CHANNELS],
                    const CallOptions& options)
{
    CallState call{options};
    ImageStatistics stored;
    if (!estimate_statistics(call, stored_colour(image), stored)) {
        return false;
    }
    const BlockLattice lattice = texture_lattice(image.rows, image.cols);
    const HostImage first = opponent_channel(image, 0);
    const Scratch<BlockRecord> records(new BlockRecord[most_block_records(first, lattice)]);
    for (int channel = 0; channel < COLOUR_CHANNELS; ++channel) {
        statistics[channel] = stored;
        std::size_t count = 0;
        if (!gather_records(call, opponent_channel(image, channel), lattice, records.get(), count)) {
            return false;
        }
        texture_of_records(records.get(), count, statistics[channel]);
    }
    return true;
}

bool measure_image(const HostImage& image, ImageStatistics& statistics, const CallOptions& options)
{
    CallState call{options};
    return estimate_statistics(call, image, statistics);
}

}  // namespace lumasift
