// Helpers for the module's heap types.
#pragma once

#include <vector>

#include "frame.hpp"

namespace morvelan::py {

// Creates a heap type from `spec` with optional bases; on failure adds the
// note "An error occurred while initializing class {name}".
PyObject* make_type(PyType_Spec* spec, PyObject* bases, const char* name);

// Allocates an instance of a heap type through its tp_alloc.
PyObject* alloc_instance(PyObject* type);

// Frees an instance in tp_dealloc (after the caller released its fields).
void free_instance(PyObject* self);

// tp_richcompare of a class that defines equality only: `==` is
// `equals(self, other)`, `!=` its negation, and the orderings are
// NotImplemented. The negation is of `equals` itself, not of the
// interpreter's `==`, which takes an object to equal itself without asking:
// a handle on NaN equals nothing, itself included, and so is unequal to
// itself, as float("nan") is.
template <Result<bool> (*equals)(PyObject*, PyObject*)>
PyObject* equality_only(PyObject* self, PyObject* other, int op) {
    if (op != Py_EQ && op != Py_NE) Py_RETURN_NOTIMPLEMENTED;
    return frame([&]() -> Result<Ref> {
        MV_ASSIGN(const bool eq, equals(self, other));
        return Ref::borrow(eq == (op == Py_EQ) ? Py_True : Py_False);
    });
}

// Casts a fast-call method to the generic method pointer type.
template <class F>
PyCFunction fastcall(F f) {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)(void)>(f));
}
constexpr int kFastcall = METH_FASTCALL | METH_KEYWORDS;

// Arguments of tp_new/tp_init (a tuple and a dict) in fast-call form.
class CallArgs {
public:
    static Result<CallArgs> from(PyObject* args, PyObject* kwargs);
    PyObject* const* data() const noexcept { return items_.data(); }
    Py_ssize_t positional() const noexcept { return positional_; }
    PyObject* kwnames() const noexcept { return kwnames_.get(); }

private:
    std::vector<PyObject*> items_;  // borrowed from the tuple and the dict
    Py_ssize_t positional_ = 0;
    Ref kwnames_;
};

}  // namespace morvelan::py
