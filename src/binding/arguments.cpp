// Argument matching with the interpreter's own error messages, and the conversion of each
// argument into the plain value its kernel takes.
#include "binding/arguments.hpp"

#include <new>
#include <string>

#include "binding/numpy_api.hpp"
#include "platform/interface_names.hpp"

namespace rc {

static_assert(NumpyType<double>::typenum == NPY_DOUBLE);
static_assert(NumpyType<std::int64_t>::typenum == NPY_INT64);

namespace {

[[gnu::cold]] void raise_too_many_positional(const Signature& sig, Py_ssize_t given) {
    PyErr_Format(PyExc_TypeError, names::kTooManyPositional, sig.name, sig.count,
                 given, given == 1 ? "was" : "were");
}

// The quoted names of the parameters not given: "'a'", "'a' and 'b'", "'a', 'b', and 'c'".
std::string missing_list(const Signature& sig, PyObject* const* slots, std::size_t missing) {
    std::string list;
    std::size_t listed = 0;
    for (std::size_t i = 0; i < sig.count; ++i) {
        if (slots[i] != nullptr) continue;
        if (listed > 0) {
            if (missing == 2) list += " and ";
            else if (listed + 1 == missing) list += ", and ";
            else list += ", ";
        }
        list += "'";
        list += sig.params[i];
        list += "'";
        ++listed;
    }
    return list;
}

[[gnu::cold]] void raise_missing(const Signature& sig, PyObject* const* slots) noexcept {
    std::size_t missing = 0;
    for (std::size_t i = 0; i < sig.count; ++i) missing += slots[i] == nullptr;
    // Matching runs where no C++ exception may escape: a list that cannot be built is
    // reported as the MemoryError it is.
    try {
        PyErr_Format(PyExc_TypeError, names::kMissingPositional, sig.name, missing,
                     missing == 1 ? "argument" : "arguments", missing_list(sig, slots, missing).c_str());
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    }
}

[[gnu::cold]] void raise_not_ndarray(PyObject* obj, bool is_ndarray) {
    if (obj == Py_None) {
        PyErr_SetString(PyExc_TypeError, "'None' is not an instance of 'ndarray'");
        return;
    }
    if (is_ndarray) {
        PyErr_SetString(PyExc_TypeError, "'ndarray' object is not an instance of 'ndarray'");
        return;
    }
    Ref qualname = Ref::steal(PyType_GetQualName(Py_TYPE(obj)));
    if (!qualname) return;
    PyErr_Format(PyExc_TypeError, "'%U' object is not an instance of 'ndarray'", qualname.get());
}

}  // namespace

bool match_arguments(const Signature& sig, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                     PyObject** slots) noexcept {
    const auto count = static_cast<Py_ssize_t>(sig.count);
    if (nargs > count) {
        raise_too_many_positional(sig, nargs);
        return false;
    }
    for (Py_ssize_t i = 0; i < count; ++i) slots[i] = i < nargs ? args[i] : nullptr;
    const Py_ssize_t nkw = kwnames == nullptr ? 0 : PyTuple_GET_SIZE(kwnames);
    for (Py_ssize_t k = 0; k < nkw; ++k) {
        PyObject* keyword = PyTuple_GET_ITEM(kwnames, k);
        // Compared without encoding the keyword: a name that UTF-8 cannot hold (a lone
        // surrogate) is just another unknown keyword, not a UnicodeEncodeError.
        Py_ssize_t match = -1;
        for (Py_ssize_t p = 0; p < count; ++p) {
            if (PyUnicode_EqualToUTF8(keyword, sig.params[p])) {
                match = p;
                break;
            }
        }
        if (match < 0) {
            PyErr_Format(PyExc_TypeError, names::kUnexpectedKeyword, sig.name, keyword);
            return false;
        }
        if (slots[match] != nullptr) {
            PyErr_Format(PyExc_TypeError, names::kMultipleValues, sig.name, sig.params[match]);
            return false;
        }
        slots[match] = args[nargs + k];
    }
    for (Py_ssize_t i = 0; i < count; ++i) {
        if (slots[i] == nullptr) {
            raise_missing(sig, slots);
            return false;
        }
    }
    return true;
}

bool load_array(PyObject* obj, int ndim, int typenum, Ref& keep, const std::byte*& data, std::size_t* shape,
                std::ptrdiff_t* byte_strides) noexcept {
    if (!ensure_numpy()) return false;
    if (!PyArray_Check(obj)) {
        raise_not_ndarray(obj, false);
        return false;
    }
    auto* array = reinterpret_cast<PyArrayObject*>(obj);
    if (PyArray_NDIM(array) != ndim) {
        raise_not_ndarray(obj, true);
        return false;
    }
    PyArray_Descr* wanted = PyArray_DescrFromType(typenum);
    const bool equivalent = PyArray_EquivTypes(PyArray_DESCR(array), wanted);
    Py_DECREF(wanted);
    if (!equivalent) {
        raise_not_ndarray(obj, true);
        return false;
    }
    keep = Ref::borrow(obj);
    data = static_cast<const std::byte*>(PyArray_DATA(array));
    for (int k = 0; k < ndim; ++k) {
        shape[k] = static_cast<std::size_t>(PyArray_DIM(array, k));
        byte_strides[k] = PyArray_STRIDE(array, k);
    }
    return true;
}

bool load_unsigned(PyObject* obj, std::uint64_t& out) noexcept {
    Ref index;
    if (!PyLong_Check(obj)) {
        index = Ref::steal(PyNumber_Index(obj));
        if (!index) return false;
        obj = index.get();
    }
    unsigned long long value = PyLong_AsUnsignedLongLong(obj);
    if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return false;
    out = value;
    return true;
}

bool load_double(PyObject* obj, double& out) noexcept {
    if (PyFloat_CheckExact(obj)) {
        out = PyFloat_AS_DOUBLE(obj);
        return true;
    }
    double value = PyFloat_AsDouble(obj);
    if (value == -1.0 && PyErr_Occurred()) return false;
    out = value;
    return true;
}

}  // namespace rc
