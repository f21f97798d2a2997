// The table of the process's target: a table is instantiated only in its target's own
// translation unit, so it is chosen here, in code compiled for every processor.
#include "distances/dtw/kernels.hpp"

#include "simd/dispatch.hpp"

namespace rc::distances::dtw {

const Kernels& kernels() noexcept {
    static const Kernels table = [] {
        Kernels chosen = simd::for_chosen_target([]<class Isa> { return make_table<Isa>(); });
        // The scalar recurrence is one dependency chain, which the baseline encoding runs faster
        // (by about a sixth on x86-64) than the same code built for wider instructions.
        chosen.one_pair = make_table<simd::baseline::Isa>().one_pair;
        return chosen;
    }();
    return table;
}

}  // namespace rc::distances::dtw
