// The Manhattan distance of a pair, and its matrix: rows on the worker pool, the pairs of a row
// in the kernel table's lanes where it has them.
#include "distances/manhattan/manhattan.hpp"

#include "distances/manhattan/kernels.hpp"
#include "distances/pairwise.hpp"

namespace rc::distances {
namespace {

// The index failure for a y that does not cover x's non-empty index range.
void check_covers(const Series& x, const Series& y) {
    if (x.extent(0) == 0 || x.extent(1) == 0) return;
    if (y.extent(1) < x.extent(1) || y.extent(0) < x.extent(0)) fail_index_out_of_bounds();
}

// True when the elements [0, rows) x [0, cols) of a view with these strides form one run of
// packed doubles in row-major order.
bool packed_run(std::size_t rows, std::size_t cols, std::ptrdiff_t row_stride, std::ptrdiff_t col_stride) noexcept {
    constexpr auto element = static_cast<std::ptrdiff_t>(sizeof(double));
    return col_stride == element && (rows <= 1 || row_stride == static_cast<std::ptrdiff_t>(cols) * element);
}

// x against the series of y from the first, whose series lie y_series_stride bytes apart.
manhattan::Block block_of(const Series& x, const std::byte* y, std::ptrdiff_t y_series_stride,
                          std::ptrdiff_t y_row_stride, std::ptrdiff_t y_col_stride) noexcept {
    const std::size_t rows = x.extent(0), cols = x.extent(1);
    const bool packed = packed_run(rows, cols, x.byte_stride(0), x.byte_stride(1)) &&
                        packed_run(rows, cols, y_row_stride, y_col_stride);
    return {x.data(), x.byte_stride(0), x.byte_stride(1), y, y_series_stride, y_row_stride, y_col_stride, rows, cols, packed};
}

manhattan::Block block_of(const Series& x, const Series& y) noexcept {
    return block_of(x, y.data(), 0, y.byte_stride(0), y.byte_stride(1));
}

}  // namespace

double manhattan_pair(const Series& x, const Series& y) {
    // A sweep in x's order would stop at the first row y lacks; since nothing summed before
    // that point is returned, checking both extents up front ends the same way.
    check_covers(x, y);
    // Without elements nothing is summed, however many rows a zero-stride view claims: that
    // loop is not left to the compiler to remove (GCC does, clang does not).
    if (x.empty()) return 0.0;
    return manhattan::kernels().one_pair(block_of(x, y));
}

Matrix<double> cdist_manhattan(const SeriesSet& x, const SeriesSet& y) {
    const manhattan::Kernels& kernels = manhattan::kernels();
    const std::size_t count = y.extent(0);
    return pairwise_rows(x.extent(0), count, [&](std::size_t i, double* row) {
        const Series xi = x[i];
        // Every series of y has the same shape, so one check decides for the whole row.
        check_covers(xi, y[0]);
        const manhattan::Block block = block_of(xi, y.data(), y.byte_stride(0), y.byte_stride(1), y.byte_stride(2));
        const std::size_t done = kernels.sum_lanes != nullptr && !xi.empty() ? kernels.sum_lanes(block, count, row) : 0;
        for (std::size_t j = done; j < count; ++j) row[j] = xi.empty() ? 0.0 : kernels.one_pair(block_of(xi, y[j]));
    });
}

}  // namespace rc::distances
