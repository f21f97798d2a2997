// Ownership of Python references in the type system: a Ref owns one strong reference and
// releases it when it goes out of scope. Ref::steal takes over a new reference (the result of
// most C-API calls); Ref::borrow adds a reference to a borrowed pointer.
#pragma once

#include <Python.h>

#include <utility>

namespace rc {

class Ref {
public:
    Ref() = default;
    static Ref steal(PyObject* p) noexcept { return Ref(p); }
    static Ref borrow(PyObject* p) noexcept { return Ref(Py_XNewRef(p)); }

    Ref(Ref&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    Ref& operator=(Ref&& other) noexcept {
        Ref(std::move(other)).swap(*this);
        return *this;
    }
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    ~Ref() { Py_XDECREF(p_); }

    PyObject* get() const noexcept { return p_; }
    PyObject* release() noexcept { return std::exchange(p_, nullptr); }
    explicit operator bool() const noexcept { return p_ != nullptr; }
    void swap(Ref& other) noexcept { std::swap(p_, other.p_); }

private:
    explicit Ref(PyObject* p) noexcept : p_(p) {}
    PyObject* p_ = nullptr;
};

// Thrown by binding helpers when a C-API call failed and left a Python exception set; the
// entry point then returns NULL with that exception.
struct PythonErrorAlreadySet {};

inline PyObject* check(PyObject* p) {
    if (p == nullptr) throw PythonErrorAlreadySet{};
    return p;
}

}  // namespace rc
