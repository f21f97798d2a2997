// The fixed strings of the module's interface: its name, the qualified name of the internal-
// failure type, the fixed messages, and the environment switches with their values.
#pragma once

namespace rc::names {

inline constexpr char kModule[] = "_rust_core";
inline constexpr char kPanicType[] = "pyo3_runtime.PanicException";

inline constexpr char kPythonCallFailed[] = "a Python call failed without setting an exception";
inline constexpr char kUnknownFailure[] = "unknown internal failure";
inline constexpr char kProcessingNote[] = "while processing '%s'";
inline constexpr char kIndexOutOfBounds[] = "ndarray: index out of bounds";
inline constexpr char kNotAModule[] = "the exec slot of _rust_core needs a module object";

// Argument matching, as the interpreter words them.
inline constexpr char kTooManyPositional[] = "%s() takes %zu positional arguments but %zd %s given";
inline constexpr char kMissingPositional[] = "%s() missing %zu required positional %s: %s";
inline constexpr char kUnexpectedKeyword[] = "%s() got an unexpected keyword argument '%U'";
inline constexpr char kMultipleValues[] = "%s() got multiple values for argument '%s'";

inline constexpr char kSimdVariable[] = "RC_SIMD";  // the targets' names are in simd/targets.def

inline constexpr char kReportVariable[] = "RC_REPORT";

inline constexpr char kLibmVariable[] = "RC_LIBM";
inline constexpr char kPublicLibm[] = "public";

inline constexpr char kNdsVariable[] = "RC_NDS";
inline constexpr char kClassicNds[] = "classic";

inline constexpr char kFailAllocVariable[] = "RC_FAIL_ALLOC";
inline constexpr char kFailAllocSweep[] = "sweep";
inline constexpr char kFailThreadStartVariable[] = "RC_FAIL_THREAD_START";

inline constexpr char kThreadsVariable[] = "RAYON_NUM_THREADS";
inline constexpr char kCpusVariable[] = "RAYON_RS_NUM_CPUS";

}  // namespace rc::names
