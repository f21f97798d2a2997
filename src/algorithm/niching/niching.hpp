// The niching step of reference-point based selection: every solution joins the reference
// direction nearest to its normalised objective vector.
#pragma once

#include <cstdint>
#include <utility>

#include "core/array_view.hpp"
#include "core/buffer.hpp"

namespace rc::algorithm {

// Returns (niches, distances), one entry per row of f. Row i is normalised with
// (f[i][j] - ideal[j]) / max(nadir[j] - ideal[j], 1e-12) and measured against every row w of
// ref_dirs (its first n entries) by the length of its component orthogonal to w; the nearest
// direction wins, the lowest index on ties, and a NaN distance never wins (unless it is the
// one to direction 0, which stands). Rows are computed in parallel on the worker pool; the
// result does not depend on the worker count or on the instruction set used.
std::pair<Buffer<std::int64_t>, Buffer<double>> associate_to_niches(
    const MatrixView& f, const MatrixView& ref_dirs, const VectorView& ideal, const VectorView& nadir);

}  // namespace rc::algorithm
