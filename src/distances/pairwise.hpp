// The pairwise driver behind every cdist_* function: rows of the (n_x, n_y) result are tasks
// of the worker pool, each row written in place into the row-major result.
#pragma once

#include <cstddef>
#include <vector>

#include "array_view.hpp"
#include "buffer.hpp"
#include "worker_pool.hpp"

namespace rc::distances {

// The n series of a set, as views [i, :, :] in index order.
inline std::vector<Series> series_views(const SeriesSet& set) {
    std::vector<Series> views;
    views.reserve(set.extent(0));
    for (std::size_t i = 0; i < set.extent(0); ++i) views.push_back(set[i]);
    return views;
}

// fill_row(i, row) writes the n_y entries of row i. Rows run in parallel; the entries of one
// row are computed on one thread in whatever order fill_row chooses, so a kernel may work on
// several pairs of a row at once (SIMD lanes) as long as each entry's value is unaffected.
template <class FillRow>
Matrix<double> pairwise_rows(std::size_t n_x, std::size_t n_y, FillRow&& fill_row) {
    auto result = Matrix<double>::uninitialized(n_x, n_y);
    if (n_y == 0) return result;
    pool::parallel_for(n_x, [&](std::size_t begin, std::size_t end) {
        for (std::size_t i = begin; i < end && !pool::stop_requested(); ++i) fill_row(i, result.row(i));
    });
    return result;
}

// Entry [i][j] = pair(x_i, y_j), one pair after the other in increasing j.
template <class PairKernel>
Matrix<double> pairwise_matrix(const SeriesSet& x, const SeriesSet& y, PairKernel&& pair) {
    const auto xs = series_views(x);
    const auto ys = series_views(y);
    return pairwise_rows(xs.size(), ys.size(), [&](std::size_t i, double* row) {
        for (std::size_t j = 0; j < ys.size(); ++j) row[j] = pair(xs[i], ys[j]);
    });
}

}  // namespace rc::distances
