// The process-wide worker pool: parallel_for runs a body over disjoint ranges of an index range
// on the workers, parallel_map places results by index; both return what a sequential loop
// would, as long as each index writes only its own results.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <thread>
#include <type_traits>
#include <utility>
#include <vector>

#include "core/buffer.hpp"

namespace rc::pool {

// Called on the waiting thread every few milliseconds while a job runs; returning true
// cancels the job (workers stop at their next index) and parallel_for throws Interrupted.
// The binding layer installs one per call to make long calls interruptible.
using InterruptPoll = bool (*)();

class ScopedInterruptPoll {
public:
    explicit ScopedInterruptPoll(InterruptPoll poll) noexcept;
    ~ScopedInterruptPoll();
    ScopedInterruptPoll(const ScopedInterruptPoll&) = delete;
    ScopedInterruptPoll& operator=(const ScopedInterruptPoll&) = delete;

private:
    InterruptPoll previous_;
};

// Thrown by parallel_for when the interrupt poll asked to stop. The poll has already recorded
// why (for Python: the exception a signal handler raised).
struct Interrupted {};

// Worker threads of the pool, creating the pool on first use.
std::size_t worker_count();

// Runs body(begin, end) over disjoint ranges covering [0, n), on the pool's workers, and
// returns when all have finished. The calling thread only waits. An exception thrown by body
// stops that range; the other ranges run to completion and the first exception is rethrown.
void parallel_for(std::size_t n, const std::function<void(std::size_t, std::size_t)>& body);

// True inside parallel_for's body when the job was cancelled: a body that runs long over its
// range checks it between indices and returns early (the job's result is discarded anyway).
bool stop_requested() noexcept;

// For the tasks of one job that wait for tasks taken before them: each end of such a task
// adds one to a count as its scope closes, however it ends (a failed allocation too), so a
// waiting task never waits for a task that failed.
struct CountOnExit {
    std::atomic<std::size_t>& count;
    ~CountOnExit() { count.fetch_add(1, std::memory_order_release); }
};

// Waits, yielding, until `count` reaches `value`; false when the job was cancelled.
inline bool wait_for_count(const std::atomic<std::size_t>& count, std::size_t value) {
    while (count.load(std::memory_order_acquire) < value)
        if (stop_requested()) return false;
        else std::this_thread::yield();
    return true;
}

// result[i] = f(i) for i in [0, n), computed in parallel and placed by index.
template <class F>
auto parallel_map(std::size_t n, F&& f) {
    using T = std::invoke_result_t<F&, std::size_t>;
    std::vector<T> results(allocatable_count<T>(n));
    parallel_for(n, [&](std::size_t begin, std::size_t end) {
        for (std::size_t i = begin; i < end; ++i) results[i] = f(i);
    });
    return results;
}

}  // namespace rc::pool
