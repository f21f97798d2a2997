#include "worker_pool.hpp"

#include <pthread.h>
#include <sched.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <exception>
#include <fstream>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <thread>

#include "fault_injection.hpp"

namespace rc::pool {
namespace {

// ---------------------------------------------------------------------------------------------
// Worker count

// A decimal machine word: digits with an optional leading '+', nothing else, no overflow.
std::optional<std::size_t> parse_count(const char* text) {
    if (text == nullptr) return std::nullopt;
    std::string_view s(text);
    if (!s.empty() && s.front() == '+') s.remove_prefix(1);
    if (s.empty()) return std::nullopt;
    std::size_t value = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return std::nullopt;
        if (__builtin_mul_overflow(value, std::size_t{10}, &value) ||
            __builtin_add_overflow(value, static_cast<std::size_t>(c - '0'), &value))
            return std::nullopt;
    }
    return value;
}

// CPUs allowed by a cgroup v2 "cpu.max" file ("max 100000" or "quota period").
std::optional<std::size_t> cgroup2_limit(const std::string& dir) {
    std::ifstream in(dir + "/cpu.max");
    std::string quota;
    long long period = 0;
    if (!(in >> quota >> period) || quota == "max" || period <= 0) return std::nullopt;
    long long q = std::atoll(quota.c_str());
    if (q <= 0) return std::nullopt;
    return static_cast<std::size_t>(std::max(1LL, q / period));
}

std::optional<std::size_t> cgroup1_limit(const std::string& dir) {
    std::ifstream quota_in(dir + "/cpu.cfs_quota_us"), period_in(dir + "/cpu.cfs_period_us");
    long long quota = 0, period = 0;
    if (!(quota_in >> quota) || !(period_in >> period) || quota <= 0 || period <= 0) return std::nullopt;
    return static_cast<std::size_t>(std::max(1LL, quota / period));
}

// The smallest CPU quota on the way from the process's control group up to the root.
std::optional<std::size_t> cgroup_quota() {
    std::ifstream in("/proc/self/cgroup");
    std::optional<std::size_t> best;
    auto consider = [&](std::optional<std::size_t> limit) {
        if (limit && (!best || *limit < *best)) best = limit;
    };
    std::string line;
    while (std::getline(in, line)) {
        // "hierarchy-id:controllers:path"; v2 has an empty controller list.
        auto first = line.find(':');
        auto second = line.find(':', first + 1);
        if (first == std::string::npos || second == std::string::npos) continue;
        std::string controllers = line.substr(first + 1, second - first - 1);
        std::string path = line.substr(second + 1);
        const bool v2 = controllers.empty();
        const bool v1_cpu = controllers == "cpu" || controllers.starts_with("cpu,") ||
                            controllers.find(",cpu,") != std::string::npos ||
                            controllers.ends_with(",cpu");
        if (!v2 && !v1_cpu) continue;
        for (;;) {
            if (v2) {
                consider(cgroup2_limit("/sys/fs/cgroup" + path));
            } else {
                consider(cgroup1_limit("/sys/fs/cgroup/cpu,cpuacct" + path));
                consider(cgroup1_limit("/sys/fs/cgroup/cpu" + path));
            }
            if (path.empty() || path == "/") break;
            auto slash = path.find_last_of('/');
            path = slash == 0 || slash == std::string::npos ? std::string("/") : path.substr(0, slash);
        }
    }
    return best;
}

std::size_t available_processors() {
    std::size_t count = 0;
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof(set), &set) == 0) count = static_cast<std::size_t>(CPU_COUNT(&set));
    if (count == 0) count = std::thread::hardware_concurrency();
    if (auto quota = cgroup_quota(); quota && count > 0) count = std::min(count, *quota);
    return count == 0 ? 1 : count;
}

// ---------------------------------------------------------------------------------------------
// Pool

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

std::size_t configured_worker_count() {
    if (auto n = parse_count(std::getenv("RAYON_NUM_THREADS"))) {
        return *n > 0 ? *n : available_processors();
    }
    if (auto n = parse_count(std::getenv("RAYON_RS_NUM_CPUS")); n && *n > 0) return *n;
    return available_processors();
}

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
