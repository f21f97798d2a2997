// The table of the process's target: a table is instantiated only in its target's own
// translation unit, so it is chosen here, in code compiled for every processor.
#include "distances/dtw/kernels.hpp"

#include "simd/dispatch.hpp"

namespace rc::distances::dtw {

const Kernels& kernels() noexcept {
    static const Kernels table = [] {
        const auto make = []<class Isa> { return make_table<Isa>(); };
        Kernels chosen = simd::for_chosen_target(make);
        // The scalar recurrences are one dependency chain each, which the default encoding runs
        // faster than the same code built for wider instructions (GCC's by a sixth to a quarter
        // on x86-64); the path's moves are still recorded in the chosen target's widest vectors.
        const Kernels chains = simd::for_target(simd::kDefaultEncodingTarget, make);
        chosen.one_pair = chains.one_pair;
        chosen.path = chains.path;
        return chosen;
    }();
    return table;
}

}  // namespace rc::distances::dtw
