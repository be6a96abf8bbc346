// One block of the noise reading: its values through the orthonormal DCT
// (statistics.h), its energies and powers, its central gradients, and the
// record a reading keeps of it, its values as keys. Used by the passes over
// an image (block_records.cpp) and the counting of records
// (block_counts.cpp).
#ifndef LUMASIFT_NOISE_BLOCKS_H
#define LUMASIFT_NOISE_BLOCKS_H

#include <cstdint>
#include <cstring>

#include "hidden.h"
#include "records.h"

namespace lumasift LUMASIFT_HIDDEN {

constexpr int B = static_cast<int>(NOISE_BLOCK);
constexpr int COEFFICIENTS = B * B;

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

// Keys: the upper bits of a non-negative value's single-precision pattern,
// which order as the values do, 16 to an octave.
constexpr int KEY_SHIFT = 19;
static_assert((std::size_t{1} << (31 - KEY_SHIFT)) == KEY_BINS, "a bin for every key of a value of at least 0");
// The key of +infinity; the window stays below it.
constexpr std::uint32_t INFINITE_KEY = 0x7f800000u >> KEY_SHIFT;

inline std::uint32_t key_of(double value)
{
    const float single = static_cast<float>(value);
    std::uint32_t bits;
    std::memcpy(&bits, &single, sizeof bits);
    return bits >> KEY_SHIFT;
}

// The smallest value of a key.
inline double value_of_key(std::uint32_t key)
{
    const std::uint32_t bits = key << KEY_SHIFT;
    float single;
    std::memcpy(&single, &bits, sizeof single);
    return static_cast<double>(single);
}

// One block as the passes see it.
struct Block {
    double c[COEFFICIENTS];
    double energy[2];  // sum of c^2 over set 0 and set 1
    double mid_power;  // mean c^2 over the mid band
    double fine_power;
    double gradient[GRADIENTS_PER_BLOCK];
};

// The block of values x[k][q] (row k, column q): its central gradients,
// its DCT, z[k][v] = sum over q of T[v][q] x[k][q] along the rows first,
// then c[u][v] = sum over k of T[u][k] z[k][v] down the columns, each sum in
// the order of its terms, and its energies and powers. False where any of
// those is not finite: the block holds a NaN or an infinity, every
// coefficient of which it reaches, or values too large to square.
bool transform_block(const double (&x)[B][B], Block& block);

// What a reading keeps of a block of checkerboard colour `colour`.
BlockRecord record_of(const Block& block, int colour);

}  // namespace lumasift

#endif
