#include "distances/dtw.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <type_traits>
#include <utility>

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

// The recurrence A[i + 1][j + 1] = C[i][j] + min(min(up, left), diag) over the band, with
// one row of A kept in `row`: before rows t0.. of x are processed, row[J] = A[t0][J]; after,
// it holds the last row processed. Columns outside that row's span must read +inf, so what
// the row before left there is cleared as the band moves.
//
// The cell to the left is on the critical path (a minimum and an addition per cell), so R
// rows of x run together, skewed by one column: in step J row r computes column J - r, taking
// its upper neighbour from row r - 1's result of the step before. The R chains then overlap.
// Every cell is computed by the same operations as one row at a time would.
//
// NanFree: no operand can be NaN, so the minimum is the plain one and, being exact and
// order-free, min(min(up, diag), left) gives the same bits while keeping the diagonal off the
// chain through `left`.
template <std::size_t R, std::size_t D, bool NanFree>
class RowStrip {
public:
    RowStrip(const double* x, const double* y, std::size_t d, const Span* spans, std::size_t t0, double* row) noexcept
        : y_(y), dim_(D ? D : d), spans_(spans), row_(row) {
        for (std::size_t r = 0; r < R; ++r) {
            x_[r] = x + (t0 + r) * dim_;
            diag_[r] = kInf;
            out_[r] = kInf;
        }
    }

    // Computes the strip's rows; `live` holds the columns of row[] that may be finite, before
    // and after.
    void run(Span& live) noexcept {
        const std::size_t first = spans_[0].first, last = spans_[R - 1].last;
        diag_[0] = row_[first - 1];
        clear(row_, live.first, std::min(live.last, first - 1));
        clear(row_, std::max(live.first, last + 1), live.last);
        // Steps in which every row's column lies within its own span need no checks.
        std::size_t fast_first = 0, fast_last = last + R;
        for (std::size_t r = 0; r < R; ++r) {
            fast_first = std::max(fast_first, spans_[r].first + r);
            fast_last = std::min(fast_last, spans_[r].last + r);
        }
        const std::size_t end = last + R;  // one past the last step
        std::size_t J = first;
        if (fast_first <= fast_last) {
            for (; J < fast_first; ++J) checked_step(J, first, last);
            for (; J <= fast_last; ++J) fast_step(J);
        }
        for (; J < end; ++J) checked_step(J, first, last);
        live = Span{first, last};
    }

private:
    void cell(std::size_t r, std::size_t column) noexcept {
        const double up = r == 0 ? row_[column] : out_[r - 1];
        const double cost = step_cost<D>(x_[r], y_ + (column - 1) * dim_, dim_);
        const double best = NanFree ? plain_min(plain_min(up, diag_[r]), out_[r])
                                    : min_ignoring_nan(min_ignoring_nan(up, out_[r]), diag_[r]);
        diag_[r] = up;
        out_[r] = cost + best;
        if (r == R - 1) row_[column] = out_[r];
    }

    void outside_span(std::size_t r, std::size_t column) noexcept {
        diag_[r] = r == 0 ? row_[column] : out_[r - 1];
        out_[r] = kInf;
        if (r == R - 1) row_[column] = kInf;
    }

    // Calls step(row) with row = R - 1, ..., 0 as compile-time constants. Rows run last to
    // first, so row r still sees row r - 1's result of the previous step.
    template <class Step>
    static void rows_last_to_first(Step&& step) noexcept {
        [&]<std::size_t... k>(std::index_sequence<k...>) {
            (step(std::integral_constant<std::size_t, R - 1 - k>{}), ...);
        }(std::make_index_sequence<R>{});
    }

    void fast_step(std::size_t J) noexcept {
        rows_last_to_first([&](auto r) { cell(r, J - r); });
    }

    void checked_step(std::size_t J, std::size_t first, std::size_t last) noexcept {
        rows_last_to_first([&](auto r) {
            if (J < first + r || J - r > last) return;  // row r has not started or is done
            const std::size_t column = J - r;
            if (column >= spans_[r].first && column <= spans_[r].last)
                cell(r, column);
            else
                outside_span(r, column);
        });
    }

    const double* x_[R];
    const double* y_;
    std::size_t dim_;
    const Span* spans_;
    double* row_;
    double diag_[R];  // A[t0 + r][column - 1]
    double out_[R];   // A[t0 + r + 1][column]: the last result of row r, its next left neighbour
};

// Whether R rows from spans[0] are worth running together: all have cells, their spans move
// monotonically (always so for the band), and the columns they span together are not many
// more than their own (a steep band of a long y against a short x is run row by row).
template <std::size_t R>
bool strip_pays(const Span* spans) noexcept {
    std::size_t cells = 0;
    for (std::size_t r = 0; r < R; ++r) {
        if (spans[r].first > spans[r].last) return false;
        if (r > 0 && (spans[r].first < spans[r - 1].first || spans[r].last < spans[r - 1].last)) return false;
        cells += spans[r].last - spans[r].first + 1;
    }
    const std::size_t hull = spans[R - 1].last - spans[0].first + 1;
    return hull * R <= cells + cells / 4 + 4 * R;
}

template <std::size_t D, bool NanFree>
double recurrence(const double* x, const double* y, std::size_t n, std::size_t m, std::size_t d,
                  const Span* spans, double* row) noexcept {
    constexpr std::size_t R = 4;
    row[0] = 0.0;
    std::fill(row + 1, row + m + 1, kInf);
    Span live{0, 0};  // A[0][0] = 0
    for (std::size_t t = 0; t < n;) {
        if (t + R <= n && strip_pays<R>(spans + t)) {
            RowStrip<R, D, NanFree>(x, y, d, spans + t, t, row).run(live);
            t += R;
        } else {
            RowStrip<1, D, NanFree>(x, y, d, spans + t, t, row).run(live);
            t += 1;
        }
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
