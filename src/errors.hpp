// The one place where C++ exceptions become Python exceptions.
#pragma once

#include <Python.h>

namespace rc {

// The internal-failure exception type, created on first need and shared by the whole process.
// Returns a borrowed reference, or NULL with an exception set.
PyObject* panic_exception_type() noexcept;

// Call from inside a catch block: sets the Python exception matching the C++ exception being
// handled (KernelFailure and other faults: PanicException; InvalidValue: ValueError;
// bad_alloc: MemoryError; PythonErrorAlreadySet: leaves the pending exception).
void set_python_error_from_current_exception() noexcept;

// Attaches "while processing '{parameter}'" to the pending exception; when the note cannot be
// attached, the exception is kept without it.
void add_parameter_note(const char* parameter) noexcept;

}  // namespace rc
