// The soft-DTW kernels of one target, with their tuning: the widest group of cells, whether
// groups sweep two rows at a time, and whether cells are settled by the bracket on log.
#pragma once

#include <cstddef>
#include <type_traits>
#include <utility>

#include "distances/soft_dtw/cells_lanes.hpp"
#include "distances/soft_dtw/kernels.hpp"

namespace rc::distances::soft_dtw {

template <class Isa>
struct Tuning {
    using Wide = typename Isa::Wide;
    // A column keeps about two values per lane in registers across the calls: the widest group
    // fills half of them (SSE2: 16 lanes; AVX2, AVX-512: 32, the most kWidths has).
    static constexpr std::size_t widest = Wide::registers * Wide::lanes / 2 < 32 ? Wide::registers * Wide::lanes / 2 : 32;
    // Two rows double a step's cells; where registers hold fewer than 64 doubles (SSE2) they
    // spill more than their overlap gains.
    static constexpr bool two_rows = Wide::registers * Wide::lanes >= 64;
    // The bracket pays for itself where the registers hold 64 doubles: with SSE2's 16 its table
    // loads and division cost about what the calls it saves do, and the column's pending calls
    // come on top; NEON's 32 keep it (147 instructions a cell against 168).
    template <class Ops>
    static constexpr bool bracket = Ops::lanes * Ops::registers >= 64;

    // The ops of a group of L lanes: the widest vectors dividing L, from four lanes; one lane
    // each below that.
    template <std::size_t L>
    using Ops = std::conditional_t<(L >= 4), typename Isa::template Dividing<L>, typename Isa::Scalar>;
};

template <class Isa, std::size_t L>
constexpr RowKernel row_kernel() {
    using T = Tuning<Isa>;
    using Ops = typename T::template Ops<L>;
    if constexpr (L <= T::widest)
        return soft_row<Ops, L, T::template bracket<Ops>>;
    else
        return nullptr;
}

template <class Isa, std::size_t L>
constexpr TwoRowKernel two_row_kernel() {
    using T = Tuning<Isa>;
    using Ops = typename T::template Ops<L>;
    if constexpr (T::two_rows && L >= 4 && L <= T::widest)
        return soft_two_rows<Ops, L, T::template bracket<Ops>>;
    else
        return nullptr;
}

template <class Isa, std::size_t L>
constexpr StripKernel strip_kernel() {
    using T = Tuning<Isa>;
    using Ops = typename T::template Ops<L>;
    if constexpr (L <= T::widest)
        return soft_strip<Ops, L, T::template bracket<Ops>>;
    else
        return nullptr;
}

template <class Isa>
Kernels make_table() {
    return [&]<std::size_t... w>(std::index_sequence<w...>) {
        return Kernels{{row_kernel<Isa, kWidths[w]>()...}, {two_row_kernel<Isa, kWidths[w]>()...},
                       {strip_kernel<Isa, kWidths[w]>()...}};
    }(std::make_index_sequence<kWidthCount>{});
}

}  // namespace rc::distances::soft_dtw
