// Which lane kernels cdist_dtw uses: the widest the processor runs, or the one the environment
// variable RC_SIMD names ("scalar", "avx2" or "avx512"), read once per process, so that tests
// and benchmarks can run every path on one machine. A named path the processor lacks falls
// back to the widest one it has below it. Every path gives the same bits.
#include <algorithm>
#include <cstdlib>
#include <string_view>

#include "distances/dtw_kernels.hpp"

namespace rc::distances::dtw_detail {
namespace {

enum class SimdLevel { scalar, avx2, avx512 };

SimdLevel supported_level() noexcept {
#if defined(__x86_64__)
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq") &&
        __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512bw"))
        return SimdLevel::avx512;
    if (__builtin_cpu_supports("avx2")) return SimdLevel::avx2;
#endif
    return SimdLevel::scalar;
}

SimdLevel requested_level(SimdLevel supported) noexcept {
    const char* text = std::getenv("RC_SIMD");
    if (text == nullptr) return supported;
    const std::string_view name(text);
    if (name == "scalar") return SimdLevel::scalar;
    if (name == "avx2") return SimdLevel::avx2;
    if (name == "avx512") return SimdLevel::avx512;
    return supported;
}

const dtw_lanes::LaneKernels* choose() noexcept {
    const SimdLevel supported = supported_level();
    const SimdLevel level = std::min(requested_level(supported), supported);
#if defined(__x86_64__)
    if (level == SimdLevel::avx512) return &dtw_lanes::kAvx512LaneKernels;
    if (level == SimdLevel::avx2) return &dtw_lanes::kAvx2LaneKernels;
#endif
    (void)level;
    return nullptr;
}

}  // namespace

const dtw_lanes::LaneKernels* lane_kernels() noexcept {
    static const dtw_lanes::LaneKernels* const chosen = choose();
    return chosen;
}

}  // namespace rc::distances::dtw_detail
