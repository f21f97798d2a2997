// The table of the process's target: a table is instantiated only in its target's own
// translation unit, so it is chosen here, in code compiled for every processor.
#include "distances/soft_dtw/kernels.hpp"

#include "simd/dispatch.hpp"

namespace rc::distances::soft_dtw {

const Kernels& kernels() noexcept {
    static const Kernels table = simd::for_chosen_target([]<class Isa> { return make_table<Isa>(); });
    return table;
}

}  // namespace rc::distances::soft_dtw
