// The AVX2 target (with FMA): four doubles per vector.
#pragma once

#include <immintrin.h>

#include "simd/ops.hpp"

namespace rc::simd::avx2 {

#include "simd/ops_scalar-inl.hpp"
#include "simd/ops_integer-inl.hpp"
#include "simd/ops_sse2-inl.hpp"
#include "simd/ops_avx2-inl.hpp"
struct Isa : InstructionSet<Target::avx2, Avx2, Avx2, Scalar, Avx2IntegerLanes> {};

}  // namespace rc::simd::avx2
