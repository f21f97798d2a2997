// Nearest-direction search with four directions per AVX2 vector.
#include <immintrin.h>

#include "algorithm/niching_lanes.hpp"

namespace rc::algorithm::niching {
namespace {

struct Avx2Lanes {
    using Vec = __m256d;
    static constexpr std::size_t width = 4;
    static Vec broadcast(double x) { return _mm256_set1_pd(x); }
    static Vec load(const double* p) { return _mm256_loadu_pd(p); }
    static void store(double* p, Vec v) { _mm256_storeu_pd(p, v); }
    static Vec sqrt(Vec v) { return _mm256_sqrt_pd(v); }
    static bool any_less(Vec a, Vec b) { return _mm256_movemask_pd(_mm256_cmp_pd(a, b, _CMP_LT_OQ)) != 0; }
    static void keep_smaller(Vec distance, Vec sum, Vec index, Vec& best, Vec& best_sum, Vec& best_index) {
        const Vec closer = _mm256_cmp_pd(distance, best, _CMP_LT_OQ);
        best = _mm256_blendv_pd(best, distance, closer);
        best_sum = _mm256_blendv_pd(best_sum, sum, closer);
        best_index = _mm256_blendv_pd(best_index, index, closer);
    }
};

}  // namespace

void nearest_avx2(const DirectionTable& table, const double* points, std::size_t rows, std::int64_t* niche,
                  double* distance) {
    nearest_in_lanes<Avx2Lanes>(table, points, rows, niche, distance);
}

}  // namespace rc::algorithm::niching
