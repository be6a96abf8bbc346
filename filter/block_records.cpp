#include "exact_arithmetic.h"

// The lattice of blocks a reading counts, and the records of the blocks of
// an image or of a part of one.
#include <algorithm>
#include <cstring>
#include <type_traits>

#include "noise_blocks.h"
#include "parallel.h"
#include "statistics_passes.h"

namespace lumasift LUMASIFT_HIDDEN {

namespace {

// Blocks per unit of work along the rows: enough that a unit's set-up costs
// little, few enough that a stop request is answered at once.
constexpr std::ptrdiff_t BLOCK_COLUMNS_PER_UNIT = 8;

// visit(at) for each start, along one axis of a part `length` long that
// starts at `origin` of the image, of a lattice block that starts in
// [first, end) and ends within the part.
template <class Visit>
void for_each_start(const BlockLattice& lattice, std::ptrdiff_t origin, std::ptrdiff_t length, std::ptrdiff_t first,
                    std::ptrdiff_t end, const Visit& visit)
{
    const std::ptrdiff_t step = lattice.step;
    const std::ptrdiff_t span = step * lattice.stride;
    for (std::ptrdiff_t at = (first + step - 1) / step * step; at < end && at + B <= length; at += step) {
        if ((origin + at) % span == 0) {
            visit(at);
        }
    }
}

std::ptrdiff_t starts_in(const BlockLattice& lattice, std::ptrdiff_t origin, std::ptrdiff_t length,
                         std::ptrdiff_t first, std::ptrdiff_t end)
{
    std::ptrdiff_t starts = 0;
    for_each_start(lattice, origin, length, first, end, [&starts](std::ptrdiff_t) { ++starts; });
    return starts;
}

// visit(block, colour) for the lattice's blocks whose first column is in
// [first, end) of the part, every channel's, in their order; colour is the
// block's on a checkerboard of the lattice, by the NOISE_BLOCK square its
// first pixel lies in.
template <class Visit>
void for_each_block(const HostImage& part, const BlockLattice& lattice, std::ptrdiff_t first, std::ptrdiff_t end,
                    const Visit& visit)
{
    const std::ptrdiff_t rows = part.rows;
    with_element_type(part.value_class, [&](auto* type) {
        using T = std::remove_pointer_t<decltype(type)>;
        Block block;
        double x[B][B];  // x[k][q]: row k, column q of the block
        for (std::ptrdiff_t channel = 0; channel < part.channels; ++channel) {
            for_each_start(lattice, lattice.first_col, part.cols, first, end, [&](std::ptrdiff_t col) {
                const std::ptrdiff_t image_col = lattice.first_col + col;
                for_each_start(lattice, lattice.first_row, rows, 0, rows, [&](std::ptrdiff_t row) {
                    const std::ptrdiff_t image_row = lattice.first_row + row;
                    const Layout& layout = part.layout;
                    // A mixed channel's values start from stored channel 0's.
                    const T* first = static_cast<const T*>(part.values) +
                                     offset_of(layout, row, col, part.mix != nullptr ? 0 : channel);
                    bool clipped = false;
                    for (int q = 0; q < B; ++q) {
                        for (int k = 0; k < B; ++k) {
                            const T* at = first + k * layout.row_step + q * layout.col_step;
                            const double value = part.mix != nullptr
                                                     ? mixed_value(part.mix[channel], at, layout.channel_step)
                                                     : as_double(*at);
                            clipped |= value <= lattice.clipped_below || value >= lattice.clipped_above;
                            x[k][q] = value;
                        }
                    }
                    if (clipped) {
                        return;
                    }
                    if (transform_block(x, block)) {
                        const std::ptrdiff_t square = B * lattice.stride;
                        visit(block, static_cast<int>((image_row / square + image_col / square) % 2));
                    }
                });
            });
        }
    });
}

}  // namespace

bool gather_records(CallState& call, const HostImage& part, const BlockLattice& lattice, BlockRecord* records,
                    std::size_t& count)
{
    count = 0;
    if (is_empty(part)) {
        return true;
    }
    const std::ptrdiff_t columns = BLOCK_COLUMNS_PER_UNIT * B;
    const int units = static_cast<int>((part.cols + columns - 1) / columns);
    const std::ptrdiff_t per_column = part.channels * starts_in(lattice, lattice.first_row, part.rows, 0, part.rows);
    const Scratch<std::size_t> first_record(new std::size_t[static_cast<std::size_t>(units)]);
    const Scratch<std::size_t> filled(new std::size_t[static_cast<std::size_t>(units)]);
    std::size_t places = 0;
    for (int unit = 0; unit < units; ++unit) {
        first_record[unit] = places;
        const std::ptrdiff_t first = unit * columns;
        places += static_cast<std::size_t>(
            per_column * starts_in(lattice, lattice.first_col, part.cols, first, std::min(first + columns, part.cols)));
    }
    const double values = static_cast<double>(part.rows) * static_cast<double>(part.cols) * part.channels;
    if (!run_parallel(call, units, worker_count(call, values, PIXELS_PER_THREAD), [&](int unit, int) {
            BlockRecord* out = records + first_record[unit];
            std::size_t written = 0;
            const std::ptrdiff_t first = unit * columns;
            for_each_block(part, lattice, first, std::min(first + columns, part.cols),
                           [&](const Block& block, int colour) { out[written++] = record_of(block, colour); });
            filled[unit] = written;
        })) {
        return false;
    }
    for (int unit = 0; unit < units; ++unit) {
        std::memmove(records + count, records + first_record[unit], filled[unit] * sizeof(BlockRecord));
        count += filled[unit];
    }
    return true;
}

BlockLattice noise_lattice(std::ptrdiff_t rows, std::ptrdiff_t cols, std::ptrdiff_t channels, ElementClass type,
                           const ImageRange& range)
{
    // Blocks every `step` pixels, every `stride`-th of them.
    const auto blocks = [=](std::ptrdiff_t step, std::ptrdiff_t stride) {
        const auto across = [=](std::ptrdiff_t length) {
            const std::ptrdiff_t starts = length >= B ? (length - B) / step + 1 : 0;
            return static_cast<double>((starts + stride - 1) / stride);
        };
        return across(rows) * across(cols) * static_cast<double>(channels);
    };
    BlockLattice lattice{B, 1, 0, 0, range.lowest_value, range.highest_value};
    while (lattice.step > 1 && blocks(lattice.step, 1) < LEAST_NOISE_BLOCKS) {
        lattice.step /= 2;
    }
    while (lattice.step == B && blocks(B, lattice.stride) > MOST_NOISE_BLOCKS) {
        ++lattice.stride;
    }
    if (!is_floating(type)) {
        with_element_type(type, [&lattice](auto* element) {
            using T = std::remove_pointer_t<decltype(element)>;
            if constexpr (std::is_integral_v<T>) {
                lattice.clipped_below = as_double(std::numeric_limits<T>::min());
                lattice.clipped_above = as_double(std::numeric_limits<T>::max());
            } else {
                lattice.clipped_below = 0.0;  // logical: nothing but the extremes
                lattice.clipped_above = 1.0;
            }
        });
    }
    return lattice;
}

std::size_t most_block_records(const HostImage& part, const BlockLattice& lattice)
{
    if (is_empty(part)) {
        return 0;
    }
    return static_cast<std::size_t>(part.channels * starts_in(lattice, lattice.first_row, part.rows, 0, part.rows) *
                                    starts_in(lattice, lattice.first_col, part.cols, 0, part.cols));
}

bool record_blocks(const HostImage& part, const BlockLattice& lattice, BlockRecord* records, std::size_t& count,
                   const CallOptions& options)
{
    CallState call{options};
    return gather_records(call, part, lattice, records, count);
}

BlockLattice texture_lattice(std::ptrdiff_t rows, std::ptrdiff_t cols)
{
    BlockLattice lattice = noise_lattice(rows, cols, 1, ElementClass::float64, EMPTY_RANGE);
    lattice.clipped_below = -std::numeric_limits<double>::infinity();
    lattice.clipped_above = std::numeric_limits<double>::infinity();
    return lattice;
}

}  // namespace lumasift
