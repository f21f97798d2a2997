// Plain data shared by the DTW drivers and the SIMD lane kernels. The kernels are compiled
// for one instruction set each (dtw_lanes_avx2.cpp, dtw_lanes_avx512.cpp), so this header
// holds only types and declarations: no inline code that a kernel file could emit with
// instructions a baseline caller cannot run.
#pragma once

#include <cstddef>

namespace rc::distances::dtw_lanes {

// The columns of the accumulated-cost matrix A that one row of the band computes, counted as
// A counts them (column J holds step J - 1 of y; column 0 is the boundary). first > last
// means the row computes nothing.
struct Span {
    std::size_t first;
    std::size_t last;
};

// Several pairs (x, y_lane) of the same shape, one per SIMD lane, sharing x and the band.
struct LaneProblem {
    const double* x;      // n steps x d features, packed
    const double* y;      // m steps x d features x lanes: element (u, k, lane) at (u * d + k) * lanes + lane
    const Span* spans;    // one per step of x
    std::size_t n, m, d;
    bool finite;          // no NaN or infinity among the features read (see the kernels)
    double* row;          // scratch of (m + 1) x lanes doubles
    double* out;          // receives A[n][m] of every lane
};

using LaneKernel = void (*)(const LaneProblem&);

struct LaneKernels {
    const char* name;
    std::size_t vector_lanes;  // pairs per vector
    LaneKernel one_vector;     // vector_lanes pairs
    LaneKernel two_vectors;    // 2 * vector_lanes pairs, two independent chains interleaved
};

// Defined in the instruction-set files; only read after a run-time CPU check.
extern const LaneKernels kAvx2LaneKernels;
extern const LaneKernels kAvx512LaneKernels;

}  // namespace rc::distances::dtw_lanes
