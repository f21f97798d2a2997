// The lane exp and log bracket of one target, in its widest vectors.
#pragma once

#include "libm/exp_lanes.hpp"
#include "libm/kernels.hpp"
#include "libm/log_bracket_lanes.hpp"

namespace rc::libm {

template <class Isa>
Kernels make_table() {
    using Ops = typename Isa::Wide;
    return {ExactExp<Ops, true>::apply, ExactExp<Ops, false>::apply, LogBracket<Ops>::apply, Ops::native_fma};
}

}  // namespace rc::libm
