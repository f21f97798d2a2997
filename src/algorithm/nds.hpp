// Non-dominated sorting: partitions the rows of an objective matrix (every objective
// minimised) into Pareto fronts.
#pragma once

#include <cstdint>
#include <vector>

#include "core/array_view.hpp"
#include "core/buffer.hpp"

namespace rc::algorithm {

// Row indices of each front, ascending, best front first. Every row lies in exactly one front.
using Fronts = std::vector<Buffer<std::int64_t>>;

// Row a dominates row b when a is strictly smaller in at least one objective and b is strictly
// smaller in none; an objective where either value is NaN counts for neither side. The fronts
// are those of peeling: the rows nobody remaining dominates, then the same among the rest, and
// when NaN makes dominance cyclic and nobody qualifies, all remaining rows as the last front.
Fronts non_dominated_fronts(const MatrixView& f);

}  // namespace rc::algorithm
