// The cost rows of one target.
#pragma once

#include "distances/cost/kernels.hpp"
#include "distances/cost/rows_lanes.hpp"

namespace rc::distances::cost {

template <class Isa>
Kernels make_table() {
    return {from_features<Isa>, strided<Isa>};
}

}  // namespace rc::distances::cost
