// Which target's lane exp the process uses (the one of its kernel table), and whether the
// kernels use it.
#include "libm/exp.hpp"

#include "libm/entry.hpp"
#include "simd/dispatch.hpp"

namespace rc::simd {

const ExpArrays* exp_arrays() noexcept {
    const ExpArrays& arrays = kernels().exp;
    return arrays.fused != nullptr && arrays.plain != nullptr ? &arrays : nullptr;
}

ExpVariant kernel_exp_variant() noexcept {
    static const ExpVariant variant = [] {
        const ExpVariant agreeing = libm_entry().exp_variant;
        const bool slow = agreeing == ExpVariant::fused && target() == Target::baseline;
        return slow || exp_arrays() == nullptr ? ExpVariant::library : agreeing;
    }();
    return variant;
}

}  // namespace rc::simd
