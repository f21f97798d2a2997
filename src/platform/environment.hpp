// The environment variables that switch the module's paths for tests and benchmarks, each read
// in this one place. The worker count's variables are user settings with their own rule, read
// by pool/cpu_count.cpp.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

namespace rc::environment {

// RC_SIMD: the SIMD target to use (a name of simd/targets.def), empty when unset. Read once per
// process.
std::string_view simd_target() noexcept;

// RC_REPORT: a file that the module writes its choice of SIMD target and exp/log path to when it
// loads, for tests; empty when unset.
std::string_view report_path() noexcept;

// RC_LIBM=public: the kernels call the C library's public exp and log. Read once per process.
bool public_libm() noexcept;

// RC_NDS: the non-dominated sorting method to force ("classic", or one of the fast path's
// methods), empty when unset. Read on every call, unlike the others: the differential tests
// compare the methods on the same inputs within one process.
std::string_view nds_method() noexcept;

// RC_FAIL_ALLOC and RC_FAIL_THREAD_START: the failure switches of fault_injection.hpp, as
// written, empty when unset. Read once per process.
std::string_view failing_allocations() noexcept;
std::string_view failing_thread_start() noexcept;

// A count written in plain decimal digits that fits a machine word; anything else (empty text,
// a sign, other characters, overflow) is no count.
std::optional<std::size_t> parse_decimal(std::string_view text) noexcept;

}  // namespace rc::environment
