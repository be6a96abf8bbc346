// The passes over an image that the statistics take, on the call's state,
// for the core's own calls: the range pass (image_range.cpp) and the
// gathering of records (block_records.cpp).
#ifndef LUMASIFT_STATISTICS_PASSES_H
#define LUMASIFT_STATISTICS_PASSES_H

#include <cstddef>
#include <limits>
#include <type_traits>

#include "call.h"
#include "convert.h"
#include "hidden.h"
#include "image.h"
#include "records.h"

namespace lumasift LUMASIFT_HIDDEN {

inline bool is_empty(const HostImage& image)
{
    return image.rows <= 0 || image.cols <= 0 || image.channels <= 0;
}

inline double class_range(ElementClass type)
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

inline bool is_floating(ElementClass type)
{
    return type == ElementClass::float64 || type == ElementClass::float32;
}

// Widens `range` by the image's finite values and the finite means of its
// whole side-by-side blocks of `side`.
bool gather_image_range(CallState& call, const HostImage& image, std::ptrdiff_t side, ImageRange& range);

// Every block of the part that counts, as a record, in an order fixed by
// the part: each unit of columns writes from the first place it could fill,
// and the units' records then close up in the units' order.
bool gather_records(CallState& call, const HostImage& part, const BlockLattice& lattice, BlockRecord* records,
                    std::size_t& count);

}  // namespace lumasift

#endif
