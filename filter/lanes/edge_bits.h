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

// Position p of the line at bit p % 64 of words[p / 64]; every bit past the
// line's end, up to EDGE_WORDS words, is cleared, so that reads which run
// past the end find no edge.
template <class T>
void pack_edge_bits(const T* line, int length, std::uint64_t* words)
{
    for (int word = 0; word < EDGE_WORDS; ++word) {
        const int first = word * 64;
        const int count = length - first < 64 ? length - first : 64;
        std::uint64_t bits = 0;
        for (int bit = 0; bit < count; ++bit) {
            bits |= static_cast<std::uint64_t>(edge_flag(line[first + bit])) << bit;
        }
        words[word] = bits;
    }
}

}  // namespace lumasift

#endif
