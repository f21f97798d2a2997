#include "distances/cost.hpp"

#include <algorithm>

#include "distances/cost_rows.hpp"
#include "simd_level.hpp"

namespace rc::distances {
namespace {

// Four cells of one row at once: the cells are independent, and each keeps its own sum in
// increasing feature order, so the result is the same as one cell at a time.
void cost_row(const Series& x, std::size_t i, const Series& y, double* out) {
    const std::size_t m = y.extent(0), d = x.extent(1);
    std::size_t j = 0;
    for (; j + 4 <= m; j += 4) {
        double s0 = 0.0, s1 = 0.0, s2 = 0.0, s3 = 0.0;
        for (std::size_t k = 0; k < d; ++k) {
            const double xk = x(i, k);
            const double d0 = xk - y(j, k), d1 = xk - y(j + 1, k), d2 = xk - y(j + 2, k), d3 = xk - y(j + 3, k);
            s0 += d0 * d0;
            s1 += d1 * d1;
            s2 += d2 * d2;
            s3 += d3 * d3;
        }
        out[j] = s0;
        out[j + 1] = s1;
        out[j + 2] = s2;
        out[j + 3] = s3;
    }
    for (; j < m; ++j) out[j] = squared_euclidean_cost(x, i, y, j);
}

// With y's features copied feature by feature, a row is d passes over its cells, each pass
// adding one feature's squared differences: the loops run over the cells and vectorise, and
// every cell still sums its features in increasing order from 0.0.
void fill_from_features(const Series& x, const double* features, std::size_t m, Matrix<double>& cost) {
    for (std::size_t i = 0; i < x.extent(0); ++i) cost_row_interleaved(x, i, features, m, 1, m, cost.row(i));
}

// The same compiled for AVX2 (flatten keeps everything it calls inside, so nothing shared with
// baseline callers is compiled with those instructions), chosen at run time.
#if defined(__x86_64__)
[[gnu::flatten, gnu::target("avx2")]] void fill_from_features_avx2(const Series& x, const double* features,
                                                                    std::size_t m, Matrix<double>& cost) {
    fill_from_features(x, features, m, cost);
}
#endif

// The copy of y's features is used when it is at most this many doubles, or no larger than the
// result; otherwise y is read in place.
constexpr std::size_t kMaxFeatureCopy = std::size_t{1} << 22;

}  // namespace

Matrix<double> squared_euclidean_cost_matrix_impl(const Series& x, const Series& y) {
    const std::size_t n = x.extent(0), m = y.extent(0), d = x.extent(1);
    if (n == 0 || m == 0 || d == 0) return Matrix<double>::filled(n, m, 0.0);
    check_feature_counts(x, y);
    auto cost = Matrix<double>::uninitialized(n, m);
    if (m <= std::max(kMaxFeatureCopy, n * m) / d) {
        auto features = Buffer<double>::uninitialized(m * d);
        interleave_features(&y, 1, d, features.data());
#if defined(__x86_64__)
        if (simd_level() != SimdLevel::scalar) {
            fill_from_features_avx2(x, features.data(), m, cost);
            return cost;
        }
#endif
        fill_from_features(x, features.data(), m, cost);
        return cost;
    }
    // Row by row in memory order.
    for (std::size_t i = 0; i < n; ++i) cost_row(x, i, y, cost.row(i));
    return cost;
}

}  // namespace rc::distances
