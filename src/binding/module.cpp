// Module entry: multi-phase initialisation. The exec slots check the test switches and register
// the function table; nothing else runs at import (NumPy, the worker pool and the internal-
// failure type are all created on first need).
#include <Python.h>

#include "binding/function_table.hpp"
#include "binding/load_checks.hpp"
#include "binding/python_ref.hpp"
#include "platform/interface_names.hpp"

namespace {

// Adds `name` to the module's __all__, creating the list on first use.
int append_to_all(PyObject* module, PyObject* name) {
    rc::Ref all;
    if (PyObject_GetOptionalAttrString(module, "__all__", reinterpret_cast<PyObject**>(&all)) < 0) return -1;
    if (!all) {
        all = rc::Ref::steal(PyList_New(0));
        if (!all || PyObject_SetAttrString(module, "__all__", all.get()) < 0) return -1;
    }
    return PyList_Append(all.get(), name);
}

int register_functions(PyObject* module) {
    if (!PyModule_Check(module)) {
        PyErr_SetString(PyExc_TypeError, rc::names::kNotAModule);
        return -1;
    }
    rc::Ref module_name = rc::Ref::steal(PyModule_GetNameObject(module));
    if (!module_name) return -1;
    for (PyMethodDef& def : rc::function_table()) {
        rc::Ref function = rc::Ref::steal(PyCMethod_New(&def, module, module_name.get(), nullptr));
        if (!function) return -1;
        rc::Ref name = rc::Ref::steal(PyObject_GetAttrString(function.get(), "__name__"));
        if (!name || append_to_all(module, name.get()) < 0) return -1;
        if (PyObject_SetAttr(module, name.get(), function.get()) < 0) return -1;
    }
    return 0;
}

PyModuleDef_Slot module_slots[] = {
    // Refuses a SIMD target the machine cannot run; writes the RC_REPORT line.
    {Py_mod_exec, reinterpret_cast<void*>(rc::check_environment)},
    // Registers the functions and __all__.
    {Py_mod_exec, reinterpret_cast<void*>(register_functions)},
    // The functions share no mutable state; the pool and lazy globals are thread-safe.
    {Py_mod_gil, Py_MOD_GIL_NOT_USED},
    {0, nullptr},
};

PyModuleDef module_def = {
    .m_base = PyModuleDef_HEAD_INIT,
    .m_name = rc::names::kModule,
    .m_doc = "",
    .m_size = 0,
    .m_methods = nullptr,
    .m_slots = module_slots,
    .m_traverse = nullptr,
    .m_clear = nullptr,
    .m_free = nullptr,
};

}  // namespace

PyMODINIT_FUNC PyInit__rust_core() { return PyModuleDef_Init(&module_def); }
