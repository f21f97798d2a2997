#include "distances/gak.hpp"

#include <algorithm>
#include <cmath>
#include <utility>

#include "distances/cost.hpp"
#include "distances/cost_rows.hpp"
#include "distances/pairwise.hpp"
#include "worker_pool.hpp"

// The accumulated matrix is swept row by row keeping two rows. A cell needs one exp call,
// which does not depend on the recurrence, while the recurrence is a chain of dependent
// additions and a multiplication. So the sweep of row i also turns the costs of row i + 1 into
// local kernels, in the same loop, and the processor overlaps the two.

namespace rc::distances {
namespace {

// 2 * sigma^2, computed as (sigma + sigma) * sigma.
inline double kernel_denominator(double sigma) noexcept { return (sigma + sigma) * sigma; }

// The local kernel of a squared distance: e / (2 - e) with e = exp(-cost / denom), formed as the
// reciprocal of (2 - e) times e. A cost of 0 gives exactly 1.
inline double local_kernel(double cost, double denom) noexcept {
    const double e = std::exp(-cost / denom);
    return (1.0 / (2.0 - e)) * e;
}

void local_kernels(double* costs, std::size_t begin, std::size_t end, double denom) noexcept {
    for (std::size_t j = begin; j < end; ++j) costs[j] = local_kernel(costs[j], denom);
}

// R[i][j] = ((left + up) + diag) * kernel for columns [1, count] of one row. When `next` is given,
// its first `count` entries (costs of the next row) are turned into local kernels on the way.
void accumulate_row(const double* above, double* row, const double* kernel, std::size_t count, double* next,
                    double denom) noexcept {
    if (next == nullptr) {
        for (std::size_t j = 1; j <= count; ++j) row[j] = ((row[j - 1] + above[j]) + above[j - 1]) * kernel[j - 1];
        return;
    }
    for (std::size_t j = 1; j <= count; ++j) {
        row[j] = ((row[j - 1] + above[j]) + above[j - 1]) * kernel[j - 1];
        next[j - 1] = local_kernel(next[j - 1], denom);
    }
}

// Working rows of sweeps over series of at most `columns` time steps, in one allocation that a
// row of cdist_gak reuses for all its pairs: two rows of R, the local kernels of the current
// row and the row being prepared for the next one.
struct SweepRows {
    Buffer<double> storage;
    double* above;
    double* row;
    double* kernel;
    double* next;

    explicit SweepRows(std::size_t columns)
        : storage(Buffer<double>::uninitialized(checked_mul(checked_add(columns, 1), 4))),
          above(storage.data()), row(above + columns + 1), kernel(row + columns + 1), next(kernel + columns + 1) {}

    // Row 0 of R for a sweep of `columns` columns: R[0][0] = 1, then zeros.
    void start(std::size_t columns) noexcept {
        std::fill(above, above + columns + 1, 0.0);
        above[0] = 1.0;
    }
    void advance() noexcept {
        std::swap(above, row);
        std::swap(kernel, next);
    }
};

// R[n][m] when a series is empty: R[0][0] = 1 for two empty series, otherwise a boundary cell
// at 0. Answered without sweeping, which for an empty y would still visit every row of x.
inline double empty_alignment_sum(std::size_t n, std::size_t m) noexcept { return n == m ? 1.0 : 0.0; }

double gak_sum(const Series& x, const Series& y, double denom, SweepRows& rows) {
    check_feature_counts(x, y);
    const std::size_t n = x.extent(0), m = y.extent(0);
    if (n == 0 || m == 0) return empty_alignment_sum(n, m);
    rows.start(m);
    if (n > 0) {
        cost_row(x, 0, y, rows.kernel, 1, m);
        local_kernels(rows.kernel, 0, m, denom);
    }
    for (std::size_t i = 1; i <= n; ++i) {
        double* next = i < n ? rows.next : nullptr;
        if (next != nullptr) cost_row(x, i, y, next, 1, m);
        rows.row[0] = 0.0;
        accumulate_row(rows.above, rows.row, rows.kernel, m, next, denom);
        rows.advance();
    }
    return rows.above[m];
}

// K(x, x). The accumulated matrix of a series with itself is symmetric to the bit: the local
// kernels are (the cost is symmetric, (a - b)^2 == (b - a)^2), and the mirrored cell adds the
// same two neighbours in swapped order, which IEEE addition does not distinguish. So only the
// lower triangle j <= i is swept; on the diagonal the upper neighbour is the mirror of the left
// one. Row i of R needs the local kernels of columns [0, i).
double self_gak(const Series& x, double denom, SweepRows& rows) {
    const std::size_t n = x.extent(0);
    rows.start(n);
    if (n > 0) {
        cost_row(x, 0, x, rows.kernel, 1, 1);
        local_kernels(rows.kernel, 0, 1, denom);
    }
    for (std::size_t i = 1; i <= n; ++i) {
        double* next = i < n ? rows.next : nullptr;
        if (next != nullptr) cost_row(x, i, x, next, 1, i + 1);
        double* row = rows.row;
        const double* above = rows.above;
        row[0] = 0.0;
        accumulate_row(above, row, rows.kernel, i - 1, next, denom);
        row[i] = ((row[i - 1] + row[i - 1]) + above[i - 1]) * rows.kernel[i - 1];
        if (next != nullptr) local_kernels(next, i - 1, i + 1, denom);
        rows.advance();
    }
    return rows.above[n];
}

// The normalisation: the product of the self-similarities, its square root, then the quotient.
inline double normalized(double kxy, double kxx, double kyy) noexcept { return kxy / std::sqrt(kxx * kyy); }

}  // namespace

double unnormalized_gak_impl(const Series& x, const Series& y, double sigma) {
    if (x.extent(0) == 0 || y.extent(0) == 0) return empty_alignment_sum(x.extent(0), y.extent(0));
    SweepRows rows(y.extent(0));
    return gak_sum(x, y, kernel_denominator(sigma), rows);
}

double gak(const Series& x, const Series& y, double sigma) {
    const double denom = kernel_denominator(sigma);
    SweepRows rows(std::max(x.extent(0), y.extent(0)));
    const double kxy = gak_sum(x, y, denom, rows);
    const double kxx = self_gak(x, denom, rows);
    const double kyy = self_gak(y, denom, rows);
    return normalized(kxy, kxx, kyy);
}

Matrix<double> cdist_gak(const SeriesSet& x, const SeriesSet& y, double sigma) {
    // The result first: a matrix too large to hold ends the call before any self-similarity
    // is computed.
    auto result = Matrix<double>::uninitialized(x.extent(0), y.extent(0));
    const double denom = kernel_denominator(sigma);
    auto self_similarity = [denom](const Series& s) {
        SweepRows rows(s.extent(0));
        return self_gak(s, denom, rows);
    };
    const auto dx = pool::parallel_map(x.extent(0), [&](std::size_t i) { return self_similarity(x[i]); });
    const auto dy = pool::parallel_map(y.extent(0), [&](std::size_t j) { return self_similarity(y[j]); });
    fill_rows(result, [&](std::size_t i, double* row) {
        const Series xi = x[i];
        SweepRows rows(y.extent(1));
        for (std::size_t j = 0; j < dy.size(); ++j) row[j] = normalized(gak_sum(xi, y[j], denom, rows), dx[i], dy[j]);
    });
    return result;
}

}  // namespace rc::distances
