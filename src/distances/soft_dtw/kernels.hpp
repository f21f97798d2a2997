// The soft-DTW kernels' plain data and kernel table (soft_dtw/table.hpp defines it per target).
#pragma once

#include <cstddef>

#include "libm/entries.hpp"

namespace rc::distances::soft_dtw {

// What every cell of one call shares. min_term_is_one: gamma is finite and non-zero, so that
// (mu - v) / gamma is exactly ±0 whenever v == mu and mu is finite, and exp(±0) = 1; otherwise
// every cell is computed literally.
struct Smoothing {
    double gamma;
    double exact_inverse_gamma;  // 1 / gamma when exact (distances/alignment.hpp), else 0
    bool min_term_is_one;
    const libm::Entries* libm;
    libm::ExpVariant exp;  // library: exp calls per lane; otherwise the lane exp of that variant
    bool log_bracketed;    // cells may be settled by the lane bracket on log (libm/log_bracket_lanes.hpp)
};

// One row i of the accumulated matrices of several pairs (the kernel's width) that share a row
// of x. Arrays are interleaved: element [j] of pair k is at j * width + k.
struct RowProblem {
    const double* above;  // R[i - 1][0..m]
    double* row;          // R[i][0..m]; entries [0] of every pair are already set
    const double* cost;   // cost[j - 1] is the squared distance of the cell in column j
    std::size_t m;
    Smoothing smoothing;
};

// Rows i and i + 1 of the accumulated matrices of several pairs (the kernel's width), laid out as
// in RowProblem, swept together: in step t row i's column t and row i + 1's column t - 1.
struct TwoRowProblem {
    const double* above;         // R[i - 1][0..m]
    double* first;               // R[i][0..m]; entries [0] of every pair are already set
    double* second;              // R[i + 1][0..m]; likewise
    const double* first_cost;    // costs of row i: first_cost[j - 1] for column j
    const double* second_cost;   // costs of row i + 1
    std::size_t m;               // at least 1
    Smoothing smoothing;
};

// Rows i0 + 1 .. i0 + width of the accumulated matrix of one pair, one row per lane.
struct StripProblem {
    const double* above;  // R[i0][0..m]
    double* below;        // receives R[i0 + width][1..m]
    const double* cost;   // skewed: cost[t * width + w] is the cost of row w's cell in column t - w
                          // for t - w in [1, m]; (m + width) * width entries, the rest any value
    std::size_t m;        // at least 1
    Smoothing smoothing;
};

using RowKernel = void (*)(const RowProblem&);
using TwoRowKernel = void (*)(const TwoRowProblem&);
using StripKernel = void (*)(const StripProblem&);

// The more independent exp and log calls a step holds, the more the processor overlaps, so wide
// groups come first: widths in vector lanes, then one lane per cell for what is left.
inline constexpr std::size_t kWidths[] = {32, 16, 8, 4, 3, 2, 1};
inline constexpr std::size_t kWidthCount = sizeof kWidths / sizeof kWidths[0];
inline constexpr std::size_t kWidest = kWidths[0];

struct Kernels {
    RowKernel rows[kWidthCount];  // by the width at the same index; null for a width left out (not 1)
    TwoRowKernel two_rows[kWidthCount];  // null where the width runs one row at a time
    StripKernel strips[kWidthCount];  // likewise
};

template <class Isa>
Kernels make_table();

// The table of the process's target, chosen at first use (kernels.cpp).
const Kernels& kernels() noexcept;

// The cell by the literal three-term formula, for a lane whose minimum is not finite or whose
// gamma does not let the minimum's term be 1. Compiled once, for the baseline.
double literal_cell(double up, double diag, double left, double cost, double gamma, const libm::Entries& libm) noexcept;

}  // namespace rc::distances::soft_dtw
