// The Python sink of the direct decoder: dicts, lists, str, int, float, bool
// and the datetime classes, made as to_python() makes them from a tree.
#include "direct_value.hpp"

#include "arguments.hpp"
#include "conversion.hpp"
#include "document.hpp"
#include "engine/direct.hpp"
#include "types.hpp"

namespace morvelan::py {

namespace {

// Values are new references handed on as ValueSink::Value; a null one means
// that an exception is set or that the value is refused.
class PythonSink final : public ValueSink {
public:
    Value string(std::string_view text) override { return str_object(text).release(); }
    Value integer(std::int64_t v) override { return PyLong_FromLongLong(v); }
    Value floating(double v) override { return PyFloat_FromDouble(v); }
    Value boolean(bool v) override { return Ref::borrow(v ? Py_True : Py_False).release(); }
    // A date-time that Python cannot hold is left to the tree's conversion,
    // which names where it stands in its error.
    Value datetime(const Datetime& v) override {
        return python_holds(v) ? datetime_object(v).release() : nullptr;
    }
    Value table() override { return PyDict_New(); }
    Value array() override { return PyList_New(0); }

    bool put(Value table, std::string_view key, Value value) override {
        const Ref v = Ref::steal(object(value));
        const Ref k = keys_.key(key);
        if (!k) return false;
        PyObject* dict = object(table);
        // A key already there leaves the size as it was: one lookup finds
        // both the place and a second definition.
        const Py_ssize_t before = PyDict_Size(dict);
        return PyDict_SetItem(dict, k.get(), v.get()) == 0 && PyDict_Size(dict) > before;
    }

    bool append(Value array, Value value) override {
        const Ref v = Ref::steal(object(value));
        return PyList_Append(object(array), v.get()) == 0;
    }

    bool move_to_end(Value table, std::string_view key) override {
        const Ref k = keys_.key(key);
        if (!k) return false;
        PyObject* dict = object(table);
        const Ref v = Ref::borrow(PyDict_GetItemWithError(dict, k.get()));
        return v && PyDict_DelItem(dict, k.get()) == 0 && PyDict_SetItem(dict, k.get(), v.get()) == 0;
    }

    void discard(Value value) noexcept override { Py_DECREF(object(value)); }

private:
    static PyObject* object(Value v) noexcept { return static_cast<PyObject*>(v); }

    // The keys' texts are views of the text being read (or of copies the
    // decoder keeps), unchanged while it reads. The keys of a document's
    // tables repeat early (the fields of one array of tables' members), and
    // a document read here is not a small value inside a larger one: the
    // slots are made sooner than for a conversion.
    KeyCache keys_{8};
};

// _direct_value(text): the dict the direct decoder makes of the text, or
// None when it leaves the text to the parser.
PyObject* fn_direct_value(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return frame([&]() -> Result<Ref> {
        static const char* const names[] = {"text"};
        static const Signature sig{"_direct_value()", names, 1, 1, 1, 1, false, false};
        MV_ASSIGN(Args a, parse_args(sig, args, nargs, kwnames));
        MV_ASSIGN(std::string_view utf8, str_argument("text", a.values[0]));
        DirectValue d = decode_values(utf8);
        if (!d.value) return Ref::borrow(Py_None);
        return std::move(d.value);
    });
}

// _loads_tree(text): loads(text) with the document's tree parsed at once.
PyObject* fn_loads_tree(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return frame([&]() -> Result<Ref> {
        static const char* const names[] = {"text"};
        static const Signature sig{"_loads_tree()", names, 1, 1, 1, 1, false, false};
        MV_ASSIGN(Args a, parse_args(sig, args, nargs, kwnames));
        MV_ASSIGN(std::string_view utf8, str_argument("text", a.values[0]));
        return parse_utf8_tree(a.values[0], utf8);
    });
}

PyMethodDef value_defs[] = {
    {"_direct_value", fastcall(fn_direct_value), kFastcall,
     "_direct_value(text, /)\n--\n\nPrivate: the value of a TOML document read without its tree, or None "
     "when the text is left to the parser."},
    {"_loads_tree", fastcall(fn_loads_tree), kFastcall,
     "_loads_tree(text, /)\n--\n\nPrivate: loads(text) with the document's tree parsed at once."},
};

}  // namespace

DirectValue decode_values(std::string_view utf8) {
    DirectResult r;
    {
        // The decoder runs no Python code: the collector waits for the many
        // new containers until it is done.
        const CollectorPause pause;
        PythonSink sink;
        r = decode_direct(utf8, sink);
    }
    if (!r.root) {
        PyErr_Clear();
        return {};
    }
    return DirectValue{Ref::steal(static_cast<PyObject*>(r.root)), r.depth};
}

std::span<PyMethodDef> value_functions() noexcept { return value_defs; }

}  // namespace morvelan::py
