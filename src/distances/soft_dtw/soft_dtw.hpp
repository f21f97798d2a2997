// Soft-DTW: dynamic time warping with the hard minimum replaced by a smoothed one.
#pragma once

#include "core/array_view.hpp"
#include "core/buffer.hpp"

namespace rc::distances {

// The soft-DTW value of x against y: the last cell of the accumulated matrix over the squared
// Euclidean costs, with the shifted soft minimum of smoothing gamma. No square root is taken
// and the value may be negative. gamma is used as given: zero, negative, infinite or NaN
// values simply flow through the arithmetic. y narrower than x fails like the cost matrix.
double soft_dtw_pair(const Series& x, const Series& y, double gamma);

// Entry [i][j] = soft_dtw_pair(x[i], y[j], gamma), bit for bit; rows run in parallel.
Matrix<double> cdist_soft_dtw(const SeriesSet& x, const SeriesSet& y, double gamma);

}  // namespace rc::distances
