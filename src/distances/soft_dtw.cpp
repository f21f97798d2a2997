#include "distances/soft_dtw.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "distances/cost.hpp"
#include "distances/cost_rows.hpp"
#include "distances/pairwise.hpp"
#include "distances/soft_dtw_lanes.hpp"
#include "libm_entry.hpp"
#include "simd/exp.hpp"
#include "simd_level.hpp"

// A cell costs two exp calls and one log call and depends on its left neighbour, so a plain
// row sweep waits for the whole latency of those calls at every step. Both entry points keep
// many independent cells side by side, for the processor to overlap their calls:
// soft_dtw_pair sweeps strips of rows, each row one column behind the row above it, and
// cdist_soft_dtw sweeps groups of pairs of a matrix row in lock-step. Where the instruction set
// allows (and gamma lets the minimum's term be 1) those cells sit in SIMD lanes
// (soft_dtw_lanes_kernel.hpp); the few left over, and every cell of an unusual gamma, go
// through the scalar cells below. Every cell is computed by the same scalar sequence either way,
// and only a few rows of each accumulated matrix are kept.

namespace rc::distances {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kMinusInf = -kInf;

// Which neighbour holds the minimum follows the data, so the selections below are made without
// branches: a mispredicted branch would discard the exp and log calls of the other cells in
// flight. A Choice is a comparison's outcome kept where the compared doubles live.
#if defined(__SSE2__)
struct Choice {
    __m128d mask;  // all ones in the low lane for true
};

// Whether min(a, b), ignoring a NaN operand, is b: b is smaller, or a is NaN. The minimum is NaN
// only when both are NaN.
inline Choice takes_second(double a, double b) noexcept {
    const __m128d va = _mm_set_sd(a), vb = _mm_set_sd(b);
    return {_mm_or_pd(_mm_cmplt_sd(vb, va), _mm_cmpunord_sd(va, va))};
}

// Whether a < b.
inline Choice less(double a, double b) noexcept { return {_mm_cmplt_sd(_mm_set_sd(a), _mm_set_sd(b))}; }

// a when the choice is true, else b.
inline double pick(Choice c, double a, double b) noexcept {
    return _mm_cvtsd_f64(_mm_or_pd(_mm_and_pd(c.mask, _mm_set_sd(a)), _mm_andnot_pd(c.mask, _mm_set_sd(b))));
}
#else
struct Choice {
    bool value;
};
inline Choice takes_second(double a, double b) noexcept { return {(b < a) | (a != a)}; }
inline Choice less(double a, double b) noexcept { return {a < b}; }
inline double pick(Choice c, double a, double b) noexcept { return c.value ? a : b; }
#endif

// ln(s), where the sum s is exactly 1 whenever the other two terms rounded to zero: then the
// call is skipped, since ln(1) is +0.
inline double log_of_sum(double s, const LibmEntry& libm) noexcept { return s == 1.0 ? 0.0 : libm.log(s); }

// What every cell of one call shares: gamma, whether the minimum's term may be taken as 1
// (gamma finite and non-zero, so that (mu - v) / gamma is exactly ±0 whenever v == mu and mu is
// finite, and exp(±0) = 1), and the library entries, copied here once.
struct CellRule {
    double gamma;
    bool skip_min_term;
    LibmEntry libm;

    explicit CellRule(double g) noexcept
        : gamma(g), skip_min_term(std::isfinite(g) && g != 0.0), libm(libm_entry()) {}
};

// The literal cell (defined below, out of line): taken only when the minimum is not finite or
// gamma does not let the minimum's term be 1.
inline double literal_cell(double up, double diag, double left, double cost, const CellRule& rule) noexcept {
    return soft_dtw_lanes::literal_cell(up, diag, left, cost, rule.gamma, rule.libm);
}

// Cells computed the fast way: the minimum's own term is taken as the exact 1 it evaluates to,
// which saves one of the three exp calls. The sum keeps its bits: with the minimum's term at
// position 1 or 2 the first addition is 1 + e or e + 1, the same value; with it at position 3
// the sum is (e + e') + 1, and the order of e and e' does not matter either. When two
// neighbours tie for the minimum the other's term is exp(±0) = 1 anyway, so either may be
// taken as the minimum.
//
// N independent cells go through each phase together: first every cell's minimum and exp
// arguments, then all first exp calls, all second ones, then the sums and log calls. The calls
// of different cells do not wait for each other, so the processor overlaps them, and nothing
// couples the cells, so a cell that finishes early lets its successor start.
template <std::size_t N>
struct SoftCells {
    double up[N], diag[N], left[N], cost[N];  // inputs, filled by the caller
    double out[N];

    void compute(const CellRule& rule) noexcept {
        const double gamma = rule.gamma;
        const LibmEntry& libm = rule.libm;
        const double negligible = libm.exp_negligible_below;
        double mu[N], first_arg[N], second_arg[N], first_term[N], second_term[N];
        Choice left_is_min[N];
        bool regular = rule.skip_min_term;
        for (std::size_t k = 0; k < N; ++k) {
            const Choice diag_first = takes_second(up[k], diag[k]);
            const double m1 = pick(diag_first, diag[k], up[k]);     // min(up, diag)
            const double other = pick(diag_first, up[k], diag[k]);  // the other one of the two
            left_is_min[k] = takes_second(m1, left[k]);
            mu[k] = pick(left_is_min[k], left[k], m1);
            regular &= std::isfinite(mu[k]);
            // The two neighbours whose terms are not 1.
            const double a_p = (mu[k] - pick(left_is_min[k], m1, other)) / gamma;
            const double a_q = (mu[k] - pick(left_is_min[k], other, left[k])) / gamma;
            // A term below 2^-54 cannot change (1 + e_p) + e_q: 1 + e_p rounds to 1, and adding
            // e_q to a value of at least 1 moves it by less than half an ulp. Such a term becomes
            // exp(-inf) = 0, which costs no call. In (e_p + e_q) + 1 one term can still round the
            // other, so there both must be negligible.
            const Choice tiny_p = less(a_p, negligible), tiny_q = less(a_q, negligible);
            const double skip_p = pick(tiny_p, kMinusInf, a_p), skip_q = pick(tiny_q, kMinusInf, a_q);
            first_arg[k] = pick(left_is_min[k], pick(tiny_q, skip_p, a_p), skip_p);
            second_arg[k] = pick(left_is_min[k], pick(tiny_p, skip_q, a_q), skip_q);
        }
        if (!regular) [[unlikely]] {
            for (std::size_t k = 0; k < N; ++k) out[k] = literal_cell(up[k], diag[k], left[k], cost[k], rule);
            return;
        }
        for (std::size_t k = 0; k < N; ++k) first_term[k] = libm.exp_or_zero(first_arg[k]);
        for (std::size_t k = 0; k < N; ++k) second_term[k] = libm.exp_or_zero(second_arg[k]);
        for (std::size_t k = 0; k < N; ++k) {
            const double e_p = first_term[k], e_q = second_term[k];
            const double s = pick(left_is_min[k], (e_p + e_q) + 1.0, (1.0 + e_p) + e_q);
            out[k] = (mu[k] - log_of_sum(s, libm) * gamma) + cost[k];
        }
    }
};

// One cell, literally: mu = min(min(up, diag), left) ignoring NaN operands,
// s = (exp((mu - up) / g) + exp((mu - diag) / g)) + exp((mu - left) / g) in this order, and
// R = (mu - ln(s) * g) + cost.
}  // namespace

double soft_dtw_lanes::literal_cell(double up, double diag, double left, double cost, double gamma,
                                    const LibmEntry& libm) noexcept {
    const double m1 = pick(takes_second(up, diag), diag, up);
    const double mu = pick(takes_second(m1, left), left, m1);
    const double s = (libm.exp_or_zero((mu - up) / gamma) + libm.exp_or_zero((mu - diag) / gamma)) +
                     libm.exp_or_zero((mu - left) / gamma);
    return (mu - libm.log(s) * gamma) + cost;
}

namespace {

// R[n][m] when a series is empty: R[0][0] = 0 for two empty series, otherwise a boundary cell
// at +inf. Answered without sweeping, which for an empty y would still visit every row of x.
inline double empty_alignment(std::size_t n, std::size_t m) noexcept { return n == m ? 0.0 : kInf; }

// Row 0 of the accumulated matrix: R[0][0] = 0, +inf elsewhere.
void fill_first_row(double* row, std::size_t m) {
    row[0] = 0.0;
    std::fill(row + 1, row + m + 1, kInf);
}

// --- one pair, the rows that the SIMD strips leave ----------------------------------------------

constexpr std::size_t kRowsInFlight = 4;

// Rows first..first+Rows-1 of x, that is rows first+1.. of R. rows[0] holds the R row above the
// block and rows[1..Rows] receive the block's rows. Row w+1 trails row w by one column, so the
// cells of one step never depend on each other.
template <std::size_t Rows>
void soft_dtw_row_block(const Series& x, std::size_t first, const Series& y, const CellRule& rule,
                        double* const* rows, double* cost) {
    const std::size_t m = y.extent(0);
    for (std::size_t w = 0; w < Rows; ++w) {
        cost_row(x, first + w, y, cost + w * m, 1, m);
        rows[w + 1][0] = kInf;
    }
    auto cell = [&](std::size_t w, std::size_t j) {
        SoftCells<1> one;
        const double* above = rows[w];
        one.up[0] = above[j], one.diag[0] = above[j - 1], one.left[0] = rows[w + 1][j - 1], one.cost[0] = cost[w * m + j - 1];
        one.compute(rule);
        rows[w + 1][j] = one.out[0];
    };
    // Step t computes column t - w of row w, for every row whose column is in [1, m].
    const std::size_t last_step = m + Rows - 1;
    for (std::size_t t = 1; t <= last_step; ++t) {
        if (t >= Rows && t <= m) {
            SoftCells<Rows> step;
            for (std::size_t w = 0; w < Rows; ++w) {
                const std::size_t j = t - w;
                step.up[w] = rows[w][j], step.diag[w] = rows[w][j - 1], step.left[w] = rows[w + 1][j - 1];
                step.cost[w] = cost[w * m + j - 1];
            }
            step.compute(rule);
            for (std::size_t w = 0; w < Rows; ++w) rows[w + 1][t - w] = step.out[w];
        } else {
            for (std::size_t w = 0; w < Rows; ++w)
                if (t > w && t - w <= m) cell(w, t - w);
        }
    }
}

// --- several pairs in lock-step ---------------------------------------------------------------

constexpr std::size_t kScalarLanes = 4;  // pairs per group of the cell-by-cell sweep

// The SIMD row kernels of the process's instruction set and exp, or null where there are none.
const soft_dtw_lanes::RowKernels* row_kernels() noexcept {
#if defined(__x86_64__)
    static const soft_dtw_lanes::RowKernels chosen = [] {
        using namespace soft_dtw_lanes;
        const auto variant = static_cast<std::size_t>(simd::kernel_exp_variant());
        switch (simd_level()) {
            case SimdLevel::avx512: {
                RowKernels kernels = kAvx512RowKernels[variant];
                kernels.by_width[2] = kAvx2RowKernels[variant].by_width[2];
                kernels.strip_by_width[2] = kAvx2RowKernels[variant].strip_by_width[2];
                return kernels;
            }
            case SimdLevel::avx2: return kAvx2RowKernels[variant];
            case SimdLevel::scalar: break;
        }
        return kSse2RowKernels[variant];
    }();
    return &chosen;
#else
    return nullptr;
#endif
}

// A group copies its series' features, interleaved for cost rows over all its cells at once,
// when the copy takes at most this many doubles; otherwise its cost rows read the series.
constexpr std::size_t kMaxFeatureCopy = std::size_t{1} << 22;

// out[k] = soft_dtw_pair(x, ys[k], gamma) for k < lanes, all ys of one shape (m time steps). The
// workspace holds (3m + 2) * lanes doubles: two rows of the accumulated matrices and one row of
// their costs, interleaved, element [j] of pair k at j * lanes + k; `features`, if not null,
// m * d * lanes more. sweep_row(above, row, cost) computes columns 1..m of a row whose column 0
// is set.
template <class SweepRow>
void soft_dtw_group(const Series& x, const Series* ys, std::size_t lanes, double* workspace, double* features,
                    double* out, SweepRow&& sweep_row) {
    const std::size_t n = x.extent(0), m = ys[0].extent(0), d = x.extent(1);
    for (std::size_t k = 0; k < lanes; ++k) check_feature_counts(x, ys[k]);
    if (features != nullptr) interleave_features(ys, lanes, d, features);
    const std::size_t width = (m + 1) * lanes;
    double* prev = workspace;
    double* cur = prev + width;
    double* cost = cur + width;
    std::fill(prev, prev + width, kInf);
    std::fill(prev, prev + lanes, 0.0);
    for (std::size_t i = 0; i < n; ++i) {
        if (features != nullptr)
            cost_row_interleaved(x, i, features, m, lanes, m, cost);
        else
            for (std::size_t k = 0; k < lanes; ++k) cost_row(x, i, ys[k], cost + k, lanes, m);
        std::fill(cur, cur + lanes, kInf);
        sweep_row(static_cast<const double*>(prev), cur, static_cast<const double*>(cost));
        std::swap(prev, cur);
    }
    for (std::size_t k = 0; k < lanes; ++k) out[k] = prev[m * lanes + k];
}

// A group of Lanes pairs swept cell by cell, the cells of one column side by side.
template <std::size_t Lanes>
void soft_dtw_scalar_group(const Series& x, const Series* ys, const CellRule& rule, double* workspace,
                           double* features, double* out) {
    const std::size_t width = (ys[0].extent(0) + 1) * Lanes;
    soft_dtw_group(x, ys, Lanes, workspace, features, out, [&](const double* prev, double* cur, const double* cost) {
        for (std::size_t at = Lanes; at < width; at += Lanes) {
            SoftCells<Lanes> column;
            for (std::size_t k = 0; k < Lanes; ++k) {
                column.up[k] = prev[at + k], column.diag[k] = prev[at - Lanes + k];
                column.left[k] = cur[at - Lanes + k], column.cost[k] = cost[at - Lanes + k];
            }
            column.compute(rule);
            for (std::size_t k = 0; k < Lanes; ++k) cur[at + k] = column.out[k];
        }
    });
}

// Row i of the matrix, x against every series of y: groups as wide as the SIMD row kernels take
// (when gamma lets the minimum's term be 1), widest first, then scalar groups of kScalarLanes
// pairs, then the few remaining ones together, all in one workspace.
void soft_dtw_row(const Series& x, const SeriesSet& y, const CellRule& rule, double* row) {
    using soft_dtw_lanes::RowKernels;
    constexpr std::size_t kWidest = RowKernels::kWidths[0];
    const std::size_t count = y.extent(0), m = y.extent(1);
    if (x.extent(0) == 0 || m == 0) {
        std::fill(row, row + count, empty_alignment(x.extent(0), m));
        return;
    }
    const RowKernels* simd = rule.skip_min_term ? row_kernels() : nullptr;
    // (3m + 2) doubles per lane, for the widest group, and the features of its series.
    const std::size_t widest = simd != nullptr ? std::min(count, kWidest) : kScalarLanes, d = x.extent(1);
    auto workspace = Buffer<double>::uninitialized(checked_mul(checked_add(checked_mul(m, 3), 2), widest));
    const bool copy = d > 0 && m <= kMaxFeatureCopy / d / widest;
    auto feature_copy = Buffer<double>::uninitialized(copy ? m * d * widest : 0);
    double* const features = copy ? feature_copy.data() : nullptr;
    std::array<Series, kWidest> group;
    std::size_t j = 0;
    if (simd != nullptr) {
        for (std::size_t w = 0; w < std::size(RowKernels::kWidths); ++w) {
            const std::size_t lanes = RowKernels::kWidths[w];
            const soft_dtw_lanes::RowKernel kernel = simd->by_width[w];
            for (; j + lanes <= count; j += lanes) {
                for (std::size_t k = 0; k < lanes; ++k) group[k] = y[j + k];
                soft_dtw_group(x, group.data(), lanes, workspace.data(), features, row + j,
                               [&](const double* prev, double* cur, const double* cost) {
                                   kernel({prev, cur, cost, m, rule.gamma, &rule.libm});
                               });
            }
        }
    }
    for (; j + kScalarLanes <= count; j += kScalarLanes) {
        for (std::size_t k = 0; k < kScalarLanes; ++k) group[k] = y[j + k];
        soft_dtw_scalar_group<kScalarLanes>(x, group.data(), rule, workspace.data(), features, row + j);
    }
    for (std::size_t k = 0; j + k < count; ++k) group[k] = y[j + k];
    static_assert(kScalarLanes == 4, "the remainder cases below cover 1 to kScalarLanes - 1");
    switch (count - j) {
        case 3: soft_dtw_scalar_group<3>(x, group.data(), rule, workspace.data(), features, row + j); break;
        case 2: soft_dtw_scalar_group<2>(x, group.data(), rule, workspace.data(), features, row + j); break;
        case 1: soft_dtw_scalar_group<1>(x, group.data(), rule, workspace.data(), features, row + j); break;
        default: break;
    }
}

}  // namespace

double soft_dtw_pair(const Series& x, const Series& y, double gamma) {
    using soft_dtw_lanes::RowKernels;
    constexpr std::size_t kWidest = RowKernels::kWidths[0];
    check_feature_counts(x, y);
    const std::size_t n = x.extent(0), m = y.extent(0);
    if (n == 0 || m == 0) return empty_alignment(n, m);
    const CellRule rule(gamma);
    const RowKernels* simd = rule.skip_min_term ? row_kernels() : nullptr;
    // One allocation: kRowsInFlight + 1 rows of R, then the costs of a row block or of a strip.
    const std::size_t width = checked_add(m, 1);
    const std::size_t cost_size =
        simd != nullptr ? checked_mul(checked_add(m, kWidest), kWidest) : checked_mul(m, kRowsInFlight);
    auto storage = Buffer<double>::uninitialized(checked_add(checked_mul(width, kRowsInFlight + 1), cost_size));
    std::array<double*, kRowsInFlight + 1> rows;
    for (std::size_t w = 0; w <= kRowsInFlight; ++w) rows[w] = storage.data() + w * width;
    double* cost = storage.data() + (kRowsInFlight + 1) * width;
    fill_first_row(rows[0], m);

    std::size_t i = 0;
    if (simd != nullptr) {
        // Strips of rows in SIMD lanes, widest first, with their costs skewed to match.
        for (std::size_t w = 0; w < std::size(RowKernels::kWidths); ++w) {
            const std::size_t lanes = RowKernels::kWidths[w];
            for (; i + lanes <= n; i += lanes) {
                std::fill(cost, cost + (m + lanes) * lanes, 0.0);
                for (std::size_t r = 0; r < lanes; ++r) cost_row(x, i + r, y, cost + (r + 1) * lanes + r, lanes, m);
                rows[1][0] = kInf;
                simd->strip_by_width[w]({rows[0], rows[1], cost, m, rule.gamma, &rule.libm});
                std::swap(rows[0], rows[1]);
            }
        }
    }
    for (; i + kRowsInFlight <= n; i += kRowsInFlight) {
        soft_dtw_row_block<kRowsInFlight>(x, i, y, rule, rows.data(), cost);
        std::swap(rows[0], rows[kRowsInFlight]);
    }
    for (; i < n; ++i) {
        soft_dtw_row_block<1>(x, i, y, rule, rows.data(), cost);
        std::swap(rows[0], rows[1]);
    }
    return rows[0][m];
}

Matrix<double> cdist_soft_dtw(const SeriesSet& x, const SeriesSet& y, double gamma) {
    const CellRule rule(gamma);
    return pairwise_rows(x.extent(0), y.extent(0),
                         [&](std::size_t i, double* row) { soft_dtw_row(x[i], y, rule, row); });
}

}  // namespace rc::distances
