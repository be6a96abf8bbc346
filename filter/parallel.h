// Units of work handed to threads, all joined before a pass returns, and the
// call's stop request polled between them.
#ifndef LUMASIFT_PARALLEL_H
#define LUMASIFT_PARALLEL_H

#include <atomic>
#include <exception>
#include <thread>
#include <type_traits>

#include "call.h"
#include "hidden.h"

namespace lumasift LUMASIFT_HIDDEN {

// Below this many pixels (or values) a second thread costs more than it
// saves in a pass that does a few operations on each: copying, converting,
// packing edges, counting noise or making edges.
constexpr double PIXELS_PER_THREAD = 2e5;

// Threads worth starting for `work`, of which each should have at least
// `work_per_thread`: at most the cores this process may use, or the count
// the call's options name.
int worker_count(const CallState& call, double work, double work_per_thread);

// Polls the call's stop request; true from the first yes on. Only the calling
// thread asks: the host need not answer other threads.
bool stop_requested(CallState& call);

// Runs task(unit) for every unit on up to `workers` threads, the calling one
// included, all joined before returning; task(unit, worker) also learns
// which of the threads, numbered from 0, runs it, so that each may keep
// scratch or partial results of its own. Units are handed out one at a
// time, so units of unequal cost balance out, and a thread that cannot be
// started leaves its share to the others. A stop request ends the pass after
// the units under way; false then.
template <class Task>
bool run_parallel(CallState& call, int units, int workers, const Task& task)
{
    std::atomic<int> next_unit{0};
    const auto drain = [&call, &next_unit, &task, units](bool polls, int worker) {
        while (!(polls ? stop_requested(call) : call.stopping.load(std::memory_order_relaxed))) {
            const int unit = next_unit.fetch_add(1);
            if (unit >= units) {
                return;
            }
            if constexpr (std::is_invocable_v<const Task&, int, int>) {
                task(unit, worker);
            } else {
                task(unit);
            }
        }
    };
    std::thread helpers[MAX_WORKERS];
    int started = 0;
    for (int w = 1; w < workers && w < units; ++w) {
        try {
            helpers[started] = std::thread(drain, false, started + 1);
            ++started;
        } catch (const std::exception&) {
            break;
        }
    }
    drain(true, 0);
    for (int i = 0; i < started; ++i) {
        helpers[i].join();
    }
    return !call.stopping.load();
}

}  // namespace lumasift

#endif
