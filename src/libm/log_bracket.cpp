// The bracketing log of the process's target, for the probe that decides whether kernels use it.
#include "libm/log_bracket.hpp"

#include "simd/dispatch.hpp"

namespace rc::simd {

LogBracketArray log_bracket_array() noexcept { return kernels().log_bracket; }

}  // namespace rc::simd
