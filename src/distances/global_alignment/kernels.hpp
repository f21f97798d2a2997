// The GAK kernels' plain data and kernel table (global_alignment/table.hpp defines it per target).
#pragma once

#include <cstddef>
#include <cstdint>

#include "libm/entries.hpp"

namespace rc::distances::global_alignment {

// Rows per strip: the first width in vector lanes, the others one lane per row for the rows
// left over.
inline constexpr std::size_t kWidths[] = {8, 4, 1};
inline constexpr std::size_t kWidthCount = sizeof kWidths / sizeof kWidths[0];
inline constexpr std::size_t kWidest = kWidths[0];

// Steps a strip's lanes may read before and after a series' reversed copy (see Strip).
inline constexpr std::size_t kReversedPadding = kWidest;

// Rows i0 + 1 .. i0 + width of the accumulated matrix of one pair (strip_lanes.hpp), the local
// kernels formed in the strip's lanes from the series' features: cell (i0 + 1 + w, j) reads
// feature f of x at x[f * x_stride + i0 + w] and of y at y_reversed[f * y_stride + (y_steps - j)],
// so the lanes of one step read consecutive entries of both.
struct Strip {
    const double* above;       // R[i0][0..m]
    double* below;             // receives R[i0 + width][1..m]
    const double* x;           // x's features, feature by feature
    std::size_t x_stride;
    const double* y_reversed;  // y(y_steps - 1 - q, f) at q in [0, y_steps), kReversedPadding
                               // readable (finite) entries on either side
    std::size_t y_stride;
    std::size_t y_steps;
    std::size_t d;
    std::size_t m;             // at least 1
    std::size_t first_row;     // i0
    libm::ExpVariant exp;      // the library's exp, or the lane exp of this variant
    const libm::Entries* libm;
    double divisor;            // exp argument -cost / divisor
    double exact_reciprocal;   // 1 / divisor when exact (then multiplied by), else 0
};

using StripKernel = void (*)(const Strip&);

// The accumulated matrices of several pairs of one shape (n steps of x against m of y), one pair
// per lane (the kernel's width), swept row by row (rows_lanes.hpp): the plain sum R[n][m], and
// beside it the same sweep with every row scaled by the power of two that brings its largest
// entry into [1, 2), the powers added up apart, for sums beyond the range of doubles. Features are
// interleaved: feature f of step i of lane k at x[(f * n + i) * width + k], likewise for y.
struct RowGroup {
    const double* x;
    const double* y;
    std::size_t n, m, d;  // n, m at least 1
    libm::ExpVariant exp;
    const libm::Entries* libm;
    double divisor;
    double exact_reciprocal;
    double* rows;             // scratch of 2 * (m + 1) * width doubles
    double* plain;            // receives R[n][m] of every lane
    double* mantissas;        // receive the scaled sweep's R[n][m] as mantissa * 2^exponent (see
    std::int64_t* exponents;  // rows_lanes.hpp); null: only the plain sums are swept
};

using RowGroupKernel = void (*)(const RowGroup&);

struct Kernels {
    StripKernel strips[kWidthCount];  // by the width at the same index
    // The same over the lower triangle of a series against itself, m = i0 + width (see
    // strip_lanes.hpp).
    StripKernel triangle_strips[kWidthCount];
    std::size_t group_width;  // pairs per row group in vectors
    RowGroupKernel groups;    // group_width pairs
    RowGroupKernel one_pair;  // one pair in one lane
};

template <class Isa>
Kernels make_table();

// The table of the process's target, chosen at first use (kernels.cpp).
const Kernels& kernels() noexcept;

}  // namespace rc::distances::global_alignment
