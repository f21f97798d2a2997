// Reads the processor's features and RC_SIMD once, and hands out the chosen kernel table.
#include "simd/dispatch.hpp"

#include <algorithm>
#include <string_view>

#include "environment.hpp"
#include "interface_names.hpp"
#include "simd/cpu_features.hpp"

namespace rc::simd {
namespace {

Target supported_target() noexcept {
    // Both wider targets are compiled with fused multiply-add, which the lane exp needs where
    // the C library's exp fuses.
    const CpuFeatures features = cpu_features();
    if (!features.fma) return Target::baseline;
    if (features.avx512) return Target::avx512;
    if (features.avx2) return Target::avx2;
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
