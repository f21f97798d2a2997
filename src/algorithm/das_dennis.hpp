// Das-Dennis structured reference directions: every point of the unit simplex in n_dim
// dimensions whose coordinates are multiples of 1/n_partitions.
#pragma once

#include <cstdint>

#include "core/buffer.hpp"

namespace rc::algorithm {

// One row per direction, n_dim columns, rows in ascending lexicographic order. Row
// (k_1/P, ..., k_d/P) for every split of P into d non-negative integers. Special cases:
// n_dim = 0 throws InvalidValue, n_dim = 1 gives [[1.0]], P = 0 gives one row of 1/n_dim.
// A row count or byte size that overflows is a kernel failure ("capacity overflow").
Matrix<double> das_dennis(std::uint64_t n_dim, std::uint64_t n_partitions);

// C(n, k), or a kernel failure ("capacity overflow") when it does not fit 64 bits.
std::uint64_t checked_binomial(std::uint64_t n, std::uint64_t k);

}  // namespace rc::algorithm
