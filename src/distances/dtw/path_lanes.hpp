// The forward pass of the DTW warping path: the recurrence of strip_lanes.hpp keeping every row
// of a strip, and the move the backtracking will take from each cell next to the band, one byte
// per cell.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "distances/dtw/kernels.hpp"
#include "distances/dtw/strip_lanes.hpp"

namespace rc::distances::dtw {

// From A[i][j], with diagonal A[i-1][j-1], upper A[i-1][j] and left A[i][j-1]: the diagonal
// wins all ties, the upper cell wins a tie with the left one, and as every comparison with a
// NaN is false, a NaN diagonal is never taken and a NaN upper or left cell sends the path left.
// Branch-free: with arbitrary data the outcome is unpredictable. A template over the target's
// ops like every kernel, so that each target's copy is its own.
template <class Ops>
inline std::uint8_t backtrack_move(double diagonal, double up, double left) {
    const unsigned not_diagonal = !((diagonal <= left) & (diagonal <= up));
    const unsigned left_over_up = !(up <= left);
    return static_cast<std::uint8_t>(not_diagonal * (kUp + left_over_up));
}

// Two cells' moves as two bytes (the first cell's in the low byte, stored little-endian),
// indexed by the cells' "diagonal wins" bits (1 and 2) and "up beats left" bits (4 and 8).
struct MovePairs {
    std::uint16_t by_bits[16];
};
constexpr MovePairs kMovePairs = [] {
    MovePairs table{};
    for (unsigned bits = 0; bits < 16; ++bits) {
        unsigned pair = 0;
        for (unsigned cell = 0; cell < 2; ++cell) {
            const bool diagonal = bits >> cell & 1u, up = bits >> (cell + 2) & 1u;
            pair |= (diagonal ? kDiagonal : up ? kUp : kLeft) << (8 * cell);
        }
        table.by_bits[bits] = static_cast<std::uint16_t>(pair);
    }
    return table;
}();

// Records the moves of row i of x (A's row i + 1, `here`) from the row above it; both are +inf
// wherever they hold no value. No move depends on another, so, unlike the recurrence, this runs
// Ops::lanes cells at a time side by side, with the comparisons of backtrack_move.
template <class Ops>
void record_moves(const PathProblem& p, std::size_t i, const double* above, const double* here) {
    constexpr std::size_t W = Ops::lanes;
    const Span window = p.window[i];
    std::uint8_t* moves = p.moves + p.offset[i];  // the move of column J at J - window.first
    std::size_t J = window.first;
    if constexpr (W >= 2) {
        for (; J + W - 1 <= window.last; J += W) {
            const auto diagonal = Ops::loadu(above + J - 1), up = Ops::loadu(above + J), left = Ops::loadu(here + J - 1);
            const unsigned diagonal_wins = Ops::mask_bits(Ops::both(Ops::le(diagonal, left), Ops::le(diagonal, up)));
            const unsigned up_beats_left = Ops::mask_bits(Ops::le(up, left));
            for (std::size_t c = 0; c < W; c += 2) {
                const unsigned bits = (diagonal_wins >> c & 3u) | (up_beats_left >> c & 3u) << 2;
                std::memcpy(moves + (J + c - window.first), &kMovePairs.by_bits[bits], 2);
            }
        }
    }
    for (; J <= window.last; ++J) moves[J - window.first] = backtrack_move<Ops>(above[J - 1], above[J], here[J - 1]);
}

// The recurrence of the distance, strip by strip with the same operations (so the same A[n][m]),
// keeping every row of a strip and the row above it to record the moves from. Returns A[n][m].
template <class Isa, std::size_t D, bool NanFree>
double forward_pass(const PathProblem& p) {
    using Scalar = typename Isa::Scalar;
    constexpr std::size_t R = kStripRows;
    const std::size_t n = p.pair.n, m = p.pair.m;
    double* rows[R + 1];  // rows[0]: the row above the strip; rows[1..]: the strip's rows
    Span held[R + 1];     // the columns each row holds values in; +inf elsewhere
    for (std::size_t r = 0; r <= R; ++r) {
        rows[r] = p.rows + r * (m + 1);
        held[r] = Span{1, 0};
    }
    rows[0][0] = 0.0;
    held[0] = Span{0, 0};
    for (std::size_t t = 0; t < n;) {
        const bool strip = t + R <= n && strip_pays<R>(p.pair.spans + t);
        const std::size_t count = strip ? R : 1;
        const Span written = strip ? run_strip<Scalar, 1, R, D, NanFree, true, FeaturePairs<Isa>>(p.pair, t, rows[0], rows + 1)
                                   : run_strip<Scalar, 1, 1, D, NanFree, true, FeaturePairs<Isa>>(p.pair, t, rows[0], rows + 1);
        for (std::size_t r = 1; r <= count; ++r) {
            clear_outside<Scalar, 1>(rows[r], held[r], written);
            held[r] = written;
        }
        for (std::size_t r = 0; r < count; ++r) p.record_moves(p, t + r, rows[r], rows[r + 1]);
        double* const above = rows[count];
        rows[count] = rows[0], rows[0] = above;
        const Span above_held = held[count];
        held[count] = held[0], held[0] = above_held;
        t += count;
    }
    return rows[0][m];
}

template <class Isa>
double forward_pass_any(const PathProblem& p) {
    if (p.pair.d == 1) return p.pair.finite ? forward_pass<Isa, 1, true>(p) : forward_pass<Isa, 1, false>(p);
    return p.pair.finite ? forward_pass<Isa, 0, true>(p) : forward_pass<Isa, 0, false>(p);
}

}  // namespace rc::distances::dtw
