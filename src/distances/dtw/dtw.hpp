// Dynamic time warping: the distance of one pair of series, its optimal warping path, and the
// matrix of distances between two sets of series.
#pragma once

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "core/array_view.hpp"
#include "core/buffer.hpp"

namespace rc::distances {

// Sakoe-Chiba band radius in time steps of y; absent means no band.
using BandRadius = std::optional<std::uint64_t>;

// Matched (step of x, step of y) pairs, from the first match to the last.
using WarpingPath = std::vector<std::pair<std::uint64_t, std::uint64_t>>;

// The square root of the cheapest accumulated squared-Euclidean cost of a monotone alignment
// of x with y, restricted to the band when a radius is given. Both empty: 0.0; one empty or a
// band that does not connect the corners: +inf. y narrower than x fails as the cost matrix does.
double dtw_pair(const Series& x, const Series& y, BandRadius radius);

// The same distance together with the alignment it sums over.
std::pair<double, WarpingPath> dtw_with_path(const Series& x, const Series& y, BandRadius radius);

// Entry [i][j] = dtw_pair(x[i], y[j], radius), bit for bit; rows run on the worker pool.
Matrix<double> cdist_dtw(const SeriesSet& x, const SeriesSet& y, BandRadius radius);

}  // namespace rc::distances
