// The one place that chooses an instruction set: the kernel table of the widest target the
// processor runs, or of a narrower one named by RC_SIMD, chosen once per process so that one
// build runs on any x86-64 machine. Every target gives the same bits.
#pragma once

#include "simd/kernels.hpp"

namespace rc::simd {

enum class Target { baseline, avx2, avx512 };

// AVX-512 means F, DQ, VL and BW, the features target_avx512.cpp is compiled with. A target
// named by RC_SIMD that the processor lacks falls back to the widest one it has.
Target target() noexcept;

const Kernels& kernels() noexcept;

}  // namespace rc::simd
