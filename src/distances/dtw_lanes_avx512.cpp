// DTW lane kernels for AVX-512: 8 pairs per vector.

// GCC 12 reports the deliberately undefined pass-through operand inside its own AVX-512
// intrinsics (_mm512_undefined_pd) as uninitialised when building with sanitizers.
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <immintrin.h>

#include <cstddef>
#include <type_traits>
#include <utility>

#include "distances/dtw_lanes.hpp"

namespace {
#include "distances/dtw_lanes_kernel.hpp"

struct Avx512 {
    using V = __m512d;
    static constexpr std::size_t lanes = 8;
    static V loadu(const double* p) { return _mm512_loadu_pd(p); }
    static void storeu(double* p, V v) { _mm512_storeu_pd(p, v); }
    static V broadcast(double x) { return _mm512_set1_pd(x); }
    static V add(V a, V b) { return _mm512_add_pd(a, b); }
    static V sub(V a, V b) { return _mm512_sub_pd(a, b); }
    static V mul(V a, V b) { return _mm512_mul_pd(a, b); }
    // vminpd returns its second operand unless the first is less: a < b ? a : b.
    static V min(V a, V b) { return _mm512_min_pd(a, b); }
    static V min_ignoring_nan(V a, V b) {
        return _mm512_mask_blend_pd(_mm512_cmp_pd_mask(b, b, _CMP_UNORD_Q), _mm512_min_pd(a, b), a);
    }
};

}  // namespace

namespace rc::distances::dtw_lanes {

// Four rows of x at a time: with two vectors of pairs that is 16 accumulators of the 32 registers.
const LaneKernels kAvx512LaneKernels{"avx512", Avx512::lanes, run_lanes_dispatch<Avx512, 1, 4>,
                                     run_lanes_dispatch<Avx512, 2, 4>};

}  // namespace rc::distances::dtw_lanes
