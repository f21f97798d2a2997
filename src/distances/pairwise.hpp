// The pairwise driver behind every cdist_* function: rows of the (n_x, n_y) result are tasks
// of the worker pool, each row written in place into the row-major result. Series views are
// formed where they are used (x[i], y[j]), never listed for a whole set: such a list would grow
// with the number of series, also when the other set is empty and the result has no entries.
#pragma once

#include <cstddef>

#include "core/array_view.hpp"
#include "core/buffer.hpp"
#include "pool/worker_pool.hpp"

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

// Whether two sets are the same view of the same memory: then a symmetric measure needs only
// one of the entries [i][j] and [j][i].
inline bool same_view(const SeriesSet& a, const SeriesSet& b) noexcept {
    for (std::size_t axis = 0; axis < 3; ++axis)
        if (a.extent(axis) != b.extent(axis) || a.byte_stride(axis) != b.byte_stride(axis)) return false;
    return a.data() == b.data();
}

// The columns of row i that the row computes: all of them, or, for a symmetric measure of a set
// against itself (`half`), the columns i, i + 1, ... i + n/2 (modulo n; for even n the pair n/2
// apart only in the first half of the rows), so each unordered pair is computed once and every
// row has the same amount of work. mirror_half_rows fills in the rest afterwards.
struct RowColumns {
    std::size_t row, total;
    bool half;

    std::size_t count() const noexcept {
        if (!half) return total;
        const std::size_t middle = total / 2;
        return total % 2 == 1 || row < middle ? middle + 1 : middle;
    }
    std::size_t operator[](std::size_t k) const noexcept { return half ? (row + k) % total : k; }
};

inline void mirror_half_rows(Matrix<double>& result) noexcept {
    for (std::size_t i = 0; i < result.rows; ++i) {
        const RowColumns columns{i, result.rows, true};
        for (std::size_t k = 1; k < columns.count(); ++k) result(columns[k], i) = result(i, columns[k]);
    }
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
