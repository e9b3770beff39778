// ScalarItem as a stand-in for its value. Every operation resolves the handle
// afresh (a stale handle or a vanished path fails before anything else runs),
// converts the scalar to its Python value under the document's shared lock,
// releases the lock, and only then applies the Python operation to that
// value, so no Python code of the caller runs while the document is locked.
// Nothing is cached: each use sees the value the path resolves to now.
#include "scalar_proxy.hpp"

#include "arguments.hpp"
#include "conversion.hpp"
#include "item_proxy.hpp"
#include "locks.hpp"
#include "types.hpp"

namespace morvelan::py {

namespace {

bool is_scalar(PyObject* o) noexcept {
    // ScalarItem cannot be subclassed: its instances have exactly its type.
    return Py_TYPE(o) == reinterpret_cast<PyTypeObject*>(scalar_item_type());
}

// An interned str, made once for the process.
PyObject* interned(PyObject*& cache, const char* text) {
    if (!cache) cache = PyUnicode_InternFromString(text);
    return cache;
}

// ---- number protocol -------------------------------------------------------

// A two-operand operator: the left operand's value with the right operand as
// it is (when both are handles, the operator on that value meets the right
// handle's own slot, which unwraps it in turn); failing that, the left
// operand with the right operand's value.
template <PyObject* (*Op)(PyObject*, PyObject*)>
PyObject* binary(PyObject* a, PyObject* b) {
    return frame([&]() -> Result<Ref> {
        if (is_scalar(a)) {
            MV_ASSIGN(Ref v, current_value(a));
            MV_ASSIGN(Ref r, checked(Op(v.get(), b)));
            if (r.get() != Py_NotImplemented) return r;
        }
        if (is_scalar(b)) {
            MV_ASSIGN(Ref w, current_value(b));
            return checked(Op(a, w.get()));
        }
        return Ref::borrow(Py_NotImplemented);
    });
}

// x ** y and pow(x, y, m): as binary(), the modulus passed on unchanged.
PyObject* power(PyObject* a, PyObject* b, PyObject* m) {
    return frame([&]() -> Result<Ref> {
        if (is_scalar(a)) {
            MV_ASSIGN(Ref v, current_value(a));
            MV_ASSIGN(Ref r, checked(PyNumber_Power(v.get(), b, m)));
            if (r.get() != Py_NotImplemented) return r;
        }
        if (is_scalar(b)) {
            MV_ASSIGN(Ref w, current_value(b));
            return checked(PyNumber_Power(a, w.get(), m));
        }
        return Ref::borrow(Py_NotImplemented);
    });
}

// -x, +x, abs(x), ~x, int(x), float(x).
template <PyObject* (*Op)(PyObject*)>
PyObject* unary(PyObject* self) {
    return frame([&]() -> Result<Ref> {
        MV_ASSIGN(Ref v, current_value(self));
        return checked(Op(v.get()));
    });
}

// operator.index(x): the value's own __index__, called by name, so a value
// without one reports the missing attribute.
PyObject* scalar_index(PyObject* self) {
    return frame([&]() -> Result<Ref> {
        static PyObject* name = nullptr;
        if (!interned(name, "__index__")) return Error::pending();
        MV_ASSIGN(Ref v, current_value(self));
        return checked(PyObject_CallMethodObjArgs(v.get(), name, nullptr));
    });
}

// math.floor(x), math.ceil(x), math.trunc(x) and round(x[, ndigits]): the
// function applied to the current value. Without these members math.floor
// and math.ceil would go through float(x), which loses the low digits of a
// large integer; an integer value gives the exact integer, a float value
// Python's float result, any other value the function's own TypeError.
enum Rounding { kFloor, kCeil, kTrunc, kRound, kRoundingCount };

Result<PyObject*> rounding_function(Rounding r) {
    static PyObject* functions[kRoundingCount] = {};  // held for the process
    static const char* const places[kRoundingCount][2] = {
        {"math", "floor"}, {"math", "ceil"}, {"math", "trunc"}, {"builtins", "round"}};
    if (!functions[r]) {
        MV_ASSIGN(Ref module, checked(PyImport_ImportModule(places[r][0])));
        functions[r] = PyObject_GetAttrString(module.get(), places[r][1]);
        if (!functions[r]) return Error::pending();
    }
    return functions[r];
}

template <Rounding R>
PyObject* scalar_rounding(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return frame([&]() -> Result<Ref> {
        static const char* const names[] = {"ndigits"};
        static const char* const functions[kRoundingCount] = {"__floor__()", "__ceil__()", "__trunc__()",
                                                              "__round__()"};
        constexpr int n = R == kRound ? 1 : 0;  // ndigits, positional-only
        static const Signature sig{functions[R], names, n, n, n, 0, false, false};
        MV_ASSIGN(Args a, parse_args(sig, args, nargs, kwnames, self));
        MV_ASSIGN(PyObject * function, rounding_function(R));
        MV_ASSIGN(Ref v, current_value(self));
        if (a.values[0])
            return checked(PyObject_CallFunctionObjArgs(function, v.get(), a.values[0], nullptr));
        return checked(PyObject_CallFunctionObjArgs(function, v.get(), nullptr));
    });
}

// ---- hashing, comparison, containment --------------------------------------

Py_hash_t scalar_hash(PyObject* self) {
    return frame_as<Py_hash_t>(
        [&]() -> Result<Py_hash_t> {
            MV_ASSIGN(Ref v, current_value(self));
            const Py_hash_t h = PyObject_Hash(v.get());
            if (h == -1) return Error::pending();
            return h;
        },
        -1);
}

// == and != are the handle equality every Item has (TOML value comparison);
// the orderings compare the current value and give True or False.
PyObject* scalar_richcompare(PyObject* self, PyObject* other, int op) {
    if (op == Py_EQ || op == Py_NE) {
        PyObject* base = item_type();
        if (!base) return nullptr;
        auto item_compare = reinterpret_cast<richcmpfunc>(
            PyType_GetSlot(reinterpret_cast<PyTypeObject*>(base), Py_tp_richcompare));
        return item_compare(self, other, op);
    }
    return frame([&]() -> Result<Ref> {
        MV_ASSIGN(Ref v, current_value(self));
        const int r = PyObject_RichCompareBool(v.get(), other, op);
        if (r < 0) return Error::pending();
        return Ref::borrow(r ? Py_True : Py_False);
    });
}

// y in x: containment in the current value, with a handle y standing for its
// value.
int scalar_contains(PyObject* self, PyObject* y) {
    return frame_int([&]() -> Result<int> {
        MV_ASSIGN(Ref v, current_value(self));
        Ref needle = Ref::borrow(y);
        if (is_item(y)) {
            MV_ASSIGN(needle, current_value(y));
        }
        const int r = PySequence_Contains(v.get(), needle.get());
        if (r < 0) return Error::pending();
        return r;
    });
}

// ---- formatting, attributes -------------------------------------------------

PyObject* scalar_format(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return frame([&]() -> Result<Ref> {
        static const char* const names[] = {"spec"};
        static const Signature sig{"ScalarItem.__format__()", names, 1, 0, 1, 1, false, false};
        MV_ASSIGN(Args a, parse_args(sig, args, nargs, kwnames));
        PyObject* spec = a.values[0];
        if (!PyUnicode_Check(spec)) return for_argument("spec", Result<Ref>(wrong_type(spec, "str")));
        MV_ASSIGN(Ref v, current_value(self));
        return checked(PyObject_Format(v.get(), spec));
    });
}

// The name of a value's type for messages ("str", "datetime"), or "unknown".
Ref value_type_name(PyObject* value) {
    Ref name = Ref::steal(PyType_GetName(Py_TYPE(value)));
    if (!name) {
        PyErr_Clear();
        name = Ref::steal(PyUnicode_FromString("unknown"));
    }
    return name;
}

// The dictionaries of the classes on ScalarItem's __mro__, as live
// read-only proxies, in a tuple made once and held for the process, as the
// class objects are. The __mro__ itself cannot change: assigning __bases__
// needs a base with Item's deallocator, which no other class has. Item's
// dictionary comes first: it holds the members read most (value, as_toml,
// the comments).
Result<PyObject*> class_dicts(PyObject* type) {
    static PyObject* dicts = nullptr;
    if (dicts) return dicts;
    MV_ASSIGN(Ref mro, checked(PyObject_GetAttrString(type, "__mro__")));
    const Py_ssize_t n = PyTuple_Size(mro.get());
    if (n < 0) return Error::pending();
    Py_ssize_t item_at = -1;
    for (Py_ssize_t i = 0; i < n; ++i)
        if (PyTuple_GetItem(mro.get(), i) == item_type()) item_at = i;
    MV_ASSIGN(Ref made, checked(PyTuple_New(n)));
    for (Py_ssize_t i = 0; i < n; ++i) {
        MV_ASSIGN(Ref d, checked(PyObject_GetAttrString(PyTuple_GetItem(mro.get(), i), "__dict__")));
        const Py_ssize_t to = i == item_at ? 0 : i < item_at ? i + 1 : i;
        PyTuple_SetItem(made.get(), to, d.release());
    }
    dicts = made.release();
    return dicts;
}

// Whether the normal attribute lookup on a ScalarItem can find `name`. The
// instances have no __dict__, so that lookup finds exactly the names in the
// dictionaries of the classes on the type's __mro__. Asking them saves
// raising and clearing an AttributeError for each name that belongs to the
// value.
Result<bool> class_has(PyObject* self, PyObject* name) {
    MV_ASSIGN(PyObject * dicts, class_dicts(reinterpret_cast<PyObject*>(Py_TYPE(self))));
    for (Py_ssize_t i = 0, n = PyTuple_Size(dicts); i < n; ++i) {
        const int r = PySequence_Contains(PyTuple_GetItem(dicts, i), name);
        if (r < 0) return Error::pending();
        if (r) return true;
    }
    return false;
}

// x.name for a name the handle's class does not have: the current value's
// attribute.
Result<Ref> value_attribute(PyObject* self, PyObject* name) {
    MV_ASSIGN(Ref v, current_value(self));
    PyObject* delegated = PyObject_GetAttr(v.get(), name);
    if (delegated) return Ref::steal(delegated);
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return Error::pending();
    PyErr_Clear();
    Ref type = value_type_name(v.get());
    if (!type) return Error::pending();
    // The message is built as a str: the name may not be valid UTF-8.
    MV_ASSIGN(Ref message, checked(PyUnicode_FromFormat("'ScalarItem' wrapping %U has no attribute '%U'",
                                                        type.get(), name)));
    return Error{PyExc_AttributeError, {}, std::move(message)};
}

// x.name: the handle's own attribute, else the current value's.
PyObject* scalar_getattro(PyObject* self, PyObject* name) {
    // `x.value`, the most frequent name by far, is the class's own property
    // (the class cannot be subclassed): its getter, without the lookup. Names
    // written in code are interned: the same object.
    static PyObject* value_name = nullptr;
    const bool value = name == interned(value_name, "value");
    return frame([&]() -> Result<Ref> {
        if (value) return current_value(self);
        MV_ASSIGN(const bool own, class_has(self, name));
        if (own) {
            PyObject* found = PyObject_GenericGetAttr(self, name);
            if (found) return Ref::steal(found);
            if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return Error::pending();
            PyErr_Clear();
        }
        return value_attribute(self, name);
    });
}

PyMethodDef methods[] = {
    {"__format__", fastcall(scalar_format), kFastcall,
     "__format__($self, spec)\n--\n\n"
     "Format the current value as format(value, spec) does."},
    {"__floor__", fastcall(scalar_rounding<kFloor>), kFastcall,
     "__floor__($self, /)\n--\n\nmath.floor() of the current value."},
    {"__ceil__", fastcall(scalar_rounding<kCeil>), kFastcall,
     "__ceil__($self, /)\n--\n\nmath.ceil() of the current value."},
    {"__trunc__", fastcall(scalar_rounding<kTrunc>), kFastcall,
     "__trunc__($self, /)\n--\n\nmath.trunc() of the current value."},
    {"__round__", fastcall(scalar_rounding<kRound>), kFastcall,
     "__round__($self, ndigits=None, /)\n--\n\nround() of the current value, with ndigits when given."},
};

}  // namespace

const PyMethodDef* scalar_methods() { return methods; }
std::size_t scalar_method_count() { return sizeof(methods) / sizeof(methods[0]); }

void add_scalar_slots(std::vector<PyType_Slot>& slots) {
    auto slot = [&](int id, auto* fn) { slots.push_back({id, reinterpret_cast<void*>(fn)}); };
    slot(Py_nb_add, binary<PyNumber_Add>);
    slot(Py_nb_subtract, binary<PyNumber_Subtract>);
    slot(Py_nb_multiply, binary<PyNumber_Multiply>);
    slot(Py_nb_true_divide, binary<PyNumber_TrueDivide>);
    slot(Py_nb_floor_divide, binary<PyNumber_FloorDivide>);
    slot(Py_nb_remainder, binary<PyNumber_Remainder>);
    slot(Py_nb_power, power);
    slot(Py_nb_negative, unary<PyNumber_Negative>);
    slot(Py_nb_positive, unary<PyNumber_Positive>);
    slot(Py_nb_absolute, unary<PyNumber_Absolute>);
    slot(Py_nb_invert, unary<PyNumber_Invert>);
    slot(Py_nb_int, unary<PyNumber_Long>);
    slot(Py_nb_float, unary<PyNumber_Float>);
    slot(Py_nb_index, scalar_index);
    slot(Py_tp_hash, scalar_hash);
    slot(Py_tp_richcompare, scalar_richcompare);
    slot(Py_sq_contains, scalar_contains);
    slot(Py_tp_getattro, scalar_getattro);
}

}  // namespace morvelan::py
