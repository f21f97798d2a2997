// Translates C++ exceptions into Python exceptions, creates the internal-failure type, and polls
// for signals while a call runs.
#include "binding/errors.hpp"

#include <atomic>
#include <exception>
#include <new>

#include "binding/python_ref.hpp"
#include "platform/interface_names.hpp"
#include "core/kernel_failure.hpp"
#include "pool/worker_pool.hpp"

namespace rc {
namespace {

std::atomic<PyObject*> g_panic_type{nullptr};

void raise_panic(const char* message) noexcept {
    PyObject* type = panic_exception_type();
    if (type == nullptr) return;
    // The exception's single argument is the message as text.
    Ref text = Ref::steal(PyUnicode_DecodeUTF8(message, static_cast<Py_ssize_t>(strlen(message)), "replace"));
    if (!text) return;
    Ref args = Ref::steal(PyTuple_Pack(1, text.get()));
    if (!args) return;
    PyErr_SetObject(type, args.get());
}

}  // namespace

PyObject* panic_exception_type() noexcept {
    if (PyObject* type = g_panic_type.load(std::memory_order_acquire)) return type;
    PyObject* created = PyErr_NewException(names::kPanicType, PyExc_BaseException, nullptr);
    if (created == nullptr) return nullptr;
    // Two threads may race to create it; the first one stored wins, the other is dropped, so
    // every caller sees the same type for the life of the process.
    PyObject* expected = nullptr;
    if (!g_panic_type.compare_exchange_strong(expected, created, std::memory_order_acq_rel)) {
        Py_DECREF(created);
        return expected;
    }
    return created;
}

void set_python_error_from_current_exception() noexcept {
    try {
        throw;
    } catch (const PythonErrorAlreadySet&) {
        if (!PyErr_Occurred()) raise_panic(names::kPythonCallFailed);
    } catch (const pool::Interrupted&) {
        // The interrupt poll left the exception a signal handler raised.
        if (!PyErr_Occurred()) PyErr_SetNone(PyExc_KeyboardInterrupt);
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (const InvalidValue& e) {
        PyErr_SetString(PyExc_ValueError, e.what());
    } catch (const std::exception& e) {
        raise_panic(e.what());
    } catch (...) {
        raise_panic(names::kUnknownFailure);
    }
}

void add_parameter_note(const char* parameter) noexcept {
    PyObject* exc = PyErr_GetRaisedException();
    if (exc == nullptr) return;
    Ref note = Ref::steal(PyUnicode_FromFormat(names::kProcessingNote, parameter));
    if (note) {
        Ref result = Ref::steal(PyObject_CallMethod(exc, "add_note", "O", note.get()));
    }
    // A failed add_note leaves the original exception as the one reported.
    PyErr_Clear();
    PyErr_SetRaisedException(exc);
}

bool poll_python_signals() noexcept { return PyErr_CheckSignals() != 0; }

}  // namespace rc
