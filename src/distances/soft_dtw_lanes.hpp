// Plain data shared by the soft-DTW driver and its SIMD lane kernels (soft_dtw_lanes_sse2.cpp,
// soft_dtw_lanes_avx2.cpp). As with the DTW lanes, only types and
// declarations live here, so no inline code is emitted with instructions a baseline caller
// cannot run.
#pragma once

#include <cstddef>

#include "libm_entry.hpp"

namespace rc::distances::soft_dtw_lanes {

// One row i of the accumulated matrices of several pairs (the kernel's lane count) that share a
// row of x. Arrays are interleaved: element [j] of pair k is at j * lanes + k.
struct RowProblem {
    const double* above;  // R[i - 1][0..m]
    double* row;          // R[i][0..m]; entries [0] of every pair are already set
    const double* cost;   // cost[j - 1] is the squared distance of the cell in column j
    std::size_t m;
    double gamma;         // finite and non-zero: the minimum's own term is exactly 1
    const LibmEntry* libm;
};

// Rows i0 + 1 .. i0 + lanes of the accumulated matrix of one pair, one row per lane.
struct StripProblem {
    const double* above;  // R[i0][0..m]
    double* below;        // receives R[i0 + lanes][1..m]
    const double* cost;   // skewed: cost[t * lanes + w] is the cost of row w's cell in column t - w
                          // for t - w in [1, m]; (m + lanes) * lanes entries, the rest any value
    std::size_t m;        // at least 1
    double gamma;         // finite and non-zero: the minimum's own term is exactly 1
    const LibmEntry* libm;
};

using RowKernel = void (*)(const RowProblem&);
using StripKernel = void (*)(const StripProblem&);

// Kernels for 16, 8 and 4 lanes, on every instruction set: the more independent exp and log
// calls a column holds, the more the processor overlaps, so wide groups come first.
struct RowKernels {
    static constexpr std::size_t kWidths[] = {16, 8, 4};
    RowKernel by_width[3];
    StripKernel strip_by_width[3];
};

// The cell by the literal three-term formula, for a lane whose minimum is not finite. Defined
// in soft_dtw.cpp, compiled for the baseline.
double literal_cell(double up, double diag, double left, double cost, double gamma, const LibmEntry& libm) noexcept;

// Defined in the instruction-set files, one set per simd::ExpVariant (the library's exp calls,
// the lane exp with fused multiply-adds, without); the AVX2 and AVX-512 ones are only read after
// a run-time CPU check. AVX-512 has no 4-lane kernels (null): AVX2's serve there.
extern const RowKernels kSse2RowKernels[3];
extern const RowKernels kAvx2RowKernels[3];
extern const RowKernels kAvx512RowKernels[3];

}  // namespace rc::distances::soft_dtw_lanes
