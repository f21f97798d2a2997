// The DTW distance with its warping path. Instead of the whole accumulated-cost matrix, the
// forward pass keeps two rows of it and records, for every cell the backtracking could reach
// from a finite predecessor, the move the backtracking will take there: one byte per cell.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

#include "distances/cost.hpp"
#include "distances/dtw.hpp"
#include "distances/dtw_kernels.hpp"

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

// The moves of the cells whose predecessors are not all +inf; every other cell moves
// diagonally (+inf <= +inf). For row i of x (A's row i + 1) those are the columns next to the
// band's cells of rows i - 1 and i, window[i]; their moves lie at moves[offset[i]...].
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

// The recurrence of dtw_pair (same operations, so the same A[n][m]) over two rows of A,
// recording the moves of table's windows. Returns A[n][m].
template <std::size_t D, bool NanFree>
double forward_pass(const double* x, const double* y, std::size_t n, std::size_t m, std::size_t d,
                    const Span* spans, MoveTable& table) {
    using dtw_detail::min_ignoring_nan;
    using dtw_detail::plain_min;
    const std::size_t dim = D ? D : d;
    auto previous_buffer = Buffer<double>::filled(m + 1, kInf);
    auto current_buffer = Buffer<double>::filled(m + 1, kInf);
    double* previous = previous_buffer.data();
    double* current = current_buffer.data();
    previous[0] = 0.0;
    Span previous_live{0, 0}, current_live{1, 0};  // the columns each buffer holds values in
    for (std::size_t i = 0; i < n; ++i) {
        const Span span = spans[i];
        // The buffer still holds row i - 1 of A; everything outside this row's span is +inf.
        for (std::size_t J = current_live.first; J <= current_live.last; ++J)
            if (J < span.first || J > span.last) current[J] = kInf;
        const Span window = table.window[i];  // contains the span
        std::uint8_t* moves = table.moves.data() + table.offset[i];  // moves[J - window.first]
        const double* xi = x + i * dim;
        // Left of the span, this row of A is +inf; within it, computed; right of it, +inf
        // again after the span's last value.
        const bool has_cells = span.first <= span.last;
        const std::size_t computed_first = has_cells ? span.first : window.last + 1;
        const std::size_t computed_last = has_cells ? span.last : window.last;
        std::size_t J = window.first;
        for (; J < computed_first; ++J) moves[J - window.first] = backtrack_move(previous[J - 1], previous[J], kInf);
        double left = kInf;
        for (; J <= computed_last; ++J) {
            const double up = previous[J], diagonal = previous[J - 1];
            moves[J - window.first] = backtrack_move(diagonal, up, left);
            const double cost = dtw_detail::step_cost<D>(xi, y + (J - 1) * dim, dim);
            const double best = NanFree ? plain_min(plain_min(up, diagonal), left)
                                        : min_ignoring_nan(min_ignoring_nan(up, left), diagonal);
            left = cost + best;
            current[J] = left;
        }
        for (; J <= window.last; ++J) {
            moves[J - window.first] = backtrack_move(previous[J - 1], previous[J], left);
            left = kInf;
        }
        std::swap(previous, current);
        current_live = previous_live;
        previous_live = span;
    }
    return previous[m];
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
