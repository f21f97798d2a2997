// The Manhattan kernels of one target, with their tuning: which vectors sum pairs in lanes.
#pragma once

#include "distances/manhattan/kernels.hpp"
#include "distances/manhattan/sum_lanes.hpp"
#include "simd/targets.hpp"

namespace rc::distances::manhattan {

// Where the registers hold fewer than 64 doubles (SSE2) lanes would barely beat one pair at a
// time; elsewhere pairs run in groups of two vectors (NEON: 4.7 instructions an element against
// about 21). Eight lanes take packed blocks in one group (more concurrent streams make the
// series collide in the L1 cache when their distance is a multiple of 4 KiB, as it often is) and
// leave strided blocks to the narrower vectors' gathers (AVX-512's gather is slower than AVX2's
// on some processors).
template <class Isa>
constexpr auto lanes_kernel() -> std::size_t (*)(const Block&, std::size_t, double*) {
    using Wide = typename Isa::Wide;
    using Narrow = typename Isa::Narrow;
    if constexpr (Wide::lanes * Wide::registers < 64)
        return nullptr;
    else if constexpr (Wide::lanes == Narrow::lanes)
        return sum_lanes<Wide, 2, true>;
    else
        return sum_lanes_wide_then_narrow<Wide, 1, false, Narrow, 2>;
}

// One pair is one chain of additions: only the table of the default encoding carries it
// (kernels.cpp takes it from there).
template <class Isa>
Kernels make_table() {
    Kernels table{nullptr, lanes_kernel<Isa>()};
    if constexpr (Isa::id == simd::kDefaultEncodingTarget) table.one_pair = one_pair<Isa>;
    return table;
}

}  // namespace rc::distances::manhattan
