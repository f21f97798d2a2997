// Soft-DTW lane kernels for AVX-512: vectors of 8 pairs (the 4-lane kernels stay AVX2's).

// GCC 12 reports the deliberately undefined pass-through operand inside its own AVX-512
// intrinsics as uninitialised.
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <immintrin.h>

#include <cmath>
#include <cstddef>
#include <cstdint>

#include "distances/soft_dtw_lanes.hpp"
#include "simd/exp_table.hpp"

namespace {
#include "distances/simd_ops_avx512.hpp"
#include "simd/exp_ops.hpp"
#include "simd/exp-inl.hpp"
#include "distances/exp_policies.hpp"
#include "distances/soft_dtw_lanes_kernel.hpp"

}  // namespace

namespace rc::distances::soft_dtw_lanes {

template <class Exp>
constexpr RowKernels kernels_with() {
    return {{soft_row<ExpOps, 16, Exp>, soft_row<ExpOps, 8, Exp>, nullptr},
            {soft_strip<ExpOps, 16, Exp>, soft_strip<ExpOps, 8, Exp>, nullptr}};
}

const RowKernels kAvx512RowKernels[3] = {kernels_with<LibraryExp>(), kernels_with<LaneExp<true>>(),
                                          kernels_with<LaneExp<false>>()};

}  // namespace rc::distances::soft_dtw_lanes
