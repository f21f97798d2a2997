// An interval around the natural logarithm that holds the C library's log, computed in SIMD
// lanes (log_bracket-inl.hpp).
//
// The library's log is not reproduced bit for bit in lanes here, but a kernel rarely needs its
// last bits: when a result is the same for every value in an interval that holds the library's
// log, it is the result the library's log would give, without the call. The interval is built
// around our own log, accurate to half an ulp plus 2^-60, to hold every double within one ulp of
// the true logarithm: mostly our value's two neighbours. Whether the library's log stays inside is decided once per process on a set of probes
// (libm_entry.hpp), as for the lane exp.
#pragma once

#include <cstddef>

namespace rc::simd {

// lo[k] <= log(in[k]) <= hi[k] for in[k] in [1, 4), lo[k] and hi[k] NaN for other arguments.
using LogBracketArray = void (*)(const double* in, double* lo, double* hi, std::size_t count);

// The array entry of the process's target (a row of its kernel table), or null where there is
// none.
LogBracketArray log_bracket_array() noexcept;

}  // namespace rc::simd
