// The lane exp for AVX2 with FMA: 4 lanes.
#include <immintrin.h>

#include <cmath>
#include <cstddef>
#include <cstdint>

#include "simd/exp.hpp"
#include "simd/exp_table.hpp"

namespace {
#include "distances/simd_ops_avx2.hpp"
#include "simd/exp_ops.hpp"
#include "simd/exp-inl.hpp"
}  // namespace

namespace rc::simd {

const ExpArrays kExpAvx2{"avx2", ExactExp<ExpOps, true>::apply, ExactExp<ExpOps, false>::apply};

}  // namespace rc::simd
