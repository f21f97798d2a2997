// GAK drivers. A cell costs one exp call, which does not depend on the recurrence, and the
// recurrence ((left + up) + diag) * kernel is a chain of two additions and a multiplication
// through `left`. So a pair is swept in strips of rows, one row per lane, each row one column
// behind the row above it (gak/strip-inl.hpp), and while one strip's recurrence runs, the exp
// calls of the next strip run beside it; with the lane exp, each strip computes its cells'
// costs and exponentials itself from copies of the two series' features. The self-similarities
// sweep the lower triangle in the same strips. Every cell gets exactly the arithmetic of the
// plain row-by-row sweep.
#include "distances/gak/gak.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cmath>
#include <limits>
#include <utility>
#include <vector>

#include "distances/cost/cost.hpp"
#include "distances/cost/rows.hpp"
#include "distances/gak/kernels.hpp"
#include "distances/pairwise.hpp"
#include "libm/entry.hpp"
#include "simd/dispatch.hpp"
#include "libm/exp.hpp"
#include "pool/worker_pool.hpp"

namespace rc::distances {
namespace {

using global_alignment::kReversedPadding;
using global_alignment::kWidest;
using global_alignment::kWidthCount;
using global_alignment::kWidths;

// 2 * sigma^2, computed as (sigma + sigma) * sigma.
inline double kernel_denominator(double sigma) noexcept { return (sigma + sigma) * sigma; }

// The lane exp over arrays, when it reproduces the library's exp here, else null.
simd::ExpArray lane_exp() noexcept {
    const simd::ExpVariant variant = simd::kernel_exp_variant();
    return variant == simd::ExpVariant::library ? nullptr : simd::exp_arrays()->of(variant);
}

// 1 / d when it is exact, for d a positive normal power of two 2^k (then 2^-k, a subnormal for
// k = 1023, is a double too); else 0. x * (1 / d) then rounds the exact value of x / d.
inline double exact_reciprocal(double d) noexcept {
    const auto bits = std::bit_cast<std::uint64_t>(d);
    const auto exponent = bits >> 52;  // the sign bit included: negative d is left out
    const bool power_of_two = (bits & ((std::uint64_t{1} << 52) - 1)) == 0 && exponent != 0 && exponent < 0x7ff;
    return power_of_two ? 1.0 / d : 0.0;
}

// What the sweeps of one call share.
struct KernelRule {
    double denom;
    LibmEntry libm;
    const global_alignment::Kernels& kernels;
    simd::ExpVariant exp_variant;
    simd::ExpArray exp_lanes;  // null: the library's calls

    explicit KernelRule(double sigma) noexcept
        : denom(kernel_denominator(sigma)), libm(libm_entry()), kernels(simd::kernels().gak),
          exp_variant(simd::kernel_exp_variant()), exp_lanes(lane_exp()) {}

    // exp of values[0..count) in place, the lanes' or the library's.
    void exponentials(double* values, std::size_t count) const noexcept {
        if (exp_lanes != nullptr)
            exp_lanes(values, values, count);
        else
            for (std::size_t k = 0; k < count; ++k) values[k] = libm.exp_or_zero(values[k]);
    }
};

// Working rows of sweeps of series of at most `x_steps` time steps against series of at most
// `columns`, both of d features, in one allocation that a row of cdist_gak reuses for all its
// pairs: two rows of R, one row of costs, the skewed cells of two strips, the other series'
// features laid out for costs_from_features, and the two series' features laid out for the
// feature strips; the copies only unless they would be large (then costs are read from the
// series).
struct SweepRows {
    Buffer<double> storage;
    std::array<double*, 2> rows;    // the row above a strip, and the strip's last row
    double* costs;
    std::array<double*, 2> strips;  // the skewed cells of two strips (see gak/kernels.hpp)
    double* features;               // null when not kept
    double* lane_x;                 // x's features by feature (see FeatureStrip); null when not kept
    double* reversed_y;             // y's features reversed between paddings; null when not kept

    SweepRows(std::size_t x_steps, std::size_t columns, std::size_t d)
        : storage(Buffer<double>::uninitialized(checked_add(
              checked_add(checked_add(checked_mul(checked_add(columns, 1), 3), 2 * strip_size(columns)),
                          feature_copy(columns, d)),
              lane_copy(x_steps, columns, d)))) {
        rows = {storage.data(), storage.data() + columns + 1};
        costs = rows[1] + columns + 1;
        strips[0] = costs + columns + 1;
        strips[1] = strips[0] + strip_size(columns);
        features = feature_copy(columns, d) > 0 ? strips[1] + strip_size(columns) : nullptr;
        const bool lanes = lane_copy(x_steps, columns, d) > 0;
        lane_x = lanes ? strips[1] + strip_size(columns) + feature_copy(columns, d) : nullptr;
        reversed_y = lanes ? lane_x + x_steps * d : nullptr;
    }

    // Row 0 of R for a sweep of m columns, R[0][0] = 1, then zeros; the other row zero too, as
    // a triangle's strip reads past the columns the row above it holds.
    void start(std::size_t m) noexcept {
        std::fill(rows[0], rows[0] + m + 1, 0.0);
        std::fill(rows[1], rows[1] + m + 1, 0.0);
        rows[0][0] = 1.0;
    }

    // Lays out the first d features of the series that the next cost rows read.
    void keep_features(const Series& other, std::size_t d) noexcept {
        if (features != nullptr) interleave_features(&other, 1, d, features);
    }

    // Lays out the first d features of x and y for the feature strips of x against y.
    void keep_lanes(const Series& x, const Series& y, std::size_t d) noexcept {
        const std::size_t n = x.extent(0), m = y.extent(0), stride = reversed_stride(m);
        for (std::size_t f = 0; f < d; ++f) {
            for (std::size_t i = 0; i < n; ++i) lane_x[f * n + i] = x(i, f);
            double* reversed = reversed_y + f * stride;
            std::fill(reversed, reversed + stride, 0.0);
            for (std::size_t q = 0; q < m; ++q) reversed[kReversedPadding + q] = y(m - 1 - q, f);
        }
    }

    // The feature strip of L rows from `first` of x against the first m steps of y, as laid out
    // by keep_lanes.
    global_alignment::FeatureStrip feature_strip(const Series& x, const Series& y, std::size_t first, std::size_t m,
                                                 const KernelRule& rule) const noexcept {
        const double divisor = rule.denom;
        return {rows[0], rows[1], lane_x, x.extent(0), reversed_y + kReversedPadding, reversed_stride(y.extent(0)),
                y.extent(0), x.extent(1), m, first, rule.exp_variant == simd::ExpVariant::fused, divisor,
                exact_reciprocal(divisor)};
    }

    // The exp arguments -cost / denom of the strip of L rows first.. of x against the first m
    // steps of `other` (the series last handed to keep_features), skewed into `cells` (see
    // gak/kernels.hpp), -inf outside the cells. With `divided` false the cells hold -cost only,
    // the division left to the strip's lanes (a scalar division per cell costs more than the
    // rest of its argument).
    void strip_arguments(const Series& x, std::size_t first, std::size_t L, const Series& other, std::size_t m,
                         double denom, bool divided, double* cells) noexcept {
        constexpr double outside = -std::numeric_limits<double>::infinity();
        for (std::size_t w = 0; w < L; ++w) {
            // Row w's cells are entries t = w + 1 .. m + w; only the others are set to -inf.
            for (std::size_t t = 0; t <= w; ++t) cells[t * L + w] = outside;
            for (std::size_t t = m + w + 1; t < m + L; ++t) cells[t * L + w] = outside;
            if (features != nullptr)
                costs_from_features(x, first + w, features, other.extent(0), 1, m, costs);
            else
                row_costs(x, first + w, other, costs, 1, m);
            if (divided)
                for (std::size_t j = 0; j < m; ++j) cells[(j + 1 + w) * L + w] = -costs[j] / denom;
            else
                skew_negated(costs, m, L, cells + (1 + w) * L + w);
        }
    }

private:
    // to[j * stride] = -from[j] for j < count, four to a loop step: the strided stores are the
    // whole work of the loop, and its own bookkeeping per element would cost as much again.
    static void skew_negated(const double* from, std::size_t count, std::size_t stride, double* to) noexcept {
        std::size_t j = 0;
        for (; j + 4 <= count; j += 4, to += 4 * stride) {
            to[0] = -from[j], to[stride] = -from[j + 1];
            to[2 * stride] = -from[j + 2], to[3 * stride] = -from[j + 3];
        }
        for (; j < count; ++j, to += stride) to[0] = -from[j];
    }
    static std::size_t strip_size(std::size_t columns) noexcept {
        return (columns + kWidest) * kWidest;  // columns is a held size: no overflow
    }
    static std::size_t feature_copy(std::size_t columns, std::size_t d) noexcept {
        return d > 0 && columns <= kMaxFeatureCopy / d ? columns * d : 0;
    }
    static std::size_t reversed_stride(std::size_t columns) noexcept { return columns + 2 * kReversedPadding; }
    // The doubles of keep_lanes' copies, 0 when they would be large (or hold nothing, d = 0).
    static std::size_t lane_copy(std::size_t rows, std::size_t columns, std::size_t d) noexcept {
        const bool small = d > 0 && rows <= kMaxFeatureCopy / d && reversed_stride(columns) <= kMaxFeatureCopy / d;
        return small ? (rows + reversed_stride(columns)) * d : 0;
    }
};

// R[n][m] when a series is empty: R[0][0] = 1 for two empty series, otherwise a boundary cell
// at 0. Answered without sweeping, which for an empty y would still visit every row of x.
inline double empty_alignment_sum(std::size_t n, std::size_t m) noexcept { return n == m ? 1.0 : 0.0; }

// The accumulated matrix of x against y (or, for a triangle, of x against itself), in strips of
// the table's widths, widest first; each strip's recurrence runs beside the next strip's exp
// calls. Returns its last cell.
template <bool Triangle>
double sweep_strips(const Series& x, const Series& y, const KernelRule& rule, SweepRows& sweep) {
    const std::size_t n = x.extent(0);
    const std::size_t columns = Triangle ? n : y.extent(0);
    sweep.start(columns);
    // The columns a strip of L rows from i spans.
    const auto width_of = [&](std::size_t i, std::size_t L) { return Triangle ? i + L : columns; };
    std::size_t i = 0;
    // The feature strips with the lane exp, for at least one feature (without any, every cost
    // is 0 and the plain strips serve).
    if (rule.exp_lanes != nullptr && sweep.lane_x != nullptr && x.extent(1) > 0) {
        sweep.keep_lanes(x, y, x.extent(1));
        for (std::size_t w = 0; w < kWidthCount; ++w) {
            const std::size_t L = kWidths[w], strips = (n - i) / L;
            const global_alignment::FeatureStripKernel strip =
                Triangle ? rule.kernels.feature_triangle_strips[w] : rule.kernels.feature_strips[w];
            for (std::size_t s = 0; s < strips; ++s, i += L) {
                sweep.rows[1][0] = 0.0;
                strip(sweep.feature_strip(x, y, i, width_of(i, L), rule));
                std::swap(sweep.rows[0], sweep.rows[1]);
            }
        }
        return sweep.rows[0][columns];
    }
    sweep.keep_features(y, x.extent(1));
    for (std::size_t w = 0; w < kWidthCount; ++w) {
        const std::size_t L = kWidths[w], strips = (n - i) / L;
        if (strips == 0) continue;
        const global_alignment::StripKernel strip = Triangle ? rule.kernels.triangle_strips[w] : rule.kernels.strips[w];
        double* current = sweep.strips[0];
        double* next = sweep.strips[1];
        if (rule.exp_lanes != nullptr) {
            // The strip divides its cells' -cost by denom and takes the exp in its lanes. Only
            // for an ordinary denom: -inf / inf outside the cells would be NaN, not -inf, so an
            // infinite (or NaN) one is divided out here and the lanes divide by 1, exactly.
            const bool lanes_divide = std::isfinite(rule.denom) && rule.denom > 0.0;
            const double divisor = lanes_divide ? rule.denom : 1.0;
            for (std::size_t s = 0; s < strips; ++s, i += L) {
                const std::size_t m = width_of(i, L);
                sweep.strip_arguments(x, i, L, y, m, rule.denom, !lanes_divide, current);
                sweep.rows[1][0] = 0.0;
                strip({sweep.rows[0], sweep.rows[1], current, nullptr, m, i, &rule.libm, rule.exp_variant, divisor,
                       exact_reciprocal(divisor)});
                std::swap(sweep.rows[0], sweep.rows[1]);
            }
            continue;
        }
        sweep.strip_arguments(x, i, L, y, width_of(i, L), rule.denom, true, current);
        for (std::size_t k = 0; k < (width_of(i, L) + L) * L; ++k) current[k] = rule.libm.exp_or_zero(current[k]);
        for (std::size_t s = 0; s < strips; ++s, i += L) {
            const bool more = s + 1 < strips;
            const std::size_t m = width_of(i, L);
            if (more) sweep.strip_arguments(x, i + L, L, y, width_of(i + L, L), rule.denom, true, next);
            sweep.rows[1][0] = 0.0;
            strip({sweep.rows[0], sweep.rows[1], current, more ? next : nullptr, m, i, &rule.libm});
            std::swap(sweep.rows[0], sweep.rows[1]);
            if (!more) continue;
            // The strip took the exponentials of as many of the next strip's cells as it has.
            for (std::size_t k = (m + L) * L; k < (width_of(i + L, L) + L) * L; ++k)
                next[k] = rule.libm.exp_or_zero(next[k]);
            std::swap(current, next);
        }
    }
    return sweep.rows[0][columns];
}

double gak_sum(const Series& x, const Series& y, const KernelRule& rule, SweepRows& sweep) {
    check_feature_counts(x, y);
    const std::size_t n = x.extent(0), m = y.extent(0);
    if (n == 0 || m == 0) return empty_alignment_sum(n, m);
    return sweep_strips<false>(x, y, rule, sweep);
}

// K(x, x). The accumulated matrix of a series with itself is symmetric to the bit: the local
// kernels are (the cost is symmetric, (a - b)^2 == (b - a)^2), and the mirrored cell adds the
// same two neighbours in swapped order, which IEEE addition does not distinguish. So only the
// lower triangle j <= i is swept.
double self_gak(const Series& x, const KernelRule& rule, SweepRows& sweep) {
    return sweep_strips<true>(x, x, rule, sweep);
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
        // The local kernels (1 / (2 - e)) * e of e = exp(-cost / denom), as in the strips.
        row_costs(x, i, y, kernels, 1, m);
        for (std::size_t j = 0; j < m; ++j) kernels[j] = -kernels[j] / rule.denom;
        rule.exponentials(kernels, m);
        for (std::size_t j = 0; j < m; ++j) kernels[j] = (1.0 / (2.0 - kernels[j])) * kernels[j];
        row[0] = 0.0;
        double largest = 0.0;
        for (std::size_t j = 1; j <= m; ++j) {
            row[j] = ((row[j - 1] + above[j]) + above[j - 1]) * kernels[j - 1];
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

double unnormalized_gak(const Series& x, const Series& y, double sigma) {
    if (x.extent(0) == 0 || y.extent(0) == 0) return empty_alignment_sum(x.extent(0), y.extent(0));
    const KernelRule rule(sigma);
    SweepRows sweep(x.extent(0), y.extent(0), x.extent(1));
    return gak_sum(x, y, rule, sweep);
}

double gak(const Series& x, const Series& y, double sigma) {
    const KernelRule rule(sigma);
    // K(y, y) reads all of y's features, which may be more than x's.
    const std::size_t longest = std::max(x.extent(0), y.extent(0));
    SweepRows sweep(longest, longest, std::max(x.extent(1), y.extent(1)));
    const double kxy = gak_sum(x, y, rule, sweep);
    const double kxx = self_gak(x, rule, sweep);
    const double kyy = self_gak(y, rule, sweep);
    if (needs_extension(kxy, kxx, kyy)) [[unlikely]]
        return normalized(extended_sum(kxy, x, y, rule), extended_sum(kxx, x, x, rule), extended_sum(kyy, y, y, rule));
    return normalized(kxy, kxx, kyy);
}

Matrix<double> cdist_gak(const SeriesSet& x, const SeriesSet& y, double sigma) {
    // The result first: a matrix too large to hold ends the call before any self-similarity
    // is computed.
    auto result = Matrix<double>::uninitialized(x.extent(0), y.extent(0));
    const KernelRule rule(sigma);
    auto self_similarity = [&](const Series& s) {
        SweepRows sweep(s.extent(0), s.extent(0), s.extent(1));
        return self_gak(s, rule, sweep);
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
        SweepRows sweep(x.extent(1), y.extent(1), x.extent(2));
        const RowColumns columns{i, y.extent(0), symmetric};
        for (std::size_t k = 0; k < columns.count(); ++k) {
            const std::size_t j = columns[k];
            const Series yj = y[j];
            const double kxy = gak_sum(xi, yj, rule, sweep);
            row[j] = needs_extension(kxy, dx[i], dy_or_dx[j])
                         ? normalized(extended_sum(kxy, xi, yj, rule), ex[i], ey_or_ex[j])
                         : normalized(kxy, dx[i], dy_or_dx[j]);
        }
    });
    if (symmetric) mirror_half_rows(result);
    return result;
}

}  // namespace rc::distances
