// Reads the processor's features and RC_SIMD once, and chooses the target.
#include "simd/dispatch.hpp"

#include <string_view>

#include "platform/environment.hpp"
#include "platform/interface_names.hpp"

// The processor checks of targets.def, in this architecture's terms; a check of another
// architecture's feature is simply false.
#if defined(__x86_64__)
#define RC_CPU_HAS(feature) __builtin_cpu_supports(#feature)
#else
#define RC_CPU_HAS(feature) false
#endif

namespace rc::simd {
namespace {

bool processor_runs(Target target) noexcept {
#if defined(__x86_64__)
    __builtin_cpu_init();
#endif
    switch (target) {
#define RC_SIMD_TARGET(name, architecture, flags, check) \
    case Target::name:                                  \
        return RC_SIMD_ON_##architecture && (check);
#include "simd/targets.def"
#undef RC_SIMD_TARGET
    }
    return false;
}

// The targets are listed narrowest first within an architecture.
Target widest_supported() noexcept {
    Target widest = Target::baseline;
    for (const TargetInfo& info : kTargets)
        if (runs(info.id)) widest = info.id;
    return widest;
}

const TargetInfo* requested() noexcept {
    const std::string_view name = environment::simd_target();
    for (const TargetInfo& info : kTargets)
        if (info.name == name) return &info;
    return nullptr;
}

}  // namespace

bool runs(Target target) noexcept {
    static const auto running = [] {
        std::array<bool, kTargets.size()> by_target{};
        for (const TargetInfo& info : kTargets) by_target[static_cast<std::size_t>(info.id)] = processor_runs(info.id);
        return by_target;
    }();
    return running[static_cast<std::size_t>(target)];
}

Target chosen_target() noexcept {
    static const Target chosen = [] {
        const TargetInfo* named = requested();
        return named != nullptr && runs(named->id) ? named->id : widest_supported();
    }();
    return chosen;
}

std::string requested_target_problem() {
    const std::string_view name = environment::simd_target();
    if (name.empty()) return {};
    const std::string setting = std::string(names::kSimdVariable) + "=" + std::string(name);
    const TargetInfo* named = requested();
    if (named == nullptr) return setting + " names no SIMD target";
    if (!named->compiled) return setting + ": this build is not for that target's architecture";
    if (!runs(named->id)) return setting + ": this processor lacks that target's instructions";
    return {};
}

}  // namespace rc::simd
