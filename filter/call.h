// How a call of the core runs: the choices its caller may make, and what
// the call's passes and threads share while it runs. Every part of the core
// beyond the definition is handed these as arguments.
#ifndef LUMASIFT_CALL_H
#define LUMASIFT_CALL_H

#include <atomic>
#include <cstdint>
#include <memory>

#include "hidden.h"

namespace lumasift LUMASIFT_HIDDEN {

// Which kernels evaluate the window sums. All give the same bits.
enum class KernelChoice : std::int32_t {
    fastest = 0,  // the widest lanes this processor has
    literal,      // the definition itself: wedge_sum, one sample after another with pow, sqrt and exp
    scalar,       // the lane kernels one pixel wide: weight tables, private marks
    avx2,         // four pixels per lane group
    avx512,       // eight pixels per lane group
    neon,         // two pixels per lane group, on AArch64
};

// Asked on the calling thread between units of work: true ends the call
// early, leaving its result incomplete. The host's interrupt flag reaches
// the core this way, as a plain yes or no.
using StopRequest = bool (*)();

struct PathCounts;

struct CallOptions {
    KernelChoice kernels = KernelChoice::fastest;
    // 0: as many threads as the processor and the work justify.
    int threads = 0;
    // May be null: the call runs to its end.
    StopRequest stop = nullptr;
    // Results of a narrower class may come from the float approximation
    // where it is proven to convert to the same value (certify.h); false
    // evaluates every pixel exactly. The same bits either way.
    bool approximate = true;
    // Where not null, counts the pixels of each path.
    PathCounts* counts = nullptr;
};

// Scratch of a call, freed with it: not std::vector, whose out-of-line
// members a module would export.
template <class T>
using Scratch = std::unique_ptr<T[]>;

// Most threads a call runs on.
constexpr int MAX_WORKERS = 64;

// One call as its passes see it: the caller's options, and whether the stop
// request has said yes.
struct CallState {
    CallOptions options;
    std::atomic<bool> stopping{false};
};

}  // namespace lumasift

#endif
