// DTW lane kernels for AVX2: 4 pairs per vector.
#include <immintrin.h>

#include <cstddef>
#include <type_traits>
#include <utility>

#include "distances/dtw_lanes.hpp"

namespace {
#include "distances/dtw_lanes_kernel.hpp"

struct Avx2 {
    using V = __m256d;
    static constexpr std::size_t lanes = 4;
    static V loadu(const double* p) { return _mm256_loadu_pd(p); }
    static void storeu(double* p, V v) { _mm256_storeu_pd(p, v); }
    static V broadcast(double x) { return _mm256_set1_pd(x); }
    static V add(V a, V b) { return _mm256_add_pd(a, b); }
    static V sub(V a, V b) { return _mm256_sub_pd(a, b); }
    static V mul(V a, V b) { return _mm256_mul_pd(a, b); }
    // vminpd returns its second operand unless the first is less: a < b ? a : b.
    static V min(V a, V b) { return _mm256_min_pd(a, b); }
    static V min_ignoring_nan(V a, V b) {
        return _mm256_blendv_pd(_mm256_min_pd(a, b), a, _mm256_cmp_pd(b, b, _CMP_UNORD_Q));
    }
};

}  // namespace

namespace rc::distances::dtw_lanes {

// Two rows of x at a time: with two vectors of pairs that is 8 accumulators of the 16 registers.
const LaneKernels kAvx2LaneKernels{"avx2", Avx2::lanes, run_lanes_dispatch<Avx2, 1, 2>, run_lanes_dispatch<Avx2, 2, 2>};

}  // namespace rc::distances::dtw_lanes
