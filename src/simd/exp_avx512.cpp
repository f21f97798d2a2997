// The lane exp for AVX-512: 8 lanes.

// GCC 12 reports the deliberately undefined pass-through operand inside its own AVX-512
// intrinsics as uninitialised.
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <immintrin.h>

#include <cmath>
#include <cstddef>
#include <cstdint>

#include "simd/exp.hpp"
#include "simd/exp_table.hpp"

namespace {
#include "distances/simd_ops_avx512.hpp"
#include "simd/exp_ops.hpp"
#include "simd/exp-inl.hpp"
}  // namespace

namespace rc::simd {

const ExpArrays kExpAvx512{"avx512", ExactExp<ExpOps, true>::apply, ExactExp<ExpOps, false>::apply};

}  // namespace rc::simd
