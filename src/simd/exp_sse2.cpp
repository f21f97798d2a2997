// The lane exp for the x86-64 baseline (SSE2): 2 lanes.
#include <emmintrin.h>

#include <cmath>
#include <cstddef>
#include <cstdint>

#include "simd/exp.hpp"
#include "simd/exp_table.hpp"

namespace {
#include "distances/simd_ops_sse2.hpp"
#include "simd/exp_ops.hpp"
#include "simd/exp-inl.hpp"
}  // namespace

namespace rc::simd {

const ExpArrays kExpSse2{"sse2", ExactExp<ExpOps, true>::apply, ExactExp<ExpOps, false>::apply};

}  // namespace rc::simd
