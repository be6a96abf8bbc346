#include "noise_reference.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

namespace {

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
constexpr std::uint32_t INFINITE_KEY = 4080;

std::uint32_t key_of(double x)
{
    const float single = static_cast<float>(x);
    std::uint32_t bits;
    std::memcpy(&bits, &single, sizeof bits);
    return bits >> 19;
}

double value_of_key(std::uint32_t key)
{
    const std::uint32_t bits = key << 19;
    float single;
    std::memcpy(&single, &bits, sizeof single);
    return single;
}

// The key of the value at rank floor(share * count), counted from 0.
std::uint32_t quantile_key(const std::vector<double>& values, double share)
{
    std::vector<std::uint32_t> keys;
    for (const double value : values) {
        keys.push_back(key_of(value));
    }
    std::sort(keys.begin(), keys.end());
    const std::size_t rank = std::min(static_cast<std::size_t>(share * static_cast<double>(keys.size())), keys.size() - 1);
    return keys[rank];
}

// The lower median of what `bins` counts, spread evenly within its bin,
// bounds(bin, low, high) giving a bin's least and greatest value.
template <class Bounds>
double median_of(const std::vector<double>& bins, const Bounds& bounds)
{
    double count = 0;
    for (const double n : bins) {
        count += n;
    }
    if (count == 0) {
        return NaN;
    }
    double rank = std::floor((count - 1) / 2);
    std::size_t bin = 0;
    while (rank >= bins[bin]) {
        rank -= bins[bin++];
    }
    double low;
    double high;
    bounds(bin, low, high);
    return low + (high - low) * ((rank + 0.5) / bins[bin]);
}

void key_bounds(std::size_t key, double& low, double& high)
{
    low = value_of_key(static_cast<std::uint32_t>(key));
    high = value_of_key(std::min<std::uint32_t>(static_cast<std::uint32_t>(key) + 1, INFINITE_KEY));
}

// The counts of |c| by the window's bins: the key of 0, the other keys up to
// the window's, one bin for each key after it, the last for all beyond.
std::size_t window_bin(std::uint32_t key, std::uint32_t window)
{
    return key == 0 ? 0 : key <= window ? 1 : std::min<std::uint32_t>(key - window + 1, 255);
}

struct WindowBounds {
    std::uint32_t window;
    void operator()(std::size_t bin, double& low, double& high) const
    {
        if (bin == 0) {
            low = high = 0.0;
        } else if (bin == 1) {
            low = 0.0;
            high = value_of_key(window + 1);
        } else {
            key_bounds(window + bin - 1, low, high);
        }
    }
};

double dct_entry(int u, int k)
{
    const double cosine[8] = {0.5, 0.4903926402016152, 0.46193976625564337, 0.4157348061512726,
                              0.3535533905932738, 0.2777851165098011, 0.1913417161825449, 0.09754516100806414};
    int m = u * (2 * k + 1) % 32;
    if (m > 16) {
        m = 32 - m;
    }
    return u == 0 ? cosine[4] : m > 8 ? -cosine[16 - m] : cosine[m];
}

// The edge map's gradient magnitude at (r, c) of a channel, away from its
// border: [1 4 6 4 1] down, then along, central differences, / 512.
double gradient_at(const std::vector<double>& x, int rows, int channel_origin, int r, int c)
{
    const auto at = [&](int row, int col) { return x[channel_origin + col * rows + row]; };
    const auto down = [&](int row, int col) {
        return ((at(row - 2, col) + at(row + 2, col)) + 4.0 * (at(row - 1, col) + at(row + 1, col))) + 6.0 * at(row, col);
    };
    const auto smooth = [&](int row, int col) {
        return ((down(row, col - 2) + down(row, col + 2)) + 4.0 * (down(row, col - 1) + down(row, col + 1))) +
               6.0 * down(row, col);
    };
    const double along = smooth(r + 1, c) - smooth(r - 1, c);
    const double across = smooth(r, c + 1) - smooth(r, c - 1);
    return std::sqrt(across * across + along * along) / 512.0;
}

struct CountedBlock {
    double c[8][8];
    double energy[2];
    int colour;
};

double read_noise(const std::vector<CountedBlock>& blocks, const std::uint32_t (&chosen_key)[2],
                  std::uint32_t window)
{
    std::vector<double> pooled(256, 0.0);
    for (int set = 0; set < 2; ++set) {
        // Read in the other set: frequencies u + v >= 3 of the other parity.
        std::vector<std::pair<int, int>> read;
        for (int u = 0; u < 8; ++u) {
            for (int v = 0; v < 8; ++v) {
                if (u + v >= 3 && (u + v) % 2 == 1 - set) {
                    read.emplace_back(u, v);
                }
            }
        }
        std::vector<std::vector<double>> counts[2];
        for (int chooser = 0; chooser < 2; ++chooser) {
            counts[chooser].assign(read.size(), std::vector<double>(256, 0.0));
        }
        for (const CountedBlock& block : blocks) {
            if (key_of(block.energy[set]) > chosen_key[set]) {
                continue;
            }
            for (std::size_t slot = 0; slot < read.size(); ++slot) {
                const double c = block.c[read[slot].first][read[slot].second];
                ++counts[block.colour][slot][window_bin(key_of(std::fabs(c)), window)];
            }
        }
        for (int chooser = 0; chooser < 2; ++chooser) {
            std::vector<double> medians;
            std::vector<double> ranked;
            for (const std::vector<double>& bins : counts[chooser]) {
                medians.push_back(median_of(bins, WindowBounds{window}));
                if (!std::isnan(medians.back())) {
                    ranked.push_back(medians.back());
                }
            }
            if (ranked.empty()) {
                continue;
            }
            std::sort(ranked.begin(), ranked.end());
            const double empty = std::max(ranked[0] * 1.05, ranked[std::min<std::size_t>(3, ranked.size()) - 1]);
            for (std::size_t slot = 0; slot < read.size(); ++slot) {
                if (medians[slot] <= empty) {
                    for (int bin = 0; bin < 256; ++bin) {
                        pooled[bin] += counts[1 - chooser][slot][bin];
                    }
                }
            }
        }
    }
    const double median = median_of(pooled, WindowBounds{window});
    return std::isnan(median) ? 0.0 : median / 0.6744897501960817;
}

// The window: 192 keys below the root mean square coefficient of the chosen
// blocks with most energy, sets of 28 (even) and 30 (odd) coefficients.
std::uint32_t window_of(const std::uint32_t (&chosen_key)[2])
{
    const double members[2] = {28, 30};
    double widest = 0.0;
    for (int set = 0; set < 2; ++set) {
        widest = std::max(widest, value_of_key(std::min(chosen_key[set] + 1, INFINITE_KEY)) / members[set]);
    }
    const std::uint32_t centre = key_of(std::sqrt(widest));
    return std::min<std::uint32_t>(centre > 192 ? centre - 192 : 0, INFINITE_KEY - 256);
}

}  // namespace

ReferenceStatistics reference_statistics(const std::vector<double>& values, int rows, int cols, int channels,
                                         double clipped_below, double clipped_above, double integer_scale)
{
    ReferenceStatistics statistics{0.0, integer_scale, NaN, NaN, NaN};
    if (integer_scale < 0) {
        // Floating point: the image's own extremes, and the range of the
        // finite means of its whole side-by-side blocks of up to 4.
        clipped_below = std::numeric_limits<double>::infinity();
        clipped_above = -clipped_below;
        for (const double value : values) {
            if (std::isfinite(value)) {
                clipped_below = std::min(clipped_below, value);
                clipped_above = std::max(clipped_above, value);
            }
        }
        const int side = std::min({4, rows, cols});
        double lowest = std::numeric_limits<double>::infinity();
        double highest = -lowest;
        for (int channel = 0; side > 0 && channel < channels; ++channel) {
            for (int top = 0; top + side <= rows; top += side) {
                for (int left = 0; left + side <= cols; left += side) {
                    double total = 0.0;
                    for (int q = 0; q < side; ++q) {
                        for (int p = 0; p < side; ++p) {
                            total += values[(static_cast<std::size_t>(channel) * cols + left + q) * rows + top + p];
                        }
                    }
                    const double mean = total / (side * side);
                    if (std::isfinite(mean)) {
                        lowest = std::min(lowest, mean);
                        highest = std::max(highest, mean);
                    }
                }
            }
        }
        statistics.scale = lowest <= highest ? highest - lowest : 0.0;
    }
    // Blocks every `step` pixels (8, or 4, 2, 1 where fewer than 2048 fit),
    // every `stride`-th of them (where over 131072 would).
    const auto starts = [](int length, int step, int stride) {
        const int side_by_side = std::max((length - 8) >= 0 ? (length - 8) / step + 1 : 0, 0);
        return static_cast<double>((side_by_side + stride - 1) / stride);
    };
    const auto count = [&](int step, int stride) { return starts(rows, step, stride) * starts(cols, step, stride) * channels; };
    int step = 8;
    while (step > 1 && count(step, 1) < 2048) {
        step /= 2;
    }
    int stride = 1;
    while (step == 8 && count(8, stride) > 131072) {
        ++stride;
    }
    const int span = step * stride;
    std::vector<CountedBlock> blocks;
    std::vector<double> mid;
    std::vector<double> fine;
    std::vector<double> gradients;
    for (int channel = 0; channel < channels; ++channel) {
        const int origin = channel * rows * cols;
        for (int left = 0; left + 8 <= cols; left += span) {
            for (int top = 0; top + 8 <= rows; top += span) {
                double x[8][8];
                bool clipped = false;
                for (int k = 0; k < 8; ++k) {
                    for (int q = 0; q < 8; ++q) {
                        x[k][q] = values[origin + (left + q) * rows + top + k];
                        clipped = clipped || x[k][q] <= clipped_below || x[k][q] >= clipped_above;
                    }
                }
                if (clipped) {
                    continue;
                }
                CountedBlock block{};
                double z[8][8];
                for (int k = 0; k < 8; ++k) {
                    for (int v = 0; v < 8; ++v) {
                        z[k][v] = dct_entry(v, 0) * x[k][0];
                        for (int q = 1; q < 8; ++q) {
                            z[k][v] += dct_entry(v, q) * x[k][q];
                        }
                    }
                }
                double mid_power = 0.0;
                double fine_power = 0.0;
                for (int u = 0; u < 8; ++u) {
                    for (int v = 0; v < 8; ++v) {
                        block.c[u][v] = dct_entry(u, 0) * z[0][v];
                        for (int k = 1; k < 8; ++k) {
                            block.c[u][v] += dct_entry(u, k) * z[k][v];
                        }
                    }
                }
                for (int u = 0; u < 8; ++u) {
                    for (int v = 0; v < 8; ++v) {
                        const double power = block.c[u][v] * block.c[u][v];
                        const int f = u + v;
                        block.energy[f % 2] += f >= 3 ? power : 0.0;
                        mid_power += f >= 3 && f <= 5 ? power : 0.0;
                        fine_power += f >= 6 && f <= 9 ? power : 0.0;
                    }
                }
                mid_power /= 15;
                fine_power /= 28;
                if (!std::isfinite(block.energy[0]) || !std::isfinite(block.energy[1]) || !std::isfinite(mid_power) ||
                    !std::isfinite(fine_power)) {
                    continue;
                }
                block.colour = (top / (8 * stride) + left / (8 * stride)) % 2;
                blocks.push_back(block);
                mid.push_back(mid_power);
                fine.push_back(fine_power);
                for (int c = left + 3; c <= left + 4; ++c) {
                    for (int r = top + 3; r <= top + 4; ++r) {
                        gradients.push_back(gradient_at(values, rows, origin, r, c));
                    }
                }
            }
        }
    }
    if (blocks.empty()) {
        return statistics;
    }
    statistics.structure = value_of_key(quantile_key(gradients, 0.75));
    // First the tenth of the blocks quietest in a set; then those whose
    // energy noise alone reaches 70% of the time, and never under 2%.
    const auto energies = [&](int set) {
        std::vector<double> e;
        for (const CountedBlock& block : blocks) {
            e.push_back(block.energy[set]);
        }
        return e;
    };
    std::uint32_t chosen[2] = {quantile_key(energies(0), 0.1), quantile_key(energies(1), 0.1)};
    const double first = read_noise(blocks, chosen, window_of(chosen));
    const double quantiles[2] = {31.3908754529196, 33.53023292655934};
    for (int set = 0; set < 2; ++set) {
        chosen[set] = std::max(key_of(first * first * quantiles[set]), quantile_key(energies(set), 0.02));
    }
    statistics.noise = read_noise(blocks, chosen, window_of(chosen));
    const double variance = statistics.noise * statistics.noise;
    if (variance > 0) {
        std::vector<double> by_key(4096, 0.0);
        double above = 0;
        for (std::size_t n = 0; n < mid.size(); ++n) {
            ++by_key[key_of(mid[n])];
            above += key_of(fine[n]) > key_of(2 * variance) ? 1 : 0;
        }
        statistics.texture = median_of(by_key, key_bounds) / variance;
        statistics.fine_texture = above / static_cast<double>(fine.size());
    }
    return statistics;
}
