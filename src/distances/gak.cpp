#include "distances/gak.hpp"

#include <cmath>
#include <utility>

#include "distances/cost.hpp"
#include "distances/pairwise.hpp"
#include "worker_pool.hpp"

// The accumulated matrix is swept row by row keeping only two rows; each row's local kernels
// are made first, so their exp calls are independent work the processor can overlap, and then
// the recurrence runs over them.

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

// Local kernels of row i of x against rows [0, count) of y.
void local_kernel_row(const Series& x, std::size_t i, const Series& y, std::size_t count, double denom, double* out) {
    for (std::size_t j = 0; j < count; ++j) out[j] = local_kernel(squared_euclidean_cost(x, i, y, j), denom);
}

// R[i][j] = ((left + up) + diag) * kernel, for columns [1, count] of one row.
inline void accumulate_row(const double* above, double* row, const double* kernel, std::size_t count) noexcept {
    for (std::size_t j = 1; j <= count; ++j) row[j] = ((row[j - 1] + above[j]) + above[j - 1]) * kernel[j - 1];
}

// K(x, x). The accumulated matrix of a series with itself is symmetric to the bit: the local
// kernels are (the cost is symmetric, (a - b)^2 == (b - a)^2), and the mirrored cell adds the
// same two neighbours in swapped order, which IEEE addition does not distinguish. So only the
// lower triangle j <= i is swept; on the diagonal the upper neighbour is the mirror of the left.
double self_gak(const Series& x, double denom) {
    const std::size_t n = x.extent(0);
    const std::size_t width = checked_add(n, 1);
    auto prev = Buffer<double>::filled(width, 0.0);
    auto cur = Buffer<double>::uninitialized(width);
    auto kernel = Buffer<double>::uninitialized(n);
    prev[0] = 1.0;
    for (std::size_t i = 1; i <= n; ++i) {
        local_kernel_row(x, i - 1, x, i, denom, kernel.data());
        double* row = cur.data();
        row[0] = 0.0;
        accumulate_row(prev.data(), row, kernel.data(), i - 1);
        row[i] = ((row[i - 1] + row[i - 1]) + prev[i - 1]) * kernel[i - 1];
        std::swap(prev, cur);
    }
    return prev[n];
}

double gak_sum(const Series& x, const Series& y, double denom) {
    check_feature_counts(x, y);
    const std::size_t n = x.extent(0), m = y.extent(0);
    const std::size_t width = checked_add(m, 1);
    auto prev = Buffer<double>::filled(width, 0.0);
    auto cur = Buffer<double>::uninitialized(width);
    auto kernel = Buffer<double>::uninitialized(m);
    prev[0] = 1.0;
    for (std::size_t i = 0; i < n; ++i) {
        local_kernel_row(x, i, y, m, denom, kernel.data());
        cur[0] = 0.0;
        accumulate_row(prev.data(), cur.data(), kernel.data(), m);
        std::swap(prev, cur);
    }
    return prev[m];
}

// The normalisation: the product of the self-similarities, its square root, then the quotient.
inline double normalized(double kxy, double kxx, double kyy) noexcept { return kxy / std::sqrt(kxx * kyy); }

}  // namespace

double unnormalized_gak_impl(const Series& x, const Series& y, double sigma) {
    return gak_sum(x, y, kernel_denominator(sigma));
}

double gak(const Series& x, const Series& y, double sigma) {
    const double denom = kernel_denominator(sigma);
    const double kxy = gak_sum(x, y, denom);
    const double kxx = self_gak(x, denom);
    const double kyy = self_gak(y, denom);
    return normalized(kxy, kxx, kyy);
}

Matrix<double> cdist_gak(const SeriesSet& x, const SeriesSet& y, double sigma) {
    const double denom = kernel_denominator(sigma);
    const auto xs = series_views(x);
    const auto ys = series_views(y);
    const auto dx = pool::parallel_map(xs.size(), [&](std::size_t i) { return self_gak(xs[i], denom); });
    const auto dy = pool::parallel_map(ys.size(), [&](std::size_t j) { return self_gak(ys[j], denom); });
    return pairwise_rows(xs.size(), ys.size(), [&](std::size_t i, double* row) {
        for (std::size_t j = 0; j < ys.size(); ++j) row[j] = normalized(gak_sum(xs[i], ys[j], denom), dx[i], dy[j]);
    });
}

}  // namespace rc::distances
