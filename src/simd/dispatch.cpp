// Reads the processor's features and RC_SIMD once, and chooses the target.
#include "simd/dispatch.hpp"

#include <string_view>

#include "platform/environment.hpp"
#include "platform/interface_names.hpp"
#include "simd/cpu_features.hpp"

#if defined(__x86_64__)
#include <cpuid.h>
#endif

// The processor checks of targets.def.
#define RC_CPU_HAS(feature) cpu_has(CpuFeature::feature)

namespace rc::simd {

bool cpu_has(CpuFeature feature) noexcept {
#if defined(__x86_64__)
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0 || (ecx & bit_OSXSAVE) == 0 || (ecx & bit_AVX) == 0) return false;
    // XCR0: the register state the operating system saves. 256-bit vectors need the SSE and AVX
    // state (bits 1, 2); AVX-512 also the opmask and both parts of the upper ZMM state (5 to 7).
    unsigned xcr0 = 0;
    asm("xgetbv" : "=a"(xcr0) : "c"(0u) : "edx");
    if ((xcr0 & 0x06u) != 0x06u) return false;
    if (feature == CpuFeature::fma) return (ecx & bit_FMA) != 0;
    if (__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx) == 0) return false;
    const bool zmm_saved = (xcr0 & 0xe6u) == 0xe6u;
    switch (feature) {
        case CpuFeature::avx2: return (ebx & bit_AVX2) != 0;
        case CpuFeature::avx512f: return zmm_saved && (ebx & bit_AVX512F) != 0;
        case CpuFeature::avx512dq: return zmm_saved && (ebx & bit_AVX512DQ) != 0;
        case CpuFeature::avx512vl: return zmm_saved && (ebx & bit_AVX512VL) != 0;
        case CpuFeature::avx512bw: return zmm_saved && (ebx & bit_AVX512BW) != 0;
        case CpuFeature::fma: break;
    }
#endif
    (void)feature;
    return false;
}

namespace {

bool processor_runs(Target target) noexcept {
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
