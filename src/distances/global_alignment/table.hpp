// The GAK kernels of one target: strips of 8 rows in its vectors that divide 8, strips of 4 and 1
// in one lane each; row groups of two of its widest vectors of pairs (the two sweeps of each
// pair and the two vectors give four independent chains), and of one pair in one lane, whose
// local kernels its widest vectors form, a row's columns side by side.
#pragma once

#include "distances/global_alignment/kernels.hpp"
#include "distances/global_alignment/rows_lanes.hpp"
#include "distances/global_alignment/strip_lanes.hpp"

namespace rc::distances::global_alignment {

template <class Isa>
Kernels make_table() {
    using Eight = typename Isa::template Dividing<8>;
    using Scalar = typename Isa::Scalar;
    using Wide = typename Isa::Wide;
    constexpr std::size_t group = 2 * Wide::lanes;
    // By the widths of kWidths: 8, 4, 1.
    return {{strip<Eight, 8, false>, strip<Scalar, 4, false>, strip<Scalar, 1, false>},
            {strip<Eight, 8, true>, strip<Scalar, 4, true>, strip<Scalar, 1, true>},
            group,
            rows<Wide, group>,
            rows<Scalar, 1, Wide>};
}

}  // namespace rc::distances::global_alignment
