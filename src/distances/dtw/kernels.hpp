// The DTW kernels' plain data and kernel table (dtw/table.hpp defines it per target).
#pragma once

#include <cstddef>
#include <cstdint>

namespace rc::distances::dtw {

// The columns of the accumulated-cost matrix A that one row of the band computes, counted as
// A counts them (column J holds step J - 1 of y; column 0 is the boundary). first > last
// means the row computes nothing.
struct Span {
    std::size_t first;
    std::size_t last;
};

// Pairs (x, y_lane) of one shape sharing x and the band, one per lane (a single pair for the
// scalar kernel, whose y is then simply packed).
struct LaneProblem {
    const double* x;      // n steps x d features, packed
    const double* y;      // m steps x d features x lanes: element (u, k, lane) at (u * d + k) * lanes + lane
    const Span* spans;    // one per step of x
    std::size_t n, m, d;  // n, m >= 1
    bool finite;          // no NaN or infinity among the features read (see strip_lanes.hpp)
    double* row;          // scratch of (m + 1) x lanes doubles
    double* out;          // receives A[n][m] of every lane
};

struct PathProblem;

// Records the moves of row i of x from A's rows i (`above`) and i + 1 (`here`).
using MoveRecorder = void (*)(const PathProblem&, std::size_t i, const double* above, const double* here);

// The forward pass of the warping path over one packed pair: the moves the backtracking takes,
// recorded for the cells next to the band. Row i of x (A's row i + 1) records the columns
// window[i] at moves[offset[i]...].
struct PathProblem {
    LaneProblem pair;     // one lane; row is unused
    double* rows;         // scratch of (kStripRows + 1) x (m + 1) doubles, all +inf
    const Span* window;
    const std::size_t* offset;
    std::uint8_t* moves;
    MoveRecorder record_moves;
};

// Rows of x per strip of the scalar recurrence.
inline constexpr std::size_t kStripRows = 4;

inline constexpr std::uint8_t kDiagonal = 0, kUp = 1, kLeft = 2;

using LaneKernel = void (*)(const LaneProblem&);

struct Kernels {
    LaneKernel one_pair;           // the scalar recurrence (in the default encoding's table)
    double (*path)(const PathProblem&);  // returns A[n][m] (in the default encoding's table)
    MoveRecorder record_moves;     // the path's moves, cells side by side in the widest vectors
    std::size_t vector_lanes;      // pairs per vector; 0: pairs run one at a time
    LaneKernel one_vector;         // vector_lanes pairs
    LaneKernel two_vectors;        // 2 * vector_lanes pairs, two independent chains interleaved
};

template <class Isa>
Kernels make_table();

// The table of the process's target, chosen at first use (kernels.cpp).
const Kernels& kernels() noexcept;

}  // namespace rc::distances::dtw
