// The nearest-direction search's plain data and kernel table (niching/table.hpp defines it per
// target).
#pragma once

#include <cstddef>
#include <cstdint>

namespace rc::algorithm::niching {

// The reference directions laid out for lanes across directions: objective k of direction r
// is columns[k * stride + r], its floored squared norm squared_norms[r]. Entries count …
// stride-1 are padding: NaN components (so their distance is NaN and never nearest) and a
// norm of 1.0. stride is a multiple of kLaneBlock.
struct DirectionTable {
    const double* columns;
    const double* squared_norms;
    std::size_t dims;
    std::size_t count;
    std::size_t stride;
};

inline constexpr std::size_t kLaneBlock = 8;

// Nearest direction for `rows` normalised points stored row after row (dims values each):
// niche[i] and distance[i] receive its index and distance. count ≥ 1 and dims ≥ 1.
//
// Every distance is computed in this order, whatever the lane width:
//   dot = p[0]·w[0]; dot += p[k]·w[k] for k = 1 … dims-1;  t = dot / s
//   sum = (p[0] - w[0]·t)²; sum += (p[k] - w[k]·t)² for k = 1 … dims-1;  distance = √sum
// and the winner is the first direction whose distance is strictly below that of every
// earlier one, starting from direction 0 (so a NaN there stands, and NaN never wins later).
using NearestFn = void (*)(const DirectionTable& table, const double* points, std::size_t rows,
                           std::int64_t* niche, double* distance);

struct Kernels {
    NearestFn nearest;
};

template <class Isa>
Kernels make_table();

// The table of the process's target, chosen at first use (kernels.cpp).
const Kernels& kernels() noexcept;

}  // namespace rc::algorithm::niching
