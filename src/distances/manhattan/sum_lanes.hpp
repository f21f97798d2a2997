// The Manhattan distance over the ops: one pair in one lane, or several pairs (x, y[j]) summed in
// lock-step, one lane per pair, each lane keeping the single running sum in x's row-major order,
// so a lane's result is bit for bit the one-lane one.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/array_view.hpp"
#include "distances/manhattan/kernels.hpp"

namespace rc::distances::manhattan {

// The step of the sum: sum + |x - y|, the difference first, then its absolute value.
template <class Ops>
[[gnu::always_inline]] inline typename Ops::V accumulate(typename Ops::V sum, typename Ops::V x, typename Ops::V y) {
    return Ops::add(sum, Ops::abs(Ops::sub(x, y)));
}

// Packed blocks: four consecutive elements of each series are loaded and transposed, so each
// vector holds one element of Ops::lanes series. Groups of vectors keep the additions of
// independent lanes overlapping.
template <class Ops, std::size_t Groups>
void sum_packed(const Block& b, const std::byte* y, double* out) {
    using V = typename Ops::V;
    constexpr std::size_t W = Ops::lanes;
    const std::size_t count = b.rows * b.cols;
    const std::byte* series[Groups * W];
    for (std::size_t l = 0; l < Groups * W; ++l) series[l] = y + static_cast<std::ptrdiff_t>(l) * b.y_series_stride;
    V sums[Groups];
    for (auto& s : sums) s = Ops::broadcast(0.0);
    std::size_t t = 0;
    for (; t + 4 <= count; t += 4) {
        const std::ptrdiff_t offset = static_cast<std::ptrdiff_t>(t * sizeof(double));
        V xs[4];
        for (std::size_t u = 0; u < 4; ++u) xs[u] = Ops::broadcast(load_at<double>(b.x + offset + u * sizeof(double)));
        for (std::size_t g = 0; g < Groups; ++g) {
            const double* rows[W];
            for (std::size_t l = 0; l < W; ++l) rows[l] = reinterpret_cast<const double*>(series[g * W + l] + offset);
            V ys[4];
            Ops::load_transposed(rows, ys);
            for (std::size_t u = 0; u < 4; ++u) sums[g] = accumulate<Ops>(sums[g], xs[u], ys[u]);
        }
    }
    for (; t < count; ++t) {
        const std::ptrdiff_t offset = static_cast<std::ptrdiff_t>(t * sizeof(double));
        const V xv = Ops::broadcast(load_at<double>(b.x + offset));
        for (std::size_t g = 0; g < Groups; ++g) {
            double lanes[W];
            for (std::size_t l = 0; l < W; ++l) lanes[l] = load_at<double>(series[g * W + l] + offset);
            sums[g] = accumulate<Ops>(sums[g], xv, Ops::loadu(lanes));
        }
    }
    for (std::size_t g = 0; g < Groups; ++g) Ops::storeu(out + g * W, sums[g]);
}

// Any strides: each vector gathers one element from Ops::lanes series, in x's row-major order.
template <class Ops, std::size_t Groups>
void sum_strided(const Block& b, const std::byte* y, double* out) {
    using V = typename Ops::V;
    constexpr std::size_t W = Ops::lanes;
    const std::int64_t s = b.y_series_stride;
    typename Ops::Offsets offsets[Groups];
    V sums[Groups];
    for (std::size_t g = 0; g < Groups; ++g) {
        offsets[g] = Ops::byte_offsets(static_cast<std::int64_t>(g * W) * s, s);
        sums[g] = Ops::broadcast(0.0);
    }
    for (std::size_t r = 0; r < b.rows; ++r) {
        const std::byte* x_row = b.x + static_cast<std::ptrdiff_t>(r) * b.x_row_stride;
        const std::byte* y_row = y + static_cast<std::ptrdiff_t>(r) * b.y_row_stride;
        for (std::size_t c = 0; c < b.cols; ++c) {
            const V xv = Ops::broadcast(load_at<double>(x_row + static_cast<std::ptrdiff_t>(c) * b.x_col_stride));
            const auto* base = reinterpret_cast<const double*>(y_row + static_cast<std::ptrdiff_t>(c) * b.y_col_stride);
            for (std::size_t g = 0; g < Groups; ++g) sums[g] = accumulate<Ops>(sums[g], xv, Ops::gather_bytes(base, offsets[g]));
        }
    }
    for (std::size_t g = 0; g < Groups; ++g) Ops::storeu(out + g * W, sums[g]);
}

// Fills out[j] for j below the returned count, a multiple of the vector width no larger than
// `pairs`, in groups of up to Groups vectors; the caller finishes the rest. Without Gathers only
// packed blocks run in these lanes.
template <class Ops, std::size_t Groups, bool Gathers>
std::size_t sum_lanes(const Block& block, std::size_t pairs, double* out) {
    constexpr std::size_t W = Ops::lanes;
    constexpr bool gathers = Gathers;
    if (!gathers && !block.packed) return 0;
    const auto group = [&]<std::size_t G>(std::size_t j) {
        const std::byte* y = block.y + static_cast<std::ptrdiff_t>(j) * block.y_series_stride;
        if (block.packed)
            sum_packed<Ops, G>(block, y, out + j);
        else if constexpr (gathers)
            sum_strided<Ops, G>(block, y, out + j);
    };
    std::size_t j = 0;
    if constexpr (Groups > 1)
        for (; j + Groups * W <= pairs; j += Groups * W) group.template operator()<Groups>(j);
    for (; j + W <= pairs; j += W) group.template operator()<1>(j);
    return j;
}

// Wide vectors first, then narrower ones for what they leave (strided blocks, or fewer pairs
// than a wide vector holds).
template <class Wide, std::size_t WideGroups, bool WideGathers, class Narrow, std::size_t NarrowGroups>
std::size_t sum_lanes_wide_then_narrow(const Block& block, std::size_t pairs, double* out) {
    const std::size_t done = sum_lanes<Wide, WideGroups, WideGathers>(block, pairs, out);
    Block rest = block;
    rest.y += static_cast<std::ptrdiff_t>(done) * block.y_series_stride;
    return done + sum_lanes<Narrow, NarrowGroups, true>(rest, pairs - done, out + done);
}

// One pair in one lane: the sum that every lane above reproduces.
template <class Isa>
double one_pair(const Block& block) {
    // A packed pair runs as one flat loop; the strided walk's nested loops cost about a sixth
    // more per element on short rows.
    double sum;
    if (block.packed)
        sum_packed<typename Isa::Scalar, 1>(block, block.y, &sum);
    else
        sum_strided<typename Isa::Scalar, 1>(block, block.y, &sum);
    return sum;
}

}  // namespace rc::distances::manhattan
