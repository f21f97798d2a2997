// The DTW distance with its warping path. Instead of the whole accumulated-cost matrix, the
// forward pass keeps a few rows of it at a time and records the move the backtracking will
// take from each cell next to the band: one byte per cell. The backtracking may cross cells outside the band
// (when the band does not connect the corners), and there every predecessor is +inf.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "distances/cost.hpp"
#include "distances/dtw.hpp"
#include "distances/dtw_kernels.hpp"
#include "distances/dtw_strip.hpp"

namespace rc::distances {
namespace {

using dtw_detail::Span;
constexpr double kInf = std::numeric_limits<double>::infinity();

constexpr std::uint8_t kDiagonal = 0, kUp = 1, kLeft = 2;

// From A[i][j], with diagonal A[i-1][j-1], upper A[i-1][j] and left A[i][j-1]: the diagonal
// wins all ties, the upper cell wins a tie with the left one, and as every comparison with a
// NaN is false, a NaN diagonal is never taken and a NaN upper or left cell sends the path left.
// Branch-free: with arbitrary data the outcome is unpredictable.
inline std::uint8_t backtrack_move(double diagonal, double up, double left) noexcept {
    const unsigned not_diagonal = !((diagonal <= left) & (diagonal <= up));
    const unsigned left_over_up = !(up <= left);
    return static_cast<std::uint8_t>(not_diagonal * (kUp + left_over_up));
}

// The moves of the cells with a predecessor in the band (or A[0][0]); every other cell has
// three +inf predecessors and moves diagonally (+inf <= +inf). For row i of x (A's row i + 1)
// those are the columns window[i]; their moves lie at moves[offset[i]...].
struct MoveTable {
    Buffer<Span> window;
    Buffer<std::size_t> offset;
    Buffer<std::uint8_t> moves;

    std::uint8_t at(std::size_t row, std::size_t column) const noexcept {
        const Span w = window[row];
        return column >= w.first && column <= w.last ? moves[offset[row] + column - w.first] : kDiagonal;
    }
};

// Columns J of A's row i + 1 with a predecessor in the previous row's span (up: J, diagonal:
// J - 1) or in this row's span (left: J - 1; the span's own cells are computed), within 1..m.
MoveTable plan_moves(const Span* spans, std::size_t n, std::size_t m) {
    MoveTable table{Buffer<Span>::uninitialized(n), Buffer<std::size_t>::uninitialized(n), {}};
    Span previous{0, 0};  // A[0][0] = 0 is the only finite cell of A's row 0
    std::size_t total = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const Span span = spans[i];
        std::size_t first = m + 1, last = 0;
        if (previous.first <= previous.last) {
            first = previous.first;
            last = previous.last + 1;
        }
        if (span.first <= span.last) {
            first = std::min(first, span.first);
            last = std::max(last, span.last + 1);
        }
        first = std::max<std::size_t>(first, 1);
        last = std::min(last, m);
        table.window[i] = first <= last ? Span{first, last} : Span{1, 0};
        table.offset[i] = total;
        if (first <= last) total = checked_add(total, last - first + 1);
        previous = span;
    }
    table.moves = Buffer<std::uint8_t>::uninitialized(total);
    return table;
}

// Two cells' moves as two bytes (the first cell's in the low byte, stored little-endian),
// indexed by the cells' "diagonal wins" bits (1 and 2) and "up beats left" bits (4 and 8).
constexpr std::array<std::uint16_t, 16> kMovePairs = [] {
    std::array<std::uint16_t, 16> table{};
    for (unsigned bits = 0; bits < 16; ++bits) {
        unsigned pair = 0;
        for (unsigned cell = 0; cell < 2; ++cell) {
            const bool diagonal = bits >> cell & 1u, up = bits >> (cell + 2) & 1u;
            pair |= (diagonal ? kDiagonal : up ? kUp : kLeft) << (8 * cell);
        }
        table[bits] = static_cast<std::uint16_t>(pair);
    }
    return table;
}();

// Records the moves of row i of x (A's row i + 1, `here`) from the row above it; both are
// +inf wherever they hold no value. No move depends on another, so, unlike the recurrence,
// this runs two cells at a time side by side.
void record_moves(MoveTable& table, std::size_t i, const double* above, const double* here) noexcept {
    const Span window = table.window[i];
    std::uint8_t* moves = table.moves.data() + table.offset[i];  // the move of column J at J - window.first
    std::size_t J = window.first;
#if defined(__SSE2__)
    for (; J + 1 <= window.last; J += 2) {
        const __m128d diagonal = _mm_loadu_pd(above + J - 1), up = _mm_loadu_pd(above + J);
        const __m128d left = _mm_loadu_pd(here + J - 1);
        // Ordered comparisons, false with a NaN operand, as in backtrack_move.
        const int diagonal_wins = _mm_movemask_pd(_mm_and_pd(_mm_cmple_pd(diagonal, left), _mm_cmple_pd(diagonal, up)));
        const int up_beats_left = _mm_movemask_pd(_mm_cmple_pd(up, left));
        const std::uint16_t pair = kMovePairs[static_cast<unsigned>(diagonal_wins | up_beats_left << 2)];
        std::memcpy(moves + (J - window.first), &pair, sizeof pair);
    }
#endif
    for (; J <= window.last; ++J) moves[J - window.first] = backtrack_move(above[J - 1], above[J], here[J - 1]);
}

// The recurrence of dtw_pair, strip by strip with the same operations (so the same A[n][m]),
// keeping every row of a strip and the row above it to record the moves from. Returns A[n][m].
template <std::size_t D, bool NanFree>
double forward_pass(const double* x, const double* y, std::size_t n, std::size_t m, std::size_t d,
                    const Span* spans, MoveTable& table) {
    using namespace dtw_detail;
    constexpr std::size_t R = kStripRows;
    Buffer<double> storage = Buffer<double>::filled(checked_mul(R + 1, checked_add(m, 1)), kInfinity);
    double* rows[R + 1];  // rows[0]: the row above the strip; rows[1..]: the strip's rows
    Span held[R + 1];     // the columns each row holds values in; +inf elsewhere
    for (std::size_t r = 0; r <= R; ++r) {
        rows[r] = storage.data() + r * (m + 1);
        held[r] = Span{1, 0};
    }
    rows[0][0] = 0.0;
    held[0] = Span{0, 0};
    for (std::size_t t = 0; t < n;) {
        const bool strip = t + R <= n && strip_pays<R>(spans + t);
        const std::size_t count = strip ? R : 1;
        const Span written = strip ? run_strip<R, D, NanFree, true>(x, y, d, spans + t, t, rows[0], rows + 1)
                                   : run_strip<1, D, NanFree, true>(x, y, d, spans + t, t, rows[0], rows + 1);
        for (std::size_t r = 1; r <= count; ++r) {
            clear_outside(rows[r], held[r], written);
            held[r] = written;
        }
        for (std::size_t r = 0; r < count; ++r) record_moves(table, t + r, rows[r], rows[r + 1]);
        std::swap(rows[0], rows[count]);
        std::swap(held[0], held[count]);
        t += count;
    }
    return rows[0][m];
}

WarpingPath backtrack(const MoveTable& table, std::size_t n, std::size_t m) {
    WarpingPath path;
    path.reserve(n + m - 1);
    std::size_t i = n, j = m;  // positions in A
    do {
        path.emplace_back(i - 1, j - 1);
        switch (table.at(i - 1, j)) {
            case kDiagonal: --i, --j; break;
            case kUp: --i; break;
            default: --j; break;
        }
    } while (i > 0 && j > 0);
    std::reverse(path.begin(), path.end());
    return path;
}

}  // namespace

std::pair<double, WarpingPath> dtw_with_path_py(const Series& x, const Series& y, BandRadius radius) {
    using namespace dtw_detail;
    const std::size_t n = x.extent(0), m = y.extent(0), d = x.extent(1);
    if (n == 0 || m == 0) return {n == m ? 0.0 : kInf, WarpingPath{}};
    check_feature_counts(x, y);
    auto xs = Buffer<double>::uninitialized(checked_mul(n, d));
    auto ys = Buffer<double>::uninitialized(checked_mul(m, d));
    const bool nan_free = pack_steps(x, d, xs.data()) & pack_steps(y, d, ys.data());
    const auto spans = band_spans(n, m, radius);
    MoveTable table = plan_moves(spans.data(), n, m);
    const auto pass = d == 1 ? (nan_free ? forward_pass<1, true> : forward_pass<1, false>)
                             : (nan_free ? forward_pass<0, true> : forward_pass<0, false>);
    const double last = pass(xs.data(), ys.data(), n, m, d, spans.data(), table);
    WarpingPath path = backtrack(table, n, m);
    return {std::sqrt(last), std::move(path)};
}

}  // namespace rc::distances
