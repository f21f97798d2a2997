// Which instruction set's lane exp the process uses (the one of its SIMD level), and whether the
// kernels use it.
#include "simd/exp.hpp"

#include "libm_entry.hpp"
#include "simd_level.hpp"

namespace rc::simd {

const ExpArrays* exp_arrays() noexcept {
#if defined(__x86_64__)
    switch (simd_level()) {
        case SimdLevel::avx512: return &kExpAvx512;
        case SimdLevel::avx2: return &kExpAvx2;
        case SimdLevel::scalar: return &kExpSse2;
    }
#endif
    return nullptr;
}

ExpVariant kernel_exp_variant() noexcept {
    static const ExpVariant variant = [] {
        const ExpVariant agreeing = libm_entry().exp_variant;
        const bool slow = agreeing == ExpVariant::fused && simd_level() == SimdLevel::scalar;
        return slow || exp_arrays() == nullptr ? ExpVariant::library : agreeing;
    }();
    return variant;
}

}  // namespace rc::simd
