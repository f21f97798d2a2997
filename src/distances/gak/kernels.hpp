// The GAK kernels' plain data and their row in the kernel table; only types and declarations,
// as for every kernel compiled once per instruction set.
#pragma once

#include <cstddef>

#include "libm/entry.hpp"

namespace rc::distances::global_alignment {

// Rows per strip: the first width in vector lanes, the others one lane per row for the rows
// left over.
inline constexpr std::size_t kWidths[] = {8, 4, 1};
inline constexpr std::size_t kWidthCount = sizeof kWidths / sizeof kWidths[0];
inline constexpr std::size_t kWidest = kWidths[0];

// Rows i0 + 1 .. i0 + width of the accumulated matrix of one pair. Per-cell arrays are skewed:
// entry [t * width + w] belongs to row w's cell in column t - w, for t in [0, m + width), and
// entries outside the cells hold 0 (exponentials) or -inf (arguments).
struct StripProblem {
    const double* above;         // R[i0][0..m]
    double* below;               // receives R[i0 + width][1..m]
    const double* exponentials;  // this strip's exp(-cost / denom), turned into local kernels here
    double* next;                // the next strip's exp arguments (of the same width), replaced by
                                 // their exponentials along the way (the calls overlap this
                                 // strip's recurrence); null if none
    std::size_t m;               // at least 1
    std::size_t first_row;       // i0, read by the triangle kernels only
    const LibmEntry* libm;
    // library: `exponentials` holds exponentials. Otherwise it holds the arguments -cost / denom
    // (next is null), and the kernel takes their exp itself with the lane exp of this variant.
    simd::ExpVariant exp = simd::ExpVariant::library;
    // With the lane exp, the cells hold -cost and the kernel divides them by this first (1 when
    // they are already the arguments); unused with the library's exp.
    double divisor = 1.0;
    // 1 / divisor when that is exact (divisor a power of two), the kernel then multiplying by it
    // instead, which rounds the same exact value; 0 otherwise.
    double exact_reciprocal = 0.0;
};

using StripKernel = void (*)(const StripProblem&);

// Steps a strip's lanes may read before and after a series' reversed copy (see FeatureStrip).
inline constexpr std::size_t kReversedPadding = kWidest;

// The same rows with the lane exp, the local kernels formed in the strip's lanes from the
// series' features: no per-cell array is written or read. Cell (i0 + 1 + w, j) reads feature f
// of x at x[f * x_stride + i0 + w] and of y at y_reversed[f * y_stride + (y_steps - j)], so the
// lanes of one step read consecutive entries of both.
struct FeatureStrip {
    const double* above;       // R[i0][0..m]
    double* below;             // receives R[i0 + width][1..m]
    const double* x;           // x's features, feature by feature
    std::size_t x_stride;
    const double* y_reversed;  // y(y_steps - 1 - q, f) at q in [0, y_steps), kReversedPadding
                               // readable (finite) entries on either side
    std::size_t y_stride;
    std::size_t y_steps;
    std::size_t d;             // at least 1
    std::size_t m;             // at least 1
    std::size_t first_row;     // i0
    bool fused;                // the lane exp variant with fused multiply-adds, else the plain one
    double divisor;            // exp argument -cost / divisor
    double exact_reciprocal;   // 1 / divisor when exact (then multiplied by), else 0
};

using FeatureStripKernel = void (*)(const FeatureStrip&);

struct Kernels {
    StripKernel strips[kWidthCount];  // by the width at the same index
    // The same over the lower triangle of a series against itself, m = i0 + width (see
    // gak/strip-inl.hpp).
    StripKernel triangle_strips[kWidthCount];
    FeatureStripKernel feature_strips[kWidthCount];
    FeatureStripKernel feature_triangle_strips[kWidthCount];
};

}  // namespace rc::distances::global_alignment
