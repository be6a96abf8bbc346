// Units of work handed to threads, all joined before a pass returns, and the
// stop request polled between them.
#ifndef LUMASIFT_PARALLEL_H
#define LUMASIFT_PARALLEL_H

#include <exception>
#include <thread>
#include <type_traits>

#include "filter.h"
#include "hidden.h"

namespace lumasift LUMASIFT_HIDDEN {

// Threads worth starting for `work`, of which each should have at least
// `work_per_thread`: at most the cores this process may use, or the
// thread_count that a test or benchmark set.
int worker_count(double work, double work_per_thread);

// Polls the call's stop request; true from the first yes on. Only the calling
// thread asks: the host need not answer other threads.
bool stop_requested();

// Runs task(unit) for every unit on up to `workers` threads, the calling one
// included, all joined before returning; task(unit, worker) also learns
// which of the threads, numbered from 0, runs it, so that each may keep
// scratch or partial results of its own. Units are handed out one at a
// time, so units of unequal cost balance out, and a thread that cannot be
// started leaves its share to the others. A stop request ends the pass after
// the units under way; false then.
template <class Task>
bool run_parallel(int units, int workers, const Task& task)
{
    FilterState& state = filter_state;
    state.next_unit.store(0);
    const auto drain = [&state, &task, units](bool polls, int worker) {
        while (!(polls ? stop_requested() : state.stopping.load(std::memory_order_relaxed))) {
            const int unit = state.next_unit.fetch_add(1);
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
    return !state.stopping.load();
}

}  // namespace lumasift

#endif
