#include "exact_arithmetic.h"

// The counting of records and the readings made of the counts: the noise,
// the texture measures and the structure (statistics.h says how). Counts
// are sums of ones, the same in any order, so the readings have the same
// bits however the records were gathered.
#include <algorithm>
#include <cmath>
#include <limits>

#include "noise_blocks.h"
#include "records.h"

namespace lumasift LUMASIFT_HIDDEN {

namespace {

// The median of |N(0, 1)|.
constexpr double HALF_NORMAL_MEDIAN = 0.6744897501960817;
// The first choice of blocks: this share of the image, the quietest.
constexpr double FIRST_SHARE = 0.1;
// The second: blocks whose energy noise alone reaches with this
// probability, and never fewer than LEAST_SHARE of the image.
constexpr double NOISE_ENERGY_PROBABILITY = 0.7;
constexpr double LEAST_SHARE = 0.02;
// A frequency counts as empty of texture when its median |c| is within this
// factor of the emptiest one's, or among the EMPTIEST_LEAST emptiest: fewer
// would leave too few values where few blocks are chosen.
constexpr double EMPTIEST_SPREAD = 1.05;
constexpr int EMPTIEST_LEAST = 3;
// Mean power of fine texture: twice what noise alone gives.
constexpr double FINE_TEXTURE_POWER = 2.0;
// The structure: the gradient magnitude that this share of the pixels
// read exceeds.
constexpr double STRUCTURE_SHARE = 0.25;

constexpr std::size_t BLOCK_COUNTS = 5 * KEY_BINS;
constexpr std::size_t WINDOW_BINS = 256;
constexpr std::size_t SELECTED_COUNTS = 2 * READ_SLOTS * 2 * WINDOW_BINS;

// Which blocks a reading counts, and the keys it counts their coefficients
// by.
struct NoiseSelection {
    // Blocks whose energy in choosing set s has a key of at most
    // energy_key[s]; s = 0: u + v even, read in the odd set; 1 the reverse.
    std::uint32_t energy_key[2];
    // The key of the lowest bin of the counts of |c|; keys beyond the window
    // are counted in its first or last bin.
    std::uint32_t window_key;
};

// The probability NOISE_ENERGY_PROBABILITY quantile of chi-square with
// SETS.size[s] degrees of freedom (28 and 30): the energy, in units of the
// noise's variance, that noise alone stays below in that share of blocks.
constexpr double NOISE_ENERGY_QUANTILE[2] = {31.3908754529196, 33.53023292655934};

// The window of |c| counts reaches this many keys below the chosen blocks'
// root mean square coefficient, and the rest above it.
constexpr std::uint32_t WINDOW_BELOW = 192;

// A window's bins: 0 for the key of 0, 1 for the other keys up to the
// window's, then one for each key, the last for all beyond.
std::uint32_t window_bin(std::uint32_t key, std::uint32_t window_key)
{
    if (key == 0) {
        return 0;
    }
    return key <= window_key ? 1 : std::min<std::uint32_t>(key - window_key + 1, WINDOW_BINS - 1);
}

// Where pass A's counts lie in BLOCK_COUNTS: the keys of each block's energy
// in set 0 and set 1, of its mean powers in the mid and the fine band, and of
// its central gradients.
enum BlockCount { ENERGY_0, ENERGY_1, MID_POWER, FINE_POWER, GRADIENT };

std::uint64_t* block_bins(std::uint64_t* counts, BlockCount which)
{
    return counts + static_cast<std::size_t>(which) * KEY_BINS;
}

const std::uint64_t* block_bins(const std::uint64_t* counts, BlockCount which)
{
    return counts + static_cast<std::size_t>(which) * KEY_BINS;
}

// The counts of |c| of read slot `slot` of the blocks chosen by set `set`,
// on the blocks of checkerboard colour `parity`.
std::size_t selected_offset(int set, int slot, int parity)
{
    return ((static_cast<std::size_t>(set) * READ_SLOTS + static_cast<std::size_t>(slot)) * 2 +
            static_cast<std::size_t>(parity)) *
           WINDOW_BINS;
}

// Pass A: a block's energies and powers, by their keys.
void count_block(const BlockRecord& record, std::uint64_t* counts)
{
    ++block_bins(counts, ENERGY_0)[record.energy_key[0]];
    ++block_bins(counts, ENERGY_1)[record.energy_key[1]];
    ++block_bins(counts, MID_POWER)[record.power_key[0]];
    ++block_bins(counts, FINE_POWER)[record.power_key[1]];
    for (const std::uint16_t key : record.gradient_key) {
        ++block_bins(counts, GRADIENT)[key];
    }
}

// Passes B and C: the |c| of the read set of a chosen block, by the
// window's bins.
void count_selected_block(const BlockRecord& record, const NoiseSelection& selection, std::uint64_t* counts)
{
    for (int set = 0; set < 2; ++set) {
        if (record.energy_key[set] > selection.energy_key[set]) {
            continue;
        }
        const int read = 1 - set;
        for (int slot = 0; slot < SETS.size[read]; ++slot) {
            ++counts[selected_offset(set, slot, record.colour) +
                     window_bin(record.value_key[read][slot], selection.window_key)];
        }
    }
}

// The bin in which the counts, added up from bin 0, pass `rank`; `rank`
// becomes the rank within that bin.
std::size_t bin_of_rank(const std::uint64_t* bins, std::size_t bin_count, std::uint64_t& rank)
{
    std::size_t bin = 0;
    while (bin + 1 < bin_count && rank >= bins[bin]) {
        rank -= bins[bin];
        ++bin;
    }
    return bin;
}

std::uint64_t total_of(const std::uint64_t* bins, std::size_t bin_count)
{
    std::uint64_t total = 0;
    for (std::size_t bin = 0; bin < bin_count; ++bin) {
        total += bins[bin];
    }
    return total;
}

// The lower median of counted values, bounds(bin) giving the least and the
// greatest value a bin may hold: the median's bin, with the median taken as
// evenly spread within it. NaN with no counts.
template <class Bounds>
double median_of(const std::uint64_t* bins, std::size_t bin_count, const Bounds& bounds)
{
    const std::uint64_t count = total_of(bins, bin_count);
    if (count == 0) {
        return std::numeric_limits<double>::quiet_NaN();
    }
    std::uint64_t rank = (count - 1) / 2;
    const std::size_t bin = bin_of_rank(bins, bin_count, rank);
    double low;
    double high;
    bounds(bin, low, high);
    return low + (high - low) * ((static_cast<double>(rank) + 0.5) / static_cast<double>(bins[bin]));
}

// The bounds of a key's values.
void key_bounds(std::size_t key, double& low, double& high)
{
    low = value_of_key(static_cast<std::uint32_t>(key));
    high = value_of_key(std::min(static_cast<std::uint32_t>(key) + 1, INFINITE_KEY));
}

double window_median(const std::uint64_t* bins, std::uint32_t window_key)
{
    return median_of(bins, WINDOW_BINS, [window_key](std::size_t bin, double& low, double& high) {
        if (bin == 0) {
            low = high = 0.0;
        } else if (bin == 1) {
            low = 0.0;
            high = value_of_key(window_key + 1);
        } else {
            key_bounds(window_key + bin - 1, low, high);
        }
    });
}

// The key of the `share` quantile of a set's block energies.
// The key of the value at rank floor(share * count), from 0, of the values
// counted by key in `bins`.
std::uint32_t quantile_key(const std::uint64_t* bins, double share)
{
    const std::uint64_t count = total_of(bins, KEY_BINS);
    std::uint64_t rank = std::min(static_cast<std::uint64_t>(share * static_cast<double>(count)),
                                  count > 0 ? count - 1 : 0);
    return static_cast<std::uint32_t>(bin_of_rank(bins, KEY_BINS, rank));
}

std::uint32_t energy_quantile_key(const std::uint64_t* block_counts, int set, double share)
{
    return quantile_key(block_bins(block_counts, set == 0 ? ENERGY_0 : ENERGY_1), share);
}

// The window starts WINDOW_BELOW bins below the root mean square
// coefficient of the chosen blocks with the most energy.
void place_window(NoiseSelection& selection)
{
    double widest = 0.0;
    for (int set = 0; set < 2; ++set) {
        const double energy = value_of_key(std::min(selection.energy_key[set] + 1, INFINITE_KEY));
        widest = std::max(widest, energy / SETS.size[set]);
    }
    const std::uint32_t centre = key_of(std::sqrt(widest));
    const std::uint32_t highest_start = INFINITE_KEY - static_cast<std::uint32_t>(WINDOW_BINS);
    selection.window_key = std::min(centre > WINDOW_BELOW ? centre - WINDOW_BELOW : 0, highest_start);
}

NoiseSelection first_selection(const std::uint64_t* block_counts)
{
    NoiseSelection selection{};
    for (int set = 0; set < 2; ++set) {
        selection.energy_key[set] = energy_quantile_key(block_counts, set, FIRST_SHARE);
    }
    place_window(selection);
    return selection;
}

NoiseSelection second_selection(const std::uint64_t* block_counts, double first_noise)
{
    NoiseSelection selection{};
    for (int set = 0; set < 2; ++set) {
        selection.energy_key[set] = std::max(key_of(first_noise * first_noise * NOISE_ENERGY_QUANTILE[set]),
                                             energy_quantile_key(block_counts, set, LEAST_SHARE));
    }
    place_window(selection);
    return selection;
}

double noise_of_counts(const std::uint64_t* selected_counts, const NoiseSelection& selection)
{
    std::uint64_t pooled[WINDOW_BINS] = {};
    for (int set = 0; set < 2; ++set) {
        const int read = 1 - set;
        for (int chooser = 0; chooser < 2; ++chooser) {
            double median[READ_SLOTS];
            double ranked[READ_SLOTS];
            int counted = 0;
            for (int slot = 0; slot < SETS.size[read]; ++slot) {
                median[slot] = window_median(selected_counts + selected_offset(set, slot, chooser), selection.window_key);
                if (!std::isnan(median[slot])) {  // NaN: no counts
                    ranked[counted++] = median[slot];
                }
            }
            if (counted == 0) {
                continue;
            }
            std::sort(ranked, ranked + counted);
            const double empty = std::max(ranked[0] * EMPTIEST_SPREAD, ranked[std::min(EMPTIEST_LEAST, counted) - 1]);
            for (int slot = 0; slot < SETS.size[read]; ++slot) {
                if (median[slot] <= empty) {
                    const std::uint64_t* bins = selected_counts + selected_offset(set, slot, 1 - chooser);
                    for (std::size_t bin = 0; bin < WINDOW_BINS; ++bin) {
                        pooled[bin] += bins[bin];
                    }
                }
            }
        }
    }
    const double median = window_median(pooled, selection.window_key);
    return std::isnan(median) ? 0.0 : median / HALF_NORMAL_MEDIAN;
}

void describe_texture(const std::uint64_t* block_counts, ImageStatistics& statistics)
{
    const std::uint64_t* gradients = block_bins(block_counts, GRADIENT);
    statistics.structure = total_of(gradients, KEY_BINS) == 0
                               ? std::numeric_limits<double>::quiet_NaN()
                               : value_of_key(quantile_key(gradients, 1.0 - STRUCTURE_SHARE));
    const double variance = statistics.noise * statistics.noise;
    const std::uint64_t* fine = block_bins(block_counts, FINE_POWER);
    const std::uint64_t count = total_of(fine, KEY_BINS);
    if (!(variance > 0.0) || count == 0) {
        statistics.texture = statistics.fine_texture = std::numeric_limits<double>::quiet_NaN();
        return;
    }
    statistics.texture = median_of(block_bins(block_counts, MID_POWER), KEY_BINS, key_bounds) / variance;
    std::uint64_t above = 0;
    for (std::size_t key = key_of(FINE_TEXTURE_POWER * variance) + 1; key < KEY_BINS; ++key) {
        above += fine[key];
    }
    statistics.fine_texture = static_cast<double>(above) / static_cast<double>(count);
}

// Counts the block counts of the records.
Scratch<std::uint64_t> count_blocks(const BlockRecord* records, std::size_t count)
{
    Scratch<std::uint64_t> blocks(new std::uint64_t[BLOCK_COUNTS]());
    for (std::size_t k = 0; k < count; ++k) {
        count_block(records[k], blocks.get());
    }
    return blocks;
}

}  // namespace

void statistics_of_records(const BlockRecord* records, std::size_t count, ImageStatistics& statistics)
{
    const Scratch<std::uint64_t> blocks = count_blocks(records, count);
    const Scratch<std::uint64_t> selected(new std::uint64_t[SELECTED_COUNTS]);
    NoiseSelection selection = first_selection(blocks.get());
    for (int reading = 0; reading < 2; ++reading) {
        std::fill(selected.get(), selected.get() + SELECTED_COUNTS, 0);
        for (std::size_t k = 0; k < count; ++k) {
            count_selected_block(records[k], selection, selected.get());
        }
        statistics.noise = noise_of_counts(selected.get(), selection);
        if (reading == 0) {
            selection = second_selection(blocks.get(), statistics.noise);
        }
    }
    describe_texture(blocks.get(), statistics);
}

void texture_of_records(const BlockRecord* records, std::size_t count, ImageStatistics& statistics)
{
    describe_texture(count_blocks(records, count).get(), statistics);
}

}  // namespace lumasift
