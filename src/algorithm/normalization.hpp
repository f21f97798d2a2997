// The normalisation step of reference-point based selection: a fresh ideal point and nadir
// estimate from the current population and its first non-dominated front.
#pragma once

#include <cstdint>
#include <utility>

#include "core/array_view.hpp"
#include "core/buffer.hpp"

namespace rc::algorithm {

// Returns (ideal, nadir). The ideal point is `ideal_point` lowered to the column minima of all
// rows of f (entries past f's columns are returned unchanged). The nadir estimate has one
// entry per column of f: the intercepts of the hyperplane through the front's extreme points
// when that plane is usable, the front's column-wise worst values otherwise, and the worst
// values directly when the front has fewer than n_dim members.
std::pair<Buffer<double>, Buffer<double>> normalization_update(const VectorView& ideal_point, const MatrixView& f,
                                                                  const IndexView& first_front, std::uint64_t n_dim);

}  // namespace rc::algorithm
