// The Manhattan distance of a pair, and its matrix: rows on the worker pool, the pairs of a row
// in the kernel table's lanes where it has them.
#include "distances/manhattan/manhattan.hpp"

#include <cmath>

#include "distances/manhattan/kernels.hpp"
#include "distances/pairwise.hpp"
#include "simd/dispatch.hpp"

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

manhattan::Block lanes_block(const Series& x, const SeriesSet& y) noexcept {
    const std::size_t rows = x.extent(0), cols = x.extent(1);
    const bool packed = packed_run(rows, cols, x.byte_stride(0), x.byte_stride(1)) &&
                        packed_run(rows, cols, y.byte_stride(1), y.byte_stride(2));
    return {x.data(), x.byte_stride(0), x.byte_stride(1),
            y.data(), y.byte_stride(0), y.byte_stride(1), y.byte_stride(2),
            rows, cols, packed};
}

}  // namespace

double manhattan_pair(const Series& x, const Series& y) {
    const std::size_t rows = x.extent(0), cols = x.extent(1);
    // A sweep in x's order would stop at the first row y lacks; since nothing summed before
    // that point is returned, checking both extents up front ends the same way.
    check_covers(x, y);
    double sum = 0.0;
    // Without columns the rows add nothing, however many a zero-stride view claims: their loop
    // is not left to the compiler to remove (GCC does, clang does not).
    if (cols == 0) return sum;
    for (std::size_t r = 0; r < rows; ++r)
        for (std::size_t c = 0; c < cols; ++c) sum += std::fabs(x(r, c) - y(r, c));
    return sum;
}

Matrix<double> cdist_manhattan(const SeriesSet& x, const SeriesSet& y) {
    const auto sum_lanes = simd::kernels().manhattan.sum_lanes;
    const std::size_t count = y.extent(0);
    return pairwise_rows(x.extent(0), count, [&](std::size_t i, double* row) {
        const Series xi = x[i];
        // Every series of y has the same shape, so one check decides for the whole row.
        check_covers(xi, y[0]);
        const std::size_t done = sum_lanes != nullptr && !xi.empty() ? sum_lanes(lanes_block(xi, y), count, row) : 0;
        for (std::size_t j = done; j < count; ++j) row[j] = manhattan_pair(xi, y[j]);
    });
}

}  // namespace rc::distances
