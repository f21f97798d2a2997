// Soft-DTW lane kernels for AVX2 (also used on AVX-512 machines): vectors of 4 pairs.
#include <immintrin.h>

#include <cstddef>

#include "distances/soft_dtw_lanes.hpp"

namespace {
#include "distances/simd_ops_avx2.hpp"
#include "distances/soft_dtw_lanes_kernel.hpp"

}  // namespace

namespace rc::distances::soft_dtw_lanes {

const RowKernels kAvx2RowKernels{{soft_row<Avx2, 16>, soft_row<Avx2, 8>, soft_row<Avx2, 4>},
                                   {soft_strip<Avx2, 16>, soft_strip<Avx2, 8>, soft_strip<Avx2, 4>}};

}  // namespace rc::distances::soft_dtw_lanes
