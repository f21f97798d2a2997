#include "distances/cost.hpp"

namespace rc::distances {

Matrix<double> squared_euclidean_cost_matrix_impl(const Series& x, const Series& y) {
    const std::size_t n = x.extent(0), m = y.extent(0), d = x.extent(1);
    auto cost = Matrix<double>::filled(n, m, 0.0);
    if (n == 0 || m == 0 || d == 0) return cost;
    check_feature_counts(x, y);
    // Row by row in memory order; within a cell the features are summed in increasing order.
    for (std::size_t i = 0; i < n; ++i) {
        double* out = cost.row(i);
        for (std::size_t j = 0; j < m; ++j) out[j] = squared_euclidean_cost(x, i, y, j);
    }
    return cost;
}

}  // namespace rc::distances
