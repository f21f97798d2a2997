// The lane exp and the log bracket of each instruction set, instantiated for exp_check on their
// own (the module's instances sit in its kernel tables, from the same templates and ops).
#pragma once

#include "libm/exp.hpp"
#include "libm/log_bracket.hpp"

namespace exp_check {

extern const rc::simd::ExpArrays kBaseline;
extern const rc::simd::ExpArrays kAvx2;
extern const rc::simd::ExpArrays kAvx512;
extern const rc::simd::LogBracketArray kBaselineLog;
extern const rc::simd::LogBracketArray kAvx2Log;
extern const rc::simd::LogBracketArray kAvx512Log;

}  // namespace exp_check
