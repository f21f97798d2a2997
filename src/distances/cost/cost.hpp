// The squared Euclidean cost matrix, the cost of one cell, and the feature-count check every
// measure over time steps shares.
#pragma once

#include "core/array_view.hpp"
#include "core/buffer.hpp"

namespace rc::distances {

// Squared Euclidean distance between every time step of x (rows) and of y (columns), over the
// d features of x: entry [i][j] = sum over k = 0..d-1 of (x[i][k] - y[j][k])^2, summed in
// increasing k from 0.0. y needs at least d columns; its further columns are never read.
Matrix<double> squared_euclidean_cost_matrix(const Series& x, const Series& y);

// The cost of one cell, in exactly the order the cost matrix uses. The caller guarantees that
// y has at least the d = x.extent(1) columns read here.
inline double squared_euclidean_cost(const Series& x, std::size_t i, const Series& y, std::size_t j) noexcept {
    const std::size_t d = x.extent(1);
    double sum = 0.0;
    for (std::size_t k = 0; k < d; ++k) {
        const double diff = x(i, k) - y(j, k);
        sum += diff * diff;
    }
    return sum;
}

// Throws the index failure when y is narrower than x for a pair that reads any cell.
inline void check_feature_counts(const Series& x, const Series& y) {
    if (x.extent(0) > 0 && y.extent(0) > 0 && x.extent(1) > 0 && y.extent(1) < x.extent(1))
        fail_index_out_of_bounds();
}

}  // namespace rc::distances
