// The front search's kernels of one target: members in the target's widest vectors (16-bit
// coordinates get twice the lanes of 32-bit ones), node boxes 16 bytes at a time.
#pragma once

#include <cstdint>

#include "algorithm/nds/kernels.hpp"
#include "algorithm/nds/search_lanes.hpp"

namespace rc::algorithm::nds {

template <class Isa>
Kernels make_table() {
    return {Isa::template Integers<std::int16_t>::lanes, blocks_hold_dominator<Isa, std::int16_t>,
            first_members_hold_dominator<Isa, std::int16_t>, tree_rank_below<Isa, std::int16_t>,
            Isa::template Integers<std::int32_t>::lanes, blocks_hold_dominator<Isa, std::int32_t>,
            first_members_hold_dominator<Isa, std::int32_t>, tree_rank_below<Isa, std::int32_t>};
}

}  // namespace rc::algorithm::nds
