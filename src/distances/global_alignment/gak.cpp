// GAK drivers. A cell costs an exp, which does not depend on the recurrence, and the recurrence
// ((left + up) + diag) * kernel is a chain of two additions and a multiplication through `left`.
// So a pair is swept in strips of rows, one row per lane, each row one column behind the row
// above it, each strip forming its cells' costs and exponentials itself from copies of the two
// series' features (global_alignment/strip_lanes.hpp); the self-similarities sweep the lower
// triangle in the same strips. Sums beyond the range of doubles are swept again row by row with
// every row scaled, several pairs side by side (rows_lanes.hpp). Every cell gets exactly the
// arithmetic of the plain row-by-row sweep.
#include "distances/global_alignment/gak.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <utility>
#include <vector>

#include "distances/alignment.hpp"
#include "distances/cost/cost.hpp"
#include "distances/cost/rows.hpp"
#include "distances/global_alignment/kernels.hpp"
#include "distances/pairwise.hpp"
#include "libm/entries.hpp"
#include "pool/worker_pool.hpp"

namespace rc::distances {
namespace {

using global_alignment::kReversedPadding;
using global_alignment::kWidthCount;
using global_alignment::kWidths;

// What the sweeps of one call share: the exp argument -cost / divisor, divisor = 2 * sigma^2
// computed as (sigma + sigma) * sigma, and the exp.
struct KernelRule {
    double divisor;
    double exact_reciprocal;
    libm::Entries libm;
    libm::ExpVariant exp;
    const global_alignment::Kernels& kernels;

    explicit KernelRule(double sigma) noexcept
        : divisor((sigma + sigma) * sigma), exact_reciprocal(distances::exact_reciprocal(divisor)),
          libm(libm::entries()), exp(libm::kernel_exp_variant()), kernels(global_alignment::kernels()) {}
    KernelRule(const KernelRule&) = delete;
};

// R[n][m] when a series is empty: R[0][0] = 1 for two empty series, otherwise a boundary cell
// at 0.
inline double empty_alignment_sum(std::size_t n, std::size_t m) noexcept { return empty_alignment(n, m, 1.0, 0.0); }

// The working rows of strips of series of at most `x_steps` time steps against series of at most
// `columns`, both of d features, in one allocation that a row of cdist_gak reuses for all its
// pairs: two rows of R, and the two series' features laid out for the strips.
struct StripRows {
    Buffer<double> storage;
    std::array<double*, 2> rows;  // the row above a strip, and the strip's last row
    double* x_features;           // x's features by feature (see global_alignment::Strip)
    double* y_reversed;           // y's features reversed between paddings

    // With no rows or no columns there is nothing to sweep (see sweep), so no features are kept,
    // however many a view of empty series has.
    StripRows(std::size_t x_steps, std::size_t columns, std::size_t d)
        : storage(Buffer<double>::uninitialized(checked_add(
              checked_mul(checked_add(columns, 1), 2),
              x_steps == 0 || columns == 0 ? 0 : checked_mul(checked_add(x_steps, reversed_stride(columns)), d)))) {
        rows = {storage.data(), storage.data() + columns + 1};
        x_features = rows[1] + columns + 1;
        y_reversed = x_features + x_steps * d;
    }

    // The accumulated matrix of x against y (or, for a triangle, of x against itself), in strips
    // of the table's widths, widest first. Returns its last cell.
    template <bool Triangle>
    double sweep(const Series& x, const Series& y, const KernelRule& rule) {
        const std::size_t n = x.extent(0), d = x.extent(1);
        const std::size_t columns = Triangle ? n : y.extent(0);
        if (n == 0 || columns == 0) return empty_alignment_sum(n, columns);
        // Row 0 of R: R[0][0] = 1, then zeros; the other row zero too, as a triangle's strip
        // reads past the columns the row above it holds.
        std::fill(rows[0], rows[0] + columns + 1, 0.0);
        std::fill(rows[1], rows[1] + columns + 1, 0.0);
        rows[0][0] = 1.0;
        lay_out(x, y, d);
        std::size_t i = 0;
        for (std::size_t w = 0; w < kWidthCount; ++w) {
            const std::size_t L = kWidths[w], strips = (n - i) / L;
            const global_alignment::StripKernel strip =
                Triangle ? rule.kernels.triangle_strips[w] : rule.kernels.strips[w];
            for (std::size_t s = 0; s < strips; ++s, i += L) {
                rows[1][0] = 0.0;
                strip({rows[0], rows[1], x_features, n, y_reversed + kReversedPadding, reversed_stride(y.extent(0)),
                       y.extent(0), d, Triangle ? i + L : columns, i, rule.exp, &rule.libm, rule.divisor,
                       rule.exact_reciprocal});
                std::swap(rows[0], rows[1]);
            }
        }
        return rows[0][columns];
    }

private:
    static std::size_t reversed_stride(std::size_t columns) noexcept { return columns + 2 * kReversedPadding; }

    // The first d features of x, feature by feature, and of y, reversed between paddings.
    void lay_out(const Series& x, const Series& y, std::size_t d) noexcept {
        const std::size_t n = x.extent(0), m = y.extent(0), stride = reversed_stride(m);
        for (std::size_t f = 0; f < d; ++f) {
            for (std::size_t i = 0; i < n; ++i) x_features[f * n + i] = x(i, f);
            double* reversed = y_reversed + f * stride;
            std::fill(reversed, reversed + stride, 0.0);
            for (std::size_t q = 0; q < m; ++q) reversed[kReversedPadding + q] = y(m - 1 - q, f);
        }
    }
};

double gak_sum(const Series& x, const Series& y, const KernelRule& rule, StripRows& strips) {
    check_feature_counts(x, y);
    const std::size_t n = x.extent(0), m = y.extent(0);
    if (n == 0 || m == 0) return empty_alignment_sum(n, m);
    return strips.sweep<false>(x, y, rule);
}

// K(x, x). The accumulated matrix of a series with itself is symmetric to the bit: the local
// kernels are (the cost is symmetric, (a - b)^2 == (b - a)^2), and the mirrored cell adds the
// same two neighbours in swapped order, which IEEE addition does not distinguish. So only the
// lower triangle j <= i is swept.
double self_gak(const Series& x, const KernelRule& rule, StripRows& strips) {
    return strips.sweep<true>(x, x, rule);
}

// The normalisation: the product of the self-similarities, its square root, then the quotient.
inline double normalized(double kxy, double kxx, double kyy) noexcept { return kxy / std::sqrt(kxx * kyy); }

// --- sums beyond the range of doubles ---------------------------------------------------------
//
// A long series drives its self-similarity (or the product of two under the root) past the
// largest double and two distant series drive their kernel sum below the smallest one, so the
// plain quotient would come out as 0, NaN or inf where the true ratio is an ordinary number. The
// sums out of range are then swept once more with every row scaled (rows_lanes.hpp). When all
// three sums and that product are finite and non-zero the plain quotient stands, bits and all.

// mantissa * 2^exponent.
struct ExtendedSum {
    double mantissa;
    std::int64_t exponent;
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

// kxy / sqrt(kxx * kyy) of extended sums: the mantissas' quotient, scaled at the end.
double normalized(ExtendedSum kxy, ExtendedSum kxx, ExtendedSum kyy) noexcept {
    double product = kxx.mantissa * kyy.mantissa;
    std::int64_t exponent = kxx.exponent + kyy.exponent;
    if (exponent % 2 != 0) product *= 2.0, exponent -= 1;  // an even exponent has an exact root
    // Far beyond the range of doubles either way; the clamp only keeps the int conversion safe.
    const std::int64_t scale = std::clamp<std::int64_t>(kxy.exponent - exponent / 2, -8192, 8192);
    return std::ldexp(kxy.mantissa / std::sqrt(product), static_cast<int>(scale));
}

// The sums of pairs (x_k, y_k) of one shape, the table's row groups of pairs side by side (the
// last group's unused lanes repeat its last pair), or one pair in one lane: the plain sums, and
// with `extended` the scaled sweep's too.
class RowSweeps {
public:
    RowSweeps(const KernelRule& rule, std::size_t n, std::size_t m, std::size_t d, std::size_t pairs)
        : rule_(rule), n_(n), m_(m), d_(d), width_(pairs > 1 ? rule.kernels.group_width : 1),
          storage_(Buffer<double>::uninitialized(checked_mul(
              width_, checked_add(checked_mul(checked_add(n, m), d), checked_add(checked_mul(checked_add(m, 1), 5), 2))))),
          exponents_(Buffer<std::int64_t>::uninitialized(width_)) {}

    std::size_t width() const noexcept { return width_; }

    // plain[k] (and extended[k] unless null) of the pairs (x_of(k), y_of(k)) for k < count.
    template <class XOf, class YOf>
    void sweep(std::size_t count, XOf&& x_of, YOf&& y_of, double* plain, ExtendedSum* extended) {
        const std::size_t L = width_;
        double* xs = storage_.data();
        double* ys = xs + n_ * d_ * L;
        double* rows = ys + m_ * d_ * L;
        double* plains = rows + (5 * (m_ + 1)) * L;
        double* mantissas = plains + L;
        for (std::size_t first = 0; first < count; first += L) {
            const std::size_t used = std::min(L, count - first);
            for (std::size_t k = 0; k < L; ++k) {
                interleave_lane(x_of(first + std::min(k, used - 1)), k, xs);
                interleave_lane(y_of(first + std::min(k, used - 1)), k, ys);
            }
            const global_alignment::RowGroupKernel kernel = L == 1 ? rule_.kernels.one_pair : rule_.kernels.groups;
            kernel({xs, ys, n_, m_, d_, rule_.exp, &rule_.libm, rule_.divisor, rule_.exact_reciprocal, rows, plains,
                    extended != nullptr ? mantissas : nullptr, exponents_.data()});
            for (std::size_t k = 0; k < used; ++k) {
                plain[first + k] = plains[k];
                if (extended != nullptr) extended[first + k] = {mantissas[k], exponents_[k]};
            }
        }
    }

private:
    // Feature f of step i of series s into lane k: out[(f * steps + i) * width + k].
    void interleave_lane(const Series& s, std::size_t k, double* out) const noexcept {
        const std::size_t steps = s.extent(0);
        for (std::size_t f = 0; f < d_; ++f)
            for (std::size_t i = 0; i < steps; ++i) out[(f * steps + i) * width_ + k] = s(i, f);
    }

    const KernelRule& rule_;
    std::size_t n_, m_, d_, width_;
    Buffer<double> storage_;
    Buffer<std::int64_t> exponents_;
};

// The extended form of the plain sum K(x, y) if it is in range, else of the scaled sweep's.
ExtendedSum extended_sum(double plain, const Series& x, const Series& y, const KernelRule& rule) {
    if (in_range(plain)) return extended(plain);
    check_feature_counts(x, y);
    const std::size_t n = x.extent(0), m = y.extent(0);
    if (n == 0 || m == 0) return extended(empty_alignment_sum(n, m));
    RowSweeps sweeps(rule, n, m, x.extent(1), 1);
    double swept_plain;
    ExtendedSum sum;
    sweeps.sweep(1, [&](std::size_t) { return x; }, [&](std::size_t) { return y; }, &swept_plain, &sum);
    return sum;
}

// The extended forms of a set's self-similarities: the plain ones where they are in range (or
// NaN), the others swept with scaled rows, several series side by side.
std::vector<ExtendedSum> extended_self_sums(const SeriesSet& set, const std::vector<double>& plain,
                                            const KernelRule& rule) {
    std::vector<ExtendedSum> sums(plain.size());
    std::vector<std::size_t> out_of_range;
    for (std::size_t i = 0; i < plain.size(); ++i) {
        if (in_range(plain[i]) || std::isnan(plain[i]))
            sums[i] = extended(plain[i]);
        else
            out_of_range.push_back(i);
    }
    if (out_of_range.empty()) return sums;
    const std::size_t steps = set.extent(1);  // at least 1: an empty series' sum is 1
    // Groups of series on the worker pool, one group a task.
    const std::size_t width = rule.kernels.group_width, groups = (out_of_range.size() + width - 1) / width;
    pool::parallel_for(groups, [&](std::size_t begin, std::size_t end) {
        for (std::size_t g = begin; g < end && !pool::stop_requested(); ++g) {
            const std::size_t first = g * width, count = std::min(width, out_of_range.size() - first);
            RowSweeps sweeps(rule, steps, steps, set.extent(2), count);
            std::vector<double> swept_plain(count);
            std::vector<ExtendedSum> swept(count);
            const auto series = [&](std::size_t k) { return set[out_of_range[first + k]]; };
            sweeps.sweep(count, series, series, swept_plain.data(), swept.data());
            for (std::size_t k = 0; k < count; ++k) sums[out_of_range[first + k]] = swept[k];
        }
    });
    return sums;
}

}  // namespace

double unnormalized_gak(const Series& x, const Series& y, double sigma) {
    if (x.extent(0) == 0 || y.extent(0) == 0) return empty_alignment_sum(x.extent(0), y.extent(0));
    check_feature_counts(x, y);  // before the working memory, which the features size
    const KernelRule rule(sigma);
    StripRows strips(x.extent(0), y.extent(0), x.extent(1));
    return gak_sum(x, y, rule, strips);
}

double gak(const Series& x, const Series& y, double sigma) {
    check_feature_counts(x, y);  // before the working memory, which the features size
    const KernelRule rule(sigma);
    // K(y, y) reads all of y's features, which may be more than x's.
    const std::size_t longest = std::max(x.extent(0), y.extent(0));
    StripRows strips(longest, longest, std::max(x.extent(1), y.extent(1)));
    const double kxy = gak_sum(x, y, rule, strips);
    const double kxx = self_gak(x, rule, strips);
    const double kyy = self_gak(y, rule, strips);
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
        StripRows strips(s.extent(0), s.extent(0), s.extent(1));
        return self_gak(s, rule, strips);
    };
    // A set against itself: its self-similarities serve for both sides, and, the kernel sum
    // being symmetric to the bit (as for the self-similarities; only the payload of a NaN could
    // tell the two orders apart), each unordered pair is swept once.
    const bool symmetric = same_view(x, y);
    const auto dx = pool::parallel_map(x.extent(0), [&](std::size_t i) { return self_similarity(x[i]); });
    const auto dy = symmetric ? std::vector<double>{}
                              : pool::parallel_map(y.extent(0), [&](std::size_t j) { return self_similarity(y[j]); });
    const std::vector<double>& dy_or_dx = symmetric ? dx : dy;
    const auto ex = extended_self_sums(x, dx, rule);
    const auto ey = symmetric ? std::vector<ExtendedSum>{} : extended_self_sums(y, dy, rule);
    const std::vector<ExtendedSum>& ey_or_ex = symmetric ? ex : ey;
    const std::size_t n = x.extent(1), m = y.extent(1), d = x.extent(2);
    // The entry of column j from the plain sum and, where it left the range, the scaled one.
    const auto entry = [&](std::size_t i, std::size_t j, double plain, const ExtendedSum& swept) {
        if (!needs_extension(plain, dx[i], dy_or_dx[j])) return normalized(plain, dx[i], dy_or_dx[j]);
        return normalized(in_range(plain) ? extended(plain) : swept, ex[i], ey_or_ex[j]);
    };
    // Each worker's rows in order. The strips give the plain sums; once one of them leaves the
    // range of doubles, the rest of the row, and the worker's later rows, are swept in row groups,
    // which give both sums in one pass, until a whole row stays in range (rows of similar series
    // tend to leave the range alike).
    if (result.cols > 0)
        pool::parallel_for(result.rows, [&](std::size_t begin, std::size_t end) {
            StripRows strips(n, m, d);
            std::vector<double> plain;
            std::vector<ExtendedSum> swept;
            bool grouped = false;
            for (std::size_t i = begin; i < end && !pool::stop_requested(); ++i) {
                const Series xi = x[i];
                double* row = result.row(i);
                const RowColumns columns{i, y.extent(0), symmetric};
                const std::size_t count = columns.count();
                std::size_t k = 0;
                for (; !grouped && k < count; ++k) {
                    const std::size_t j = columns[k];
                    const double kxy = gak_sum(xi, y[j], rule, strips);
                    // An empty series' sum is exact whatever its value (and its features go
                    // unchecked): no sweep, which would read features the other side may lack.
                    grouped = n > 0 && m > 0 && needs_extension(kxy, dx[i], dy_or_dx[j]) && !in_range(kxy);
                    if (grouped) break;
                    row[j] = entry(i, j, kxy, extended(kxy));
                }
                if (!grouped) continue;
                const std::size_t rest = count - k;
                plain.resize(rest);
                swept.resize(rest);
                RowSweeps sweeps(rule, n, m, d, rest);
                sweeps.sweep(rest, [&](std::size_t) { return xi; }, [&](std::size_t r) { return y[columns[k + r]]; },
                             plain.data(), swept.data());
                bool left_the_range = false;
                for (std::size_t r = 0; r < rest; ++r) {
                    row[columns[k + r]] = entry(i, columns[k + r], plain[r], swept[r]);
                    left_the_range |= !in_range(plain[r]);
                }
                grouped = left_the_range;
            }
        });
    if (symmetric) mirror_half_rows(result);
    return result;
}

}  // namespace rc::distances
