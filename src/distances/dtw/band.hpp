// What the DTW distance, path and matrix prepare before the recurrence: the band as one column
// span per row of x, and series packed for the kernels' inner loops.
#pragma once

#include <cstddef>
#include <limits>

#include "core/array_view.hpp"
#include "core/buffer.hpp"
#include "distances/alignment.hpp"
#include "distances/dtw/dtw.hpp"
#include "distances/dtw/kernels.hpp"

namespace rc::distances::dtw {

// The distance when a series is empty: 0.0 for two empty series, +inf for one.
inline double empty_pair_distance(std::size_t n, std::size_t m) noexcept {
    return empty_alignment(n, m, 0.0, std::numeric_limits<double>::infinity());
}

// For each of the n steps of x, the columns of A that lie in the band. Without a radius every
// row spans columns 1..m. With one, cell (i, j) belongs to the band when |j - c| <= r for the
// centre c = (i * s) / q, q = n - 1 (1.0 for n = 1), s = m - 1.0, all in double precision;
// the spans reproduce that test exactly. n and m are at least 1.
Buffer<Span> band_spans(std::size_t n, std::size_t m, BandRadius radius);

// Copies the first d features of every step of s into out (steps x d, row-major) and tells
// whether all of them are finite.
bool pack_steps(const Series& s, std::size_t d, double* out) noexcept;

}  // namespace rc::distances::dtw
