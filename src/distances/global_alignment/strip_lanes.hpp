// The GAK recurrence over a strip of L rows of one pair (or of a series against itself), one row
// per lane, written once over the ops (one lane included). In step t, lane w computes column
// t - w of its row: its left neighbour is its own previous result, its upper and diagonal
// neighbours are lane w - 1's results of the previous two steps moved up one lane (lane 0's come
// from the row above the strip), and the cell is the scalar sweep's (cell.hpp).
//
// Each step first forms its cells' local kernels from the series' features (the cost, its exp
// argument, the exponential, the local kernel, each lane the scalar sequence) and then advances
// the recurrence. The kernels of a step do not depend on the recurrence, so the processor runs
// them in the shadow of its chain (a shuffle, two additions and a multiplication per step). With
// the lane exp no step calls a function: a call would move the recurrence's values through
// memory, and the store-to-load round trip would lengthen its chain more than its own
// arithmetic. With the library's exp each step calls it once per lane.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "distances/cost/squared_cost.hpp"
#include "distances/global_alignment/cell.hpp"
#include "distances/global_alignment/kernels.hpp"
#include "libm/exp_lanes.hpp"

namespace rc::distances::global_alignment {

template <class Ops, std::size_t L, bool Triangle, libm::ExpVariant Exp, bool Multiply>
struct Lanes {
    using V = typename Ops::V;
    using C = Cell<Ops>;
    static constexpr std::size_t W = Ops::lanes, Vectors = L / W;
    static_assert(Vectors * W == L);

    // The recurrence's results of step t - 1, and the diagonal neighbours of step t: the results
    // of step t - 2 moved up one lane, which step t - 1 already formed as its upper neighbours
    // (before the triangle's mirror), so each step moves one vector across lanes, not two.
    struct State {
        V prev[Vectors], diag[Vectors];
    };

    // The local kernels of step t into `kernel`. Edge: steps where some lanes lie outside their
    // row, whose exp arguments are replaced by an ordinary -1 (their results are discarded or
    // read only by lanes outside their rows).
    template <bool Edge>
    [[gnu::always_inline]] static void local_kernels(const Strip& p, std::size_t t, V (&kernel)[Vectors]) {
        const double* x = p.x + p.first_row;
        const double* y = p.y_reversed + (static_cast<std::ptrdiff_t>(p.y_steps) - static_cast<std::ptrdiff_t>(t));
        V cost[Vectors];
        cost::squared_costs<Ops, Vectors>(
            p.d, [&](std::size_t f, std::size_t v) { return Ops::loadu(x + f * p.x_stride + v * W); },
            [&](std::size_t f, std::size_t v) { return Ops::loadu(y + f * p.y_stride + v * W); }, cost);
        const V divisor = Ops::broadcast(Multiply ? p.exact_reciprocal : p.divisor);
        for (std::size_t v = 0; v < Vectors; ++v) {
            V argument = C::template argument<Multiply>(cost[v], divisor);
            if constexpr (Edge) {
                // Lane w holds column t - 1 - w (from 0) of its row, inside it for 0 <= t - 1 - w < m.
                const V lane = Ops::iota(static_cast<double>(v * W));
                const auto inside = Ops::both(Ops::lt(lane, Ops::broadcast(static_cast<double>(t))),
                                              Ops::le(Ops::broadcast(static_cast<double>(t) - static_cast<double>(p.m)), lane));
                argument = Ops::blend(inside, argument, Ops::broadcast(-1.0));
            }
            kernel[v] = C::local_kernel(C::template exponential<Exp>(argument, *p.libm));
        }
    }

    // Step t of the recurrence, the results moved into prev and diag.
    template <bool Edge>
    [[gnu::always_inline]] static void advance(const Strip& p, std::size_t t, const V (&kernel)[Vectors],
                                               V (&prev)[Vectors], V (&diag)[Vectors]) {
        const std::size_t m = p.m;
        V carry = Ops::broadcast(!Edge || t <= m ? p.above[t] : 0.0);
        V out[Vectors];
        for (std::size_t v = 0; v < Vectors; ++v) {
            const V shifted = Ops::shift_in(prev[v], carry);
            carry = prev[v];
            V up = shifted;
            if constexpr (Triangle) {
                // Lane k reaches its diagonal in step i0 + 1 + 2k, where its upper neighbour is
                // the mirror of its left one.
                const V lane = Ops::iota(static_cast<double>(v * W));
                const V diagonal_step = Ops::add(Ops::add(lane, lane), Ops::broadcast(static_cast<double>(p.first_row + 1)));
                up = Ops::blend(Ops::eq(Ops::broadcast(static_cast<double>(t)), diagonal_step), prev[v], up);
            }
            out[v] = C::sum(prev[v], up, diag[v], kernel[v]);
            diag[v] = shifted;
        }
        if (Edge && t < L) {
            // Lanes whose row has not started hold its boundary, 0.
            const V started = Ops::broadcast(static_cast<double>(t));
            for (std::size_t v = 0; v < Vectors; ++v)
                out[v] = Ops::blend(Ops::lt(Ops::iota(static_cast<double>(v * W)), started), out[v], Ops::broadcast(0.0));
        }
        if (!Edge || t >= L) p.below[t - (L - 1)] = Ops::last_lane(out[Vectors - 1]);
        for (std::size_t v = 0; v < Vectors; ++v) prev[v] = out[v];
    }

    // Steps [t, end). The state is copied in and out so that it lives in registers inside the
    // loop, and each step forms the next step's kernels before its own recurrence, one step ahead.
    template <bool Edge>
    static void steps(const Strip& problem, State& state, std::size_t t, std::size_t end) {
        if (t >= end) return;
        const Strip p = problem;  // a copy no store of the loop can touch, kept in registers
        V prev[Vectors], diag[Vectors], kernel[Vectors];
        for (std::size_t v = 0; v < Vectors; ++v) prev[v] = state.prev[v], diag[v] = state.diag[v];
        local_kernels<Edge>(p, t, kernel);
        for (; t + 1 < end; ++t) {
            V next[Vectors];
            local_kernels<Edge>(p, t + 1, next);
            advance<Edge>(p, t, kernel, prev, diag);
            for (std::size_t v = 0; v < Vectors; ++v) kernel[v] = next[v];
        }
        advance<Edge>(p, t, kernel, prev, diag);
        for (std::size_t v = 0; v < Vectors; ++v) state.prev[v] = prev[v], state.diag[v] = diag[v];
    }

    static void run(const Strip& p) {
        State state;
        // Before step 1: the boundary, 0 below the first row, and R[i0][0] diagonal to lane 0.
        for (std::size_t v = 0; v < Vectors; ++v) state.prev[v] = state.diag[v] = Ops::broadcast(0.0);
        state.diag[0] = Ops::shift_in(state.diag[0], Ops::broadcast(p.above[0]));
        const std::size_t m = p.m, end = m + L;  // steps 1 .. m + L - 1
        steps<true>(p, state, 1, L);                      // some rows not started
        steps<false>(p, state, L, m + 1);                 // every lane inside its row
        steps<true>(p, state, std::max(L, m + 1), end);  // some rows ended
    }
};

template <class Ops, std::size_t L, bool Triangle, libm::ExpVariant Exp>
void strip_with(const Strip& p) {
    if (p.exact_reciprocal != 0.0)
        Lanes<Ops, L, Triangle, Exp, true>::run(p);
    else
        Lanes<Ops, L, Triangle, Exp, false>::run(p);
}

// Triangle: the strip's rows are rows i0 + 1.. of the lower triangle of a series against itself
// (p.first_row = i0, m = i0 + L): on its diagonal a lane takes as its upper neighbour the mirror
// of its left one, R[i - 1][i] = R[i][i - 1]; past it a lane's cells are read by no cell of the
// triangle.
template <class Ops, std::size_t L, bool Triangle>
void strip(const Strip& p) {
    switch (p.exp) {
        case libm::ExpVariant::fused: return strip_with<Ops, L, Triangle, libm::ExpVariant::fused>(p);
        case libm::ExpVariant::plain: return strip_with<Ops, L, Triangle, libm::ExpVariant::plain>(p);
        case libm::ExpVariant::library: return strip_with<Ops, L, Triangle, libm::ExpVariant::library>(p);
    }
}

}  // namespace rc::distances::global_alignment
