#include "exact_arithmetic.h"

#include "statistics.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>
#include <limits>
#include <type_traits>

#include "convert.h"
#include "parallel.h"

namespace lumasift LUMASIFT_HIDDEN {

namespace {

// The default rule's constants (see default_parameters).
constexpr double FALSE_EDGE_RATE = 0.004;
// The least threshold, as a share of the intensity scale. Without it a clean
// photograph, whose noise reads near 0, would take every faint ripple for an
// edge, or nothing at all where the noise reads 0; with it, its edges are
// those a hundredth of its range high. Noise of deviation 5 or more sets a
// higher threshold of its own.
constexpr double LEAST_THRESHOLD_SHARE = 0.01;
// A clean image's edges are its strongest: those the image's structure
// (ImageStatistics::structure) reaches. That floor stands while the noise
// reads below CLEAN_NOISE_SHARE of the scale and gives way, linearly, to the
// noise's threshold by NOISY_NOISE_SHARE, so that noisy images keep the
// threshold their noise sets.
constexpr double STRUCTURE_SHARE = 0.25;
constexpr double CLEAN_NOISE_SHARE = 0.01;
constexpr double NOISY_NOISE_SHARE = 0.02;
// log x = a + b log(max(texture, 1)) + c log(fine_texture + FINE_TEXTURE_FLOOR),
// held within [least, most]: {a, b, c, least, most} for x3 and for x4. The
// widths follow the texture next to the noise: smooth pictures take wide
// windows, fine texture narrow ones.
struct WidthRule {
    double constant;
    double per_log_texture;
    double per_log_fine_texture;
    double least;
    double most;
};
constexpr WidthRule X3_RULE = {0.1105, -0.7046, -0.1556, 0.4, 2.4};
constexpr WidthRule X4_RULE = {-1.4606, 0.1427, -0.24, 0.15, 1.25};
// And never above these times the relative noise, so that an image with
// little noise comes back nearly as it is.
constexpr double FINE_TEXTURE_FLOOR = 0.01;
constexpr double X3_PER_NOISE = 60.0;
constexpr double X4_PER_NOISE = 20.0;
// Widths of WIDTH_LEAST give every sample but the centre the weight
// exp(-1 / (4 * 0.01^2)), which is 0: a noiseless image comes back as it is.
constexpr double WIDTH_LEAST = 0.01;

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

// cos(m pi / 16) / 2, correctly rounded; the DCT's entries are these, signed,
// and 1 / sqrt(8) = COSINE[4] in the first row.
constexpr double COSINE[8] = {0.5,
                              0.4903926402016152,
                              0.46193976625564337,
                              0.4157348061512726,
                              0.3535533905932738,
                              0.2777851165098011,
                              0.1913417161825449,
                              0.09754516100806414};

constexpr int B = static_cast<int>(NOISE_BLOCK);
constexpr int COEFFICIENTS = B * B;

// Row u, column k of the orthonormal DCT-II: cos((2k + 1) u pi / 16) / 2,
// and 1 / sqrt(8) for u = 0.
constexpr double dct_entry(int u, int k)
{
    if (u == 0) {
        return COSINE[4];
    }
    int m = u * (2 * k + 1) % 32;  // the angle in steps of pi / 16
    if (m > 16) {
        m = 32 - m;
    }
    return m > 8 ? -COSINE[16 - m] : COSINE[m];
}

struct Transform {
    double entry[B][B];
};

constexpr Transform dct_table()
{
    Transform t{};
    for (int u = 0; u < B; ++u) {
        for (int k = 0; k < B; ++k) {
            t.entry[u][k] = dct_entry(u, k);
        }
    }
    return t;
}

constexpr Transform DCT = dct_table();

// Coefficient (u, v) of a block, u down its columns and v along its rows,
// is c[B * u + v]. Its frequency is u + v.
constexpr int frequency(int index)
{
    return index / B + index % B;
}

// The two sets a block is chosen by and read in: frequencies of at least
// 3, even (set 0) or odd (set 1); and the bands of the texture measures.
constexpr int LOWEST_READ_FREQUENCY = 3;
constexpr int MID_BAND[2] = {3, 5};
constexpr int FINE_BAND[2] = {6, 9};

struct CoefficientSets {
    int members[2][READ_SLOTS];
    int size[2];
    int mid_band[COEFFICIENTS];
    int mid_band_size;
    int fine_band[COEFFICIENTS];
    int fine_band_size;
};

constexpr CoefficientSets coefficient_sets()
{
    CoefficientSets sets{};
    for (int index = 0; index < COEFFICIENTS; ++index) {
        const int f = frequency(index);
        if (f >= LOWEST_READ_FREQUENCY) {
            const int set = f % 2;
            sets.members[set][sets.size[set]++] = index;
        }
        if (f >= MID_BAND[0] && f <= MID_BAND[1]) {
            sets.mid_band[sets.mid_band_size++] = index;
        }
        if (f >= FINE_BAND[0] && f <= FINE_BAND[1]) {
            sets.fine_band[sets.fine_band_size++] = index;
        }
    }
    return sets;
}

constexpr CoefficientSets SETS = coefficient_sets();
static_assert(SETS.size[0] <= static_cast<int>(READ_SLOTS) && SETS.size[1] <= static_cast<int>(READ_SLOTS),
              "a slot for every coefficient read");

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

// Keys: the upper bits of a non-negative value's single-precision pattern,
// which order as the values do, 16 to an octave.
constexpr int KEY_SHIFT = 19;
static_assert((std::size_t{1} << (31 - KEY_SHIFT)) == KEY_BINS, "a bin for every key of a value of at least 0");
// The window of |c| counts reaches this many keys below the chosen blocks'
// root mean square coefficient, and the rest above it.
constexpr std::uint32_t WINDOW_BELOW = 192;
// The key of +infinity; the window stays below it.
constexpr std::uint32_t INFINITE_KEY = 0x7f800000u >> KEY_SHIFT;

std::uint32_t key_of(double value)
{
    const float single = static_cast<float>(value);
    std::uint32_t bits;
    std::memcpy(&bits, &single, sizeof bits);
    return bits >> KEY_SHIFT;
}

// The smallest value of a key.
double value_of_key(std::uint32_t key)
{
    const std::uint32_t bits = key << KEY_SHIFT;
    float single;
    std::memcpy(&single, &bits, sizeof single);
    return static_cast<double>(single);
}

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

// One block as the passes see it.
struct Block {
    double c[COEFFICIENTS];
    double energy[2];  // sum of c^2 over set 0 and set 1
    double mid_power;  // mean c^2 over the mid band
    double fine_power;
    double gradient[GRADIENTS_PER_BLOCK];
};

// The edge map's gradient magnitudes (edges.h) at rows and columns 3 and 4
// of a block's values x[row][column], in the edge map's order of sums: the
// binomial down the columns, then along the rows, central differences, and
// sqrt(across^2 + along^2) / 512. The pixels' smoothing and differences reach
// three pixels, all within the block, so no border is repeated.
void central_gradients(const double (&x)[NOISE_BLOCK][NOISE_BLOCK], double (&gradient)[GRADIENTS_PER_BLOCK])
{
    double down[NOISE_BLOCK][NOISE_BLOCK];
    for (int k = 2; k <= 5; ++k) {
        for (int q = 0; q < B; ++q) {
            down[k][q] = ((x[k - 2][q] + x[k + 2][q]) + 4.0 * (x[k - 1][q] + x[k + 1][q])) + 6.0 * x[k][q];
        }
    }
    double smooth[NOISE_BLOCK][NOISE_BLOCK];
    for (int k = 2; k <= 5; ++k) {
        for (int q = 2; q <= 5; ++q) {
            smooth[k][q] = ((down[k][q - 2] + down[k][q + 2]) + 4.0 * (down[k][q - 1] + down[k][q + 1])) +
                           6.0 * down[k][q];
        }
    }
    int at = 0;
    for (int q = 3; q <= 4; ++q) {
        for (int k = 3; k <= 4; ++k) {
            const double along = smooth[k + 1][q] - smooth[k - 1][q];
            const double across = smooth[k][q + 1] - smooth[k][q - 1];
            gradient[at++] = std::sqrt(across * across + along * along) / 512.0;
        }
    }
}

// Energies and powers, each a sum in the order of the coefficients' indices.
// False where any is not finite: the block holds a NaN or an infinity, every
// coefficient of which it reaches, or values too large to square.
bool describe_block(Block& block)
{
    double power[COEFFICIENTS];
    for (int index = 0; index < COEFFICIENTS; ++index) {
        power[index] = block.c[index] * block.c[index];
    }
    for (int set = 0; set < 2; ++set) {
        double energy = 0.0;
        for (int slot = 0; slot < SETS.size[set]; ++slot) {
            energy += power[SETS.members[set][slot]];
        }
        block.energy[set] = energy;
    }
    double mid = 0.0;
    for (int slot = 0; slot < SETS.mid_band_size; ++slot) {
        mid += power[SETS.mid_band[slot]];
    }
    double fine = 0.0;
    for (int slot = 0; slot < SETS.fine_band_size; ++slot) {
        fine += power[SETS.fine_band[slot]];
    }
    block.mid_power = mid / SETS.mid_band_size;
    block.fine_power = fine / SETS.fine_band_size;
    return std::isfinite(block.energy[0]) && std::isfinite(block.energy[1]) && std::isfinite(block.mid_power) &&
           std::isfinite(block.fine_power);
}

std::uint16_t record_key(double value)
{
    return static_cast<std::uint16_t>(key_of(value));
}

BlockRecord record_of(const Block& block, int colour)
{
    BlockRecord record{};
    for (int set = 0; set < 2; ++set) {
        record.energy_key[set] = record_key(block.energy[set]);
        for (int slot = 0; slot < SETS.size[set]; ++slot) {
            record.value_key[set][slot] = record_key(std::fabs(block.c[SETS.members[set][slot]]));
        }
    }
    record.power_key[0] = record_key(block.mid_power);
    record.power_key[1] = record_key(block.fine_power);
    for (int at = 0; at < GRADIENTS_PER_BLOCK; ++at) {
        record.gradient_key[at] = record_key(block.gradient[at]);
    }
    record.colour = static_cast<std::uint16_t>(colour);
    return record;
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

// Blocks per unit of work along the rows: enough that a unit's set-up costs
// little, few enough that a stop request is answered at once.
constexpr std::ptrdiff_t BLOCK_COLUMNS_PER_UNIT = 8;

// What one thread of the range pass keeps.
struct RangeWorker {
    Scratch<double> lines;  // the columns of a row of scale blocks
    ImageRange range;
};

constexpr ImageRange EMPTY_RANGE = {std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
                                    std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity()};

void widen(ImageRange& range, const ImageRange& by)
{
    range.lowest_mean = std::min(range.lowest_mean, by.lowest_mean);
    range.highest_mean = std::max(range.highest_mean, by.highest_mean);
    range.lowest_value = std::min(range.lowest_value, by.lowest_value);
    range.highest_value = std::max(range.highest_value, by.highest_value);
}

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
// first pixel lies in. The DCT runs along the block's rows first,
// z[k][v] = sum over q of T[v][q] x[k][q], then down its columns,
// c[u][v] = sum over k of T[u][k] z[k][v], each sum in the order of its
// terms.
template <class Visit>
void for_each_block(const HostImage& part, const BlockLattice& lattice, std::ptrdiff_t first, std::ptrdiff_t end,
                    const Visit& visit)
{
    const std::ptrdiff_t rows = part.rows;
    with_element_type(part.value_class, [&](auto* type) {
        using T = std::remove_pointer_t<decltype(type)>;
        Block block;
        double x[B][B];  // x[k][q]: row k, column q of the block
        double z[B][B];
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
                    central_gradients(x, block.gradient);
                    for (int k = 0; k < B; ++k) {
                        for (int v = 0; v < B; ++v) {
                            z[k][v] = DCT.entry[v][0] * x[k][0];
                        }
                        for (int q = 1; q < B; ++q) {
                            for (int v = 0; v < B; ++v) {
                                z[k][v] += DCT.entry[v][q] * x[k][q];
                            }
                        }
                    }
                    for (int u = 0; u < B; ++u) {
                        double* c = block.c + B * u;
                        for (int v = 0; v < B; ++v) {
                            c[v] = DCT.entry[u][0] * z[0][v];
                        }
                        for (int k = 1; k < B; ++k) {
                            for (int v = 0; v < B; ++v) {
                                c[v] += DCT.entry[u][k] * z[k][v];
                            }
                        }
                    }
                    if (describe_block(block)) {
                        const std::ptrdiff_t square = B * lattice.stride;
                        visit(block, static_cast<int>((image_row / square + image_col / square) % 2));
                    }
                });
            });
        }
    });
}

// Widens the tally's range by the finite values of columns [first_col,
// end_col) and the finite means of the whole side-by-side blocks that start
// in them; each block's sum runs down its columns, one after another.
void gather_range(const HostImage& image, std::ptrdiff_t side, std::ptrdiff_t first_col, std::ptrdiff_t end_col,
                  RangeWorker& tally)
{
    const std::ptrdiff_t block_rows = image.rows / side;
    double* columns = tally.lines.get();
    ImageRange& range = tally.range;
    for (std::ptrdiff_t start = first_col / side * side; start < end_col; start += side) {
        const std::ptrdiff_t width = std::min(side, image.cols - start);
        for (std::ptrdiff_t channel = 0; channel < image.channels; ++channel) {
            read_columns(image, channel, start, width, 0, image.rows, columns, image.rows);
            for (std::ptrdiff_t q = start < first_col ? first_col - start : 0; q < width && start + q < end_col; ++q) {
                for (std::ptrdiff_t p = 0; p < image.rows; ++p) {
                    const double value = columns[q * image.rows + p];
                    if (std::isfinite(value)) {
                        range.lowest_value = std::min(range.lowest_value, value);
                        range.highest_value = std::max(range.highest_value, value);
                    }
                }
            }
            if (start < first_col || width < side) {
                continue;  // a block that an earlier unit owns, or no whole block
            }
            for (std::ptrdiff_t block = 0; block < block_rows; ++block) {
                double total = 0.0;
                for (std::ptrdiff_t q = 0; q < side; ++q) {
                    for (std::ptrdiff_t p = 0; p < side; ++p) {
                        total += columns[q * image.rows + block * side + p];
                    }
                }
                const double mean = total / static_cast<double>(side * side);
                if (std::isfinite(mean)) {
                    range.lowest_mean = std::min(range.lowest_mean, mean);
                    range.highest_mean = std::max(range.highest_mean, mean);
                }
            }
        }
    }
}

// Columns per unit of the range pass.
constexpr std::ptrdiff_t RANGE_COLUMNS_PER_UNIT = 64;

bool gather_image_range(CallState& call, const HostImage& image, std::ptrdiff_t side, ImageRange& range)
{
    const double values = static_cast<double>(image.rows) * static_cast<double>(image.cols) * image.channels;
    const int workers = worker_count(call, values, PIXELS_PER_THREAD);
    const Scratch<RangeWorker> tallies(new RangeWorker[static_cast<std::size_t>(workers)]);
    for (int w = 0; w < workers; ++w) {
        tallies[w].lines.reset(new double[static_cast<std::size_t>(side * image.rows)]);
        tallies[w].range = EMPTY_RANGE;
    }
    const int units = static_cast<int>((image.cols + RANGE_COLUMNS_PER_UNIT - 1) / RANGE_COLUMNS_PER_UNIT);
    const bool finished = run_parallel(call, units, workers, [&](int unit, int worker) {
        const std::ptrdiff_t first = unit * RANGE_COLUMNS_PER_UNIT;
        gather_range(image, side, first, std::min(first + RANGE_COLUMNS_PER_UNIT, image.cols), tallies[worker]);
    });
    for (int w = 0; w < workers; ++w) {
        widen(range, tallies[w].range);
    }
    return finished;
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

bool is_empty(const HostImage& image)
{
    return image.rows <= 0 || image.cols <= 0 || image.channels <= 0;
}

double class_range(ElementClass type)
{
    double range = 1.0;  // logical
    with_element_type(type, [&range](auto* element) {
        using T = std::remove_pointer_t<decltype(element)>;
        if constexpr (std::is_integral_v<T>) {
            range = static_cast<double>(std::numeric_limits<T>::max()) -
                    static_cast<double>(std::numeric_limits<T>::min());
        }
    });
    return range;
}

bool is_floating(ElementClass type)
{
    return type == ElementClass::float64 || type == ElementClass::float32;
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

// Every block of the part that counts, as a record, in an order fixed by
// the part: each unit of columns writes from the first place it could fill,
// and the units' records then close up in the units' order.
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

std::ptrdiff_t scale_block_side(std::ptrdiff_t rows, std::ptrdiff_t cols)
{
    constexpr std::ptrdiff_t SCALE_BLOCK = 4;
    return std::min({SCALE_BLOCK, rows, cols});
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

double scale_of(const ImageRange& range)
{
    return range.lowest_mean <= range.highest_mean ? range.highest_mean - range.lowest_mean : 0.0;
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

BlockLattice texture_lattice(std::ptrdiff_t rows, std::ptrdiff_t cols)
{
    BlockLattice lattice = noise_lattice(rows, cols, 1, ElementClass::float64, EMPTY_RANGE);
    lattice.clipped_below = -std::numeric_limits<double>::infinity();
    lattice.clipped_above = std::numeric_limits<double>::infinity();
    return lattice;
}

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

bool measure_range(const HostImage& part, std::ptrdiff_t side, ImageRange& range, const CallOptions& options)
{
    CallState call{options};
    return is_empty(part) || side <= 0 || gather_image_range(call, part, side, range);
}

bool measure_image(const HostImage& image, ImageStatistics& statistics, const CallOptions& options)
{
    CallState call{options};
    return estimate_statistics(call, image, statistics);
}

namespace {

double width_of(const WidthRule& rule, double per_noise, double relative, const ImageStatistics& statistics)
{
    if (!(relative > 0.0) || std::isnan(statistics.texture)) {
        return WIDTH_LEAST;
    }
    const double fitted =
        std::exp(rule.constant + rule.per_log_texture * std::log(std::max(statistics.texture, 1.0)) +
                 rule.per_log_fine_texture * std::log(statistics.fine_texture + FINE_TEXTURE_FLOOR));
    const double held = std::min(std::max(fitted, rule.least), rule.most);
    return std::max(std::min(held, per_noise * relative), WIDTH_LEAST);
}

}  // namespace

DefaultParameters default_parameters(const ImageStatistics& statistics, std::ptrdiff_t channels)
{
    const double relative = statistics.scale > 0.0 ? statistics.noise / statistics.scale : 0.0;
    // Each component of the gradient carries noise of this deviation, in
    // units of the image's: sqrt(sum([1 4 5 0 5 4 1].^2) * sum([1 4 6 4 1].^2)) / 512.
    const double gradient_noise_gain = std::sqrt(84.0 * 70.0) / 512.0;
    // The magnitude of noise alone is Rayleigh distributed; the strongest of
    // `channels` exceeds t with probability 1 - (1 - exp(-t^2 / 2))^channels.
    const double per_channel =
        std::pow(1.0 - FALSE_EDGE_RATE, 1.0 / static_cast<double>(std::max<std::ptrdiff_t>(channels, 1)));
    DefaultParameters defaults;
    const double noise_threshold = statistics.noise * gradient_noise_gain * std::sqrt(-2.0 * std::log(1.0 - per_channel));
    const double clean = std::min(std::max((NOISY_NOISE_SHARE - relative) / (NOISY_NOISE_SHARE - CLEAN_NOISE_SHARE), 0.0), 1.0);
    const double structure = std::isnan(statistics.structure) ? 0.0 : clean * statistics.structure;
    defaults.threshold = std::max({noise_threshold, LEAST_THRESHOLD_SHARE * statistics.scale, structure});
    defaults.x3 = width_of(X3_RULE, X3_PER_NOISE, relative, statistics);
    defaults.x4 = width_of(X4_RULE, X4_PER_NOISE, relative, statistics);
    return defaults;
}

int parameter_sets(const HostImage& image, bool colour)
{
    return colour && holds_colour(image.channels) ? COLOUR_CHANNELS : 1;
}

bool settle_parameters(const HostImage& image, bool colour, const GivenValues& threshold, const GivenValues& x3,
                       const GivenValues& x4, bool report, CallParameters& parameters, const CallOptions& options)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    parameters.colour = parameter_sets(image, colour) == COLOUR_CHANNELS;
    const int sets = parameters.sets();
    const bool measured = threshold.left_out() || x3.left_out() || x4.left_out() || report;
    ImageStatistics statistics[COLOUR_CHANNELS];
    std::fill(std::begin(statistics), std::end(statistics), ImageStatistics{nan, 0.0, nan, nan, nan});
    if (measured && !(parameters.colour ? measure_colour(image, statistics, options)
                                        : measure_image(image, statistics[0], options))) {
        return false;
    }
    for (int set = 0; set < sets; ++set) {
        ChannelParameters& channel = parameters.channel[set];
        channel.statistics = statistics[set];
        const DefaultParameters defaults = measured ? default_parameters(statistics[set], parameters.colour ? 1 : image.channels)
                                                    : DefaultParameters{0.0, 0.0, 0.0};
        channel.threshold = threshold.left_out() ? defaults.threshold : threshold.for_set(set);
        channel.x3 = x3.left_out() ? defaults.x3 : x3.for_set(set);
        channel.x4 = x4.left_out() ? defaults.x4 : x4.for_set(set);
    }
    return true;
}

}  // namespace lumasift
