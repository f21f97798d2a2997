// The cost of a cell, the squared Euclidean distance between a step of x and a step of y, written
// over the ops for every kernel that forms costs: from 0.0, the squared differences x - y added
// feature by feature in increasing order. Cells lie in the lanes of a vector (squared_costs) or,
// for one pair, a cell's features side by side (squared_costs_side_by_side); the sum is the same.
#pragma once

#include <cstddef>

namespace rc::distances::cost {

// cost[v] = the costs of the lanes of vector v, for d features: x(f, v) and y(f, v) give feature
// f of those lanes' steps. The sum starts at the first square rather than at 0.0: 0.0 + s is s
// to the bit for a square s (never -0.0; a NaN stays the same NaN).
template <class Ops, std::size_t Vectors, class X, class Y>
[[gnu::always_inline]] inline void squared_costs(std::size_t d, X&& x, Y&& y, typename Ops::V (&cost)[Vectors]) {
    if (d == 0) {
        for (std::size_t v = 0; v < Vectors; ++v) cost[v] = Ops::broadcast(0.0);
        return;
    }
    for (std::size_t v = 0; v < Vectors; ++v) {
        const auto diff = Ops::sub(x(0, v), y(0, v));
        cost[v] = Ops::mul(diff, diff);
    }
    for (std::size_t f = 1; f < d; ++f)
        for (std::size_t v = 0; v < Vectors; ++v) {
            const auto diff = Ops::sub(x(f, v), y(f, v));
            cost[v] = Ops::add(cost[v], Ops::mul(diff, diff));
        }
}

// The same costs for Cells cells of one pair each whose steps' features lie side by side (x[c] and
// y[c]: the first features of cell c's steps), Features::lanes (one or two) features to a vector:
// a vector's squares are formed together and then added one at a time, in feature order. The
// cells are independent chains, interleaved so their additions overlap.
template <class Features, std::size_t Cells>
[[gnu::always_inline]] inline void squared_costs_side_by_side(std::size_t d, const double* const* x, const double* const* y,
                                                              double (&cost)[Cells]) {
    constexpr std::size_t P = Features::lanes;
    static_assert(P == 1 || P == 2, "a vector's squares are read from its first and last lane");
    const auto square_of = [&](std::size_t c, std::size_t k) {
        const auto diff = Features::sub(Features::loadu(x[c] + k), Features::loadu(y[c] + k));
        return Features::mul(diff, diff);
    };
    const auto scalar_square_of = [&](std::size_t c, std::size_t k) {
        const double diff = x[c][k] - y[c][k];
        return diff * diff;
    };
    if (d < P) {
        for (std::size_t c = 0; c < Cells; ++c) cost[c] = d == 0 ? 0.0 : scalar_square_of(c, 0);
        return;
    }
    for (std::size_t c = 0; c < Cells; ++c) {
        const auto square = square_of(c, 0);
        cost[c] = Features::first_lane(square);
        if constexpr (P == 2) cost[c] += Features::last_lane(square);
    }
    std::size_t k = P;
    for (; k + P <= d; k += P)
        for (std::size_t c = 0; c < Cells; ++c) {
            const auto square = square_of(c, k);
            cost[c] += Features::first_lane(square);
            if constexpr (P == 2) cost[c] += Features::last_lane(square);
        }
    for (; k < d; ++k)
        for (std::size_t c = 0; c < Cells; ++c) cost[c] += scalar_square_of(c, k);
}

}  // namespace rc::distances::cost
