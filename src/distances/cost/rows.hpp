// Rows of the squared Euclidean cost matrix, one row at a time, for kernels that sweep the
// accumulated matrix row by row and never need the whole cost matrix: read from the series, or
// from a copy of the other series' features laid out for the vector lanes.
#pragma once

#include <cstddef>

#include "core/array_view.hpp"
#include "distances/cost/kernels.hpp"

namespace rc::distances {

// out[j * out_stride] = cost of row i of x against row j of y, for j in [0, count), in the order
// of cost/squared_cost.hpp. The caller has checked that y has x's d columns and at least
// `count` rows.
inline void row_costs(const Series& x, std::size_t i, const Series& y, double* out, std::size_t out_stride,
                      std::size_t count) noexcept {
    cost::kernels().strided({x.address(i, std::size_t{0}), x.byte_stride(1), y.data(), y.byte_stride(0), y.byte_stride(1),
                             x.extent(1), count, out, out_stride});
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
    cost::kernels().from_features(
        {x.address(i, std::size_t{0}), x.byte_stride(1), x.extent(1), features, steps * lanes, count * lanes, out});
}

}  // namespace rc::distances
