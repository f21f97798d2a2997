// The front-search scan of one target. It was tuned at 32-byte vectors; narrower targets take
// their own width.
#pragma once

#include "algorithm/nds/front_scan_lanes.hpp"
#include "algorithm/nds/kernels.hpp"

namespace rc::algorithm::nds {

template <class Isa>
Kernels make_table() {
    constexpr std::size_t bytes = Isa::Wide::lanes * 8 < 32 ? Isa::Wide::lanes * 8 : 32;
    return ScanWidth<Isa, bytes>::kKernels;
}

}  // namespace rc::algorithm::nds
