// The lane engine's pre-pass: one line of an edge map, of any element type,
// as the line's edge flags packed into bits.
#ifndef LUMASIFT_LANES_EDGE_BITS_H
#define LUMASIFT_LANES_EDGE_BITS_H

#include <cstdint>

#include "../filter.h"
#include "../hidden.h"
#include "types.h"

namespace lumasift LUMASIFT_HIDDEN {

// An element of a host's logical array: one byte, true where it is not zero.
struct LogicalElement {
    std::uint8_t value;
};

// A number marks an edge as x2 does once converted to a double; a logical
// element marks one where it is true.
template <class T>
inline bool edge_flag(T value)
{
    return is_edge_value(static_cast<double>(value));
}

inline bool edge_flag(LogicalElement element)
{
    return element.value != 0;
}

// Position p of the line at bit EDGE_FRONT_BITS + p of `row`, which holds
// EDGE_ROW_WORDS words; every other bit is cleared, so that reads which run
// past either end of the line find no edge.
template <class T>
void pack_edge_bits(const T* line, int length, std::uint64_t* row)
{
    constexpr int FRONT_WORDS = EDGE_FRONT_BITS / 64;
    for (int word = 0; word < EDGE_ROW_WORDS; ++word) {
        const int first = (word - FRONT_WORDS) * 64;
        const int count = first < 0 ? 0 : length - first < 64 ? length - first : 64;
        std::uint64_t bits = 0;
        for (int bit = 0; bit < count; ++bit) {
            bits |= static_cast<std::uint64_t>(edge_flag(line[first + bit])) << bit;
        }
        row[word] = bits;
    }
}

// 64 bits of `row` (of `words` words) from bit `first` on, as bits 0 to 63;
// bits before the row's start or past its end read as 0.
inline std::uint64_t bits_from(const std::uint64_t* row, int words, int first)
{
    const int word = first >= 0 ? first / 64 : -((-first + 63) / 64);
    const int shift = first - 64 * word;
    const auto at = [row, words](int w) { return w >= 0 && w < words ? row[w] : 0; };
    // Two shifts for the upper word, so that a shift of 0 shifts it out.
    return (at(word) >> shift) | ((at(word + 1) << 1) << (63 - shift));
}

}  // namespace lumasift

#endif
