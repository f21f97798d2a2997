// What the processor runs and the operating system saves across context switches, read with
// CPUID and XGETBV directly rather than through __builtin_cpu_supports: that builtin reads a
// table the toolchain's runtime fills in, and not every runtime does (zig's leaves it empty,
// which would pin every process to the baseline kernels).
#pragma once

#if defined(__x86_64__)
#include <cpuid.h>
#endif

namespace rc::simd {

struct CpuFeatures {
    bool fma = false;
    bool avx2 = false;
    bool avx512 = false;  // F, DQ, VL and BW
};

inline CpuFeatures cpu_features() noexcept {
    CpuFeatures features;
#if defined(__x86_64__)
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0 || (ecx & bit_OSXSAVE) == 0 || (ecx & bit_AVX) == 0)
        return features;
    // XCR0: the register state the operating system saves. 256-bit vectors need the SSE and AVX
    // state (bits 1, 2); AVX-512 also the opmask and both parts of the upper ZMM state (5 to 7).
    unsigned xcr0 = 0;
    asm("xgetbv" : "=a"(xcr0) : "c"(0u) : "edx");
    if ((xcr0 & 0x06u) != 0x06u) return features;
    features.fma = (ecx & bit_FMA) != 0;
    if (__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx) == 0) return features;
    features.avx2 = (ebx & bit_AVX2) != 0;
    constexpr unsigned kAvx512 = bit_AVX512F | bit_AVX512DQ | bit_AVX512VL | bit_AVX512BW;
    features.avx512 = (xcr0 & 0xe6u) == 0xe6u && (ebx & kAvx512) == kAvx512;
#endif
    return features;
}

}  // namespace rc::simd
