// The lane exp of each instruction set, instantiated for exp_check on its own (the module's
// instances sit in its kernel tables, from the same template and ops).
#pragma once

#include "simd/exp.hpp"

namespace exp_check {

extern const rc::simd::ExpArrays kBaseline;
extern const rc::simd::ExpArrays kAvx2;
extern const rc::simd::ExpArrays kAvx512;

}  // namespace exp_check
