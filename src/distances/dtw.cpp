// The DTW distance of one pair: the band as column spans, the series packed, and the
// recurrence over one row of accumulated costs, a strip of rows of x at a time.
#include "distances/dtw.hpp"

#include <algorithm>
#include <cmath>

#include "distances/cost.hpp"
#include "distances/dtw_kernels.hpp"
#include "distances/dtw_strip.hpp"

namespace rc::distances {
namespace dtw_detail {
namespace {

// Whether column j (0-based step of y) lies within r of the row's centre c, evaluated exactly
// as the band defines it: the difference rounded to double, then compared.
bool in_band(std::size_t j, double centre, double radius) {
    return std::fabs(static_cast<double>(j) - centre) <= radius;
}

// The band's columns of one row as a span of A's columns. The test is monotone in j on
// either side of the centre (rounding preserves order), so the columns that pass form one
// run around the centre; its ends are estimated in double and then corrected by the exact
// test, which moves them by a step or two at most.
Span row_span(double centre, double radius, std::size_t m) {
    constexpr Span none{1, 0};
    const double last_column = static_cast<double>(m - 1);
    const double below = std::clamp(std::floor(centre), 0.0, last_column);
    std::size_t nearest = static_cast<std::size_t>(below);
    if (!in_band(nearest, centre, radius)) {
        if (nearest + 1 < m && in_band(nearest + 1, centre, radius))
            ++nearest;
        else
            return none;  // a narrow band between two columns: this row has no cell
    }
    const double low_end = centre - radius;
    std::size_t lo = low_end <= 0.0 ? 0 : std::min(static_cast<std::size_t>(std::ceil(std::min(low_end, last_column))), nearest);
    while (lo > 0 && in_band(lo - 1, centre, radius)) --lo;
    while (!in_band(lo, centre, radius)) ++lo;
    const double high_end = centre + radius;
    std::size_t hi = high_end >= last_column ? m - 1 : std::max(static_cast<std::size_t>(std::floor(high_end)), nearest);
    while (hi + 1 < m && in_band(hi + 1, centre, radius)) ++hi;
    while (!in_band(hi, centre, radius)) --hi;
    return Span{lo + 1, hi + 1};
}

// A[n][m], keeping one row of A: before each strip it holds the row above the strip, +inf
// outside the columns `live`.
template <std::size_t D, bool NanFree>
double recurrence(const double* x, const double* y, std::size_t n, std::size_t m, std::size_t d,
                  const Span* spans, double* row) noexcept {
    // Only the strip's last row is kept, in place of the row above it.
    constexpr std::size_t R = kStripRows;
    double* keep_last[R] = {};
    keep_last[R - 1] = row;
    double* const keep_one[1] = {row};
    row[0] = 0.0;
    std::fill(row + 1, row + m + 1, kInfinity);
    Span live{0, 0};  // A[0][0] = 0
    for (std::size_t t = 0; t < n;) {
        Span written;
        if (t + R <= n && strip_pays<R>(spans + t)) {
            written = run_strip<R, D, NanFree, false>(x, y, d, spans + t, t, row, keep_last);
            t += R;
        } else {
            written = run_strip<1, D, NanFree, false>(x, y, d, spans + t, t, row, keep_one);
            t += 1;
        }
        clear_outside(row, live, written);
        live = written;
    }
    return row[m];
}

}  // namespace

Buffer<Span> band_spans(std::size_t n, std::size_t m, BandRadius radius) {
    auto spans = Buffer<Span>::uninitialized(n);
    if (!radius) {
        for (auto& span : spans) span = Span{1, m};
        return spans;
    }
    const double divisor = n >= 2 ? static_cast<double>(n - 1) : 1.0;
    const double scale = static_cast<double>(m) - 1.0;
    const double r = static_cast<double>(*radius);
    for (std::size_t i = 0; i < n; ++i) spans[i] = row_span((static_cast<double>(i) * scale) / divisor, r, m);
    return spans;
}

bool pack_steps(const Series& s, std::size_t d, double* out) noexcept {
    if (d == 0) return true;  // nothing to copy, however many steps a zero-stride view has
    bool finite = true;
    for (std::size_t u = 0; u < s.extent(0); ++u) {
        for (std::size_t k = 0; k < d; ++k) {
            const double v = s(u, k);
            finite &= std::isfinite(v);
            out[u * d + k] = v;
        }
    }
    return finite;
}

double accumulated_cost(const double* x, const double* y, std::size_t n, std::size_t m, std::size_t d,
                        const Span* spans, bool nan_free, double* row) noexcept {
    if (d == 1)
        return nan_free ? recurrence<1, true>(x, y, n, m, d, spans, row) : recurrence<1, false>(x, y, n, m, d, spans, row);
    return nan_free ? recurrence<0, true>(x, y, n, m, d, spans, row) : recurrence<0, false>(x, y, n, m, d, spans, row);
}

}  // namespace dtw_detail

double dtw_pair(const Series& x, const Series& y, BandRadius radius) {
    using namespace dtw_detail;
    const std::size_t n = x.extent(0), m = y.extent(0), d = x.extent(1);
    if (n == 0 || m == 0) return n == m ? 0.0 : kInfinity;
    check_feature_counts(x, y);
    auto xs = Buffer<double>::uninitialized(checked_mul(n, d));
    auto ys = Buffer<double>::uninitialized(checked_mul(m, d));
    const bool x_finite = pack_steps(x, d, xs.data());
    const bool y_finite = pack_steps(y, d, ys.data());
    const auto spans = band_spans(n, m, radius);
    auto row = Buffer<double>::uninitialized(checked_add(m, 1));
    return std::sqrt(accumulated_cost(xs.data(), ys.data(), n, m, d, spans.data(),
                                      x_finite && y_finite, row.data()));
}

}  // namespace rc::distances
