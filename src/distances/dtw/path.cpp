// The DTW distance with its warping path. Instead of the whole accumulated-cost matrix, the
// forward pass (dtw/path_lanes.hpp) keeps a few rows of it at a time and records the move the
// backtracking will take from each cell next to the band, one byte per cell; here the moves are
// planned and followed back. The backtracking may cross cells outside the band (when the band
// does not connect the corners), and there every predecessor is +inf.
#include <algorithm>
#include <cmath>
#include <limits>

#include "distances/cost/cost.hpp"
#include "distances/dtw/band.hpp"
#include "distances/dtw/dtw.hpp"
#include "distances/dtw/kernels.hpp"

namespace rc::distances {
namespace {

using dtw::kDiagonal;
using dtw::kUp;
using dtw::Span;

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

std::pair<double, WarpingPath> dtw_with_path(const Series& x, const Series& y, BandRadius radius) {
    using namespace dtw;
    const std::size_t n = x.extent(0), m = y.extent(0), d = x.extent(1);
    if (n == 0 || m == 0) return {empty_pair_distance(n, m), WarpingPath{}};
    check_feature_counts(x, y);
    auto xs = Buffer<double>::uninitialized(checked_mul(n, d));
    auto ys = Buffer<double>::uninitialized(checked_mul(m, d));
    const bool x_nan_free = pack_steps(x, d, xs.data()), y_nan_free = pack_steps(y, d, ys.data());
    const bool nan_free = x_nan_free && y_nan_free;
    const auto spans = band_spans(n, m, radius);
    MoveTable table = plan_moves(spans.data(), n, m);
    // The row above a strip and the strip's rows.
    auto rows = Buffer<double>::filled(checked_mul(kStripRows + 1, checked_add(m, 1)), std::numeric_limits<double>::infinity());
    const LaneProblem pair{xs.data(), ys.data(), spans.data(), n, m, d, nan_free, nullptr, nullptr};
    const Kernels& kernels = dtw::kernels();
    const double last = kernels.path(
        {pair, rows.data(), table.window.data(), table.offset.data(), table.moves.data(), kernels.record_moves});
    WarpingPath path = backtrack(table, n, m);
    return {std::sqrt(last), std::move(path)};
}

}  // namespace rc::distances
