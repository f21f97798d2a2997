// Reads the processor's features and RC_SIMD once, and hands out the chosen kernel table.
#include "simd/dispatch.hpp"

#include <algorithm>
#include <string_view>

#include "platform/environment.hpp"
#include "platform/interface_names.hpp"

namespace rc::simd {
namespace {

Target supported_target() noexcept {
#if defined(__x86_64__)
    __builtin_cpu_init();
    // Both wider targets are compiled with fused multiply-add, which the lane exp needs where
    // the C library's exp fuses.
    if (!__builtin_cpu_supports("fma")) return Target::baseline;
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq") &&
        __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512bw"))
        return Target::avx512;
    if (__builtin_cpu_supports("avx2")) return Target::avx2;
#endif
    return Target::baseline;
}

Target requested_target(Target supported) noexcept {
    const std::string_view name = environment::simd_target();
    if (name == names::kBaselineTarget || name == names::kBaselineTargetOldName) return Target::baseline;
    if (name == names::kAvx2Target) return Target::avx2;
    return supported;
}

}  // namespace

Target target() noexcept {
    static const Target chosen = [] {
        const Target supported = supported_target();
        return std::min(requested_target(supported), supported);
    }();
    return chosen;
}

const Kernels& kernels() noexcept {
    static const Kernels& chosen = [] () -> const Kernels& {
#if defined(__x86_64__)
        switch (target()) {
            case Target::avx512: return avx512::kKernels;
            case Target::avx2: return avx2::kKernels;
            case Target::baseline: break;
        }
#endif
        return baseline::kKernels;
    }();
    return chosen;
}

}  // namespace rc::simd
