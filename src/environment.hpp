// The environment variables that switch the module's paths for tests and benchmarks, each read
// in this one place.
#pragma once

#include <string_view>

namespace rc::environment {

// RC_SIMD: the instruction-set target to use ("baseline", "avx2", "avx512"; "scalar" is the old
// name of "baseline"), empty when unset. Read once per process.
std::string_view simd_target() noexcept;

// RC_LIBM=public: the kernels call the C library's public exp and log. Read once per process.
bool public_libm() noexcept;

// RC_NDS: the non-dominated sorting method to force ("classic", or one of the fast path's
// methods), empty when unset. Read on every call, unlike the others: the differential tests
// compare the methods on the same inputs within one process.
std::string_view nds_method() noexcept;

}  // namespace rc::environment
