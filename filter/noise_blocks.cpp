#include "exact_arithmetic.h"

#include "noise_blocks.h"

#include <cmath>

namespace lumasift LUMASIFT_HIDDEN {

namespace {

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

}  // namespace

bool transform_block(const double (&x)[B][B], Block& block)
{
    central_gradients(x, block.gradient);
    double z[B][B];
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
    return describe_block(block);
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

}  // namespace lumasift
