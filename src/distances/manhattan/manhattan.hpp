// The Manhattan (L1) distance between two series, time step by time step, without warping.
#pragma once

#include "core/array_view.hpp"
#include "core/buffer.hpp"

namespace rc::distances {

// Sum of |x[r][c] - y[r][c]| over x's rows and columns, one running total in x's row-major
// order. x with no rows or no columns gives 0.0 without looking at y; a y that does not cover
// x's index range (fewer rows or fewer columns) is the index failure. Extra rows and columns
// of y are ignored, so the distance is not symmetric for series of different shapes.
double manhattan_pair(const Series& x, const Series& y);

// Entry [i][j] = manhattan_pair(x[i], y[j]), bit for bit; rows run in parallel, and within a
// row several pairs are summed at once in SIMD lanes where the processor allows.
Matrix<double> cdist_manhattan(const SeriesSet& x, const SeriesSet& y);

}  // namespace rc::distances
