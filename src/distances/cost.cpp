#include "distances/cost.hpp"

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

}  // namespace

Matrix<double> squared_euclidean_cost_matrix_impl(const Series& x, const Series& y) {
    const std::size_t n = x.extent(0), m = y.extent(0), d = x.extent(1);
    if (n == 0 || m == 0 || d == 0) return Matrix<double>::filled(n, m, 0.0);
    check_feature_counts(x, y);
    auto cost = Matrix<double>::uninitialized(n, m);
    // Row by row in memory order.
    for (std::size_t i = 0; i < n; ++i) cost_row(x, i, y, cost.row(i));
    return cost;
}

}  // namespace rc::distances
