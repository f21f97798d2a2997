#include "distances/soft_dtw.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <utility>

#include "distances/cost.hpp"
#include "distances/cost_rows.hpp"
#include "distances/pairwise.hpp"

// A cell costs two exp calls and one log call and depends on its left neighbour, so a plain
// row sweep waits for the whole latency of those calls at every step. Both entry points keep
// several independent cells next to each other in program order, for the processor to overlap:
// soft_dtw_pair sweeps a few rows at once, each row one column behind the row above it, and
// cdist_soft_dtw sweeps several pairs of a matrix row in lock-step. Every cell is computed by
// the same scalar sequence either way, and only a few rows of each accumulated matrix are kept.

namespace rc::distances {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

// Whether min(a, b), ignoring a NaN operand, is b: b is smaller, or a is NaN. The minimum is NaN
// only when both are NaN.
inline bool takes_second(double a, double b) noexcept { return (b < a) | std::isnan(a); }

// One cell, literally: mu = min(min(up, diag), left) ignoring NaN operands,
// s = (exp((mu - up) / g) + exp((mu - diag) / g)) + exp((mu - left) / g) in this order, and
// R = (mu - ln(s) * g) + cost.
inline double soft_cell_in_full(double up, double diag, double left, double cost, double gamma) noexcept {
    const double m1 = takes_second(up, diag) ? diag : up;
    const double mu = takes_second(m1, left) ? left : m1;
    const double s = (std::exp((mu - up) / gamma) + std::exp((mu - diag) / gamma)) + std::exp((mu - left) / gamma);
    return (mu - std::log(s) * gamma) + cost;
}

// gamma for which (mu - v) / gamma is exactly ±0 whenever v == mu and mu is finite, so the
// neighbour holding the minimum contributes exp(±0) = 1 exactly.
inline bool min_term_is_one(double gamma) noexcept { return std::isfinite(gamma) && gamma != 0.0; }

// The same cell with the minimum's own term taken as the exact 1 it evaluates to, which saves
// one of the three exp calls. The sum keeps its bits: with the minimum's term at position 1 or
// 2 the first addition is 1 + e or e + 1, the same value; with it at position 3 the sum is
// (e + e') + 1, and the order of e and e' does not matter either. When two neighbours tie for
// the minimum the other's term is exp(±0) = 1 anyway, so either may be taken as the minimum.
// skip_min_term is min_term_is_one(gamma); a non-finite minimum takes the literal formula.
inline double soft_cell(double up, double diag, double left, double cost, double gamma, bool skip_min_term) noexcept {
    const bool diag_first = takes_second(up, diag);
    const double m1 = diag_first ? diag : up;     // min(up, diag)
    const double other = diag_first ? up : diag;  // the other one of the two
    const bool left_is_min = takes_second(m1, left);
    const double mu = left_is_min ? left : m1;
    if (!skip_min_term || !std::isfinite(mu)) return soft_cell_in_full(up, diag, left, cost, gamma);
    // The two neighbours whose terms are not 1.
    const double p = left_is_min ? m1 : other;
    const double q = left_is_min ? other : left;
    const double e_p = std::exp((mu - p) / gamma);
    const double e_q = std::exp((mu - q) / gamma);
    const double s = left_is_min ? (e_p + e_q) + 1.0 : (1.0 + e_p) + e_q;
    return (mu - std::log(s) * gamma) + cost;
}

// R[n][m] when a series is empty: R[0][0] = 0 for two empty series, otherwise a boundary cell
// at +inf. Answered without sweeping, which for an empty y would still visit every row of x.
inline double empty_alignment(std::size_t n, std::size_t m) noexcept { return n == m ? 0.0 : kInf; }

// Row 0 of the accumulated matrix: R[0][0] = 0, +inf elsewhere.
void fill_first_row(double* row, std::size_t m) {
    row[0] = 0.0;
    std::fill(row + 1, row + m + 1, kInf);
}

// --- one pair, several rows in flight ---------------------------------------------------------

constexpr std::size_t kRowsInFlight = 4;

// Rows first..first+Rows-1 of x, that is rows first+1.. of R. rows[0] holds the R row above the
// block and rows[1..Rows] receive the block's rows. Row w+1 trails row w by one column, so the
// cells of one step never depend on each other.
template <std::size_t Rows>
void soft_dtw_row_block(const Series& x, std::size_t first, const Series& y, double gamma, bool skip,
                        double* const* rows, double* cost) {
    const std::size_t m = y.extent(0);
    for (std::size_t w = 0; w < Rows; ++w) {
        cost_row(x, first + w, y, cost + w * m, 1, m);
        rows[w + 1][0] = kInf;
    }
    auto cell = [&](std::size_t w, std::size_t j) {
        const double* above = rows[w];
        double* row = rows[w + 1];
        row[j] = soft_cell(above[j], above[j - 1], row[j - 1], cost[w * m + j - 1], gamma, skip);
    };
    // Step t computes column t - w of row w, for every row whose column is in [1, m].
    const std::size_t last_step = m + Rows - 1;
    for (std::size_t t = 1; t <= last_step; ++t) {
        if (t >= Rows && t <= m) {
            for (std::size_t w = 0; w < Rows; ++w) cell(w, t - w);
        } else {
            for (std::size_t w = 0; w < Rows; ++w)
                if (t > w && t - w <= m) cell(w, t - w);
        }
    }
}

// --- several pairs in lock-step ---------------------------------------------------------------

constexpr std::size_t kPairsInFlight = 4;

// out[k] = soft_dtw_pair(x, ys[k], gamma) for k < Lanes, all ys of one shape (m time steps). The
// workspace holds (3m + 2) * Lanes doubles: two rows of the Lanes accumulated matrices and one
// row of their costs, interleaved, element [j] of pair k at j * Lanes + k.
template <std::size_t Lanes>
void soft_dtw_lanes(const Series& x, const Series* ys, double gamma, double* workspace, double* out) {
    const std::size_t n = x.extent(0), m = ys[0].extent(0);
    for (std::size_t k = 0; k < Lanes; ++k) check_feature_counts(x, ys[k]);
    const bool skip = min_term_is_one(gamma);
    const std::size_t width = (m + 1) * Lanes;
    double* prev = workspace;
    double* cur = prev + width;
    double* cost = cur + width;
    std::fill(prev, prev + width, kInf);
    for (std::size_t k = 0; k < Lanes; ++k) prev[k] = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        for (std::size_t k = 0; k < Lanes; ++k) cost_row(x, i, ys[k], cost + k, Lanes, m);
        for (std::size_t k = 0; k < Lanes; ++k) cur[k] = kInf;
        for (std::size_t at = Lanes; at < width; at += Lanes)
            for (std::size_t k = 0; k < Lanes; ++k)
                cur[at + k] = soft_cell(prev[at + k], prev[at - Lanes + k], cur[at - Lanes + k], cost[at - Lanes + k],
                                        gamma, skip);
        std::swap(prev, cur);
    }
    for (std::size_t k = 0; k < Lanes; ++k) out[k] = prev[m * Lanes + k];
}

// Row i of the matrix, x against every series of y: groups of kPairsInFlight pairs, then the
// few remaining ones together, all in one workspace.
void soft_dtw_row(const Series& x, const SeriesSet& y, double gamma, double* row) {
    static_assert(kPairsInFlight == 4, "the remainder cases below cover 1 to kPairsInFlight - 1");
    const std::size_t count = y.extent(0), m = y.extent(1);
    if (x.extent(0) == 0 || m == 0) {
        std::fill(row, row + count, empty_alignment(x.extent(0), m));
        return;
    }
    // (3m + 2) doubles per lane, for the largest group.
    auto workspace = Buffer<double>::uninitialized(checked_mul(checked_add(checked_mul(m, 3), 2), kPairsInFlight));
    std::array<Series, kPairsInFlight> group;
    std::size_t j = 0;
    for (; j + kPairsInFlight <= count; j += kPairsInFlight) {
        for (std::size_t k = 0; k < kPairsInFlight; ++k) group[k] = y[j + k];
        soft_dtw_lanes<kPairsInFlight>(x, group.data(), gamma, workspace.data(), row + j);
    }
    for (std::size_t k = 0; j + k < count; ++k) group[k] = y[j + k];
    switch (count - j) {
        case 3: soft_dtw_lanes<3>(x, group.data(), gamma, workspace.data(), row + j); break;
        case 2: soft_dtw_lanes<2>(x, group.data(), gamma, workspace.data(), row + j); break;
        case 1: soft_dtw_lanes<1>(x, group.data(), gamma, workspace.data(), row + j); break;
        default: break;
    }
}

}  // namespace

double soft_dtw_pair(const Series& x, const Series& y, double gamma) {
    check_feature_counts(x, y);
    const std::size_t n = x.extent(0), m = y.extent(0);
    if (n == 0 || m == 0) return empty_alignment(n, m);
    const bool skip = min_term_is_one(gamma);
    // One allocation: kRowsInFlight + 1 rows of R, then kRowsInFlight rows of costs.
    const std::size_t width = checked_add(m, 1);
    auto storage = Buffer<double>::uninitialized(
        checked_add(checked_mul(width, kRowsInFlight + 1), checked_mul(m, kRowsInFlight)));
    std::array<double*, kRowsInFlight + 1> rows;
    for (std::size_t w = 0; w <= kRowsInFlight; ++w) rows[w] = storage.data() + w * width;
    double* cost = storage.data() + (kRowsInFlight + 1) * width;
    fill_first_row(rows[0], m);

    std::size_t i = 0;
    for (; i + kRowsInFlight <= n; i += kRowsInFlight) {
        soft_dtw_row_block<kRowsInFlight>(x, i, y, gamma, skip, rows.data(), cost);
        std::swap(rows[0], rows[kRowsInFlight]);
    }
    for (; i < n; ++i) {
        soft_dtw_row_block<1>(x, i, y, gamma, skip, rows.data(), cost);
        std::swap(rows[0], rows[1]);
    }
    return rows[0][m];
}

Matrix<double> cdist_soft_dtw(const SeriesSet& x, const SeriesSet& y, double gamma) {
    return pairwise_rows(x.extent(0), y.extent(0),
                         [&](std::size_t i, double* row) { soft_dtw_row(x[i], y, gamma, row); });
}

}  // namespace rc::distances
