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
    bool compiled;          // built for the architecture of this build
    bool default_encoding;  // built without instruction-set flags
};

inline constexpr std::array kTargets = {
#define RC_SIMD_TARGET(name, architecture, flags, ...) \
    TargetInfo{Target::name, #name, RC_SIMD_ON_##architecture, std::string_view(flags).empty()},
#include "simd/targets.def"
#undef RC_SIMD_TARGET
};

// The last target of the list built here in the compiler's default encoding (baseline on
// x86-64, NEON on aarch64). Kernels that are one dependency chain run from its table: built for
// wider instructions, compilers vectorise the work beside such a chain and put lane moves on it.
inline constexpr Target kDefaultEncodingTarget = [] {
    Target last = Target::baseline;
    for (const TargetInfo& target : kTargets)
        if (target.compiled && target.default_encoding) last = target.id;
    return last;
}();

constexpr std::string_view name_of(Target target) noexcept { return kTargets[static_cast<std::size_t>(target)].name; }

}  // namespace rc::simd
