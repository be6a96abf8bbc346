// The lane engine's pre-pass: one line of an edge map, of any element type,
// as the line's edge flags packed into bits.
#ifndef LUMASIFT_LANES_EDGE_BITS_H
#define LUMASIFT_LANES_EDGE_BITS_H

#include <cstdint>

#include "../constants.h"
#include "../hidden.h"
#include "../image.h"
#include "types.h"

namespace lumasift LUMASIFT_HIDDEN {

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

// The edge flags of `count` positions of a line, from `first` on, as bits 0
// to count - 1.
template <class T>
inline std::uint64_t edge_word(const T* line, int first, int count)
{
    std::uint64_t bits = 0;
    for (int bit = 0; bit < count; ++bit) {
        bits |= static_cast<std::uint64_t>(edge_flag(line[first + bit])) << bit;
    }
    return bits;
}

// Where position p of a line lies in its edge row: at bit EDGE_FRONT_BITS + p
// of edge_row_words(length) words or more, every other bit cleared, so that reads which run
// past either end of the line find no edge. Word w of the row holds the
// positions from `first` on, as many as this returns: 64, fewer at the
// line's end, none in the front and past the end.
inline int edge_word_positions(int w, int length, int& first)
{
    first = w * 64 - EDGE_FRONT_BITS;
    return first < 0 ? 0 : length - first < 64 ? (length - first > 0 ? length - first : 0) : 64;
}

template <class T>
void pack_edge_bits(const T* line, int length, std::uint64_t* row, int words)
{
    for (int w = 0; w < words; ++w) {
        int first;
        const int count = edge_word_positions(w, length, first);
        row[w] = edge_word(line, first, count);
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
