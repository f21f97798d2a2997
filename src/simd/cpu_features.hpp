// What the processor runs and the operating system saves across context switches, for the
// processor checks of targets.def, read with CPUID and XGETBV directly rather than through
// __builtin_cpu_supports: that builtin reads a table the toolchain's runtime fills in, and not
// every runtime does (zig's leaves it empty, which would pin every process to the baseline).
#pragma once

namespace rc::simd {

// The x86-64 features the targets need, by the names targets.def gives them.
enum class CpuFeature { fma, avx2, avx512f, avx512dq, avx512vl, avx512bw };

// Whether the processor has the feature and the operating system saves its vector registers;
// false on every other architecture.
bool cpu_has(CpuFeature feature) noexcept;

}  // namespace rc::simd
