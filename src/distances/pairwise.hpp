// The pairwise driver behind every cdist_* function: rows of the (n_x, n_y) result are tasks
// of the worker pool, each row written in place into the row-major result. Series views are
// formed where they are used (x[i], y[j]), never listed for a whole set: such a list would grow
// with the number of series, also when the other set is empty and the result has no entries.
#pragma once

#include <cstddef>

#include "array_view.hpp"
#include "buffer.hpp"
#include "worker_pool.hpp"

namespace rc::distances {

// fill_row(i, row) writes the n_y entries of row i. Rows run in parallel; the entries of one
// row are computed on one thread in whatever order fill_row chooses, so a kernel may work on
// several pairs of a row at once (SIMD lanes) as long as each entry's value is unaffected.
// fill_rows fills a result allocated beforehand, for kernels with work of their own to do
// between the allocation and the rows.
template <class FillRow>
void fill_rows(Matrix<double>& result, FillRow&& fill_row) {
    if (result.cols == 0) return;
    pool::parallel_for(result.rows, [&](std::size_t begin, std::size_t end) {
        for (std::size_t i = begin; i < end && !pool::stop_requested(); ++i) fill_row(i, result.row(i));
    });
}

template <class FillRow>
Matrix<double> pairwise_rows(std::size_t n_x, std::size_t n_y, FillRow&& fill_row) {
    auto result = Matrix<double>::uninitialized(n_x, n_y);
    fill_rows(result, fill_row);
    return result;
}

// Entry [i][j] = pair(x_i, y_j), one pair after the other in increasing j.
template <class PairKernel>
Matrix<double> pairwise_matrix(const SeriesSet& x, const SeriesSet& y, PairKernel&& pair) {
    return pairwise_rows(x.extent(0), y.extent(0), [&](std::size_t i, double* row) {
        const Series xi = x[i];
        for (std::size_t j = 0; j < y.extent(0); ++j) row[j] = pair(xi, y[j]);
    });
}

}  // namespace rc::distances
