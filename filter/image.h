// Images as the host keeps them: rows x cols x channels elements of one of
// the host's numeric or logical classes, column-major, channel after channel.
#ifndef LUMASIFT_IMAGE_H
#define LUMASIFT_IMAGE_H

#include <cstddef>
#include <cstdint>

#include "hidden.h"

namespace lumasift LUMASIFT_HIDDEN {

// The element classes of the host's numeric and logical arrays.
enum class ElementClass : std::int32_t {
    float64,
    float32,
    int8,
    uint8,
    int16,
    uint16,
    int32,
    uint32,
    int64,
    uint64,
    logical,
};

// An element of a host's logical array: one byte, true where it is not zero.
struct LogicalElement {
    std::uint8_t value;
};

// Where element (row, col) of channel `channel` lies: row * row_step +
// col * col_step + channel * channel_step elements from the first, steps of
// any sign. The MEX and Octave hosts keep arrays column-major, channel after
// channel; numpy arrays come in any order, and are read as they are.
struct Layout {
    std::ptrdiff_t row_step;
    std::ptrdiff_t col_step;
    std::ptrdiff_t channel_step;
};

inline Layout column_major(std::ptrdiff_t rows, std::ptrdiff_t cols)
{
    return {1, rows, rows * cols};
}

inline std::ptrdiff_t offset_of(const Layout& layout, std::ptrdiff_t row, std::ptrdiff_t col, std::ptrdiff_t channel)
{
    return row * layout.row_step + col * layout.col_step + channel * layout.channel_step;
}

// Columns each contiguous, one after another: what the lane engine reads
// and writes in place.
inline bool has_forward_columns(const Layout& layout)
{
    return layout.row_step == 1 && layout.col_step > 0;
}

// The weights of one channel that is read as a sum of three stored ones.
struct ChannelMix {
    double weight[3];
};

struct HostImage {
    const void* values;
    ElementClass value_class;
    std::ptrdiff_t rows;
    std::ptrdiff_t cols;
    std::ptrdiff_t channels;
    Layout layout;
    // Null: the channels as stored. Otherwise channel j reads as
    // (w[0] x0 + w[1] x1) + w[2] x2, w = mix[j].weight, of stored channels
    // 0, 1 and 2 as doubles: a colour image seen in another basis, with no
    // copy of it (colour.h).
    const ChannelMix* mix = nullptr;
};

// The pixels of rows [first_row, first_row + rows) and columns
// [first_col, first_col + cols) of an image.
struct PixelRegion {
    std::ptrdiff_t first_row;
    std::ptrdiff_t rows;
    std::ptrdiff_t first_col;
    std::ptrdiff_t cols;
};

// Calls f with a null pointer of the element type of a class.
template <class F>
void with_element_type(ElementClass type, const F& f)
{
    switch (type) {
    case ElementClass::float64: f(static_cast<double*>(nullptr)); break;
    case ElementClass::float32: f(static_cast<float*>(nullptr)); break;
    case ElementClass::int8: f(static_cast<std::int8_t*>(nullptr)); break;
    case ElementClass::uint8: f(static_cast<std::uint8_t*>(nullptr)); break;
    case ElementClass::int16: f(static_cast<std::int16_t*>(nullptr)); break;
    case ElementClass::uint16: f(static_cast<std::uint16_t*>(nullptr)); break;
    case ElementClass::int32: f(static_cast<std::int32_t*>(nullptr)); break;
    case ElementClass::uint32: f(static_cast<std::uint32_t*>(nullptr)); break;
    case ElementClass::int64: f(static_cast<std::int64_t*>(nullptr)); break;
    case ElementClass::uint64: f(static_cast<std::uint64_t*>(nullptr)); break;
    case ElementClass::logical: f(static_cast<LogicalElement*>(nullptr)); break;
    }
}

}  // namespace lumasift

#endif
