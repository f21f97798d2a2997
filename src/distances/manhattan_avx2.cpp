// cdist_manhattan lanes for AVX2: four pairs per vector, gathered from four series of y.
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

// Vectors * kWidth consecutive pairs starting with the series at y. Several independent
// vectors keep the gathers and additions of different lanes overlapping.
template <std::size_t Vectors>
void sum_group(const Block& b, const std::byte* y, double* out) noexcept {
    const __m256d sign_bit = _mm256_set1_pd(-0.0);
    const std::int64_t s = b.y_series_stride;
    __m256i offsets[Vectors];
    __m256d sums[Vectors];
    for (std::size_t v = 0; v < Vectors; ++v) {
        const std::int64_t first = static_cast<std::int64_t>(v * kWidth) * s;
        offsets[v] = _mm256_set_epi64x(first + 3 * s, first + 2 * s, first + s, first);
        sums[v] = _mm256_setzero_pd();
    }
    for (std::size_t r = 0; r < b.rows; ++r) {
        const std::byte* x_row = b.x + static_cast<std::ptrdiff_t>(r) * b.x_row_stride;
        const std::byte* y_row = y + static_cast<std::ptrdiff_t>(r) * b.y_row_stride;
        for (std::size_t c = 0; c < b.cols; ++c) {
            const __m256d xv = _mm256_set1_pd(load_double(x_row + static_cast<std::ptrdiff_t>(c) * b.x_col_stride));
            const auto* base = reinterpret_cast<const double*>(y_row + static_cast<std::ptrdiff_t>(c) * b.y_col_stride);
            for (std::size_t v = 0; v < Vectors; ++v) {
                const __m256d yv = _mm256_i64gather_pd(base, offsets[v], 1);
                // |x - y|, then added to the lane's running sum, as the scalar loop does.
                const __m256d diff = _mm256_andnot_pd(sign_bit, _mm256_sub_pd(xv, yv));
                sums[v] = _mm256_add_pd(sums[v], diff);
            }
        }
    }
    for (std::size_t v = 0; v < Vectors; ++v) _mm256_storeu_pd(out + v * kWidth, sums[v]);
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
