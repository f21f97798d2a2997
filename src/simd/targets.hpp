// The SIMD targets of targets.def as C++: their ids, the instruction-set bundle each ops file
// defines (declared here, defined only in the target's own translation units), and which of them
// this build compiles.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

// Which architectures this build compiles for, by the names targets.def uses.
#define RC_SIMD_ON_any true
#if defined(__x86_64__)
#define RC_SIMD_ON_x86_64 true
#else
#define RC_SIMD_ON_x86_64 false
#endif
#if defined(__aarch64__)
#define RC_SIMD_ON_aarch64 true
#else
#define RC_SIMD_ON_aarch64 false
#endif

namespace rc::simd {

enum class Target : unsigned char {
#define RC_SIMD_TARGET(name, ...) name,
#include "simd/targets.def"
#undef RC_SIMD_TARGET
};

// Each target's instruction set: rc::simd::<name>::Isa, defined by its ops file.
#define RC_SIMD_TARGET(name, ...) \
    namespace name {              \
    struct Isa;                   \
    }
#include "simd/targets.def"
#undef RC_SIMD_TARGET

struct TargetInfo {
    Target id;
    std::string_view name;
    bool compiled;  // built for the architecture of this build
};

inline constexpr std::array kTargets = {
#define RC_SIMD_TARGET(name, architecture, ...) TargetInfo{Target::name, #name, RC_SIMD_ON_##architecture},
#include "simd/targets.def"
#undef RC_SIMD_TARGET
};

constexpr std::string_view name_of(Target target) noexcept { return kTargets[static_cast<std::size_t>(target)].name; }

}  // namespace rc::simd
