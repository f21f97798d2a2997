// Several threads at once driving the worker pool and every parallel kernel, built with
// ThreadSanitizer by `make tsan`: racing first calls that create the pool, results checked
// against pool-free references, failures thrown inside workers, jobs cancelled through the
// interrupt poll, and fork() while the other threads keep the pool busy. Exits non-zero on any
// wrong result; ThreadSanitizer makes every data race fatal.
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <barrier>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <limits>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "algorithm/nds.hpp"
#include "algorithm/niching/niching.hpp"
#include "core/kernel_failure.hpp"
#include "distances/dtw/dtw.hpp"
#include "distances/global_alignment/gak.hpp"
#include "distances/manhattan/manhattan.hpp"
#include "distances/soft_dtw/soft_dtw.hpp"
#include "platform/interface_names.hpp"
#include "pool/worker_pool.hpp"

namespace {

using namespace rc;
using Clock = std::chrono::steady_clock;

std::atomic<int> g_checks{0}, g_failures{0};

void check(bool ok, const std::string& what) {
    g_checks.fetch_add(1);
    if (ok) return;
    std::fprintf(stderr, "pool_stress: %s\n", what.c_str());
    g_failures.fetch_add(1);
}

bool same_bits(const double* a, const double* b, std::size_t n) { return std::memcmp(a, b, n * sizeof(double)) == 0; }

std::vector<double> random_values(std::size_t n, std::uint64_t seed) {
    std::mt19937_64 rng(seed);
    std::uniform_real_distribution<double> value(-1.0, 1.0);
    std::vector<double> out(n);
    for (double& v : out) v = value(rng);
    return out;
}

// n points on the positive orthant of the unit sphere in m objectives: one front.
std::vector<double> sphere_values(std::size_t n, std::size_t m, std::uint64_t seed) {
    std::vector<double> out = random_values(n * m, seed);
    for (std::size_t i = 0; i < n; ++i) {
        double norm = 0.0;
        for (std::size_t j = 0; j < m; ++j) norm += out[i * m + j] * out[i * m + j];
        for (std::size_t j = 0; j < m; ++j) out[i * m + j] = std::fabs(out[i * m + j]) / std::sqrt(norm);
    }
    return out;
}

// n points in m objectives on two shells (radius 1 or 1.02, alternately): several fronts, and
// points dominated by others close to them in the sorting order.
std::vector<double> shell_values(std::size_t n, std::size_t m, std::uint64_t seed) {
    std::vector<double> out = sphere_values(n, m, seed);
    for (std::size_t i = 1; i < n; i += 2)
        for (std::size_t j = 0; j < m; ++j) out[i * m + j] *= 1.02;
    return out;
}

// The inputs every thread reads, and the results a correct run gives.
struct World {
    static constexpr std::size_t kSeries = 6, kSteps = 12, kFeatures = 2, kObjectives = 3;
    std::vector<double> x_values = random_values(kSeries * kSteps * kFeatures, 1);
    std::vector<double> y_values = random_values((kSeries - 1) * kSteps * kFeatures, 2);
    std::vector<double> narrow_values = random_values(2 * kSteps * 1, 3);
    std::vector<double> small_front_values = random_values(300 * kObjectives, 4);   // with a NaN: classic path
    std::vector<double> large_front_values = random_values(3000 * kObjectives, 5);  // staircases; niching
    // Enough points and objectives for the front search to share its work on the pool: in
    // batches over front lists (several fronts), and in halves over a k-d tree (one front; two
    // shells, whose later half has points raised above their rank within it).
    static constexpr std::size_t kManyPoints = 10000, kManyObjectives = 8, kOneFrontPoints = 30000;
    static constexpr std::size_t kShellPoints = 8000, kShellObjectives = 4;
    std::vector<double> many_objective_values = random_values(kManyPoints * kManyObjectives, 7);
    std::vector<double> one_front_values = sphere_values(kOneFrontPoints, kManyObjectives, 8);
    std::vector<double> shell_point_values = shell_values(kShellPoints, kShellObjectives, 9);
    std::vector<double> ref_dir_values = random_values(20 * kObjectives, 6);
    std::vector<double> ideal_values{-1.0, -1.0, -1.0}, nadir_values{1.0, 1.0, 1.0};

    SeriesSet x = SeriesSet::row_major(x_values.data(), {kSeries, kSteps, kFeatures});
    SeriesSet y = SeriesSet::row_major(y_values.data(), {kSeries - 1, kSteps, kFeatures});
    SeriesSet narrow = SeriesSet::row_major(narrow_values.data(), {2, kSteps, 1});
    MatrixView small_front, large_front, many_objectives, one_front, shells;
    MatrixView ref_dirs = MatrixView::row_major(ref_dir_values.data(), {20, kObjectives});
    VectorView ideal = VectorView::row_major(ideal_values.data(), {kObjectives});
    VectorView nadir = VectorView::row_major(nadir_values.data(), {kObjectives});

    // [kernel][i * n_y + j], from the single-pair kernels on this thread: no pool involved.
    std::vector<std::vector<double>> pairwise_reference;
    algorithm::Fronts small_fronts, large_fronts, many_objective_fronts, one_front_fronts, shell_fronts;
    std::vector<std::int64_t> niches;
    std::vector<double> niche_distances;

    World() {
        small_front_values[7] = std::numeric_limits<double>::quiet_NaN();
        small_front = MatrixView::row_major(small_front_values.data(), {300, kObjectives});
        large_front = MatrixView::row_major(large_front_values.data(), {3000, kObjectives});
        many_objectives = MatrixView::row_major(many_objective_values.data(), {kManyPoints, kManyObjectives});
        one_front = MatrixView::row_major(one_front_values.data(), {kOneFrontPoints, kManyObjectives});
        shells = MatrixView::row_major(shell_point_values.data(), {kShellPoints, kShellObjectives});
        const std::function<double(const Series&, const Series&)> pairs[] = {
            [](const Series& a, const Series& b) { return distances::dtw_pair(a, b, 3); },
            [](const Series& a, const Series& b) { return distances::soft_dtw_pair(a, b, 0.5); },
            [](const Series& a, const Series& b) { return distances::gak(a, b, 1.5); },
            [](const Series& a, const Series& b) { return distances::manhattan_pair(a, b); },
        };
        for (const auto& pair : pairs) {
            std::vector<double> matrix;
            for (std::size_t i = 0; i < x.extent(0); ++i)
                for (std::size_t j = 0; j < y.extent(0); ++j) matrix.push_back(pair(x[i], y[j]));
            pairwise_reference.push_back(std::move(matrix));
        }
    }

    Matrix<double> pairwise(std::size_t kernel) const {
        switch (kernel) {
            case 0: return distances::cdist_dtw(x, y, 3);
            case 1: return distances::cdist_soft_dtw(x, y, 0.5);
            case 2: return distances::cdist_gak(x, y, 1.5);
            default: return distances::cdist_manhattan(x, y);
        }
    }

    void check_pairwise(std::size_t kernel) const {
        const Matrix<double> m = pairwise(kernel);
        const auto& want = pairwise_reference[kernel];
        check(m.values.size() == want.size() && same_bits(m.values.data(), want.data(), want.size()),
              "pairwise kernel " + std::to_string(kernel) + " differs from its single pairs");
    }

    static bool same_fronts(const algorithm::Fronts& a, const algorithm::Fronts& b) {
        if (a.size() != b.size()) return false;
        for (std::size_t k = 0; k < a.size(); ++k)
            if (a[k].size() != b[k].size() || std::memcmp(a[k].data(), b[k].data(), a[k].bytes()) != 0) return false;
        return true;
    }

    void check_sorting_and_niching() const {
        check(same_fronts(algorithm::non_dominated_fronts(small_front), small_fronts), "fronts (classic) differ");
        check(same_fronts(algorithm::non_dominated_fronts(large_front), large_fronts), "fronts (three objectives) differ");
        check(same_fronts(algorithm::non_dominated_fronts(many_objectives), many_objective_fronts),
              "fronts (front search) differ");
        check(same_fronts(algorithm::non_dominated_fronts(one_front), one_front_fronts), "fronts (one front) differ");
        check(same_fronts(algorithm::non_dominated_fronts(shells), shell_fronts), "fronts (two shells) differ");
        auto [n, d] = algorithm::associate_to_niches(large_front, ref_dirs, ideal, nadir);
        check(n.size() == niches.size() && std::memcmp(n.data(), niches.data(), n.bytes()) == 0, "niches differ");
        check(same_bits(d.data(), niche_distances.data(), d.size()), "niche distances differ");
    }

    // Series with fewer features than x: every pair fails inside a worker.
    void check_failure_in_workers() const {
        try {
            distances::cdist_dtw(x, narrow, std::nullopt);
            check(false, "a pair of unequal feature counts did not fail");
        } catch (const KernelFailure& e) {
            check(std::string(e.what()) == names::kIndexOutOfBounds, std::string("unexpected failure: ") + e.what());
        }
        // Some ranges throw, the others finish; the caller gets one of the thrown failures.
        std::atomic<std::size_t> finished{0};
        try {
            pool::parallel_for(200, [&](std::size_t begin, std::size_t end) {
                for (std::size_t i = begin; i < end; ++i) {
                    if (i % 37 == 5) throw std::runtime_error("index " + std::to_string(i));
                    finished.fetch_add(1, std::memory_order_relaxed);
                }
            });
            check(false, "a throwing job did not fail");
        } catch (const std::runtime_error& e) {
            check(std::string(e.what()).starts_with("index "), std::string("unexpected failure: ") + e.what());
        }
    }
};

// The poll of the calling thread asks to stop on its second call (after about 40 ms).
thread_local int t_polls = 0;
bool stop_on_second_poll() { return ++t_polls >= 2; }

// A job whose ranges run until cancelled: the poll stops it and parallel_for throws Interrupted.
void check_cancellation() {
    t_polls = 0;
    pool::ScopedInterruptPoll poll(stop_on_second_poll);
    const auto start = Clock::now();
    try {
        pool::parallel_for(64, [](std::size_t, std::size_t) {
            const auto give_up = Clock::now() + std::chrono::seconds(20);
            while (!pool::stop_requested() && Clock::now() < give_up) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        });
        check(false, "a cancelled job completed");
    } catch (const pool::Interrupted&) {
        check(Clock::now() - start < std::chrono::seconds(10), "cancellation took too long");
    }
}

// fork() while the other threads keep the pool busy: the fork handlers run against jobs in
// flight and the parent's pool carries on. ThreadSanitizer cannot follow a forked child of a
// threaded process that starts threads of its own (it still counts the parent's), so the child
// computes one pair on its own thread; the Python tests cover the child's own pool.
void check_fork(const World& world) {
    const pid_t pid = fork();
    if (pid == 0) {
        const double value = distances::manhattan_pair(world.x[1], world.y[2]);
        _exit(same_bits(&value, &world.pairwise_reference[3][1 * world.y.extent(0) + 2], 1) ? 0 : 1);
    }
    check(pid > 0, "fork failed");
    if (pid <= 0) return;
    const auto deadline = Clock::now() + std::chrono::seconds(120);
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (Clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            check(false, "the forked child hangs");
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    check(WIFEXITED(status) && WEXITSTATUS(status) == 0, "the forked child computed a wrong result");
}

}  // namespace

int main() {
    constexpr std::size_t kThreads = 4, kRounds = 36;
    World world;

    // Racing first calls: every thread's first parallel call may be the one creating the pool.
    {
        std::barrier start(kThreads);
        std::vector<std::jthread> threads;
        for (std::size_t t = 0; t < kThreads; ++t)
            threads.emplace_back([&, t] {
                start.arrive_and_wait();
                world.check_pairwise(t % 4);
            });
    }
    world.small_fronts = algorithm::non_dominated_fronts(world.small_front);
    world.large_fronts = algorithm::non_dominated_fronts(world.large_front);
    world.many_objective_fronts = algorithm::non_dominated_fronts(world.many_objectives);
    world.one_front_fronts = algorithm::non_dominated_fronts(world.one_front);
    world.shell_fronts = algorithm::non_dominated_fronts(world.shells);
    check(world.one_front_fronts.size() == 1, "the sphere's points are not one front");
    check(world.shell_fronts.size() > 1, "the shells' points are one front");
    auto [niches, distances] = algorithm::associate_to_niches(world.large_front, world.ref_dirs, world.ideal, world.nadir);
    world.niches.assign(niches.begin(), niches.end());
    world.niche_distances.assign(distances.begin(), distances.end());

    // Every kind of job from every thread at once, each thread in its own order.
    {
        std::vector<std::jthread> threads;
        for (std::size_t t = 0; t < kThreads; ++t)
            threads.emplace_back([&, t] {
                for (std::size_t round = 0; round < kRounds; ++round) {
                    switch ((round + t) % 6) {
                        case 0: world.check_pairwise((round / 6 + t) % 4); break;
                        case 1: world.check_sorting_and_niching(); break;
                        case 2: world.check_failure_in_workers(); break;
                        case 3: check_cancellation(); break;
                        case 4: if (t == 0) check_fork(world); else world.check_pairwise(t % 4); break;
                        default: for (std::size_t k = 0; k < 4; ++k) world.check_pairwise(k); break;
                    }
                }
            });
    }
    const int failures = g_failures.load();
    std::printf("pool_stress: %zu threads x %zu rounds on %zu workers: %d checks, %d failed\n", kThreads, kRounds,
                pool::worker_count(), g_checks.load(), failures);
    return failures == 0 ? 0 : 1;
}
