#include "distances/soft_dtw.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <utility>

#include "distances/cost.hpp"
#include "distances/pairwise.hpp"

// Each cell costs two or three exp calls and one log call, and the cell depends on its left
// neighbour, so a plain row sweep waits on the full latency of those calls at every step.
// Both entry points therefore keep several independent cells in flight, always computing each
// cell by the same scalar sequence: soft_dtw_pair sweeps a few rows at once with each row one
// column behind the row above it; cdist_soft_dtw sweeps several pairs of a row in lock-step.
// Only two rows of the accumulated matrix (per pair) are kept.

namespace rc::distances {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

// The smaller of a and b where a NaN operand is ignored; NaN only when both are NaN.
inline double min_ignoring_nan(double a, double b) noexcept { return (b < a || std::isnan(a)) ? b : a; }

// gamma for which (mu - v) / gamma is exactly ±0 whenever v == mu and mu is finite, so the
// neighbour holding the minimum contributes exp(±0) = 1 exactly.
inline bool min_term_is_one(double gamma) noexcept { return std::isfinite(gamma) && gamma != 0.0; }

// One cell: R = (mu - ln(s) * gamma) + cost with mu the NaN-ignoring minimum of the three
// neighbours and s = (exp((mu-up)/g) + exp((mu-diag)/g)) + exp((mu-left)/g) in this order.
// When the term of the minimum is known to be exactly 1 it is not computed; the two others are,
// and the sum keeps its order, so the bits are those of the three-term formula.
inline double soft_cell(double up, double diag, double left, double cost, double gamma, bool skip_min_term) noexcept {
    const double mu = min_ignoring_nan(min_ignoring_nan(up, diag), left);
    double e_up, e_diag, e_left;
    if (skip_min_term && std::isfinite(mu)) {
        // mu equals one of the neighbours; take the first that does as the term equal to 1.
        const bool up_is_min = up == mu;
        const bool diag_is_min = !up_is_min && diag == mu;
        const bool left_is_min = !up_is_min && !diag_is_min;
        const double first = up_is_min ? diag : up;
        const double second = left_is_min ? diag : left;
        const double e_first = std::exp((mu - first) / gamma);
        const double e_second = std::exp((mu - second) / gamma);
        e_up = up_is_min ? 1.0 : e_first;
        e_diag = up_is_min ? e_first : (diag_is_min ? 1.0 : e_second);
        e_left = left_is_min ? 1.0 : e_second;
    } else {
        e_up = std::exp((mu - up) / gamma);
        e_diag = std::exp((mu - diag) / gamma);
        e_left = std::exp((mu - left) / gamma);
    }
    const double s = (e_up + e_diag) + e_left;
    return (mu - std::log(s) * gamma) + cost;
}

// Row 0 of the accumulated matrix: R[0][0] = 0, +inf elsewhere.
void fill_first_row(double* row, std::size_t m) {
    row[0] = 0.0;
    std::fill(row + 1, row + m + 1, kInf);
}

// --- one pair, several rows in flight ---------------------------------------------------------

// Rows first..first+Rows-1 of x (1-based rows first+1.. of R) against y. rows[0] holds the R row
// above the block; rows[1..Rows] receive the block's rows. Row w+1 trails row w by one column,
// so at every step the Rows cells being computed are independent of each other.
template <std::size_t Rows>
void soft_dtw_row_block(const Series& x, std::size_t first, const Series& y, double gamma, bool skip,
                        double* const* rows, double* cost) {
    const std::size_t m = y.extent(0);
    for (std::size_t w = 0; w < Rows; ++w) {
        for (std::size_t j = 0; j < m; ++j) cost[w * m + j] = squared_euclidean_cost(x, first + w, y, j);
        rows[w + 1][0] = kInf;
    }
    auto cell = [&](std::size_t w, std::size_t j) {
        const double* above = rows[w];
        double* row = rows[w + 1];
        row[j] = soft_cell(above[j], above[j - 1], row[j - 1], cost[w * m + j - 1], gamma, skip);
    };
    // Step t computes column j = t - w of row w, for every row whose column is in range.
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

constexpr std::size_t kRowsInFlight = 3;

// --- several pairs in lock-step ---------------------------------------------------------------

// out[k] = soft_dtw_pair(x, ys[k], gamma) for k < Lanes; all ys have the same shape. Rows of the
// Lanes accumulated matrices are stored interleaved, element [j][k] at j * Lanes + k.
template <std::size_t Lanes>
void soft_dtw_lanes(const Series& x, const Series* ys, double gamma, double* out) {
    const std::size_t n = x.extent(0), m = ys[0].extent(0);
    for (std::size_t k = 0; k < Lanes; ++k) check_feature_counts(x, ys[k]);
    const bool skip = min_term_is_one(gamma);
    const std::size_t width = checked_mul(checked_add(m, 1), Lanes);
    auto prev = Buffer<double>::filled(width, kInf);
    auto cur = Buffer<double>::uninitialized(width);
    auto cost = Buffer<double>::uninitialized(checked_mul(m, Lanes));
    for (std::size_t k = 0; k < Lanes; ++k) prev[k] = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        for (std::size_t j = 0; j < m; ++j)
            for (std::size_t k = 0; k < Lanes; ++k) cost[j * Lanes + k] = squared_euclidean_cost(x, i, ys[k], j);
        const double* up = prev.data();
        double* row = cur.data();
        for (std::size_t k = 0; k < Lanes; ++k) row[k] = kInf;
        for (std::size_t j = 1; j <= m; ++j) {
            const std::size_t at = j * Lanes;
            for (std::size_t k = 0; k < Lanes; ++k)
                row[at + k] = soft_cell(up[at + k], up[at - Lanes + k], row[at - Lanes + k],
                                        cost[at - Lanes + k], gamma, skip);
        }
        std::swap(prev, cur);
    }
    for (std::size_t k = 0; k < Lanes; ++k) out[k] = prev[m * Lanes + k];
}

constexpr std::size_t kPairsInFlight = 4;

// Row i of the matrix: the pairs in groups of kPairsInFlight, then the remaining few together.
void soft_dtw_row(const Series& x, const std::vector<Series>& ys, double gamma, double* row) {
    std::size_t j = 0;
    for (; j + kPairsInFlight <= ys.size(); j += kPairsInFlight)
        soft_dtw_lanes<kPairsInFlight>(x, &ys[j], gamma, row + j);
    switch (ys.size() - j) {
        case 3: soft_dtw_lanes<3>(x, &ys[j], gamma, row + j); break;
        case 2: soft_dtw_lanes<2>(x, &ys[j], gamma, row + j); break;
        case 1: soft_dtw_lanes<1>(x, &ys[j], gamma, row + j); break;
        default: break;
    }
    static_assert(kPairsInFlight == 4, "the remainder cases above cover 1 to kPairsInFlight - 1");
}

}  // namespace

double soft_dtw_pair(const Series& x, const Series& y, double gamma) {
    check_feature_counts(x, y);
    const std::size_t n = x.extent(0), m = y.extent(0);
    const bool skip = min_term_is_one(gamma);
    const std::size_t width = checked_add(m, 1);
    auto storage = Buffer<double>::uninitialized(checked_mul(width, kRowsInFlight + 1));
    auto cost = Buffer<double>::uninitialized(checked_mul(m, kRowsInFlight));
    std::array<double*, kRowsInFlight + 1> rows;
    for (std::size_t w = 0; w <= kRowsInFlight; ++w) rows[w] = storage.data() + w * width;
    fill_first_row(rows[0], m);

    std::size_t i = 0;
    for (; i + kRowsInFlight <= n; i += kRowsInFlight) {
        soft_dtw_row_block<kRowsInFlight>(x, i, y, gamma, skip, rows.data(), cost.data());
        std::swap(rows[0], rows[kRowsInFlight]);
    }
    for (; i < n; ++i) {
        soft_dtw_row_block<1>(x, i, y, gamma, skip, rows.data(), cost.data());
        std::swap(rows[0], rows[1]);
    }
    return rows[0][m];
}

Matrix<double> cdist_soft_dtw(const SeriesSet& x, const SeriesSet& y, double gamma) {
    const auto xs = series_views(x);
    const auto ys = series_views(y);
    return pairwise_rows(xs.size(), ys.size(), [&](std::size_t i, double* row) { soft_dtw_row(xs[i], ys, gamma, row); });
}

}  // namespace rc::distances
