// The module's function table, defined in function_table.cpp.
#pragma once

#include <Python.h>

#include <span>

namespace rc {

// The module functions in registration order (which is also the order of __all__).
std::span<PyMethodDef> function_table();

}  // namespace rc
