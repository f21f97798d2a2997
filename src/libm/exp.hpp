// The C library's exp computed in SIMD lanes with identical bits: which of the library's two
// variants (with or without fused multiply-add) the loaded library uses, decided once per
// process, and the array entry points of every instruction set for both variants.
#pragma once

#include <cstddef>

namespace rc::simd {

// How kernels obtain exp: the library's own calls, or one of the two lane variants.
enum class ExpVariant { library, fused, plain };

// exp of in[0..count) into out[0..count), in and out the same array or disjoint.
using ExpArray = void (*)(const double* in, double* out, std::size_t count);

struct ExpArrays {
    const char* target;  // the instruction set they were compiled for
    ExpArray fused;
    ExpArray plain;

    ExpArray of(ExpVariant variant) const noexcept { return variant == ExpVariant::fused ? fused : plain; }
};

// The arrays of the process's target (a row of its kernel table, see dispatch.hpp), or null where
// there are none.
const ExpArrays* exp_arrays() noexcept;

// The exp the kernels use: the lane variant that reproduces the library's (libm_entry.hpp),
// except where its lanes would be slower than the library's calls, which give the same bits:
// on the baseline instruction set the fused variant has no fused multiply-add instruction and
// calls std::fma per operation.
ExpVariant kernel_exp_variant() noexcept;

}  // namespace rc::simd
