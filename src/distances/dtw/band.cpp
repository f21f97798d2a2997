// The Sakoe-Chiba band as one span of columns per row, and the packing of series for the DTW
// kernels.
#include "distances/dtw/band.hpp"

#include <algorithm>
#include <cmath>

namespace rc::distances::dtw {
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

}  // namespace rc::distances::dtw
