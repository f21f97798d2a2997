#include "simd_level.hpp"

#include <algorithm>
#include <cstdlib>
#include <string_view>

namespace rc {
namespace {

SimdLevel supported_level() noexcept {
#if defined(__x86_64__)
    __builtin_cpu_init();
    // The AVX2 and AVX-512 files are compiled with fused multiply-add available, for the lane exp.
    if (!__builtin_cpu_supports("fma")) return SimdLevel::scalar;
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
    return supported;
}

}  // namespace

SimdLevel simd_level() noexcept {
    static const SimdLevel level = [] {
        const SimdLevel supported = supported_level();
        return std::min(requested_level(supported), supported);
    }();
    return level;
}

}  // namespace rc
