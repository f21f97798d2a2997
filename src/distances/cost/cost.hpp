// The squared Euclidean cost matrix, and the feature-count check every measure over time steps
// shares.
#pragma once

#include "core/array_view.hpp"
#include "core/buffer.hpp"

namespace rc::distances {

// Squared Euclidean distance between every time step of x (rows) and of y (columns), over the
// d features of x: entry [i][j] = sum over k = 0..d-1 of (x[i][k] - y[j][k])^2, summed in
// increasing k from 0.0. y needs at least d columns; its further columns are never read.
Matrix<double> squared_euclidean_cost_matrix(const Series& x, const Series& y);

// Throws the index failure when y is narrower than x for a pair that reads any cell.
inline void check_feature_counts(const Series& x, const Series& y) {
    if (x.extent(0) > 0 && y.extent(0) > 0 && x.extent(1) > 0 && y.extent(1) < x.extent(1))
        fail_index_out_of_bounds();
}

}  // namespace rc::distances
