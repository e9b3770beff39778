#include "types.hpp"

namespace morvelan::py {

PyObject* make_type(PyType_Spec* spec, PyObject* bases, const char* name) {
    PyObject* type = PyType_FromSpecWithBases(spec, bases);
    if (!type) add_note(std::string("An error occurred while initializing class ") + name);
    return type;
}

PyObject* alloc_instance(PyObject* type) {
    auto alloc =
        reinterpret_cast<allocfunc>(PyType_GetSlot(reinterpret_cast<PyTypeObject*>(type), Py_tp_alloc));
    return alloc(reinterpret_cast<PyTypeObject*>(type), 0);
}

void free_instance(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    auto free_fn = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
    free_fn(self);
    Py_DECREF(type);
}

Result<CallArgs> CallArgs::from(PyObject* args, PyObject* kwargs) {
    CallArgs out;
    out.positional_ = args ? PyTuple_Size(args) : 0;
    for (Py_ssize_t i = 0; i < out.positional_; ++i) out.items_.push_back(PyTuple_GetItem(args, i));
    if (kwargs && PyDict_Size(kwargs) > 0) {
        out.kwnames_ = Ref::steal(PyTuple_New(PyDict_Size(kwargs)));
        if (!out.kwnames_) return Error::pending();
        PyObject *key, *value;
        Py_ssize_t pos = 0, i = 0;
        while (PyDict_Next(kwargs, &pos, &key, &value)) {
            Py_INCREF(key);
            PyTuple_SetItem(out.kwnames_.get(), i++, key);
            out.items_.push_back(value);
        }
    }
    return out;
}

}  // namespace morvelan::py
