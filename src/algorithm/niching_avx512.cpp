// Nearest-direction search with eight directions per AVX-512 vector.
#include <immintrin.h>

#include "algorithm/niching_lanes.hpp"

namespace rc::algorithm::niching {
namespace {

struct Avx512Lanes {
    using Vec = __m512d;
    static constexpr std::size_t width = 8;
    static Vec broadcast(double x) { return _mm512_set1_pd(x); }
    static Vec load(const double* p) { return _mm512_loadu_pd(p); }
    static void store(double* p, Vec v) { _mm512_storeu_pd(p, v); }
    static Vec sqrt(Vec v) { return _mm512_sqrt_pd(v); }
    static bool any_less(Vec a, Vec b) { return _mm512_cmp_pd_mask(a, b, _CMP_LT_OQ) != 0; }
    static void keep_smaller(Vec distance, Vec sum, Vec index, Vec& best, Vec& best_sum, Vec& best_index) {
        const __mmask8 closer = _mm512_cmp_pd_mask(distance, best, _CMP_LT_OQ);
        best = _mm512_mask_mov_pd(best, closer, distance);
        best_sum = _mm512_mask_mov_pd(best_sum, closer, sum);
        best_index = _mm512_mask_mov_pd(best_index, closer, index);
    }
};

}  // namespace

void nearest_avx512(const DirectionTable& table, const double* points, std::size_t rows, std::int64_t* niche,
                    double* distance) {
    nearest_in_lanes<Avx512Lanes>(table, points, rows, niche, distance);
}

}  // namespace rc::algorithm::niching
