// The run-time choice of a SIMD target: the widest one this processor runs, or the one RC_SIMD
// names, chosen once per process, so that one build runs on any machine of its architecture.
// Every target gives the same bits.
#pragma once

#include <string>

#include "simd/targets.hpp"

namespace rc::simd {

// The target the kernels run on.
Target chosen_target() noexcept;

// Whether this build and processor run `target`.
bool runs(Target target) noexcept;

// Why the target that RC_SIMD names cannot run here (not one of targets.def, not built for this
// architecture, or lacking from the processor), or empty. The module refuses to load then, so
// that a test of one target never runs another in its place.
std::string requested_target_problem();

// make.template operator()<Isa>() with the instruction set of `target`, which must be built here.
// Each measure picks its kernel table with it: a table is instantiated only in its target's own
// translation unit, and only the targets built for this architecture are named here.
template <class Make>
decltype(auto) for_target(Target target, Make&& make) {
    switch (target) {
#define RC_SIMD_TARGET(name, architecture, ...)                                                  \
    case Target::name:                                                                          \
        if constexpr (RC_SIMD_ON_##architecture) return make.template operator()<name::Isa>(); \
        break;
#include "simd/targets.def"
#undef RC_SIMD_TARGET
    }
    return make.template operator()<baseline::Isa>();  // not reached for a target built here
}

// The same for the target the kernels run on.
template <class Make>
decltype(auto) for_chosen_target(Make&& make) {
    return for_target(chosen_target(), static_cast<Make&&>(make));
}

}  // namespace rc::simd
