// What the module checks when it loads: the SIMD target a test asked for, and the report of the
// paths the kernels will take.
#pragma once

#include <Python.h>

namespace rc {

// An ImportError when RC_SIMD names a target this build or processor does not run, so that a
// test of one target never runs another in its place; with RC_REPORT=FILE, writes one line to
// FILE: "target=T built=A,B,... runs=A,B,... exp=library|fused|plain log=library|bracket".
// Returns -1 with the exception set on failure, as an exec slot does.
int check_environment(PyObject* module);

}  // namespace rc
