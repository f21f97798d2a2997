// Rows of the squared Euclidean cost matrix, one row at a time, for kernels that sweep the
// accumulated matrix row by row and never need the whole cost matrix: read from the series, or
// from a copy of the other series' features laid out for the vector lanes.
#pragma once

#include <cstddef>

#include "core/array_view.hpp"
#include "distances/cost/kernels.hpp"
#include "simd/dispatch.hpp"

namespace rc::distances {

// out[j * out_stride] = cost of row i of x against row j of y, for j in [0, count), with exactly
// the arithmetic of squared_euclidean_cost: per cell, start at 0.0 and add the squared
// differences x - y for k = 0, 1, ..., d - 1 in increasing order. Two cells are computed side by
// side, each with that same sequence. The caller has checked that y has x's d columns and at
// least `count` rows.
inline void row_costs(const Series& x, std::size_t i, const Series& y, double* out, std::size_t out_stride,
                      std::size_t count) noexcept {
    const std::size_t d = x.extent(1);
    const std::ptrdiff_t x_step = x.byte_stride(1), y_row_step = y.byte_stride(0), y_step = y.byte_stride(1);
    const std::byte* x_row = x.address(i, std::size_t{0});
    const std::byte* y_row = y.data();
    std::size_t j = 0;
    for (; j + 2 <= count; j += 2, y_row += 2 * y_row_step) {
        double sum0 = 0.0, sum1 = 0.0;
        const std::byte* xp = x_row;
        const std::byte* yp = y_row;
        for (std::size_t k = 0; k < d; ++k, xp += x_step, yp += y_step) {
            const double xk = Series::load(xp);
            const double diff0 = xk - Series::load(yp), diff1 = xk - Series::load(yp + y_row_step);
            sum0 += diff0 * diff0;
            sum1 += diff1 * diff1;
        }
        out[j * out_stride] = sum0;
        out[(j + 1) * out_stride] = sum1;
    }
    if (j < count) {
        double sum = 0.0;
        const std::byte* xp = x_row;
        const std::byte* yp = y_row;
        for (std::size_t k = 0; k < d; ++k, xp += x_step, yp += y_step) {
            const double diff = Series::load(xp) - Series::load(yp);
            sum += diff * diff;
        }
        out[j * out_stride] = sum;
    }
}

// A copy of the other series' features is used when it takes at most this many doubles;
// otherwise the costs are read from the series.
inline constexpr std::size_t kMaxFeatureCopy = std::size_t{1} << 22;

// The first d features of `lanes` series of one length, feature by feature and the series'
// steps interleaved: out[(f * steps + j) * lanes + k] = series[k](j, f). Rows of costs against
// such a copy run in vector lanes over the cells (costs_from_features).
inline void interleave_features(const Series* series, std::size_t lanes, std::size_t d, double* out) noexcept {
    const std::size_t steps = series[0].extent(0);
    for (std::size_t k = 0; k < lanes; ++k)
        for (std::size_t j = 0; j < steps; ++j)
            for (std::size_t f = 0; f < d; ++f) out[(f * steps + j) * lanes + k] = series[k](j, f);
}

// out[j * lanes + k] = cost of row i of x against step j of series k, for j in [0, count), from
// features laid out by interleave_features (`steps` per series), with the arithmetic of
// row_costs.
inline void costs_from_features(const Series& x, std::size_t i, const double* features, std::size_t steps,
                                std::size_t lanes, std::size_t count, double* out) noexcept {
    simd::kernels().cost.from_features(
        {x.address(i, std::size_t{0}), x.byte_stride(1), x.extent(1), features, steps * lanes, count * lanes, out});
}

}  // namespace rc::distances
