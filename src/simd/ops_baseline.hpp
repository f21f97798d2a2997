// The baseline target: SSE2 on x86-64 (two doubles per vector), one lane on any other processor.
// Its code runs on every machine of the architecture.
#pragma once

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "simd/ops.hpp"

namespace rc::simd::baseline {

#include "simd/ops_scalar-inl.hpp"
#include "simd/ops_integer-inl.hpp"
#if defined(__SSE2__)
#include "simd/ops_sse2-inl.hpp"
struct Isa : InstructionSet<Target::baseline, Sse2, Sse2, Scalar, Sse2IntegerLanes> {};
#else
struct Isa : InstructionSet<Target::baseline, Scalar, Scalar, Scalar, IntegerLanes> {};
#endif

}  // namespace rc::simd::baseline
