// Large new arrays on huge pages: the hosts' results, and the planes a
// call's workspace makes.
#ifndef LUMASIFT_HUGE_PAGES_H
#define LUMASIFT_HUGE_PAGES_H

#include <cstddef>
#include <cstdint>

#if defined(__linux__)
#include <sys/mman.h>
#endif

#include "hidden.h"

namespace lumasift LUMASIFT_HIDDEN {

// Asks the system to back the untouched pages of a large new array with
// huge pages where it can: faulting in a page can cost as much as filling
// it (on virtual machines, several times more), so a result fills in a
// fraction of the time. A hint only; nothing changes where it is not taken.
inline void prefer_huge_pages(void* data, std::size_t bytes)
{
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    constexpr std::uintptr_t HUGE_PAGE = std::uintptr_t{1} << 21;
    const std::uintptr_t first = (reinterpret_cast<std::uintptr_t>(data) + HUGE_PAGE - 1) & ~(HUGE_PAGE - 1);
    const std::uintptr_t end = (reinterpret_cast<std::uintptr_t>(data) + bytes) & ~(HUGE_PAGE - 1);
    if (end > first) {
        madvise(reinterpret_cast<void*>(first), end - first, MADV_HUGEPAGE);
    }
#else
    (void)data;
    (void)bytes;
#endif
}

}  // namespace lumasift

#endif
