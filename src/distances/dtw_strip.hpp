// The scalar DTW recurrence over a few rows of x at a time, shared by the distance (which keeps
// one row of the accumulated costs) and the path (which keeps every row of a strip to decide
// the backtracking moves from).
#pragma once

#include <algorithm>
#include <cstddef>
#include <limits>
#include <type_traits>
#include <utility>

#include "distances/dtw_kernels.hpp"

namespace rc::distances::dtw_detail {

inline constexpr double kInfinity = std::numeric_limits<double>::infinity();
inline constexpr std::size_t kStripRows = 4;

// Sets row[first..last] to +inf (nothing when first > last).
inline void fill_infinity(double* row, std::size_t first, std::size_t last) noexcept {
    for (std::size_t j = first; j <= last; ++j) row[j] = kInfinity;
}

// A row of A holds values only in the columns `held`; sets those outside `kept` to +inf.
inline void clear_outside(double* row, Span held, Span kept) noexcept {
    fill_infinity(row, held.first, std::min(held.last, kept.first - 1));
    fill_infinity(row, std::max(held.first, kept.last + 1), held.last);
}

// Rows t0 + 1 .. t0 + R of A, where A[i + 1][j + 1] = C[i][j] + min(min(up, left), diag)
// within the band and +inf outside it. The cell to the left is on the critical path (a
// minimum and an addition per cell), so the R rows run together, skewed by one column: in
// step J row r computes column J - r, taking its upper neighbour from row r - 1's result of
// the step before. The R chains then overlap; every cell gets the same operations as one row
// at a time would give it.
//
// NanFree: no operand can be NaN, so the minimum is the plain one and, being exact and
// order-free, min(min(up, diag), left) gives the same bits while keeping the diagonal off the
// chain through `left`.
//
// KeepAll: every row r is written to below[r]; otherwise only the last one, to below[R - 1],
// which may be `above` itself (each column is then overwritten after its last read).//
// above: row t0 of A, +inf wherever it holds no value. Returns the columns written to each
// kept row: the hull of the rows' spans, where cells outside a row's own span are +inf. The
// spans must move monotonically (see strip_pays). The state lives in locals, not in an
// object, so that the stores to the rows cannot be taken to alias it.
template <std::size_t R, std::size_t D, bool NanFree, bool KeepAll>
Span run_strip(const double* x, const double* y, std::size_t d, const Span* spans, std::size_t t0,
               const double* above, double* const* below) noexcept {
    const std::size_t dim = D ? D : d;
    const double* xr[R];
    double* kept[R];
    double diag[R];  // A[t0 + r][column - 1]
    double out[R];   // A[t0 + r + 1][column]: the last result of row r, its next left neighbour
    for (std::size_t r = 0; r < R; ++r) {
        xr[r] = x + (t0 + r) * dim;
        kept[r] = below[r];
        diag[r] = kInfinity;
        out[r] = kInfinity;
    }
    const auto cell = [&]<std::size_t r>(std::integral_constant<std::size_t, r>, std::size_t column) {
        double up;
        if constexpr (r == 0)
            up = above[column];
        else
            up = out[r - 1];
        const double cost = step_cost<D>(xr[r], y + (column - 1) * dim, dim);
        const double best = NanFree ? plain_min(plain_min(up, diag[r]), out[r])
                                    : min_ignoring_nan(min_ignoring_nan(up, out[r]), diag[r]);
        diag[r] = up;
        out[r] = cost + best;
        if constexpr (KeepAll || r == R - 1) kept[r][column] = out[r];
    };
    const auto outside_span = [&]<std::size_t r>(std::integral_constant<std::size_t, r>, std::size_t column) {
        if constexpr (r == 0)
            diag[r] = above[column];
        else
            diag[r] = out[r - 1];
        out[r] = kInfinity;
        if constexpr (KeepAll || r == R - 1) kept[r][column] = kInfinity;
    };
    // Calls step(row) with row = R - 1, ..., 0 as compile-time constants. Rows run last to
    // first, so row r still sees row r - 1's result of the previous step.
    const auto rows_last_to_first = [](auto&& step) {
        [&]<std::size_t... k>(std::index_sequence<k...>) {
            (step(std::integral_constant<std::size_t, R - 1 - k>{}), ...);
        }(std::make_index_sequence<R>{});
    };
    const std::size_t first = spans[0].first, last = spans[R - 1].last;
    const auto checked_step = [&](std::size_t J) {
        rows_last_to_first([&](auto r) {
            if (J < first + r || J - r > last) return;  // row r has not started or is done
            const std::size_t column = J - r;
            if (column >= spans[r].first && column <= spans[r].last)
                cell(r, column);
            else
                outside_span(r, column);
        });
    };

    diag[0] = above[first - 1];
    // Steps in which every row's column lies within its own span need no checks.
    std::size_t fast_first = 0, fast_last = last + R;
    for (std::size_t r = 0; r < R; ++r) {
        fast_first = std::max(fast_first, spans[r].first + r);
        fast_last = std::min(fast_last, spans[r].last + r);
    }
    const std::size_t end = last + R;  // one past the last step
    std::size_t J = first;
    if (fast_first <= fast_last) {
        for (; J < fast_first; ++J) checked_step(J);
        for (; J <= fast_last; ++J) rows_last_to_first([&](auto r) { cell(r, J - r); });
    }
    for (; J < end; ++J) checked_step(J);
    return Span{first, last};
}

// Whether R rows from spans[0] are worth running together: all have cells, their spans move
// monotonically (always so for the band), and the columns they span together are not many
// more than their own (a steep band of a long y against a short x is run row by row).
template <std::size_t R>
bool strip_pays(const Span* spans) noexcept {
    std::size_t cells = 0;
    for (std::size_t r = 0; r < R; ++r) {
        if (spans[r].first > spans[r].last) return false;
        if (r > 0 && (spans[r].first < spans[r - 1].first || spans[r].last < spans[r - 1].last)) return false;
        cells += spans[r].last - spans[r].first + 1;
    }
    const std::size_t hull = spans[R - 1].last - spans[0].first + 1;
    return hull * R <= cells + cells / 4 + 4 * R;
}

}  // namespace rc::distances::dtw_detail
