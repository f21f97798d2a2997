// DTW lane kernels for AVX2: 4 pairs per vector.
#include <immintrin.h>

#include <cstddef>
#include <type_traits>
#include <utility>

#include "distances/dtw_lanes.hpp"

namespace {
#include "distances/simd_ops_avx2.hpp"
#include "distances/dtw_lanes_kernel.hpp"
}  // namespace

namespace rc::distances::dtw_lanes {

// Two rows of x at a time: with two vectors of pairs that is 8 accumulators of the 16 registers.
const LaneKernels kAvx2LaneKernels{"avx2", Avx2::lanes, run_lanes_dispatch<Avx2, 1, 2>, run_lanes_dispatch<Avx2, 2, 2>};

}  // namespace rc::distances::dtw_lanes
