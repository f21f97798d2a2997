// NumPy's C API, imported on first use rather than at module import: importing _rust_core
// alone must not import NumPy.
#pragma once

#ifndef RC_NUMPY_API_OWNER
#define NO_IMPORT_ARRAY
#endif
#define PY_ARRAY_UNIQUE_SYMBOL rc_numpy_api
#include <Python.h>
#include <numpy/arrayobject.h>

namespace rc {

// Makes the NumPy C API usable. Returns false with a Python exception set when NumPy cannot
// be imported. Safe to call from several threads at once.
bool ensure_numpy() noexcept;

}  // namespace rc
