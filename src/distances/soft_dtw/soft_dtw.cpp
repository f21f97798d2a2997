// Soft-DTW drivers. A cell costs two exp calls and one log call and depends on its left
// neighbour, so a plain row sweep would wait for the whole latency of those calls at every step.
// Both entry points keep many independent cells side by side for the processor to overlap their
// calls: soft_dtw_pair sweeps strips of rows, each row one column behind the row above it, and
// cdist_soft_dtw sweeps groups of pairs of a matrix row in lock-step. The cells themselves are
// the kernel table's (soft_dtw/cells_lanes.hpp); only a few rows of each accumulated matrix are kept.
#include "distances/soft_dtw/soft_dtw.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <utility>

#include "distances/alignment.hpp"
#include "distances/cost/cost.hpp"
#include "distances/cost/rows.hpp"
#include "distances/pairwise.hpp"
#include "distances/soft_dtw/kernels.hpp"
#include "libm/entries.hpp"

namespace rc::distances {

// One cell, literally: mu = min(min(up, diag), left) ignoring NaN operands,
// s = (exp((mu - up) / g) + exp((mu - diag) / g)) + exp((mu - left) / g) in this order, and
// R = (mu - ln(s) * g) + cost.
double soft_dtw::literal_cell(double up, double diag, double left, double cost, double gamma,
                              const libm::Entries& libm) noexcept {
    const auto min_ignoring_nan = [](double a, double b) { return b < a || a != a ? b : a; };
    const double mu = min_ignoring_nan(min_ignoring_nan(up, diag), left);
    const double s = (libm.exp_or_zero((mu - up) / gamma) + libm.exp_or_zero((mu - diag) / gamma)) +
                     libm.exp_or_zero((mu - left) / gamma);
    return (mu - libm.log(s) * gamma) + cost;
}

namespace {

using soft_dtw::kWidest;
using soft_dtw::kWidthCount;
using soft_dtw::kWidths;

constexpr double kInfinity = std::numeric_limits<double>::infinity();

// What every cell of one call shares: gamma, whether the minimum's term may be taken as 1, and
// the library entries, copied here once.
struct CellRule {
    libm::Entries libm;
    soft_dtw::Smoothing smoothing;

    explicit CellRule(double gamma) noexcept
        : libm(libm::entries()),
          smoothing{gamma, exact_reciprocal(gamma), std::isfinite(gamma) && gamma != 0.0, &libm,
                    libm::kernel_exp_variant(), libm.log_bracketed} {}
    CellRule(const CellRule&) = delete;
};

// R[n][m] when a series is empty: R[0][0] = 0 for two empty series, otherwise a boundary cell at
// +inf.
inline double empty_soft_alignment(std::size_t n, std::size_t m) noexcept { return empty_alignment(n, m, 0.0, kInfinity); }

// out[k] = soft_dtw_pair(x, ys[k], gamma) for k < lanes, all ys of one shape (m time steps). Rows
// go two at a time where the table has a kernel for it, the last odd one alone. The workspace
// holds (5m + 3) * lanes doubles: three rows of the accumulated matrices and two rows of their
// costs, interleaved, element [j] of pair k at j * lanes + k; `features`, if not null, m * d *
// lanes more.
void soft_dtw_group(const Series& x, const Series* ys, std::size_t lanes, const CellRule& rule,
                    soft_dtw::RowKernel sweep_row, soft_dtw::TwoRowKernel sweep_two_rows, double* workspace,
                    double* features, double* out) {
    const std::size_t n = x.extent(0), m = ys[0].extent(0), d = x.extent(1);
    for (std::size_t k = 0; k < lanes; ++k) check_feature_counts(x, ys[k]);
    if (features != nullptr) interleave_features(ys, lanes, d, features);
    const std::size_t width = (m + 1) * lanes;
    double* prev = workspace;
    double* cur = prev + width;
    double* next = cur + width;
    double* cost = next + width;
    double* next_cost = cost + m * lanes;
    auto costs_of_row = [&](std::size_t i, double* to) {
        if (features != nullptr)
            costs_from_features(x, i, features, m, lanes, m, to);
        else
            for (std::size_t k = 0; k < lanes; ++k) row_costs(x, i, ys[k], to + k, lanes, m);
    };
    std::fill(prev, prev + width, kInfinity);
    std::fill(prev, prev + lanes, 0.0);
    std::size_t i = 0;
    if (sweep_two_rows != nullptr)
        for (; i + 2 <= n; i += 2) {
            costs_of_row(i, cost);
            costs_of_row(i + 1, next_cost);
            std::fill(cur, cur + lanes, kInfinity);
            std::fill(next, next + lanes, kInfinity);
            sweep_two_rows({prev, cur, next, cost, next_cost, m, rule.smoothing});
            std::swap(prev, next);
        }
    for (; i < n; ++i) {
        costs_of_row(i, cost);
        std::fill(cur, cur + lanes, kInfinity);
        sweep_row({prev, cur, cost, m, rule.smoothing});
        std::swap(prev, cur);
    }
    for (std::size_t k = 0; k < lanes; ++k) out[k] = prev[m * lanes + k];
}

// Row i of the matrix, x against every series of y: groups of the table's widths, widest first,
// all in one workspace.
void soft_dtw_row(const Series& x, const SeriesSet& y, const CellRule& rule, double* row) {
    const std::size_t count = y.extent(0), m = y.extent(1);
    if (x.extent(0) == 0 || m == 0) {
        std::fill(row, row + count, empty_soft_alignment(x.extent(0), m));
        return;
    }
    // (5m + 3) doubles per lane, for the widest group, and the features of its series.
    const std::size_t widest = std::min(count, kWidest), d = x.extent(1);
    auto workspace = Buffer<double>::uninitialized(checked_mul(checked_add(checked_mul(m, 5), 3), widest));
    const bool copy = d > 0 && m <= kMaxFeatureCopy / d / widest;
    auto feature_copy = Buffer<double>::uninitialized(copy ? m * d * widest : 0);
    double* const features = copy ? feature_copy.data() : nullptr;
    const soft_dtw::Kernels& kernels = soft_dtw::kernels();
    std::array<Series, kWidest> group;
    std::size_t j = 0;
    for (std::size_t w = 0; w < kWidthCount; ++w) {
        const std::size_t lanes = kWidths[w];
        if (kernels.rows[w] == nullptr) continue;  // a width this instruction set leaves out
        for (; j + lanes <= count; j += lanes) {
            for (std::size_t k = 0; k < lanes; ++k) group[k] = y[j + k];
            soft_dtw_group(x, group.data(), lanes, rule, kernels.rows[w], kernels.two_rows[w], workspace.data(),
                           features, row + j);
        }
    }
}

}  // namespace

double soft_dtw_pair(const Series& x, const Series& y, double gamma) {
    check_feature_counts(x, y);
    const std::size_t n = x.extent(0), m = y.extent(0);
    if (n == 0 || m == 0) return empty_soft_alignment(n, m);
    const CellRule rule(gamma);
    // One allocation: two rows of R, then the skewed costs of a strip.
    const std::size_t width = checked_add(m, 1);
    auto storage = Buffer<double>::uninitialized(checked_add(checked_mul(width, 2), checked_mul(checked_add(m, kWidest), kWidest)));
    double* above = storage.data();
    double* below = above + width;
    double* cost = below + width;
    above[0] = 0.0;
    std::fill(above + 1, above + width, kInfinity);
    // Strips of the table's widths, widest first, with their costs skewed to match.
    const soft_dtw::Kernels& kernels = soft_dtw::kernels();
    std::size_t i = 0;
    for (std::size_t w = 0; w < kWidthCount; ++w) {
        const std::size_t lanes = kWidths[w];
        if (kernels.strips[w] == nullptr) continue;
        for (; i + lanes <= n; i += lanes) {
            std::fill(cost, cost + (m + lanes) * lanes, 0.0);
            for (std::size_t r = 0; r < lanes; ++r) row_costs(x, i + r, y, cost + (r + 1) * lanes + r, lanes, m);
            below[0] = kInfinity;
            kernels.strips[w]({above, below, cost, m, rule.smoothing});
            std::swap(above, below);
        }
    }
    return above[m];
}

Matrix<double> cdist_soft_dtw(const SeriesSet& x, const SeriesSet& y, double gamma) {
    const CellRule rule(gamma);
    return pairwise_rows(x.extent(0), y.extent(0),
                         [&](std::size_t i, double* row) { soft_dtw_row(x[i], y, rule, row); });
}

}  // namespace rc::distances
