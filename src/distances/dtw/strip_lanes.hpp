// The DTW recurrence, written once over an ops struct: Ops = Scalar runs one pair, a vector ops
// struct runs one pair per lane, every lane with exactly the operations of the scalar pair in
// the same order, so every path gives the same bits.
#pragma once

#include <cstddef>
#include <utility>

#include "distances/cost/squared_cost.hpp"
#include "distances/dtw/kernels.hpp"

namespace rc::distances::dtw {

// The strip's state lives in arrays of vectors that stay in registers only if every step is
// inlined into one function; a lambda called out of line would take them through memory.
#define DTW_STRIP_INLINE __attribute__((always_inline))

// The instruction set's ops of two lanes, else one: a single pair's features, side by side in
// the packed steps, are squared two at a time where the instruction set has a vector of two.
template <class Isa>
using FeaturePairs = typename Isa::template Dividing<2>;

// Squared distances of step xt of x (x0: its first feature, broadcast) to one step of every
// lane's y (yu: its features, lanes interleaved).
template <class Ops, std::size_t Vectors, std::size_t D>
[[gnu::always_inline]] inline void step_costs(typename Ops::V x0, const double* xt, const double* yu, std::size_t dim,
                                              typename Ops::V (&cost)[Vectors]) {
    constexpr std::size_t W = Ops::lanes, L = W * Vectors;
    cost::squared_costs<Ops, Vectors>(
        D ? D : dim, [&](std::size_t k, std::size_t) { return k == 0 ? x0 : Ops::broadcast(xt[k]); },
        [&](std::size_t k, std::size_t v) { return Ops::loadu(yu + k * L + v * W); }, cost);
}

// Rows t0 + 1 .. t0 + R of A, where A[i + 1][j + 1] = C[i][j] + min(min(up, left), diag)
// within the band and +inf outside it; rows of A hold L = Ops::lanes * Vectors interleaved
// lanes, column J of lane k at J * L + k. The cell to the left is on the critical path (a
// minimum and an addition per cell), so the R rows run together, skewed by one column: in step
// J row r computes column J - r, taking its upper neighbour from row r - 1's result of the step
// before, and Vectors independent vectors of pairs share each step. The chains then overlap;
// every cell gets the same operations as one row at a time would give it.
//
// NanFree: no operand can be NaN, so the minimum is the plain one and, being exact and
// order-free, min(min(up, diag), left) gives the same bits while keeping the diagonal off the
// chain through `left`.
//
// KeepAll: every row r is written to below[r]; otherwise only the last one, to below[R - 1],
// which may be `above` itself (each column is then overwritten after its last read).
// above: row t0 of A, +inf wherever it holds no value. Returns the columns written to each
// kept row: the hull of the rows' spans, where cells outside a row's own span are +inf; the
// caller sets the columns outside it. The spans must move monotonically (see strip_pays). The
// state lives in locals, not in an object, so that the stores to the rows cannot be taken to
// alias it.
//
// Features: for one pair (Ops of one lane), the ops whose lanes (one or two) take a cell's
// features side by side in the steps of the band's inner columns.
template <class Ops, std::size_t Vectors, std::size_t R, std::size_t D, bool NanFree, bool KeepAll,
          class Features = Ops>
[[gnu::always_inline]] inline Span run_strip(const LaneProblem& p, std::size_t t0, const double* above, double* const* below) {
    using V = typename Ops::V;
    constexpr std::size_t W = Ops::lanes, L = W * Vectors;
    const std::size_t dim = D ? D : p.d;
    const Span* spans = p.spans + t0;
    const double* const y = p.y;
    const V inf = Ops::broadcast(__builtin_inf());
    const double* xr[R];
    double* kept[R];
    V x0[R];
    V diag[R][Vectors];  // A[t0 + r][column - 1]
    V out[R][Vectors];   // A[t0 + r + 1][column]: the last result of row r, its next left neighbour
    for (std::size_t r = 0; r < R; ++r) {
        xr[r] = p.x + (t0 + r) * dim;
        kept[r] = below[r];
        x0[r] = Ops::broadcast(dim > 0 ? xr[r][0] : 0.0);
        for (std::size_t v = 0; v < Vectors; ++v) diag[r][v] = out[r][v] = inf;
    }
    const auto add_cost = [&]<std::size_t r>(std::integral_constant<std::size_t, r>, std::size_t column, const V* cost) DTW_STRIP_INLINE {
        for (std::size_t v = 0; v < Vectors; ++v) {
            V up;
            if constexpr (r == 0)
                up = Ops::loadu(above + column * L + v * W);
            else
                up = out[r - 1][v];
            const V best = NanFree ? Ops::min(Ops::min(up, diag[r][v]), out[r][v])
                                   : Ops::min_ignoring_nan(Ops::min_ignoring_nan(up, out[r][v]), diag[r][v]);
            diag[r][v] = up;
            out[r][v] = Ops::add(cost[v], best);
            if constexpr (KeepAll || r == R - 1) Ops::storeu(kept[r] + column * L + v * W, out[r][v]);
        }
    };
    const auto cell = [&]<std::size_t r>(std::integral_constant<std::size_t, r> row, std::size_t column) DTW_STRIP_INLINE {
        V cost[Vectors];
        step_costs<Ops, Vectors, D>(x0[r], xr[r], y + (column - 1) * dim * L, dim, cost);
        add_cost(row, column, cost);
    };
    const auto outside_span = [&]<std::size_t r>(std::integral_constant<std::size_t, r>, std::size_t column) DTW_STRIP_INLINE {
        for (std::size_t v = 0; v < Vectors; ++v) {
            if constexpr (r == 0)
                diag[r][v] = Ops::loadu(above + column * L + v * W);
            else
                diag[r][v] = out[r - 1][v];
            out[r][v] = inf;
            if constexpr (KeepAll || r == R - 1) Ops::storeu(kept[r] + column * L + v * W, inf);
        }
    };
    // Calls step(row) with row = R - 1, ..., 0 as compile-time constants. Rows run last to
    // first, so row r still sees row r - 1's result of the previous step.
    const auto rows_last_to_first = [](auto&& step) DTW_STRIP_INLINE {
        [&]<std::size_t... k>(std::index_sequence<k...>) DTW_STRIP_INLINE {
            (step(std::integral_constant<std::size_t, R - 1 - k>{}), ...);
        }(std::make_index_sequence<R>{});
    };
    // One pair of several features: a step's R costs are computed together, before its cells.
    const auto cells_of_one_pair = [&](std::size_t J) DTW_STRIP_INLINE {
        if constexpr (W == 1) {
            const double* ys[R];
            for (std::size_t r = 0; r < R; ++r) ys[r] = y + (J - r - 1) * dim;
            double cost[R];
            cost::squared_costs_side_by_side<Features, R>(dim, xr, ys, cost);
            rows_last_to_first([&](auto r) DTW_STRIP_INLINE { add_cost(r, J - r, cost + r); });
        }
    };
    const std::size_t first = spans[0].first, last = spans[R - 1].last;
    const auto checked_step = [&](std::size_t J) DTW_STRIP_INLINE {
        rows_last_to_first([&](auto r) DTW_STRIP_INLINE {
            if (J < first + r || J - r > last) return;  // row r has not started or is done
            const std::size_t column = J - r;
            if (column >= spans[r].first && column <= spans[r].last)
                cell(r, column);
            else
                outside_span(r, column);
        });
    };

    for (std::size_t v = 0; v < Vectors; ++v) diag[0][v] = Ops::loadu(above + (first - 1) * L + v * W);
    // Steps in which every row's column lies within its own span need no checks.
    std::size_t fast_first = 0, fast_last = last + R;
    for (std::size_t r = 0; r < R; ++r) {
        if (spans[r].first + r > fast_first) fast_first = spans[r].first + r;
        if (spans[r].last + r < fast_last) fast_last = spans[r].last + r;
    }
    const std::size_t end = last + R;  // one past the last step
    std::size_t J = first;
    if (fast_first <= fast_last) {
        for (; J < fast_first; ++J) checked_step(J);
        for (; J <= fast_last; ++J) {
            if constexpr (W == 1 && D != 1)
                cells_of_one_pair(J);
            else
                rows_last_to_first([&](auto r) DTW_STRIP_INLINE { cell(r, J - r); });
        }
    }
    for (; J < end; ++J) checked_step(J);
    return Span{first, last};
}

// Whether R rows from spans[0] are worth running together: all have cells, their spans move
// monotonically (always so for the band), and the columns they span together are not many
// more than their own (a steep band of a long y against a short x is run row by row).
template <std::size_t R>
bool strip_pays(const Span* spans) {
    std::size_t cells = 0;
    for (std::size_t r = 0; r < R; ++r) {
        if (spans[r].first > spans[r].last) return false;
        if (r > 0 && (spans[r].first < spans[r - 1].first || spans[r].last < spans[r - 1].last)) return false;
        cells += spans[r].last - spans[r].first + 1;
    }
    const std::size_t hull = spans[R - 1].last - spans[0].first + 1;
    return hull * R <= cells + cells / 4 + 4 * R;
}

// Sets the L lanes of columns first..last of a row to +inf (nothing when first > last).
template <class Ops, std::size_t Vectors>
void fill_infinity(double* row, std::size_t first, std::size_t last) {
    constexpr std::size_t W = Ops::lanes, L = W * Vectors;
    const auto inf = Ops::broadcast(__builtin_inf());
    for (std::size_t J = first; J <= last; ++J)
        for (std::size_t v = 0; v < Vectors; ++v) Ops::storeu(row + J * L + v * W, inf);
}

// A row of A holds values only in the columns `held`; sets those outside `kept` to +inf.
template <class Ops, std::size_t Vectors>
void clear_outside(double* row, Span held, Span kept) {
    fill_infinity<Ops, Vectors>(row, held.first, held.last < kept.first - 1 ? held.last : kept.first - 1);
    fill_infinity<Ops, Vectors>(row, held.first > kept.last + 1 ? held.first : kept.last + 1, held.last);
}

// A[n][m] of every lane, keeping one row of A (p.row): before each strip it holds the row above
// the strip, +inf outside the columns `live`. Rows: how many rows of x run together.
template <class Ops, std::size_t Vectors, std::size_t Rows, std::size_t D, bool NanFree, class Features>
void accumulate(const LaneProblem& p) {
    constexpr std::size_t W = Ops::lanes, L = W * Vectors;
    double* const row = p.row;
    for (std::size_t v = 0; v < Vectors; ++v) Ops::storeu(row + v * W, Ops::broadcast(0.0));
    fill_infinity<Ops, Vectors>(row, 1, p.m);
    double* keep_last[Rows] = {};  // only a strip's last row is kept, in place of the row above it
    keep_last[Rows - 1] = row;
    double* const keep_one[1] = {row};
    Span live{0, 0};  // A[0][0] = 0
    for (std::size_t t = 0; t < p.n;) {
        Span written;
        if (Rows > 1 && t + Rows <= p.n && strip_pays<Rows>(p.spans + t)) {
            written = run_strip<Ops, Vectors, Rows, D, NanFree, false, Features>(p, t, row, keep_last);
            t += Rows;
        } else {
            written = run_strip<Ops, Vectors, 1, D, NanFree, false, Features>(p, t, row, keep_one);
            t += 1;
        }
        clear_outside<Ops, Vectors>(row, live, written);
        live = written;
    }
    for (std::size_t lane = 0; lane < L; ++lane) p.out[lane] = row[p.m * L + lane];
}

// The plain minimum where no operand can be NaN.
template <class Ops, std::size_t Vectors, std::size_t Rows, std::size_t D, class Features>
void accumulate_nan_free_or_not(const LaneProblem& p) {
    if (p.finite) return accumulate<Ops, Vectors, Rows, D, true, Features>(p);
    return accumulate<Ops, Vectors, Rows, D, false, Features>(p);
}

// The recurrence's variants: a feature count known at compile time where it is small (one; and
// for one pair, whose costs take most of a cell, up to four: a loop over the features at run time
// costs clang's code a third more there), and the plain minimum without NaN operands.
template <class Ops, std::size_t Vectors, std::size_t Rows, class Features = Ops>
void accumulate_any(const LaneProblem& p) {
    if (p.d == 1) return accumulate_nan_free_or_not<Ops, Vectors, Rows, 1, Features>(p);
    if constexpr (Ops::lanes == 1) {
        if (p.d == 2) return accumulate_nan_free_or_not<Ops, Vectors, Rows, 2, Features>(p);
        if (p.d == 3) return accumulate_nan_free_or_not<Ops, Vectors, Rows, 3, Features>(p);
        if (p.d == 4) return accumulate_nan_free_or_not<Ops, Vectors, Rows, 4, Features>(p);
    }
    return accumulate_nan_free_or_not<Ops, Vectors, Rows, 0, Features>(p);
}

#undef DTW_STRIP_INLINE

}  // namespace rc::distances::dtw
