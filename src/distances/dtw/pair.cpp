// The DTW distance of one pair: the band as column spans, the series packed, then the scalar
// recurrence of the process's kernel table.
#include <cmath>

#include "distances/cost/cost.hpp"
#include "distances/dtw/band.hpp"
#include "distances/dtw/dtw.hpp"
#include "distances/dtw/kernels.hpp"

namespace rc::distances {

double dtw_pair(const Series& x, const Series& y, BandRadius radius) {
    using namespace dtw;
    const std::size_t n = x.extent(0), m = y.extent(0), d = x.extent(1);
    if (n == 0 || m == 0) return empty_pair_distance(n, m);
    check_feature_counts(x, y);
    auto xs = Buffer<double>::uninitialized(checked_mul(n, d));
    auto ys = Buffer<double>::uninitialized(checked_mul(m, d));
    const bool x_finite = pack_steps(x, d, xs.data());
    const bool y_finite = pack_steps(y, d, ys.data());
    const auto spans = band_spans(n, m, radius);
    auto row = Buffer<double>::uninitialized(checked_add(m, 1));
    double last;
    dtw::kernels().one_pair({xs.data(), ys.data(), spans.data(), n, m, d, x_finite && y_finite, row.data(), &last});
    return std::sqrt(last);
}

}  // namespace rc::distances
