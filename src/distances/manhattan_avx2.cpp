// cdist_manhattan lanes for AVX2: four pairs per vector.
#include <immintrin.h>

#include <cstdint>
#include <cstring>

#include "distances/manhattan_lanes.hpp"

namespace rc::distances::manhattan_lanes {
namespace {

constexpr std::size_t kWidth = 4;

inline double load_double(const std::byte* p) noexcept {
    double value;
    std::memcpy(&value, p, sizeof value);
    return value;
}

inline __m256d load4(const std::byte* p) noexcept { return _mm256_loadu_pd(reinterpret_cast<const double*>(p)); }

// The lane step of manhattan_pair: sum + |x - y|, the difference first, then its absolute value.
inline __m256d accumulate(__m256d sum, __m256d x, __m256d y) noexcept {
    return _mm256_add_pd(sum, _mm256_andnot_pd(_mm256_set1_pd(-0.0), _mm256_sub_pd(x, y)));
}

// Packed blocks: four consecutive elements of four series are loaded and transposed, so each
// vector holds one element of the four series. Several groups of four keep the additions of
// independent lanes overlapping.
template <std::size_t Groups>
void sum_packed(const Block& b, const std::byte* y, double* out) noexcept {
    const std::size_t count = b.rows * b.cols;
    const std::byte* series[Groups * kWidth];
    for (std::size_t l = 0; l < Groups * kWidth; ++l)
        series[l] = y + static_cast<std::ptrdiff_t>(l) * b.y_series_stride;
    __m256d sums[Groups];
    for (auto& s : sums) s = _mm256_setzero_pd();
    std::size_t t = 0;
    for (; t + kWidth <= count; t += kWidth) {
        const std::ptrdiff_t offset = static_cast<std::ptrdiff_t>(t * sizeof(double));
        __m256d xs[kWidth];
        for (std::size_t u = 0; u < kWidth; ++u) xs[u] = _mm256_set1_pd(load_double(b.x + offset + u * sizeof(double)));
        for (std::size_t g = 0; g < Groups; ++g) {
            const std::byte* const* s = series + g * kWidth;
            const __m256d a0 = load4(s[0] + offset), a1 = load4(s[1] + offset);
            const __m256d a2 = load4(s[2] + offset), a3 = load4(s[3] + offset);
            const __m256d lo01 = _mm256_unpacklo_pd(a0, a1), hi01 = _mm256_unpackhi_pd(a0, a1);
            const __m256d lo23 = _mm256_unpacklo_pd(a2, a3), hi23 = _mm256_unpackhi_pd(a2, a3);
            sums[g] = accumulate(sums[g], xs[0], _mm256_permute2f128_pd(lo01, lo23, 0x20));
            sums[g] = accumulate(sums[g], xs[1], _mm256_permute2f128_pd(hi01, hi23, 0x20));
            sums[g] = accumulate(sums[g], xs[2], _mm256_permute2f128_pd(lo01, lo23, 0x31));
            sums[g] = accumulate(sums[g], xs[3], _mm256_permute2f128_pd(hi01, hi23, 0x31));
        }
    }
    for (; t < count; ++t) {
        const std::ptrdiff_t offset = static_cast<std::ptrdiff_t>(t * sizeof(double));
        const __m256d xv = _mm256_set1_pd(load_double(b.x + offset));
        for (std::size_t g = 0; g < Groups; ++g) {
            const std::byte* const* s = series + g * kWidth;
            const __m256d yv = _mm256_setr_pd(load_double(s[0] + offset), load_double(s[1] + offset),
                                              load_double(s[2] + offset), load_double(s[3] + offset));
            sums[g] = accumulate(sums[g], xv, yv);
        }
    }
    for (std::size_t g = 0; g < Groups; ++g) _mm256_storeu_pd(out + g * kWidth, sums[g]);
}

// Any strides: each vector gathers one element from four series, in x's row-major order.
template <std::size_t Groups>
void sum_strided(const Block& b, const std::byte* y, double* out) noexcept {
    const std::int64_t s = b.y_series_stride;
    __m256i offsets[Groups];
    __m256d sums[Groups];
    for (std::size_t g = 0; g < Groups; ++g) {
        const std::int64_t first = static_cast<std::int64_t>(g * kWidth) * s;
        offsets[g] = _mm256_setr_epi64x(first, first + s, first + 2 * s, first + 3 * s);
        sums[g] = _mm256_setzero_pd();
    }
    for (std::size_t r = 0; r < b.rows; ++r) {
        const std::byte* x_row = b.x + static_cast<std::ptrdiff_t>(r) * b.x_row_stride;
        const std::byte* y_row = y + static_cast<std::ptrdiff_t>(r) * b.y_row_stride;
        for (std::size_t c = 0; c < b.cols; ++c) {
            const __m256d xv = _mm256_set1_pd(load_double(x_row + static_cast<std::ptrdiff_t>(c) * b.x_col_stride));
            const auto* base = reinterpret_cast<const double*>(y_row + static_cast<std::ptrdiff_t>(c) * b.y_col_stride);
            for (std::size_t g = 0; g < Groups; ++g)
                sums[g] = accumulate(sums[g], xv, _mm256_i64gather_pd(base, offsets[g], 1));
        }
    }
    for (std::size_t g = 0; g < Groups; ++g) _mm256_storeu_pd(out + g * kWidth, sums[g]);
}

template <std::size_t Groups>
void sum_group(const Block& b, const std::byte* y, double* out) noexcept {
    if (b.packed) sum_packed<Groups>(b, y, out);
    else sum_strided<Groups>(b, y, out);
}

}  // namespace

std::size_t sum_lanes_avx2(const Block& block, std::size_t pairs, double* out) noexcept {
    std::size_t j = 0;
    for (; j + 2 * kWidth <= pairs; j += 2 * kWidth)
        sum_group<2>(block, block.y + static_cast<std::ptrdiff_t>(j) * block.y_series_stride, out + j);
    for (; j + kWidth <= pairs; j += kWidth)
        sum_group<1>(block, block.y + static_cast<std::ptrdiff_t>(j) * block.y_series_stride, out + j);
    return j;
}

}  // namespace rc::distances::manhattan_lanes
