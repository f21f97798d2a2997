// The one place where C++ exceptions become Python exceptions, and where a pending signal
// interrupts a running call.
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

// Checks for pending signals while a parallel job runs; a raised exception (KeyboardInterrupt
// from Ctrl-C) cancels the job, which then ends as pool::Interrupted.
bool poll_python_signals() noexcept;

}  // namespace rc
