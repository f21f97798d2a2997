// CPython 3.13.0 declares the tracemalloc hooks without C linkage (mended in 3.13.1), so this
// file, the only user, skips that header and declares them itself.
#define Py_TRACEMALLOC_H
#include <Python.h>
extern "C" {
PyAPI_FUNC(int) PyTraceMalloc_Track(unsigned int domain, uintptr_t ptr, size_t size);
PyAPI_FUNC(int) PyTraceMalloc_Untrack(unsigned int domain, uintptr_t ptr);
}

#include "binding/results.hpp"

#include <cstdlib>

#include "binding/numpy_api.hpp"

namespace rc {
namespace {

// tracemalloc domain under which result buffers are reported.
constexpr unsigned int kTraceDomain = 0x72637265;  // "rcre"

void free_buffer(PyObject* capsule) {
    void* data = PyCapsule_GetPointer(capsule, nullptr);
    PyTraceMalloc_Untrack(kTraceDomain, reinterpret_cast<std::uintptr_t>(data));
    std::free(data);
}

template <class T>
Ref make_array(Buffer<T>&& values, int ndim, const std::size_t* shape, int typenum) {
    if (!ensure_numpy()) throw PythonErrorAlreadySet{};
    const std::size_t bytes = values.bytes();
    // The capsule owns the buffer from here on, also if creating the array fails.
    T* data = values.release();
    Ref owner = Ref::steal(PyCapsule_New(data, nullptr, free_buffer));
    if (!owner) {
        std::free(data);
        throw PythonErrorAlreadySet{};
    }
    PyTraceMalloc_Track(kTraceDomain, reinterpret_cast<std::uintptr_t>(data), bytes);
    npy_intp dims[2];
    for (int k = 0; k < ndim; ++k) dims[k] = static_cast<npy_intp>(shape[k]);
    Ref array = Ref::steal(check(PyArray_New(&PyArray_Type, ndim, dims, typenum, nullptr, data, 0,
                                             NPY_ARRAY_CARRAY, nullptr)));
    // PyArray_SetBaseObject steals the owner reference, also when it fails.
    if (PyArray_SetBaseObject(reinterpret_cast<PyArrayObject*>(array.get()), owner.release()) < 0)
        throw PythonErrorAlreadySet{};
    return array;
}

}  // namespace

Ref array_from_buffer(Buffer<double>&& values, int ndim, const std::size_t* shape) {
    return make_array(std::move(values), ndim, shape, NPY_DOUBLE);
}

Ref array_from_buffer(Buffer<std::int64_t>&& values, int ndim, const std::size_t* shape) {
    return make_array(std::move(values), ndim, shape, NPY_INT64);
}

}  // namespace rc
