// The squared Euclidean cost matrix: rows from an interleaved copy of y's features on the
// process's vector lanes, or straight from y when the copy would be large.
#include "distances/cost/cost.hpp"

#include <algorithm>

#include "distances/cost/rows.hpp"

namespace rc::distances {

Matrix<double> squared_euclidean_cost_matrix(const Series& x, const Series& y) {
    const std::size_t n = x.extent(0), m = y.extent(0), d = x.extent(1);
    if (n == 0 || m == 0 || d == 0) return Matrix<double>::filled(n, m, 0.0);
    check_feature_counts(x, y);
    auto cost = Matrix<double>::uninitialized(n, m);
    // The copy is also taken when it is no larger than the result.
    if (m <= std::max(kMaxFeatureCopy, n * m) / d) {
        auto features = Buffer<double>::uninitialized(m * d);
        interleave_features(&y, 1, d, features.data());
        for (std::size_t i = 0; i < n; ++i) costs_from_features(x, i, features.data(), m, 1, m, cost.row(i));
        return cost;
    }
    for (std::size_t i = 0; i < n; ++i) row_costs(x, i, y, cost.row(i), 1, m);
    return cost;
}

}  // namespace rc::distances
