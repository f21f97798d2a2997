#include "distances/gak.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <utility>
#include <vector>

#include "distances/cost.hpp"
#include "distances/cost_rows.hpp"
#include "distances/gak_lanes.hpp"
#include "distances/pairwise.hpp"
#include "libm_entry.hpp"
#include "simd/exp.hpp"
#include "simd_level.hpp"
#include "worker_pool.hpp"

// A cell costs one exp call, which does not depend on the recurrence, and the recurrence
// ((left + up) + diag) * kernel is a chain of two additions and a multiplication through
// `left`. So a pair is swept in strips of gak_lanes::kRows rows held in SIMD lanes, each row one
// column behind the row above it (gak_lanes_kernel.hpp), and while one strip's recurrence runs,
// the exp calls of the next strip run beside it. Rows left over, and the self-similarity
// triangles, go in blocks of a few rows: first the block's local kernels (the divisions in loops
// of their own, which vectorise element by element, and the exp calls back to back), then the
// recurrence over the block's rows, skewed the same way so their chains run side by side. Every
// cell gets exactly the arithmetic of the plain row-by-row sweep.

namespace rc::distances {
namespace {

constexpr std::size_t kRowsInFlight = 4;

// 2 * sigma^2, computed as (sigma + sigma) * sigma.
inline double kernel_denominator(double sigma) noexcept { return (sigma + sigma) * sigma; }

// The SIMD strip kernel of the process's instruction set and exp, or null where there is none.
gak_lanes::StripKernel strip_kernel() noexcept {
#if defined(__x86_64__)
    static const gak_lanes::StripKernel chosen = [] {
        const auto variant = static_cast<std::size_t>(simd::kernel_exp_variant());
        switch (simd_level()) {
            case SimdLevel::avx512: return gak_lanes::kAvx512Strip[variant];
            case SimdLevel::avx2: return gak_lanes::kAvx2Strip[variant];
            case SimdLevel::scalar: break;
        }
        return gak_lanes::kSse2Strip[variant];
    }();
    return chosen;
#else
    return nullptr;
#endif
}

// The lane exp over arrays, when it reproduces the library's exp here, else null.
simd::ExpArray lane_exp() noexcept {
    const simd::ExpVariant variant = simd::kernel_exp_variant();
    const simd::ExpArrays* arrays = simd::exp_arrays();
    return variant == simd::ExpVariant::library || arrays == nullptr ? nullptr : arrays->of(variant);
}

// What the sweeps of one call share.
struct KernelRule {
    double denom;
    LibmEntry libm;
    gak_lanes::StripKernel strip;
    simd::ExpArray exp_lanes;  // null: the library's calls

    explicit KernelRule(double sigma) noexcept
        : denom(kernel_denominator(sigma)), libm(libm_entry()), strip(strip_kernel()), exp_lanes(lane_exp()) {}
};

// The local kernels of `count` squared distances, in place: e / (2 - e) with
// e = exp(-cost / denom), formed as the reciprocal of (2 - e) times e. A cost of 0 gives exactly 1.
void local_kernels(double* values, std::size_t count, const KernelRule& rule) noexcept {
    const double denom = rule.denom;
    for (std::size_t j = 0; j < count; ++j) values[j] = -values[j] / denom;
    if (rule.exp_lanes != nullptr)
        rule.exp_lanes(values, values, count);
    else
        for (std::size_t j = 0; j < count; ++j) values[j] = rule.libm.exp_or_zero(values[j]);
    for (std::size_t j = 0; j < count; ++j) values[j] = (1.0 / (2.0 - values[j])) * values[j];
}

// One cell of the accumulated matrix.
inline double gak_cell(double left, double up, double diag, double kernel) noexcept {
    return ((left + up) + diag) * kernel;
}

// Working rows of sweeps over series of at most `columns` time steps and d features, in one
// allocation that a row of cdist_gak reuses for all its pairs: kRowsInFlight + 1 rows of R (the
// row above a block, then the block's rows), the block's local kernels, and the other series'
// features laid out for cost_row_interleaved, unless that copy would be large (then costs are
// read from the series directly).
struct SweepRows {
    static constexpr std::size_t kMaxFeatureCopy = std::size_t{1} << 22;  // doubles

    Buffer<double> storage;
    std::size_t columns;
    std::array<double*, kRowsInFlight + 1> rows;
    double* kernels;   // row w of a block at kernels + w * columns
    std::array<double*, 2> strips;  // the skewed cells of two strips (see gak_lanes.hpp)
    double* features;  // null when not kept

    SweepRows(std::size_t max_columns, std::size_t d)
        : storage(Buffer<double>::uninitialized(checked_add(
              checked_add(checked_mul(checked_add(max_columns, 1), 2 * kRowsInFlight + 1), 2 * strip_size(max_columns)),
              feature_copy(max_columns, d)))),
          columns(max_columns) {
        for (std::size_t w = 0; w <= kRowsInFlight; ++w) rows[w] = storage.data() + w * (max_columns + 1);
        kernels = rows[kRowsInFlight] + max_columns + 1;
        strips[0] = kernels + kRowsInFlight * (max_columns + 1);
        strips[1] = strips[0] + strip_size(max_columns);
        features = feature_copy(max_columns, d) > 0 ? strips[1] + strip_size(max_columns) : nullptr;
    }

    static std::size_t strip_size(std::size_t columns) noexcept {
        return (columns + gak_lanes::kRows) * gak_lanes::kRows;  // columns is a held size: no overflow
    }

    // Row 0 of R for a sweep of m columns: R[0][0] = 1, then zeros.
    void start(std::size_t m) noexcept {
        std::fill(rows[0], rows[0] + m + 1, 0.0);
        rows[0][0] = 1.0;
    }
    double* kernel_row(std::size_t w) noexcept { return kernels + w * columns; }

    // Lays out the first d features of the series that the next cost rows read.
    void keep_features(const Series& other, std::size_t d) noexcept {
        if (features != nullptr) interleave_features(&other, 1, d, features);
    }
    // Row i of x's costs against the first `count` steps of `other`, the series last handed to
    // keep_features.
    void cost_row(const Series& x, std::size_t i, const Series& other, std::size_t count, double* out) const noexcept {
        if (features != nullptr)
            cost_row_interleaved(x, i, features, other.extent(0), 1, count, out);
        else
            distances::cost_row(x, i, other, out, 1, count);
    }

private:
    static std::size_t feature_copy(std::size_t columns, std::size_t d) noexcept {
        return d > 0 && columns <= kMaxFeatureCopy / d ? columns * d : 0;
    }
};

// Rows first..first+Rows-1 of x against all of y, that is rows first+1.. of R: rows[0] holds the
// R row above the block and rows[w + 1] receives the block's row w. Row w + 1 trails row w by one
// column, so the cells of one step do not depend on each other.
template <std::size_t Rows>
void gak_row_block(const Series& x, std::size_t first, const Series& y, const KernelRule& rule, SweepRows& sweep) {
    const std::size_t m = y.extent(0);
    double* const* rows = sweep.rows.data();
    for (std::size_t w = 0; w < Rows; ++w) {
        sweep.cost_row(x, first + w, y, m, sweep.kernel_row(w));
        local_kernels(sweep.kernel_row(w), m, rule);
        rows[w + 1][0] = 0.0;
    }
    auto cell = [&](std::size_t w, std::size_t j) {
        rows[w + 1][j] = gak_cell(rows[w + 1][j - 1], rows[w][j], rows[w][j - 1], sweep.kernel_row(w)[j - 1]);
    };
    // Step t computes column t - w of row w, for every row whose column is in [1, m].
    for (std::size_t t = 1; t <= m + Rows - 1; ++t) {
        if (t >= Rows && t <= m) {
            for (std::size_t w = 0; w < Rows; ++w) cell(w, t - w);
        } else {
            for (std::size_t w = 0; w < Rows; ++w)
                if (t > w && t - w <= m) cell(w, t - w);
        }
    }
}

// R[n][m] when a series is empty: R[0][0] = 1 for two empty series, otherwise a boundary cell
// at 0. Answered without sweeping, which for an empty y would still visit every row of x.
inline double empty_alignment_sum(std::size_t n, std::size_t m) noexcept { return n == m ? 1.0 : 0.0; }

// The exp arguments -cost / denom of the strip of rows first.. of x, skewed into `cells` (see
// gak_lanes.hpp), -inf outside the cells.
void strip_arguments(const Series& x, std::size_t first, const Series& y, const KernelRule& rule, SweepRows& sweep,
                     double* cells) {
    constexpr std::size_t L = gak_lanes::kRows;
    const std::size_t m = y.extent(0);
    std::fill(cells, cells + (m + L) * L, -std::numeric_limits<double>::infinity());
    double* costs = sweep.kernel_row(0);
    for (std::size_t w = 0; w < L; ++w) {
        sweep.cost_row(x, first + w, y, m, costs);
        for (std::size_t j = 0; j < m; ++j) cells[(j + 1 + w) * L + w] = -costs[j] / rule.denom;
    }
}

double gak_sum(const Series& x, const Series& y, const KernelRule& rule, SweepRows& sweep) {
    constexpr std::size_t L = gak_lanes::kRows;
    check_feature_counts(x, y);
    const std::size_t n = x.extent(0), m = y.extent(0);
    if (n == 0 || m == 0) return empty_alignment_sum(n, m);
    sweep.start(m);
    sweep.keep_features(y, x.extent(1));
    std::size_t i = 0;
    // Strips of L rows in SIMD lanes, whose kernel forms the exponentials in its lanes.
    if (rule.strip != nullptr && rule.exp_lanes != nullptr && n >= L) {
        double* cells = sweep.strips[0];
        for (; i + L <= n; i += L) {
            strip_arguments(x, i, y, rule, sweep, cells);
            sweep.rows[1][0] = 0.0;
            rule.strip({sweep.rows[0], sweep.rows[1], cells, nullptr, m, &rule.libm});
            std::swap(sweep.rows[0], sweep.rows[1]);
        }
    }
    // Strips of L rows in SIMD lanes with the library's exp: each strip's recurrence runs beside
    // the next strip's exp calls.
    if (rule.strip != nullptr && rule.exp_lanes == nullptr && n >= L) {
        const std::size_t strips = n / L, cells = (m + L) * L;
        double* current = sweep.strips[0];
        double* next = sweep.strips[1];
        strip_arguments(x, 0, y, rule, sweep, current);
        for (std::size_t k = 0; k < cells; ++k) current[k] = rule.libm.exp_or_zero(current[k]);
        for (std::size_t s = 0; s < strips; ++s, i += L) {
            const bool more = s + 1 < strips;
            if (more) strip_arguments(x, i + L, y, rule, sweep, next);
            sweep.rows[1][0] = 0.0;
            rule.strip({sweep.rows[0], sweep.rows[1], current, more ? next : nullptr, m, &rule.libm});
            std::swap(sweep.rows[0], sweep.rows[1]);
            if (more) std::swap(current, next);
        }
    }
    for (; i + kRowsInFlight <= n; i += kRowsInFlight) {
        gak_row_block<kRowsInFlight>(x, i, y, rule, sweep);
        std::swap(sweep.rows[0], sweep.rows[kRowsInFlight]);
    }
    for (; i < n; ++i) {
        gak_row_block<1>(x, i, y, rule, sweep);
        std::swap(sweep.rows[0], sweep.rows[1]);
    }
    return sweep.rows[0][m];
}

// Rows first..first+Rows-1 of the lower triangle of K(x, x)'s accumulated matrix, skewed as in
// gak_row_block: row w (R row i = first + 1 + w) holds columns 1..i, its last one on the diagonal.
template <std::size_t Rows>
void self_row_block(const Series& x, std::size_t first, const KernelRule& rule, SweepRows& sweep) {
    double* const* rows = sweep.rows.data();
    for (std::size_t w = 0; w < Rows; ++w) {
        // Row i of R needs the local kernels of columns [0, i).
        sweep.cost_row(x, first + w, x, first + w + 1, sweep.kernel_row(w));
        local_kernels(sweep.kernel_row(w), first + w + 1, rule);
        rows[w + 1][0] = 0.0;
    }
    // Below the diagonal the ordinary cell; on it (j == i) the upper neighbour R[i - 1][i] is the
    // mirror of the left one, R[i][i - 1].
    auto cell = [&](std::size_t w, std::size_t j) {
        const double left = rows[w + 1][j - 1];
        const double up = j == first + w + 1 ? left : rows[w][j];
        rows[w + 1][j] = gak_cell(left, up, rows[w][j - 1], sweep.kernel_row(w)[j - 1]);
    };
    auto below_diagonal = [&](std::size_t w, std::size_t j) {
        rows[w + 1][j] = gak_cell(rows[w + 1][j - 1], rows[w][j], rows[w][j - 1], sweep.kernel_row(w)[j - 1]);
    };
    // Step t computes column t - w of row w while it lies in [1, first + 1 + w]; every row is
    // below its diagonal for t in [Rows, first].
    const std::size_t last_step = first + 2 * Rows - 1;
    for (std::size_t t = 1; t <= last_step; ++t) {
        if (t >= Rows && t <= first) {
            for (std::size_t w = 0; w < Rows; ++w) below_diagonal(w, t - w);
        } else {
            for (std::size_t w = 0; w < Rows; ++w)
                if (t > w && t - w <= first + 1 + w) cell(w, t - w);
        }
    }
}

// K(x, x). The accumulated matrix of a series with itself is symmetric to the bit: the local
// kernels are (the cost is symmetric, (a - b)^2 == (b - a)^2), and the mirrored cell adds the
// same two neighbours in swapped order, which IEEE addition does not distinguish. So only the
// lower triangle j <= i is swept.
double self_gak(const Series& x, const KernelRule& rule, SweepRows& sweep) {
    const std::size_t n = x.extent(0);
    sweep.start(n);
    sweep.keep_features(x, x.extent(1));
    std::size_t i = 0;
    for (; i + kRowsInFlight <= n; i += kRowsInFlight) {
        self_row_block<kRowsInFlight>(x, i, rule, sweep);
        std::swap(sweep.rows[0], sweep.rows[kRowsInFlight]);
    }
    for (; i < n; ++i) {
        self_row_block<1>(x, i, rule, sweep);
        std::swap(sweep.rows[0], sweep.rows[1]);
    }
    return sweep.rows[0][n];
}

// The sweeps, compiled once more for AVX2: flatten inlines everything they call into these entry
// points, so the element-wise loops use the wider vectors (and three-operand instructions) while
// each element keeps its operations, and no function shared with baseline callers is compiled
// with those instructions. AVX-512 machines use these too: the strips, which hold most cells,
// have kernels of their own per instruction set.
struct Sweeps {
    double (*pair)(const Series&, const Series&, const KernelRule&, SweepRows&);
    double (*self)(const Series&, const KernelRule&, SweepRows&);
};

[[gnu::flatten]] double pair_baseline(const Series& x, const Series& y, const KernelRule& rule, SweepRows& sweep) {
    return gak_sum(x, y, rule, sweep);
}
[[gnu::flatten]] double self_baseline(const Series& x, const KernelRule& rule, SweepRows& sweep) {
    return self_gak(x, rule, sweep);
}
#if defined(__x86_64__)
[[gnu::flatten, gnu::target("avx2")]] double pair_avx2(const Series& x, const Series& y, const KernelRule& rule,
                                                      SweepRows& sweep) {
    return gak_sum(x, y, rule, sweep);
}
[[gnu::flatten, gnu::target("avx2")]] double self_avx2(const Series& x, const KernelRule& rule, SweepRows& sweep) {
    return self_gak(x, rule, sweep);
}
#endif

const Sweeps& sweeps() noexcept {
    static const Sweeps chosen = [] {
#if defined(__x86_64__)
        const SimdLevel level = simd_level();
        if (level != SimdLevel::scalar) return Sweeps{pair_avx2, self_avx2};
#endif
        return Sweeps{pair_baseline, self_baseline};
    }();
    return chosen;
}

// The normalisation: the product of the self-similarities, its square root, then the quotient.
inline double normalized(double kxy, double kxx, double kyy) noexcept { return kxy / std::sqrt(kxx * kyy); }

// --- sums beyond the range of doubles ---------------------------------------------------------
//
// A long series drives its self-similarity (or the product of two under the root) past the
// largest double and two distant series drive their kernel sum below the smallest one, so the
// plain quotient would come out as 0, NaN or inf where the true ratio is an ordinary number. The
// sums out of range are then swept once more with an extended exponent. When all three sums and
// that product are finite and non-zero the plain quotient stands, bits and all.

// mantissa * 2^exponent.
struct ExtendedSum {
    double mantissa;
    long exponent;
};

// A plain sum in extended form, its mantissa in [0.5, 1) (or 0, inf, NaN).
inline ExtendedSum extended(double sum) noexcept {
    int exponent = 0;
    const double mantissa = std::frexp(sum, &exponent);
    return {mantissa, exponent};
}

// Whether a plain sum is an ordinary number, neither overflowed nor underflowed to zero.
inline bool in_range(double sum) noexcept { return std::isfinite(sum) && sum != 0.0; }

// Whether the plain quotient of these sums is replaced by the extended one: some sum, or the
// product of the self-similarities under the root, left the range, and no sum is NaN (NaN stays
// NaN either way).
inline bool needs_extension(double kxy, double kxx, double kyy) noexcept {
    const bool nan = std::isnan(kxy) || std::isnan(kxx) || std::isnan(kyy);
    return !nan && !(in_range(kxy) && in_range(kxx) && in_range(kyy) && in_range(kxx * kyy));
}

// K(x, y) with each row of the accumulated matrix scaled by a power of two that brings its
// largest entry into [1, 2), the powers summed in an integer. The cells are the plain sweep's,
// with its local kernels and operation order: scaling by a power of two changes no rounding
// short of the subnormal range, which only entries negligible beside their row's largest reach.
ExtendedSum extended_gak_sum(const Series& x, const Series& y, const KernelRule& rule) {
    check_feature_counts(x, y);
    const std::size_t n = x.extent(0), m = y.extent(0);
    if (n == 0 || m == 0) return extended(empty_alignment_sum(n, m));
    const std::size_t width = checked_add(m, 1);
    auto storage = Buffer<double>::uninitialized(checked_add(checked_mul(width, 2), m));
    double* above = storage.data();
    double* row = above + width;
    double* kernels = row + width;
    std::fill(above, above + width, 0.0);
    above[0] = 1.0;
    long exponent = 0;
    for (std::size_t i = 0; i < n; ++i) {
        cost_row(x, i, y, kernels, 1, m);
        local_kernels(kernels, m, rule);
        row[0] = 0.0;
        double largest = 0.0;
        for (std::size_t j = 1; j <= m; ++j) {
            row[j] = gak_cell(row[j - 1], above[j], above[j - 1], kernels[j - 1]);
            if (!(std::fabs(row[j]) <= largest)) largest = std::fabs(row[j]);  // NaN sticks
        }
        if (largest == 0.0) return {0.0, 0};  // every later row is zero too
        if (!std::isfinite(largest)) return {row[m], 0};
        const int shift = std::ilogb(largest);
        for (std::size_t j = 1; j <= m; ++j) row[j] = std::ldexp(row[j], -shift);
        exponent += shift;
        std::swap(above, row);
    }
    ExtendedSum sum = extended(above[m]);
    sum.exponent += exponent;
    return sum;
}

// The plain sum if it is in range, else the extended sweep's.
ExtendedSum extended_sum(double plain, const Series& x, const Series& y, const KernelRule& rule) {
    return in_range(plain) ? extended(plain) : extended_gak_sum(x, y, rule);
}

// kxy / sqrt(kxx * kyy) of extended sums: the mantissas' quotient, scaled at the end.
double normalized(ExtendedSum kxy, ExtendedSum kxx, ExtendedSum kyy) noexcept {
    double product = kxx.mantissa * kyy.mantissa;
    long exponent = kxx.exponent + kyy.exponent;
    if (exponent % 2 != 0) product *= 2.0, exponent -= 1;  // an even exponent has an exact root
    // Far beyond the range of doubles either way; the clamp only keeps the int conversion safe.
    const long scale = std::clamp(kxy.exponent - exponent / 2, -8192L, 8192L);
    return std::ldexp(kxy.mantissa / std::sqrt(product), static_cast<int>(scale));
}

}  // namespace

double unnormalized_gak_impl(const Series& x, const Series& y, double sigma) {
    if (x.extent(0) == 0 || y.extent(0) == 0) return empty_alignment_sum(x.extent(0), y.extent(0));
    const KernelRule rule(sigma);
    SweepRows sweep(y.extent(0), x.extent(1));
    return sweeps().pair(x, y, rule, sweep);
}

double gak(const Series& x, const Series& y, double sigma) {
    const KernelRule rule(sigma);
    // K(y, y) reads all of y's features, which may be more than x's.
    SweepRows sweep(std::max(x.extent(0), y.extent(0)), std::max(x.extent(1), y.extent(1)));
    const Sweeps& sweep_of = sweeps();
    const double kxy = sweep_of.pair(x, y, rule, sweep);
    const double kxx = sweep_of.self(x, rule, sweep);
    const double kyy = sweep_of.self(y, rule, sweep);
    if (needs_extension(kxy, kxx, kyy)) [[unlikely]]
        return normalized(extended_sum(kxy, x, y, rule), extended_sum(kxx, x, x, rule), extended_sum(kyy, y, y, rule));
    return normalized(kxy, kxx, kyy);
}

Matrix<double> cdist_gak(const SeriesSet& x, const SeriesSet& y, double sigma) {
    // The result first: a matrix too large to hold ends the call before any self-similarity
    // is computed.
    auto result = Matrix<double>::uninitialized(x.extent(0), y.extent(0));
    const KernelRule rule(sigma);
    const Sweeps& sweep_of = sweeps();
    auto self_similarity = [&](const Series& s) {
        SweepRows sweep(s.extent(0), s.extent(1));
        return sweep_of.self(s, rule, sweep);
    };
    // A set against itself: its self-similarities serve for both sides, and, the kernel sum
    // being symmetric to the bit (as for the self-similarities; only the payload of a NaN could
    // tell the two orders apart), each unordered pair is swept once.
    const bool symmetric = same_view(x, y);
    const auto dx = pool::parallel_map(x.extent(0), [&](std::size_t i) { return self_similarity(x[i]); });
    const auto dy = symmetric ? std::vector<double>{}
                              : pool::parallel_map(y.extent(0), [&](std::size_t j) { return self_similarity(y[j]); });
    const std::vector<double>& dy_or_dx = symmetric ? dx : dy;
    // The self-similarities out of range, swept with the extended exponent once each, and only
    // those (the others are kept as they are).
    auto extended_self = [&](const SeriesSet& set, const std::vector<double>& plain) {
        return pool::parallel_map(set.extent(0), [&](std::size_t i) {
            return in_range(plain[i]) || std::isnan(plain[i]) ? extended(plain[i]) : extended_gak_sum(set[i], set[i], rule);
        });
    };
    const auto ex = extended_self(x, dx);
    const auto ey = symmetric ? std::vector<ExtendedSum>{} : extended_self(y, dy);
    const std::vector<ExtendedSum>& ey_or_ex = symmetric ? ex : ey;
    fill_rows(result, [&](std::size_t i, double* row) {
        const Series xi = x[i];
        SweepRows sweep(y.extent(1), x.extent(2));
        const RowColumns columns{i, y.extent(0), symmetric};
        for (std::size_t k = 0; k < columns.count(); ++k) {
            const std::size_t j = columns[k];
            const Series yj = y[j];
            const double kxy = sweep_of.pair(xi, yj, rule, sweep);
            row[j] = needs_extension(kxy, dx[i], dy_or_dx[j])
                         ? normalized(extended_sum(kxy, xi, yj, rule), ex[i], ey_or_ex[j])
                         : normalized(kxy, dx[i], dy_or_dx[j]);
        }
    });
    if (symmetric) mirror_half_rows(result);
    return result;
}

}  // namespace rc::distances
