// The global alignment kernel: the sum over all monotone alignments of two series of the
// product of a local kernel along the alignment, accumulated in plain floating point.
#pragma once

#include "core/array_view.hpp"
#include "core/buffer.hpp"

namespace rc::distances {

// The raw kernel sum K(x, y) with bandwidth sigma. sigma enters only through 2 * sigma^2 and is
// not range-checked. y narrower than x fails like the cost matrix.
double unnormalized_gak(const Series& x, const Series& y, double sigma);

// K(x, y) / sqrt(K(x, x) * K(y, y)), the three sums computed in that order.
double gak(const Series& x, const Series& y, double sigma);

// Entry [i][j] = K(x[i], y[j]) / sqrt(K(x[i], x[i]) * K(y[j], y[j])), bit for bit what gak gives;
// each self-similarity is computed once (x's, then y's, then the matrix, each phase parallel).
Matrix<double> cdist_gak(const SeriesSet& x, const SeriesSet& y, double sigma);

}  // namespace rc::distances
