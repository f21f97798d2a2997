// The lane exp and the log bracket for the x86-64 baseline (SSE2), for exp_check.
#include <emmintrin.h>

#include <cmath>
#include <cstddef>
#include <cstdint>

#include "exp_lanes.hpp"
#include "libm/exp_table.hpp"
#include "libm/log_table.hpp"

namespace exp_check {
namespace {
#include "simd/ops_baseline.hpp"
#include "libm/exp-inl.hpp"
#include "libm/log_bracket-inl.hpp"
}  // namespace

const rc::simd::ExpArrays kBaseline = exp_arrays_of<Baseline>("baseline");
const rc::simd::LogBracketArray kBaselineLog = log_bracket_array_of<Baseline>();

}  // namespace exp_check
