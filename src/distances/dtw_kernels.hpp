// Pieces shared by the DTW distance, path and matrix: the band as one column span per row,
// series packed for the inner loops, and the scalar recurrence.
#pragma once

#include <cmath>
#include <cstddef>

#include "array_view.hpp"
#include "buffer.hpp"
#include "distances/dtw.hpp"
#include "distances/dtw_lanes.hpp"

namespace rc::distances::dtw_detail {

using dtw_lanes::Span;

// The minimum that ignores a NaN operand: NaN only when both are NaN. Written as the SIMD
// kernels compute it (b NaN: a; otherwise a < b ? a : b), so every path picks the same bits.
inline double min_ignoring_nan(double a, double b) noexcept { return std::isnan(b) ? a : (a < b ? a : b); }
inline double plain_min(double a, double b) noexcept { return a < b ? a : b; }

// Squared distance between two packed steps, features summed in increasing order from 0.0;
// D = 0 reads the feature count d at run time. With one feature 0.0 + diff * diff is
// diff * diff exactly (a square is never -0.0).
template <std::size_t D>
inline double step_cost(const double* a, const double* b, std::size_t d) noexcept {
    if constexpr (D == 1) {
        const double diff = a[0] - b[0];
        return diff * diff;
    } else {
        double sum = 0.0;
        for (std::size_t k = 0; k < (D ? D : d); ++k) {
            const double diff = a[k] - b[k];
            sum += diff * diff;
        }
        return sum;
    }
}

// For each of the n steps of x, the columns of A that lie in the band. Without a radius every
// row spans columns 1..m. With one, cell (i, j) belongs to the band when |j - c| <= r for the
// centre c = (i * s) / q, q = n - 1 (1.0 for n = 1), s = m - 1.0, all in double precision;
// the spans reproduce that test exactly. n and m are at least 1.
Buffer<Span> band_spans(std::size_t n, std::size_t m, BandRadius radius);

// Copies the first d features of every step of s into out (steps x d, row-major) and tells
// whether all of them are finite.
bool pack_steps(const Series& s, std::size_t d, double* out) noexcept;

// A[n][m] of the DTW recurrence over packed series (n, m >= 1), visiting only the band's
// cells. row is scratch of m + 1 doubles. nan_free may be set when every feature read is
// finite: a difference of finite values is finite or +-inf, its square finite or +inf, a sum
// of such squares (never inf - inf) and every accumulated sum likewise, so no NaN can arise
// and the recurrence may use the plain minimum.
double accumulated_cost(const double* x, const double* y, std::size_t n, std::size_t m, std::size_t d,
                        const Span* spans, bool nan_free, double* row) noexcept;

// The lane kernels of the instruction set chosen for this process (see dtw_dispatch.cpp), or
// nullptr when pairs run one at a time on the scalar recurrence.
const dtw_lanes::LaneKernels* lane_kernels() noexcept;

}  // namespace rc::distances::dtw_detail
