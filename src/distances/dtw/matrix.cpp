// The DTW distance matrix. Every pair of a row shares x[i] and the shape of y's series, hence
// the band, so a row runs its pairs several at a time, one per SIMD lane, on the lane kernels
// of the process's target (dtw/kernels.hpp); entry by entry the operations are those of dtw_pair.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>

#include "distances/cost/cost.hpp"
#include "distances/dtw/band.hpp"
#include "distances/dtw/dtw.hpp"
#include "distances/pairwise.hpp"
#include "distances/dtw/kernels.hpp"

namespace rc::distances {
namespace {

using dtw::LaneProblem;
using dtw::Span;

// When x and y are the same view, dtw(x_i, x_j) and dtw(x_j, x_i) are equal, NaN for NaN (equal
// lengths make the band |j - i| <= r exactly symmetric, (a - b)^2 = (b - a)^2, and the
// NaN-ignoring minimum of up and left does not depend on their order, the values never being
// -0.0), so each unordered pair is computed once (see RowColumns).

// Interleaves one series into lane `lane` of `lanes`: element (u, k) at (u * d + k) * lanes + lane.
void pack_lane(const Series& s, std::size_t d, std::size_t lane, std::size_t lanes, double* out) noexcept {
    const std::ptrdiff_t step_stride = s.byte_stride(0), feature_stride = s.byte_stride(1);
    const std::byte* step = s.data();
    double* to = out + lane;
    for (std::size_t u = 0; u < s.extent(0); ++u, step += step_stride) {
        const std::byte* feature = step;
        for (std::size_t k = 0; k < d; ++k, feature += feature_stride, to += lanes) *to = load_at<double>(feature);
    }
}

// Whether count doubles are all finite, in one pass the compiler can vectorize: x - x is +0.0
// (all bits clear) for a finite x and NaN otherwise.
bool all_finite(const double* values, std::size_t count) noexcept {
    std::uint64_t bits = 0;
    for (std::size_t i = 0; i < count; ++i) bits |= std::bit_cast<std::uint64_t>(values[i] - values[i]);
    return bits == 0;
}

struct Problem {
    const SeriesSet& x;
    const SeriesSet& y;
    std::size_t n, m, d;  // steps of x's series, steps of y's series, features of x
    const Span* spans;
    const dtw::Kernels& kernels;
    bool symmetric;
};

// Everything one row works in, in one allocation: x[i] packed, the series of y packed for
// `lanes` lanes, the rolling row of A of every lane, and the lanes' results.
struct RowScratch {
    Buffer<double> storage;
    double *xs, *ys, *row, *results;

    RowScratch(const Problem& p, std::size_t lanes) {
        const std::size_t xs_size = checked_mul(p.n, p.d);
        const std::size_t ys_size = checked_mul(checked_mul(p.m, p.d), lanes);
        const std::size_t row_size = checked_mul(checked_add(p.m, 1), lanes);
        storage = Buffer<double>::uninitialized(checked_add(checked_add(xs_size, ys_size), checked_add(row_size, lanes)));
        xs = storage.data();
        ys = xs + xs_size;
        row = ys + ys_size;
        results = row + row_size;
    }
};

// Entry j of the row on the scalar recurrence.
double one_pair(const Problem& p, std::size_t j, const RowScratch& s, bool x_finite) {
    const bool y_finite = dtw::pack_steps(p.y[j], p.d, s.ys);
    double last;
    p.kernels.one_pair({s.xs, s.ys, p.spans, p.n, p.m, p.d, x_finite && y_finite, s.row, &last});
    return std::sqrt(last);
}

void fill_row_pair_by_pair(const Problem& p, const RowColumns& columns, const RowScratch& s, bool x_finite, double* out) {
    for (std::size_t k = 0; k < columns.count(); ++k) out[columns[k]] = one_pair(p, columns[k], s, x_finite);
}

// Groups of two vectors of pairs while more than one vector and a pair remain, then one
// vector; a group's unused lanes repeat its last pair and are discarded. A single pair left
// over runs on the scalar recurrence, which is faster than a vector of one useful lane.
void fill_row_in_lanes(const Problem& p, const RowColumns& columns, const RowScratch& s, bool x_finite, double* out) {
    const dtw::Kernels& kernels = p.kernels;
    const std::size_t width = kernels.vector_lanes, count = columns.count();
    for (std::size_t k = 0; k < count;) {
        const std::size_t remaining = count - k;
        if (remaining == 1) {
            out[columns[k]] = one_pair(p, columns[k], s, x_finite);
            break;
        }
        const bool two = remaining > width + 1;
        const std::size_t lanes = two ? 2 * width : width, used = std::min(remaining, lanes);
        for (std::size_t lane = 0; lane < lanes; ++lane)
            pack_lane(p.y[columns[k + std::min(lane, used - 1)]], p.d, lane, lanes, s.ys);
        const bool finite = x_finite && all_finite(s.ys, p.m * p.d * lanes);
        const LaneProblem problem{s.xs, s.ys, p.spans, p.n, p.m, p.d, finite, s.row, s.results};
        (two ? kernels.two_vectors : kernels.one_vector)(problem);
        for (std::size_t lane = 0; lane < used; ++lane) out[columns[k + lane]] = std::sqrt(s.results[lane]);
        k += used;
    }
}

void fill_row(const Problem& p, std::size_t i, double* out) {
    const Series xi = p.x[i];
    check_feature_counts(xi, p.y[0]);
    const RowColumns columns{i, p.y.extent(0), p.symmetric};
    const std::size_t width = p.kernels.vector_lanes;
    const RowScratch scratch(p, width == 0 ? 1 : columns.count() > width + 1 ? 2 * width : width);
    const bool x_finite = dtw::pack_steps(xi, p.d, scratch.xs);
    if (width == 0)
        fill_row_pair_by_pair(p, columns, scratch, x_finite, out);
    else
        fill_row_in_lanes(p, columns, scratch, x_finite, out);
}

}  // namespace

Matrix<double> cdist_dtw(const SeriesSet& x, const SeriesSet& y, BandRadius radius) {
    const std::size_t n_x = x.extent(0), n_y = y.extent(0);
    const std::size_t n = x.extent(1), m = y.extent(1), d = x.extent(2);
    if (n == 0 || m == 0) return Matrix<double>::filled(n_x, n_y, dtw::empty_pair_distance(n, m));
    const auto spans = dtw::band_spans(n, m, radius);
    const Problem problem{x, y, n, m, d, spans.data(), dtw::kernels(), same_view(x, y)};
    auto result = pairwise_rows(n_x, n_y, [&](std::size_t i, double* out) { fill_row(problem, i, out); });
    if (problem.symmetric) mirror_half_rows(result);
    return result;
}

}  // namespace rc::distances
