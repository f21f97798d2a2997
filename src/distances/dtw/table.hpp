// The DTW kernels of one target, with their tuning: how many rows of x a lane strip runs together.
#pragma once

#include <cstddef>

#include "distances/dtw/kernels.hpp"
#include "distances/dtw/path_lanes.hpp"
#include "distances/dtw/strip_lanes.hpp"
#include "simd/targets.hpp"

namespace rc::distances::dtw {

// Rows of x per lane strip, with two vectors of pairs per row: as many as keep those 2 * rows
// accumulators within a quarter of the registers (AVX-512: 4, AVX2, NEON: 2). Where the
// registers hold fewer than 64 doubles (SSE2's 16 of two lanes) the strip spills more than it
// gains, and pairs run one at a time (0). NEON's 32 registers keep it: 5.5 instructions a cell
// against 13 one pair at a time.
template <class Ops>
inline constexpr std::size_t kLaneStripRows =
    Ops::lanes * Ops::registers < 64 ? 0 : Ops::registers / 8;

template <class Isa, std::size_t Vectors>
constexpr LaneKernel lane_kernel() {
    using Ops = typename Isa::Wide;
    if constexpr (kLaneStripRows<Ops> == 0)
        return nullptr;
    else
        return accumulate_any<Ops, Vectors, kLaneStripRows<Ops>>;
}

// The one-pair recurrence and the path's forward pass are one chain each: only the table of the
// default encoding carries them (kernels.cpp takes them from there).
template <class Isa>
Kernels make_table() {
    using Ops = typename Isa::Wide;
    Kernels table{nullptr, nullptr, record_moves<typename Isa::Wide>,
                  kLaneStripRows<Ops> == 0 ? 0 : Ops::lanes, lane_kernel<Isa, 1>(), lane_kernel<Isa, 2>()};
    if constexpr (Isa::id == simd::kDefaultEncodingTarget) {
        table.one_pair = accumulate_any<typename Isa::Scalar, 1, kStripRows, FeaturePairs<Isa>>;
        table.path = forward_pass_any<Isa>;
    }
    return table;
}

}  // namespace rc::distances::dtw
