// Matching a vectorcall's arguments to a function's parameters, and converting each argument
// into the plain value its kernel takes.
#pragma once

#include <Python.h>

#include <cstddef>
#include <cstdint>
#include <optional>

#include "core/array_view.hpp"
#include "binding/python_ref.hpp"

namespace rc {

struct Signature {
    const char* name;
    const char* const* params;
    std::size_t count;
};

// Fills slots[0..count) with borrowed references to the arguments in parameter order. On a
// mismatch (too many positional, unknown or repeated keyword, missing parameters) raises the
// TypeError and returns false.
bool match_arguments(const Signature& sig, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                     PyObject** slots) noexcept;

// Array conversion: accepts an ndarray (or subclass) of exactly `ndim` dimensions whose dtype is
// equivalent to `typenum` in native byte order. Holds a reference in `keep` and fills the
// view's parts. Otherwise raises TypeError and returns false.
bool load_array(PyObject* obj, int ndim, int typenum, Ref& keep, const std::byte*& data,
                std::size_t* shape, std::ptrdiff_t* byte_strides) noexcept;

bool load_unsigned(PyObject* obj, std::uint64_t& out) noexcept;
bool load_double(PyObject* obj, double& out) noexcept;

template <class T>
struct NumpyType;
template <>
struct NumpyType<double> {
    static constexpr int typenum = 12;  // NPY_DOUBLE, checked against NumPy in arguments.cpp
};
template <>
struct NumpyType<std::int64_t> {
    static constexpr int typenum = 7;  // NPY_LONG on LP64 Linux, checked in arguments.cpp
};

// Argument<T>::load(obj) converts one argument into a T held in `value`; false means a Python
// exception is set. One specialisation per argument kind.
template <class T>
struct Argument;

template <class T, std::size_t N>
struct Argument<ArrayView<T, N>> {
    Ref keep;
    ArrayView<T, N> value;
    bool load(PyObject* obj) noexcept {
        const std::byte* data = nullptr;
        typename ArrayView<T, N>::Shape shape{};
        typename ArrayView<T, N>::Strides strides{};
        if (!load_array(obj, static_cast<int>(N), NumpyType<T>::typenum, keep, data, shape.data(), strides.data()))
            return false;
        value = ArrayView<T, N>(data, shape, strides);
        return true;
    }
};

template <>
struct Argument<std::uint64_t> {
    std::uint64_t value = 0;
    bool load(PyObject* obj) noexcept { return load_unsigned(obj, value); }
};

template <>
struct Argument<std::optional<std::uint64_t>> {
    std::optional<std::uint64_t> value;
    bool load(PyObject* obj) noexcept {
        if (obj == Py_None) return true;
        std::uint64_t v;
        if (!load_unsigned(obj, v)) return false;
        value = v;
        return true;
    }
};

template <>
struct Argument<double> {
    double value = 0.0;
    bool load(PyObject* obj) noexcept { return load_double(obj, value); }
};

}  // namespace rc
