// Soft-DTW lane kernels for AVX2 (their 4-lane ones also on AVX-512 machines): vectors of 4 pairs.
#include <immintrin.h>

#include <cmath>
#include <cstddef>
#include <cstdint>

#include "distances/soft_dtw_lanes.hpp"
#include "simd/exp_table.hpp"

namespace {
#include "distances/simd_ops_avx2.hpp"
#include "simd/exp_ops.hpp"
#include "simd/exp-inl.hpp"
#include "distances/exp_policies.hpp"
#include "distances/soft_dtw_lanes_kernel.hpp"

}  // namespace

namespace rc::distances::soft_dtw_lanes {

template <class Exp>
constexpr RowKernels kernels_with() {
    return {{soft_row<ExpOps, 16, Exp>, soft_row<ExpOps, 8, Exp>, soft_row<ExpOps, 4, Exp>},
            {soft_strip<ExpOps, 16, Exp>, soft_strip<ExpOps, 8, Exp>, soft_strip<ExpOps, 4, Exp>}};
}

const RowKernels kAvx2RowKernels[3] = {kernels_with<LibraryExp>(), kernels_with<LaneExp<true>>(),
                                        kernels_with<LaneExp<false>>()};

}  // namespace rc::distances::soft_dtw_lanes
