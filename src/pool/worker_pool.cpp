// The process-wide worker pool: jobs of disjoint index ranges claimed by the workers, the
// calling thread waiting (and polling for interrupts) until they finish, and the pool's
// re-creation in a forked child.
#include "pool/worker_pool.hpp"

#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

#include "pool/cpu_count.hpp"
#include "platform/fault_injection.hpp"

namespace rc::pool {
namespace {

// How long a worker that ran out of work keeps looking for the next job (yielding the
// processor between looks) before it sleeps. Waking a sleeping worker took 25-40 us here, and
// a sort hands the pool two jobs 100-250 us apart at 10,000 points; a worker still looking
// takes the second at once, and a yielding one leaves the processor to the calling thread's
// work between them.
constexpr std::chrono::microseconds kLookBeforeSleeping{300};

struct Job {
    std::size_t n = 0;
    const std::function<void(std::size_t, std::size_t)>* body = nullptr;
    std::size_t workers = 1;
    std::atomic<std::size_t> next{0};  // first index not yet claimed
    std::atomic<bool> cancelled{false};
    // Guarded by the pool mutex:
    std::size_t active = 0;  // workers currently inside this job
    bool queued = true;
    std::exception_ptr error;
    std::condition_variable finished;

    // Claims the next range: large pieces first, smaller ones as the range runs out, so that
    // uneven rows balance out without a per-index atomic operation.
    bool claim(std::size_t& begin, std::size_t& end) {
        std::size_t start = next.load(std::memory_order_relaxed);
        for (;;) {
            if (start >= n || cancelled.load(std::memory_order_relaxed)) return false;
            std::size_t size = std::max<std::size_t>(1, (n - start) / (2 * workers));
            if (next.compare_exchange_weak(start, start + size, std::memory_order_relaxed)) {
                begin = start;
                end = start + size;
                return true;
            }
        }
    }
};

// The cancellation flag of the job a worker is running, for stop_requested().
thread_local const std::atomic<bool>* t_cancelled = nullptr;

class Pool {
public:
    explicit Pool(std::size_t count) : count_(count) {
        threads_.reserve(count);
        try {
            for (std::size_t i = 0; i < count; ++i) {
                fault::check_thread_start();
                threads_.emplace_back([this] { work(); });
            }
        } catch (...) {
            // The workers started so far wait on this pool, which is about to go away: they
            // must end before it does (a joinable std::thread destroyed would end the process).
            {
                std::lock_guard lock(mutex_);
                abandoned_ = true;
            }
            work_available_.notify_all();
            for (auto& t : threads_) t.join();
            throw;
        }
        // The workers run until the process ends; nothing joins them.
        for (auto& t : threads_) t.detach();
    }

    std::size_t size() const { return count_; }

    void run(Job& job, InterruptPoll poll) {
        job.workers = count_;
        std::unique_lock lock(mutex_);
        jobs_.push_back(&job);
        queued_.store(jobs_.size(), std::memory_order_relaxed);
        work_available_.notify_all();
        auto done = [&] { return !job.queued && job.active == 0; };
        bool interrupted = false;
        while (!done()) {
            if (poll == nullptr) {
                job.finished.wait(lock);
                continue;
            }
            job.finished.wait_for(lock, std::chrono::milliseconds(20));
            if (!done() && !interrupted) {
                lock.unlock();
                interrupted = poll();
                lock.lock();
                if (interrupted) job.cancelled.store(true, std::memory_order_relaxed);
            }
        }
        if (interrupted) throw Interrupted{};
        if (job.error) std::rethrow_exception(job.error);
    }

private:
    void work() {
        std::unique_lock lock(mutex_);
        for (;;) {
            if (jobs_.empty() && !abandoned_) {
                lock.unlock();
                const auto until = std::chrono::steady_clock::now() + kLookBeforeSleeping;
                while (queued_.load(std::memory_order_relaxed) == 0 && std::chrono::steady_clock::now() < until)
                    std::this_thread::yield();
                lock.lock();
            }
            work_available_.wait(lock, [&] { return abandoned_ || !jobs_.empty(); });
            if (abandoned_) return;
            Job& job = *jobs_.front();
            ++job.active;
            lock.unlock();
            std::exception_ptr error;
            std::size_t begin, end;
            t_cancelled = &job.cancelled;
            while (job.claim(begin, end)) {
                try {
                    (*job.body)(begin, end);
                } catch (...) {
                    error = std::current_exception();
                }
            }
            t_cancelled = nullptr;
            lock.lock();
            if (error && !job.error) job.error = error;
            // Every range is claimed: no other worker needs to find this job any more.
            if (job.queued) {
                jobs_.erase(std::find(jobs_.begin(), jobs_.end(), &job));
                queued_.store(jobs_.size(), std::memory_order_relaxed);
                job.queued = false;
            }
            if (--job.active == 0) job.finished.notify_all();
        }
    }

    std::size_t count_;
    std::vector<std::thread> threads_;
    std::mutex mutex_;
    std::condition_variable work_available_;
    std::deque<Job*> jobs_;
    std::atomic<std::size_t> queued_{0};  // jobs_.size(), for the workers looking without the lock
    bool abandoned_ = false;  // creation failed: the workers already started return
};

// The pool is created on first use. A forked child has none of the parent's threads, so the
// child forgets the parent's pool (leaking it: its mutexes may be held by threads that no
// longer exist) and creates its own on its first parallel call.
std::atomic<Pool*> g_pool{nullptr};
std::mutex g_creation_mutex;
std::once_flag g_atfork_registered;
thread_local InterruptPoll t_interrupt_poll = nullptr;

void before_fork() { g_creation_mutex.lock(); }
void after_fork_in_parent() { g_creation_mutex.unlock(); }
void after_fork_in_child() {
    g_pool.store(nullptr, std::memory_order_relaxed);
    g_creation_mutex.unlock();
}

Pool& global_pool() {
    if (Pool* p = g_pool.load(std::memory_order_acquire)) return *p;
    // Without the handlers a forked child would keep a pool whose threads it does not have and
    // wait for them forever, so a failed registration (it allocates) fails the call and the
    // next call tries again.
    std::call_once(g_atfork_registered, [] {
        if (fault::allocation_fails() || pthread_atfork(before_fork, after_fork_in_parent, after_fork_in_child) != 0)
            throw std::bad_alloc();
    });
    std::lock_guard lock(g_creation_mutex);
    if (Pool* p = g_pool.load(std::memory_order_relaxed)) return *p;
    try {
        auto pool = std::make_unique<Pool>(configured_worker_count());
        g_pool.store(pool.get(), std::memory_order_release);
        return *pool.release();  // lives until the process ends
    } catch (const std::system_error& e) {
        fail(std::string("The global thread pool has not been initialized.: ") + e.what());
    }
}

}  // namespace

ScopedInterruptPoll::ScopedInterruptPoll(InterruptPoll poll) noexcept : previous_(t_interrupt_poll) {
    t_interrupt_poll = poll;
}

ScopedInterruptPoll::~ScopedInterruptPoll() { t_interrupt_poll = previous_; }

std::size_t worker_count() { return global_pool().size(); }

bool stop_requested() noexcept {
    return t_cancelled != nullptr && t_cancelled->load(std::memory_order_relaxed);
}

void parallel_for(std::size_t n, const std::function<void(std::size_t, std::size_t)>& body) {
    if (n == 0) return;
    Job job;
    job.n = n;
    job.body = &body;
    global_pool().run(job, t_interrupt_poll);
}

}  // namespace rc::pool
