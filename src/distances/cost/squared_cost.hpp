// The cost of a cell, the squared Euclidean distance between a step of x and a step of y, written
// once over the ops for every kernel that forms costs: per lane, from 0.0, the squared
// differences x - y added feature by feature in increasing order.
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

}  // namespace rc::distances::cost
