// Rows of squared Euclidean costs over the ops: against features laid out for the lanes, one
// lane per cell and a block of cells kept in registers over all features; and straight from
// two strided series, two cells side by side.
#pragma once

#include <cstddef>

#include "core/array_view.hpp"
#include "distances/cost/kernels.hpp"
#include "distances/cost/squared_cost.hpp"

namespace rc::distances::cost {

template <class Ops, std::size_t Vectors>
[[gnu::always_inline]] inline void feature_block(const FeatureRow& r, std::size_t c) {
    constexpr std::size_t W = Ops::lanes;
    const double* features = r.features + c;
    typename Ops::V sum[Vectors];
    squared_costs<Ops, Vectors>(
        r.d, [&](std::size_t f, std::size_t) { return Ops::broadcast(load_at<double>(r.x + static_cast<std::ptrdiff_t>(f) * r.x_step)); },
        [&](std::size_t f, std::size_t v) { return Ops::loadu(features + f * r.feature_stride + v * W); }, sum);
    for (std::size_t v = 0; v < Vectors; ++v) Ops::storeu(r.out + c + v * W, sum[v]);
}

template <class Isa>
void from_features(const FeatureRow& r) {
    using Ops = typename Isa::Wide;
    constexpr std::size_t W = Ops::lanes, Block = 4 * W;
    std::size_t c = 0;
    for (; c + Block <= r.cells; c += Block) feature_block<Ops, 4>(r, c);
    for (; c + W <= r.cells; c += W) feature_block<Ops, 1>(r, c);
    for (; c < r.cells; ++c) feature_block<typename Isa::Scalar, 1>(r, c);
}

template <class Ops, std::size_t Cells>
[[gnu::always_inline]] inline void strided_cells(const StridedRow& r, std::size_t j) {
    const std::byte* y = r.y + static_cast<std::ptrdiff_t>(j) * r.y_row_step;
    double sum[Cells];
    squared_costs<Ops, Cells>(
        r.d, [&](std::size_t f, std::size_t) { return load_at<double>(r.x + static_cast<std::ptrdiff_t>(f) * r.x_step); },
        [&](std::size_t f, std::size_t k) {
            return load_at<double>(y + static_cast<std::ptrdiff_t>(k) * r.y_row_step + static_cast<std::ptrdiff_t>(f) * r.y_step);
        },
        sum);
    for (std::size_t k = 0; k < Cells; ++k) r.out[(j + k) * r.out_stride] = sum[k];
}

// One lane, two cells at a time: the features of both share x's loads.
template <class Isa>
void strided(const StridedRow& r) {
    using Ops = typename Isa::Scalar;
    std::size_t j = 0;
    for (; j + 2 <= r.count; j += 2) strided_cells<Ops, 2>(r, j);
    if (j < r.count) strided_cells<Ops, 1>(r, j);
}

}  // namespace rc::distances::cost
