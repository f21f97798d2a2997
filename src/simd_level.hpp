// Which instruction set the vectorised kernels use, chosen once per process at run time, so
// that one build runs on any x86-64 machine. Every level gives the same bits.
#pragma once

namespace rc {

enum class SimdLevel { scalar, avx2, avx512 };

// The widest level the processor runs (AVX-512 means F, DQ, VL and BW, the features the
// *_avx512.cpp files are compiled with; both vector levels also need FMA), or a narrower one
// named by the environment variable RC_SIMD ("scalar", "avx2" or "avx512") so that tests and
// benchmarks can run every path on one machine. A named level the processor lacks falls back to
// the widest one it has.
SimdLevel simd_level() noexcept;

}  // namespace rc
