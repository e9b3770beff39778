// The module: its entry point, the execution step that adds the classes and
// functions, and the module functions loads, load, dumps and dump.
#include <initializer_list>
#include <span>

#include "arguments.hpp"
#include "conversion.hpp"
#include "decode_error.hpp"
#include "direct_value.hpp"
#include "direct_write.hpp"
#include "document.hpp"
#include "engine/encode.hpp"
#include "engine/lexer.hpp"
#include "gil.hpp"
#include "item_proxy.hpp"
#include "layout.hpp"
#include "types.hpp"
#include "views.hpp"

namespace morvelan::py {

namespace {

// ---- module functions ------------------------------------------------------

PyObject* fn_loads(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return frame([&]() -> Result<Ref> {
        static const char* const names[] = {"text"};
        static const Signature sig{"loads()", names, 1, 0, 1, 1, false, false};
        MV_ASSIGN(Args a, parse_args(sig, args, nargs, kwnames));
        return parse_text(a.values[0]);
    });
}

// The offset and length of the first invalid UTF-8 sequence of `data`, or
// nothing when it is valid.
std::optional<std::pair<std::size_t, std::size_t>> invalid_utf8(std::string_view data) noexcept {
    for (std::size_t i = 0; i < data.size();) {
        const Utf8Char u = read_utf8(data, i);
        if (!u.valid) return std::make_pair(i, u.length);
        i += u.length;
    }
    return std::nullopt;
}

PyObject* fn_load(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return frame([&]() -> Result<Ref> {
        static const char* const names[] = {"fp"};
        static const Signature sig{"load()", names, 1, 0, 1, 1, false, false};
        MV_ASSIGN(Args a, parse_args(sig, args, nargs, kwnames));
        MV_ASSIGN(Ref data, checked(PyObject_CallMethod(a.values[0], "read", nullptr)));
        if (!PyBytes_Check(data.get()))
            return type_error("File must be opened in binary mode, e.g. use \"rb\"");
        char* bytes = nullptr;
        Py_ssize_t size = 0;
        if (PyBytes_AsStringAndSize(data.get(), &bytes, &size) < 0) return Error::pending();
        std::string_view view(bytes, static_cast<std::size_t>(size));
        if (auto bad = invalid_utf8(view)) {
            MV_ASSIGN(Ref exc, checked(PyObject_CallFunction(
                                   PyExc_UnicodeDecodeError, "sy#nns", "utf-8", bytes, size,
                                   static_cast<Py_ssize_t>(bad->first),
                                   static_cast<Py_ssize_t>(bad->first + bad->second), "invalid utf-8")));
            PyErr_SetObject(PyExc_UnicodeDecodeError, exc.get());
            return Error::pending();
        }
        return parse_utf8(data.get(), view);
    });
}

// The text of dumps(obj) through the document tree: the mapping converted
// to a tree, which the writer writes (`function` names the caller in errors).
Result<Ref> tree_text(PyObject* obj, const char* function) {
    if (is_document(obj)) return document_text(state_of(obj));
    MV_ASSIGN(TreeItem table, mapping_argument(obj, function, "a Document or a mapping"));
    String text;
    {
        GilRelease unlocked;
        DocumentRoot doc;
        doc.root() = std::move(table);
        text = write_document(doc);
    }
    return str_from(std::string_view(text.data(), text.size()));
}

// The text of dumps(obj): a dict of plain values is written straight from its
// objects; anything else, and a dict the direct writer gives up on, through
// the tree.
Result<Ref> dumps_text(PyObject* obj, const char* function) {
    if (std::optional<String> text = write_direct(obj))
        return str_from(std::string_view(text->data(), text->size()));
    return tree_text(obj, function);
}

PyObject* fn_dumps(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return frame([&]() -> Result<Ref> {
        static const char* const names[] = {"obj"};
        static const Signature sig{"dumps()", names, 1, 0, 1, 1, false, false};
        MV_ASSIGN(Args a, parse_args(sig, args, nargs, kwnames));
        return dumps_text(a.values[0], "dumps()");
    });
}

PyObject* fn_dump(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return frame([&]() -> Result<Ref> {
        static const char* const names[] = {"obj", "fp"};
        static const Signature sig{"dump()", names, 2, 0, 2, 2, false, false};
        MV_ASSIGN(Args a, parse_args(sig, args, nargs, kwnames));
        MV_ASSIGN(Ref text, dumps_text(a.values[0], "dump()"));
        MV_ASSIGN(Ref data, checked(PyUnicode_AsUTF8String(text.get())));
        Ref r = Ref::steal(PyObject_CallMethod(a.values[1], "write", "O", data.get()));
        if (!r) {
            if (PyErr_ExceptionMatches(PyExc_TypeError)) {
                PyErr_Clear();
                return type_error("File must be opened in binary mode, e.g. use \"wb\"");
            }
            return Error::pending();
        }
        return Ref::borrow(Py_None);
    });
}

// _dumps_tree(obj): dumps(obj) always through the tree, for the tests that
// hold the direct writer to it (_dumps_direct below).
PyObject* fn_dumps_tree(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return frame([&]() -> Result<Ref> {
        static const char* const names[] = {"obj"};
        static const Signature sig{"_dumps_tree()", names, 1, 1, 1, 1, false, false};
        MV_ASSIGN(Args a, parse_args(sig, args, nargs, kwnames));
        return tree_text(a.values[0], "dumps()");
    });
}

// _dumps_direct(obj): the text of the direct writer, or None where it gives
// up, for the tests that hold it to the tree.
PyObject* fn_dumps_direct(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return frame([&]() -> Result<Ref> {
        static const char* const names[] = {"obj"};
        static const Signature sig{"_dumps_direct()", names, 1, 1, 1, 1, false, false};
        MV_ASSIGN(Args a, parse_args(sig, args, nargs, kwnames));
        if (std::optional<String> text = write_direct(a.values[0]))
            return str_from(std::string_view(text->data(), text->size()));
        return Ref::borrow(Py_None);
    });
}

PyMethodDef function_defs[] = {
    {"load", fastcall(fn_load), kFastcall,
     "load(fp)\n--\n\nParse TOML from a file into a `Document`.\n\n"
     "`fp` must be opened in binary mode (e.g. `open(path, \"rb\")`)."},
    {"loads", fastcall(fn_loads), kFastcall,
     "loads(text)\n--\n\nParse a TOML string into a `Document`, preserving formatting."},
    {"dump", fastcall(fn_dump), kFastcall,
     "dump(obj, fp)\n--\n\nSerialise a `Document` or `Mapping` to a file.\n\n"
     "`fp` must be opened in binary mode (e.g. `open(path, \"wb\")`)."},
    {"dumps", fastcall(fn_dumps), kFastcall,
     "dumps(obj)\n--\n\nSerialise a `Document` or `Mapping` to a TOML string.\n\n"
     "Passing a `Document` preserves its formatting; passing any other\n"
     "mapping produces freshly-formatted output."},
};

// Private, no part of the API (not in __all__).
PyMethodDef private_function_defs[] = {
    {"_dumps_tree", fastcall(fn_dumps_tree), kFastcall,
     "_dumps_tree(obj, /)\n--\n\nPrivate, for the tests: dumps(obj) written through the document tree, "
     "never straight from the objects."},
    {"_dumps_direct", fastcall(fn_dumps_direct), kFastcall,
     "_dumps_direct(obj, /)\n--\n\nPrivate, for the tests: dumps(obj) written straight from the objects, "
     "or None where that writer leaves it to the tree."},
};

// ---- execution step --------------------------------------------------------

// Appends `name` to __all__ (creating it) and sets the attribute.
int add(PyObject* module, const char* name, PyObject* value) {
    if (!value) return -1;
    Ref all = Ref::steal(PyObject_GetAttrString(module, "__all__"));
    if (!all) {
        PyErr_Clear();
        all = Ref::steal(PyList_New(0));
        if (!all || PyObject_SetAttrString(module, "__all__", all.get()) < 0) return -1;
    }
    Ref text = Ref::steal(PyUnicode_FromString(name));
    if (!text || PyList_Append(all.get(), text.get()) < 0) return -1;
    return PyObject_SetAttrString(module, name, value);
}

int exec_module(PyObject* module) {
    return frame_int([&]() -> Result<int> {
        // The class objects and the imported modules are per-process caches
        // and belong to the interpreter that filled them: only the main
        // interpreter (whose ID is 0) may use the module. The check comes
        // before anything is created, cached or registered, so a refused
        // import leaves the main interpreter as it was.
        const std::int64_t interpreter = PyInterpreterState_GetID(PyInterpreterState_Get());
        if (interpreter < 0) return Error::pending();
        if (interpreter != 0)
            return Error{PyExc_ImportError, "morvelan does not support sub-interpreters", {}};
        struct Class {
            const char* name;
            PyObject* (*make)();
        };
        const Class classes[] = {
            {"Document", document_type},      {"Item", item_type},
            {"DictItem", dict_item_type},     {"ListItem", list_item_type},
            {"ScalarItem", scalar_item_type}, {"KeysView", keys_view_type},
            {"ValuesView", values_view_type}, {"ItemsView", items_view_type},
        };
        for (const Class& c : classes)
            if (add(module, c.name, c.make()) < 0) return Error::pending();
        // The functions name the package as their module, as the classes do,
        // also where this extension is loaded as morvelan.morvelan.
        Ref package = Ref::steal(PyUnicode_FromString("morvelan"));
        if (!package) return Error::pending();
        for (PyMethodDef& def : function_defs) {
            Ref fn = Ref::steal(PyCFunction_NewEx(&def, module, package.get()));
            if (!fn || add(module, def.ml_name, fn.get()) < 0) return Error::pending();
        }
        // The private functions: attributes, but not in __all__.
        for (std::span<PyMethodDef> defs :
             {std::span<PyMethodDef>(private_function_defs), layout_functions(), value_functions()}) {
            for (PyMethodDef& def : defs) {
                Ref fn = Ref::steal(PyCFunction_NewEx(&def, module, package.get()));
                if (!fn || PyObject_SetAttrString(module, def.ml_name, fn.get()) < 0) return Error::pending();
            }
        }
        if (add(module, "TOMLDecodeError", decode_error_type()) < 0) return Error::pending();
        if (PyModule_AddStringConstant(module, "__version__", MORVELAN_VERSION) < 0) return Error::pending();
        Ref abc = Ref::steal(PyImport_ImportModule("collections.abc"));
        if (!abc) return Error::pending();
        const std::pair<const char*, const char*> registrations[] = {
            {"KeysView", "KeysView"},       {"ValuesView", "ValuesView"},   {"ItemsView", "ItemsView"},
            {"MutableMapping", "Document"}, {"MutableMapping", "DictItem"}, {"MutableSequence", "ListItem"},
        };
        for (const auto& [abc_name, class_name] : registrations) {
            Ref base = Ref::steal(PyObject_GetAttrString(abc.get(), abc_name));
            if (!base) return Error::pending();
            Ref cls = Ref::steal(PyObject_GetAttrString(module, class_name));
            if (!cls) return Error::pending();
            Ref r = Ref::steal(PyObject_CallMethod(base.get(), "register", "O", cls.get()));
            if (!r) return Error::pending();
        }
        return 0;
    });
}

PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(exec_module)},
    {0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT, "morvelan", "", 0, nullptr, module_slots, nullptr, nullptr, nullptr,
};

}  // namespace

}  // namespace morvelan::py

PyMODINIT_FUNC PyInit_morvelan() { return PyModuleDef_Init(&morvelan::py::module_def); }
