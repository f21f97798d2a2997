// Soft-DTW lane kernels for the x86-64 baseline: vectors of 2 pairs.
#include <emmintrin.h>

#include <cstddef>

#include "distances/soft_dtw_lanes.hpp"

namespace {
#include "distances/simd_ops_sse2.hpp"
#include "distances/soft_dtw_lanes_kernel.hpp"

}  // namespace

namespace rc::distances::soft_dtw_lanes {

const RowKernels kSse2RowKernels{{soft_row<Sse2, 16>, soft_row<Sse2, 8>, soft_row<Sse2, 4>},
                                   {soft_strip<Sse2, 16>, soft_strip<Sse2, 8>, soft_strip<Sse2, 4>}};

}  // namespace rc::distances::soft_dtw_lanes
