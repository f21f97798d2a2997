// The AVX-512 target (F, DQ, VL, BW, with FMA): eight doubles per vector, and AVX2's four for the
// kernels that want at most four lanes.
#pragma once

// GCC 12 reports the deliberately undefined pass-through operand inside its own AVX-512
// intrinsics (_mm512_undefined_pd) as uninitialised when building with sanitizers.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>

#include "simd/ops.hpp"

namespace rc::simd::avx512 {

#include "simd/ops_scalar-inl.hpp"
#include "simd/ops_integer-inl.hpp"
#include "simd/ops_sse2-inl.hpp"
#include "simd/ops_avx2-inl.hpp"
#include "simd/ops_avx512-inl.hpp"
struct Isa : InstructionSet<Target::avx512, Avx512, Avx2, Scalar, Avx512IntegerLanes> {};

}  // namespace rc::simd::avx512
