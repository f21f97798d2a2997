// Turning a kernel's owned result into a new Python object. Arrays take over the buffer in
// which the kernel computed them (no copy); a capsule that frees the buffer is their base.
#pragma once

#include <Python.h>

#include <cstdint>
#include <utility>
#include <vector>

#include "core/buffer.hpp"
#include "binding/python_ref.hpp"

namespace rc {

// Each returns a new reference or throws PythonErrorAlreadySet.
Ref array_from_buffer(Buffer<double>&& values, int ndim, const std::size_t* shape);
Ref array_from_buffer(Buffer<std::int64_t>&& values, int ndim, const std::size_t* shape);

inline Ref to_python(bool value) { return Ref::borrow(value ? Py_True : Py_False); }
inline Ref to_python(double value) { return Ref::steal(check(PyFloat_FromDouble(value))); }
inline Ref to_python(std::uint64_t value) { return Ref::steal(check(PyLong_FromUnsignedLongLong(value))); }

template <class T>
Ref to_python(Buffer<T>&& vector) {
    const std::size_t shape[] = {vector.size()};
    return array_from_buffer(std::move(vector), 1, shape);
}

template <class T>
Ref to_python(Matrix<T>&& matrix) {
    const std::size_t shape[] = {matrix.rows, matrix.cols};
    return array_from_buffer(std::move(matrix.values), 2, shape);
}

// Declared ahead so that each container's items may be any result kind, in any nesting.
template <class A, class B>
Ref to_python(std::pair<A, B>&& pair);
template <class T>
Ref to_python(std::vector<T>&& items);

template <class A, class B>
Ref to_python(std::pair<A, B>&& pair) {
    Ref first = to_python(std::move(pair.first));
    Ref second = to_python(std::move(pair.second));
    return Ref::steal(check(PyTuple_Pack(2, first.get(), second.get())));
}

template <class T>
Ref to_python(std::vector<T>&& items) {
    Ref list = Ref::steal(check(PyList_New(static_cast<Py_ssize_t>(items.size()))));
    for (std::size_t i = 0; i < items.size(); ++i) {
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), to_python(std::move(items[i])).release());
    }
    return list;
}

}  // namespace rc
