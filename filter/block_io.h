// Reading and writing lines and blocks of the host's arrays, whatever their
// layout and class, as doubles: the strided reads and writes of the tiles,
// the edges and the statistics, with the prefetching and the blocked
// transposes that make rows far apart cheap. Each element is converted as
// convert.h converts it; only the order of the copies is chosen here.
#ifndef LUMASIFT_BLOCK_IO_H
#define LUMASIFT_BLOCK_IO_H

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "convert.h"
#include "hidden.h"
#include "image.h"

namespace lumasift LUMASIFT_HIDDEN {

// Asks the cache for `count` elements `step` apart, from `first`, before they
// are read or written. Lines that lie rows apart in memory are each a cache
// miss that the hardware's prefetcher cannot foresee; asked for some rows
// ahead, they arrive while the rows before them are copied. Elements a line
// or more apart are asked for one by one, never the span between them. A
// hint only.
template <class T>
CONVERT_INLINE void prefetch_elements(const T* first, std::ptrdiff_t step, std::ptrdiff_t count)
{
#if defined(__GNUC__)
    constexpr std::ptrdiff_t CACHE_LINE = 64;
    const std::ptrdiff_t apart = (step < 0 ? -step : step) * static_cast<std::ptrdiff_t>(sizeof(T));
    if (apart >= CACHE_LINE) {
        for (std::ptrdiff_t i = 0; i < count; ++i) {
            __builtin_prefetch(first + i * step);
        }
        return;
    }
    const char* a = reinterpret_cast<const char*>(first);
    const char* b = reinterpret_cast<const char*>(first + (count - 1) * step);
    const char* low = a < b ? a : b;
    const char* high = (a < b ? b : a) + sizeof(T);
    for (const char* p = low; p < high; p += CACHE_LINE) {
        __builtin_prefetch(p);
    }
    __builtin_prefetch(high - 1);
#else
    (void)first;
    (void)step;
    (void)count;
#endif
}

// `count` elements of class `type`, `step` elements apart from element
// `first` of `values`, as doubles.
inline void read_line(const void* values, ElementClass type, std::ptrdiff_t first, std::ptrdiff_t step,
                      std::ptrdiff_t count, double* out)
{
    with_element_type(type, [&](auto* element) {
        using T = std::remove_pointer_t<decltype(element)>;
        const T* line = static_cast<const T*>(values) + first;
        if (step != 1) {
            for (std::ptrdiff_t i = 0; i < count; ++i) {
                out[i] = as_double(line[i * step]);
            }
            return;
        }
        constexpr std::ptrdiff_t PIECE = 1 << 20;
        for (std::ptrdiff_t done = 0; done < count; done += PIECE) {
            const int n = static_cast<int>(count - done < PIECE ? count - done : PIECE);
            convert_in_chunks(line + done, out + done, n, [](T value) { return as_double(value); });
        }
    });
}

// Rows [first, first + count) of one column of one channel of an image, as
// doubles; of a mixed image's channels [channel, channel + channels) with
// `channels`, channel j's from out + j * plane, all from one read.
inline void read_column(const HostImage& image, std::ptrdiff_t channel, std::ptrdiff_t col, std::ptrdiff_t first,
                        std::ptrdiff_t count, double* out, int channels = 1, std::ptrdiff_t plane = 0)
{
    if (image.mix == nullptr) {
        read_line(image.values, image.value_class, offset_of(image.layout, first, col, channel),
                  image.layout.row_step, count, out);
        return;
    }
    with_element_type(image.value_class, [&](auto* element) {
        using T = std::remove_pointer_t<decltype(element)>;
        const std::ptrdiff_t step = image.layout.row_step;
        const std::ptrdiff_t apart = image.layout.channel_step;
        const T* line = static_cast<const T*>(image.values) + offset_of(image.layout, first, col, 0);
        for (int j = 0; j < channels; ++j) {
            const ChannelMix& mix = image.mix[channel + j];
            double* values = out + j * plane;
            if (step == 1) {
                // Three contiguous lines, which the compiler mixes many at a time.
                const T* x0 = line;
                const T* x1 = line + apart;
                const T* x2 = line + 2 * apart;
                for (std::ptrdiff_t i = 0; i < count; ++i) {
                    values[i] = mixed(mix, as_double(x0[i]), as_double(x1[i]), as_double(x2[i]));
                }
                continue;
            }
            for (std::ptrdiff_t i = 0; i < count; ++i) {
                values[i] = mixed_value(mix, line + i * step, apart);
            }
        }
    });
}

// Columns of arrays whose rows lie far apart (numpy's C order, say) are
// read and written a block of TRANSPOSED_ROWS rows across TRANSPOSED_COLUMNS
// columns at a time: each row's elements of the block then share a cache
// line or two, where column by column each element would take one of its
// own. Rows are asked for TRANSPOSED_ROWS_AHEAD ahead, and the conversion
// runs on each column's contiguous part of the block, which, being local,
// aliases nothing. Only the order of the copies differs from going column
// by column.
constexpr int TRANSPOSED_COLUMNS = 64;
constexpr int TRANSPOSED_ROWS = 64;
constexpr int TRANSPOSED_ROWS_AHEAD = 8;

// A block's elements, column c's in [c][0, rows).
template <class T>
using TransposedBlock = T[TRANSPOSED_COLUMNS][TRANSPOSED_ROWS];

// Calls copy(group, first, columns, rows) for each block of columns
// [group, group + columns) of `cols` and rows [first, first + rows) of
// `count`, which the copy keeps in blocks of its own.
template <class Copy>
CONVERT_INLINE void for_each_transposed_block(std::ptrdiff_t cols, std::ptrdiff_t count, const Copy& copy)
{
    for (std::ptrdiff_t group = 0; group < cols; group += TRANSPOSED_COLUMNS) {
        const int columns = static_cast<int>(cols - group < TRANSPOSED_COLUMNS ? cols - group : TRANSPOSED_COLUMNS);
        for (std::ptrdiff_t first = 0; first < count; first += TRANSPOSED_ROWS) {
            const int rows = static_cast<int>(count - first < TRANSPOSED_ROWS ? count - first : TRANSPOSED_ROWS);
            copy(group, first, columns, rows);
        }
    }
}

// Columns [first_col, first_col + cols) of one channel of an image, rows
// [first_row, first_row + count), as doubles: column k from out + k *
// out_stride. A mixed channel reads its three stored channels into blocks
// of their own, in their class, and mixes them down the blocks' columns;
// with `channels`, channels [channel, channel + channels) of a mixed image
// from the same blocks, channel j's from out + j * plane.
inline void read_columns(const HostImage& image, std::ptrdiff_t channel, std::ptrdiff_t first_col, std::ptrdiff_t cols,
                         std::ptrdiff_t first_row, std::ptrdiff_t count, double* out, std::ptrdiff_t out_stride,
                         int channels = 1, std::ptrdiff_t plane = 0)
{
    const Layout& layout = image.layout;
    with_element_type(image.value_class, [&](auto* element) {
        using T = std::remove_pointer_t<decltype(element)>;
        const int stored = image.mix != nullptr ? 3 : 1;
        const T* origin = static_cast<const T*>(image.values) +
                          offset_of(layout, first_row, first_col, image.mix != nullptr ? 0 : channel);
        TransposedBlock<T> blocks[3];
        for_each_transposed_block(cols, count, [&](std::ptrdiff_t group, std::ptrdiff_t first, int columns,
                                                   int rows) {
            for (int r = 0; r < rows; ++r) {
                const T* row = origin + (first + r) * layout.row_step + group * layout.col_step;
                for (int j = 0; j < stored; ++j) {
                    if (first + r + TRANSPOSED_ROWS_AHEAD < count) {
                        prefetch_elements(row + TRANSPOSED_ROWS_AHEAD * layout.row_step + j * layout.channel_step,
                                          layout.col_step, columns);
                    }
                    for (int c = 0; c < columns; ++c) {
                        blocks[j][c][r] = row[c * layout.col_step + j * layout.channel_step];
                    }
                }
            }
            for (int j = 0; j < (image.mix != nullptr ? channels : 1); ++j) {
                for (int c = 0; c < columns; ++c) {
                    double* column = out + j * plane + (group + c) * out_stride + first;
                    if (image.mix == nullptr) {
                        for (int r = 0; r < rows; ++r) {
                            column[r] = as_double(blocks[0][c][r]);
                        }
                        continue;
                    }
                    const ChannelMix& mix = image.mix[channel + j];
                    for (int r = 0; r < rows; ++r) {
                        column[r] = mixed(mix, as_double(blocks[0][c][r]), as_double(blocks[1][c][r]),
                                          as_double(blocks[2][c][r]));
                    }
                }
            }
        });
    });
}

// `count` doubles into consecutive elements of class `type` (not logical)
// from element `origin` of `target`, converted as the host converts; bytes
// by `to_bytes` where it is given, which must convert as
// converted<std::uint8_t> does (the lanes' faster conversion).
inline void write_line(const double* values, int count, void* target, ElementClass type, std::ptrdiff_t origin,
                       void (*to_bytes)(const double*, std::uint8_t*, int) = nullptr)
{
    if (type == ElementClass::uint8 && to_bytes != nullptr) {
        to_bytes(values, static_cast<std::uint8_t*>(target) + origin, count);
        return;
    }
    with_element_type(type, [&](auto* element) {
        using T = std::remove_pointer_t<decltype(element)>;
        if constexpr (!std::is_same_v<T, LogicalElement>) {
            convert_in_chunks(values, static_cast<T*>(target) + origin, count, [](double y) { return converted<T>(y); });
        }
    });
}

// The reverse: doubles, column k from values + k * stride, into rows
// [first_row, first_row + count) and columns [first_col, first_col + cols)
// of one channel of an array of class `type` (not logical) in `layout`,
// converted as the host converts; bytes by `to_bytes` where it is given,
// which must convert as converted<std::uint8_t> does (the lanes' faster
// conversion). With `channels` above 1, channels [channel, channel +
// channels) together, channel j's values `plane` after channel 0's: where
// channels are interleaved, a row's elements of every channel share their
// cache lines, which one pass then writes once.
inline void write_columns(const double* values, std::ptrdiff_t stride, void* target, ElementClass type,
                          const Layout& layout, std::ptrdiff_t channel, std::ptrdiff_t first_col, std::ptrdiff_t cols,
                          std::ptrdiff_t first_row, std::ptrdiff_t count,
                          void (*to_bytes)(const double*, std::uint8_t*, int) = nullptr, int channels = 1,
                          std::ptrdiff_t plane = 0)
{
    constexpr int MOST_CHANNELS = 3;
    with_element_type(type, [&](auto* element) {
        using T = std::remove_pointer_t<decltype(element)>;
        if constexpr (!std::is_same_v<T, LogicalElement>) {
            T* origin = static_cast<T*>(target) + offset_of(layout, first_row, first_col, channel);
            TransposedBlock<T> blocks[MOST_CHANNELS];
            for_each_transposed_block(cols, count, [&](std::ptrdiff_t group, std::ptrdiff_t first, int columns,
                                                       int rows) {
                for (int j = 0; j < channels; ++j) {
                    for (int c = 0; c < columns; ++c) {
                        const double* column = values + j * plane + (group + c) * stride + first;
                        if constexpr (std::is_same_v<T, std::uint8_t>) {
                            if (to_bytes != nullptr) {
                                to_bytes(column, blocks[j][c], rows);
                                continue;
                            }
                        }
                        for (int r = 0; r < rows; ++r) {
                            blocks[j][c][r] = converted<T>(column[r]);
                        }
                    }
                }
                for (int r = 0; r < rows; ++r) {
                    T* row = origin + (first + r) * layout.row_step + group * layout.col_step;
                    if (first + r + TRANSPOSED_ROWS_AHEAD < count) {
                        prefetch_elements(row + TRANSPOSED_ROWS_AHEAD * layout.row_step, layout.col_step, columns);
                    }
                    for (int c = 0; c < columns; ++c) {
                        for (int j = 0; j < channels; ++j) {
                            row[c * layout.col_step + j * layout.channel_step] = blocks[j][c][r];
                        }
                    }
                }
            });
        }
    });
}

}  // namespace lumasift

#endif
