// The nearest-direction search of one target, in its widest vectors.
#pragma once

#include "algorithm/niching/kernels.hpp"
#include "algorithm/niching/search_lanes.hpp"

namespace rc::algorithm::niching {

template <class Isa>
Kernels make_table() {
    return {nearest_in_lanes<typename Isa::Wide>};
}

}  // namespace rc::algorithm::niching
