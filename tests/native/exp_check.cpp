// Compares the lane exp of every instruction set this processor runs, both variants, with the C
// library's exp on a reproducible mix of arguments, and reports the variant the module would
// choose; and checks that the log bracket of every instruction set holds the library's log.
// Built by tests/test_exp_lanes.py (CMake target exp_check), never installed.
//
//     exp_check COUNT SEED [chosen | timing]
//
// prints "chosen VARIANT" and "bracketed 0|1" (whether the module would settle soft-DTW cells by
// the bracket), then one line per instruction set and variant (only the chosen one with
// `chosen`): "TARGET VARIANT MISMATCHES FIRST_MISMATCHING_ARGUMENT_BITS", and one per instruction
// set for the bracket: "TARGET bracket FAILURES FIRST_FAILING_ARGUMENT_BITS", a failure being a
// library log outside the bracket or a bracket wider than a few ulps. With `timing` it prints
// instead the processor time per element of each, and of the library's exp and log, over COUNT
// elements of arguments in [-40, 0] (bench/bench_exp_lanes.py).

#include <cmath>

#include <algorithm>
#include <bit>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <string_view>
#include <utility>
#include <vector>

#include "exp_lanes.hpp"
#include "libm_entry.hpp"
#include "simd/cpu_features.hpp"
#include "simd/exp.hpp"

namespace {

using rc::simd::ExpArrays;

// The library's own functions, as the module resolves them (never a toolchain's copy).
const rc::LibraryFunction library_exp = rc::library_function("exp");
const rc::LibraryFunction library_log = rc::library_function("log");

bool has_avx2() {
    const rc::simd::CpuFeatures features = rc::simd::cpu_features();
    return features.fma && features.avx2;
}

bool has_avx512() {
    const rc::simd::CpuFeatures features = rc::simd::cpu_features();
    return features.fma && features.avx512;
}
using rc::simd::ExpVariant;

struct SplitMix {
    std::uint64_t state;
    std::uint64_t next() {
        std::uint64_t z = (state += 0x9E3779B97F4A7C15u);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
        return z ^ (z >> 31);
    }
    double unit() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }
};

// One argument from a mix weighted towards where the kernels and the special cases live.
double argument(SplitMix& random) {
    const std::uint64_t pick = random.next() % 20;
    const double u = random.unit();
    switch (pick) {
        case 0: case 1: case 2: case 3: case 4: case 5: case 6: case 7: return (u - 0.5) * 1500.0;
        case 8: case 9: case 10: case 11: return -40.0 * u;
        case 12: case 13: return 2.0 * u - 1.0;
        case 14: case 15: return -700.0 - 50.0 * u;
        case 16: return std::bit_cast<double>(random.next());  // any bit pattern, NaNs included
        case 17: return (u < 0.5 ? 1.0 : -1.0) * 0x1p-54 * (0.5 + 2.0 * random.unit());  // around 2^-54
        case 18: return (u < 0.5 ? 1.0 : -1.0) * (500.0 + 30.0 * random.unit());        // around 512
        default: return 700.0 + 20.0 * u;                                              // overflow edge
    }
}

// One argument of the bracket: sums of soft-DTW cells, [1, 3], with more weight near 1 (where the
// library's log takes another path) and the rest of [1, 4).
double log_argument(SplitMix& random) {
    const std::uint64_t pick = random.next() % 10;
    const double u = random.unit();
    switch (pick) {
        case 0: case 1: return 1.0 + 0x1.2p-4 * u;
        case 2: return 1.0 + static_cast<double>(random.next() % 4096) * 0x1p-52;
        case 3: return 3.0 + u;
        default: return 1.0 + 2.0 * u;
    }
}

// Whether lo <= log(x) <= hi and the bracket is at most a few ulps wide.
bool bracket_holds(double x, double lo, double hi) {
    const double value = library_log(x);
    return lo <= value && value <= hi && hi - lo <= 0x1p-48 * std::fabs(value) + 0x1p-55;
}

struct Tally {
    const ExpArrays* arrays;
    ExpVariant variant;
    std::uint64_t mismatches = 0;
    std::uint64_t first = 0;
};

const char* name(ExpVariant variant) {
    switch (variant) {
        case ExpVariant::fused: return "fused";
        case ExpVariant::plain: return "plain";
        case ExpVariant::library: break;
    }
    return "library";
}

double cpu_seconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + 1e-9 * static_cast<double>(now.tv_nsec);
}

// Nanoseconds per element of `apply` over `count` elements, the best of five runs.
template <class Apply>
double time_per_element(std::uint64_t count, Apply&& apply) {
    double best = 1e300;
    for (int run = 0; run < 5; ++run) {
        const double start = cpu_seconds();
        apply(count);
        best = std::min(best, cpu_seconds() - start);
    }
    return best * 1e9 / static_cast<double>(count);
}

void timing(std::uint64_t count, const std::vector<const ExpArrays*>& targets,
            const std::vector<std::pair<const char*, rc::simd::LogBracketArray>>& brackets, SplitMix& random) {
    constexpr std::size_t kBlock = 4096;
    std::vector<double> in(kBlock), out(kBlock);
    for (double& x : in) x = -40.0 * random.unit();
    double sink = 0.0;
    auto blocks = [&](std::uint64_t n, auto&& block) {
        for (std::uint64_t done = 0; done < n; done += kBlock) {
            block();
            sink += out[done % kBlock];
        }
    };
    auto library = [&](double (*f)(double), bool positive) {
        return time_per_element(count, [&](std::uint64_t n) {
            blocks(n, [&] {
                for (std::size_t k = 0; k < kBlock; ++k) out[k] = f(positive ? 1.0 - in[k] : in[k]);
            });
        });
    };
    std::printf("library exp %.3f\n", library(library_exp, false));
    std::printf("library log %.3f\n", library(library_log, true));
    for (const ExpArrays* arrays : targets)
        for (ExpVariant variant : {ExpVariant::fused, ExpVariant::plain}) {
            const double ns = time_per_element(count, [&](std::uint64_t n) {
                blocks(n, [&] { arrays->of(variant)(in.data(), out.data(), kBlock); });
            });
            std::printf("%s %s %.3f\n", arrays->target, name(variant), ns);
        }
    std::vector<double> sums(kBlock), hi(kBlock);
    for (std::size_t k = 0; k < kBlock; ++k) sums[k] = 1.0 + 2.0 * random.unit();
    for (const auto& [target, bracket] : brackets) {
        const double ns = time_per_element(count, [&](std::uint64_t n) {
            blocks(n, [&] { bracket(sums.data(), out.data(), hi.data(), kBlock); });
        });
        std::printf("%s bracket %.3f\n", target, ns);
    }
    if (sink == 42.0) std::printf("\n");  // keeps the results alive
}

}  // namespace

// The module's probe (libm_entry.cpp) runs the lane exp of the widest instruction set here, as
// the module runs its own target's.
const ExpArrays* rc::simd::exp_arrays() noexcept {
    return has_avx512() ? &exp_check::kAvx512 : has_avx2() ? &exp_check::kAvx2 : &exp_check::kBaseline;
}

rc::simd::LogBracketArray rc::simd::log_bracket_array() noexcept {
    return has_avx512() ? exp_check::kAvx512Log : has_avx2() ? exp_check::kAvx2Log : exp_check::kBaselineLog;
}

int main(int argc, char** argv) {
    const std::string_view mode = argc == 4 ? argv[3] : "";
    if (argc != 3 && !(argc == 4 && (mode == "chosen" || mode == "timing"))) {
        std::fprintf(stderr, "usage: exp_check COUNT SEED [chosen | timing]\n");
        return 2;
    }
    const std::uint64_t count = std::strtoull(argv[1], nullptr, 10);
    SplitMix random{std::strtoull(argv[2], nullptr, 10)};
    const ExpVariant chosen = rc::libm_entry().exp_variant;
    std::printf("chosen %s\n", name(chosen));
    std::printf("bracketed %d\n", rc::libm_entry().log_bracketed ? 1 : 0);

    std::vector<const ExpArrays*> targets = {&exp_check::kBaseline};
    if (has_avx2()) targets.push_back(&exp_check::kAvx2);
    if (has_avx512()) targets.push_back(&exp_check::kAvx512);
    std::vector<std::pair<const char*, rc::simd::LogBracketArray>> bracket_targets = {{"baseline", exp_check::kBaselineLog}};
    if (has_avx2()) bracket_targets.emplace_back("avx2", exp_check::kAvx2Log);
    if (has_avx512()) bracket_targets.emplace_back("avx512", exp_check::kAvx512Log);
    if (mode == "timing") {
        timing(count, targets, bracket_targets, random);
        return 0;
    }
    struct BracketTally {
        const char* target;
        rc::simd::LogBracketArray bracket;
        std::uint64_t failures = 0;
        std::uint64_t first = 0;
    };
    std::vector<BracketTally> brackets;
    for (const auto& [target, bracket] : bracket_targets) brackets.push_back({target, bracket});
    std::vector<Tally> tallies;
    for (const ExpArrays* arrays : targets)
        for (ExpVariant variant : {ExpVariant::fused, ExpVariant::plain})
            if (mode.empty() || variant == chosen) tallies.push_back({arrays, variant});

    constexpr std::size_t kChunk = 1 << 16;
    std::vector<double> in(kChunk), expected(kChunk), out(kChunk), lo(kChunk), hi(kChunk);
    for (std::uint64_t done = 0; done < count;) {
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, count - done));
        for (std::size_t k = 0; k < n; ++k) in[k] = log_argument(random);
        for (BracketTally& tally : brackets) {
            tally.bracket(in.data(), lo.data(), hi.data(), n);
            for (std::size_t k = 0; k < n; ++k) {
                if (bracket_holds(in[k], lo[k], hi[k])) continue;
                if (tally.failures++ == 0) tally.first = std::bit_cast<std::uint64_t>(in[k]);
            }
        }
        for (std::size_t k = 0; k < n; ++k) {
            in[k] = argument(random);
            expected[k] = library_exp(in[k]);
        }
        for (Tally& tally : tallies) {
            tally.arrays->of(tally.variant)(in.data(), out.data(), n);
            for (std::size_t k = 0; k < n; ++k) {
                if (std::bit_cast<std::uint64_t>(out[k]) == std::bit_cast<std::uint64_t>(expected[k])) continue;
                if (tally.mismatches++ == 0) tally.first = std::bit_cast<std::uint64_t>(in[k]);
            }
        }
        done += n;
    }
    for (const Tally& tally : tallies)
        std::printf("%s %s %" PRIu64 " 0x%016" PRIx64 "\n", tally.arrays->target, name(tally.variant),
                    tally.mismatches, tally.first);
    for (const BracketTally& tally : brackets)
        std::printf("%s bracket %" PRIu64 " 0x%016" PRIx64 "\n", tally.target, tally.failures, tally.first);
    return 0;
}
