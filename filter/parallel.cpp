#include "exact_arithmetic.h"

#include "parallel.h"

#if defined(__linux__)
#include <sched.h>
#endif

namespace lumasift LUMASIFT_HIDDEN {

namespace {

// The cores this process may run on: fewer than the machine has when the
// host, or taskset, limits it.
int available_cores()
{
#if defined(__linux__)
    cpu_set_t cores;
    if (sched_getaffinity(0, sizeof cores, &cores) == 0) {
        return CPU_COUNT(&cores);
    }
#endif
    return static_cast<int>(std::thread::hardware_concurrency());
}

}  // namespace

int worker_count(const CallState& call, double work, double work_per_thread)
{
    const int threads = call.options.threads;
    if (threads > 0) {
        return threads < MAX_WORKERS ? threads : MAX_WORKERS;
    }
    const int cores = available_cores();
    const int limit = cores < 1 ? 1 : cores > MAX_WORKERS ? MAX_WORKERS : cores;
    const double wanted = 1.0 + work / work_per_thread;
    return wanted < limit ? static_cast<int>(wanted) : limit;
}

bool stop_requested(CallState& call)
{
    if (call.options.stop != nullptr && !call.stopping.load(std::memory_order_relaxed) && call.options.stop()) {
        call.stopping.store(true);
    }
    return call.stopping.load(std::memory_order_relaxed);
}

}  // namespace lumasift
