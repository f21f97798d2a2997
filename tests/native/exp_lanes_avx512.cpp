// The lane exp and the log bracket for AVX-512 with FMA, for exp_check.
// GCC 12 reports the deliberately undefined pass-through operand inside its own AVX-512
// intrinsics as uninitialised.
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <immintrin.h>

#include <cmath>
#include <cstddef>
#include <cstdint>

#include "exp_lanes.hpp"
#include "libm/exp_table.hpp"
#include "libm/log_table.hpp"

namespace exp_check {
namespace {
#include "simd/ops_avx512.hpp"
#include "libm/exp-inl.hpp"
#include "libm/log_bracket-inl.hpp"
}  // namespace

const rc::simd::ExpArrays kAvx512 = exp_arrays_of<Avx512>("avx512");
const rc::simd::LogBracketArray kAvx512Log = log_bracket_array_of<Avx512>();

}  // namespace exp_check
