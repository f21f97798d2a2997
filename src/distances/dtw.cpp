#include "distances/dtw.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "distances/cost.hpp"
#include "distances/dtw_kernels.hpp"

namespace rc::distances {
namespace dtw_detail {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

// Whether column j (0-based step of y) lies within r of the row's centre c, evaluated exactly
// as the band defines it: the difference rounded to double, then compared.
bool in_band(std::size_t j, double centre, double radius) {
    return std::fabs(static_cast<double>(j) - centre) <= radius;
}

// The band's columns of one row as a span of A's columns. The test is monotone in j on
// either side of the centre (rounding preserves order), so the columns that pass form one
// run around the centre; its ends are estimated in double and then corrected by the exact
// test, which moves them by a step at most.
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

// Sets row[first..last] to +inf (nothing when first > last).
inline void clear(double* row, std::size_t first, std::size_t last) noexcept {
    for (std::size_t j = first; j <= last; ++j) row[j] = kInf;
}

// The minimum that ignores a NaN operand: NaN only when both are NaN. Written as the SIMD
// kernels compute it (b NaN: a; otherwise a < b ? a : b), so every path picks the same bits.
inline double min_ignoring_nan(double a, double b) noexcept { return std::isnan(b) ? a : (a < b ? a : b); }
inline double plain_min(double a, double b) noexcept { return a < b ? a : b; }

// Squared distance between two packed steps, features summed in increasing order from 0.0.
// With one feature 0.0 + diff * diff is diff * diff exactly (a square is never -0.0).
template <std::size_t D>
inline double step_cost(const double* a, const double* b, std::size_t d) noexcept {
    if constexpr (D == 1) {
        const double diff = a[0] - b[0];
        return diff * diff;
    } else {
        double sum = 0.0;
        for (std::size_t k = 0; k < (D ? D : d); ++k) {
            const double diff = a[k] - b[k];
            sum += diff * diff;
        }
        return sum;
    }
}

// A[i + 1][j + 1] = C[i][j] + min(min(up, left), diag) over the band, one row of A kept in
// `row` (row[J] = A[i][J] before row i + 1 is written, A[i + 1][J] after). Columns outside the
// current span must read +inf, so the previous row's leftovers are cleared as the band moves.
// NanFree: no operand can be NaN, so the minimum is the plain one and, being exact and
// order-free, min(min(up, diag), left) gives the same bits while keeping the diagonal off the
// chain that runs through `left` from cell to cell.
template <std::size_t D, bool NanFree>
double recurrence(const double* x, const double* y, std::size_t n, std::size_t m, std::size_t d,
                  const Span* spans, double* row) noexcept {
    const std::size_t dim = D ? D : d;
    row[0] = 0.0;
    std::fill(row + 1, row + m + 1, kInf);
    std::size_t live_first = 0, live_last = 0;  // columns the previous row wrote
    for (std::size_t t = 0; t < n; ++t) {
        const Span span = spans[t];
        double diag = row[span.first - 1];
        clear(row, live_first, std::min(live_last, span.first - 1));
        clear(row, std::max(live_first, span.last + 1), live_last);
        double left = kInf;
        const double* xt = x + t * dim;
        for (std::size_t J = span.first; J <= span.last; ++J) {
            const double cost = step_cost<D>(xt, y + (J - 1) * dim, dim);
            const double up = row[J];
            const double best = NanFree ? plain_min(plain_min(up, diag), left)
                                        : min_ignoring_nan(min_ignoring_nan(up, left), diag);
            const double value = cost + best;
            row[J] = value;
            diag = up;
            left = value;
        }
        live_first = span.first;
        live_last = span.last;
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
    if (n == 0 || m == 0) return n == m ? 0.0 : std::numeric_limits<double>::infinity();
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
