// cdist_manhattan lanes for AVX-512: eight pairs per vector, for packed blocks.
#include <immintrin.h>

#include <cstring>

#include "distances/manhattan_lanes.hpp"

namespace rc::distances::manhattan_lanes {
namespace {

constexpr std::size_t kWidth = 8;

inline double load_double(const std::byte* p) noexcept {
    double value;
    std::memcpy(&value, p, sizeof value);
    return value;
}

inline __m256d load4(const std::byte* p) noexcept { return _mm256_loadu_pd(reinterpret_cast<const double*>(p)); }

// Four consecutive elements of four series, transposed: vector u holds element u of each.
inline void transpose4(const std::byte* const* s, std::ptrdiff_t offset, __m256d (&v)[4]) noexcept {
    const __m256d a0 = load4(s[0] + offset), a1 = load4(s[1] + offset);
    const __m256d a2 = load4(s[2] + offset), a3 = load4(s[3] + offset);
    const __m256d lo01 = _mm256_unpacklo_pd(a0, a1), hi01 = _mm256_unpackhi_pd(a0, a1);
    const __m256d lo23 = _mm256_unpacklo_pd(a2, a3), hi23 = _mm256_unpackhi_pd(a2, a3);
    v[0] = _mm256_permute2f128_pd(lo01, lo23, 0x20);
    v[1] = _mm256_permute2f128_pd(hi01, hi23, 0x20);
    v[2] = _mm256_permute2f128_pd(lo01, lo23, 0x31);
    v[3] = _mm256_permute2f128_pd(hi01, hi23, 0x31);
}

inline __m512d join(__m256d low, __m256d high) noexcept {
    return _mm512_insertf64x4(_mm512_castpd256_pd512(low), high, 1);
}

// The lane step of manhattan_pair: sum + |x - y|, the difference first, then its absolute value.
inline __m512d accumulate(__m512d sum, __m512d x, __m512d y) noexcept {
    return _mm512_add_pd(sum, _mm512_andnot_pd(_mm512_set1_pd(-0.0), _mm512_sub_pd(x, y)));
}

// Eight series at once, series k in lane k. Four consecutive elements of each are loaded and
// transposed in two 256-bit halves. One group of eight only: more concurrent streams make the
// series collide in the L1 cache when their distance is a multiple of 4 KiB, as it often is.
void sum_packed(const Block& b, const std::byte* y, double* out) noexcept {
    const std::size_t count = b.rows * b.cols;
    const std::byte* series[kWidth];
    for (std::size_t l = 0; l < kWidth; ++l) series[l] = y + static_cast<std::ptrdiff_t>(l) * b.y_series_stride;
    __m512d sum = _mm512_setzero_pd();
    std::size_t t = 0;
    for (; t + 4 <= count; t += 4) {
        const std::ptrdiff_t offset = static_cast<std::ptrdiff_t>(t * sizeof(double));
        __m256d low[4], high[4];
        transpose4(series, offset, low);
        transpose4(series + 4, offset, high);
        for (std::size_t u = 0; u < 4; ++u) {
            const auto at = offset + static_cast<std::ptrdiff_t>(u * sizeof(double));
            const __m512d xv = _mm512_set1_pd(load_double(b.x + at));
            sum = accumulate(sum, xv, join(low[u], high[u]));
        }
    }
    for (; t < count; ++t) {
        const std::ptrdiff_t offset = static_cast<std::ptrdiff_t>(t * sizeof(double));
        double lanes[kWidth];
        for (std::size_t l = 0; l < kWidth; ++l) lanes[l] = load_double(series[l] + offset);
        sum = accumulate(sum, _mm512_set1_pd(load_double(b.x + offset)), _mm512_loadu_pd(lanes));
    }
    _mm512_storeu_pd(out, sum);
}

}  // namespace

std::size_t sum_lanes_avx512(const Block& block, std::size_t pairs, double* out) noexcept {
    if (!block.packed) return 0;
    std::size_t j = 0;
    for (; j + kWidth <= pairs; j += kWidth)
        sum_packed(block, block.y + static_cast<std::ptrdiff_t>(j) * block.y_series_stride, out + j);
    return j;
}

}  // namespace rc::distances::manhattan_lanes
