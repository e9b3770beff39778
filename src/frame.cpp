#include "frame.hpp"

#include <vector>

namespace morvelan::py {

Error value_error(std::string message) { return Error{PyExc_ValueError, std::move(message), {}}; }
Error type_error(std::string message) { return Error{PyExc_TypeError, std::move(message), {}}; }
Error key_error(std::string message) { return Error{PyExc_KeyError, std::move(message), {}}; }
Error key_error(Ref key) { return Error{PyExc_KeyError, {}, std::move(key)}; }
Error index_error(std::string message) { return Error{PyExc_IndexError, std::move(message), {}}; }
Error runtime_error(std::string message) { return Error{PyExc_RuntimeError, std::move(message), {}}; }

PyObject* panic_exception_type() {
    static PyObject* type = nullptr;
    if (!type)
        type =
            PyErr_NewExceptionWithDoc("morvelan.PanicException", "An internal invariant of morvelan failed.",
                                      PyExc_BaseException, nullptr);
    return type;
}

// Sets an exception whose message is `message` whole: a message may hold
// NUL bytes (a parse error quotes the offending source line), which a C
// string would cut short. Bytes that are not UTF-8 show as U+FFFD.
static void set_message(PyObject* type, std::string_view message) {
    Ref text =
        Ref::steal(PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()), "replace"));
    if (text) PyErr_SetObject(type, text.get());
}

void raise(Error& error) {
    if (error.is_pending()) {
        if (!PyErr_Occurred()) PyErr_SetString(PyExc_SystemError, "error return without exception set");
        return;
    }
    if (error.argument) {
        PyErr_SetObject(error.type, error.argument.get());
    } else {
        set_message(error.type, error.message);
    }
}

void raise_panic(const char* message) {
    PyObject* type = panic_exception_type();
    if (!type) return;  // creating the class failed: that error is set
    set_message(type, message);
}

void add_note(std::string_view note) {
    PyObject *type_raw, *value_raw, *tb_raw;
    PyErr_Fetch(&type_raw, &value_raw, &tb_raw);
    if (!type_raw) return;
    PyErr_NormalizeException(&type_raw, &value_raw, &tb_raw);
    Ref type = Ref::steal(type_raw), value = Ref::steal(value_raw), tb = Ref::steal(tb_raw);
    if (tb) PyException_SetTraceback(value.get(), tb.get());
    Ref text = Ref::steal(PyUnicode_FromStringAndSize(note.data(), static_cast<Py_ssize_t>(note.size())));
    // When the note cannot be added, the original error is reported as it was.
    if (!text || !Ref::steal(PyObject_CallMethod(value.get(), "add_note", "O", text.get()))) PyErr_Clear();
    PyErr_Restore(type.release(), value.release(), tb.release());
}

std::string type_name(PyObject* o) {
    Ref name = Ref::steal(PyType_GetName(Py_TYPE(o)));
    if (!name) {
        PyErr_Clear();
        return "?";
    }
    Py_ssize_t n = 0;
    const char* s = PyUnicode_AsUTF8AndSize(name.get(), &n);
    if (!s) {
        PyErr_Clear();
        return "?";
    }
    return std::string(s, static_cast<std::size_t>(n));
}

Error wrong_type(PyObject* o, const char* target) {
    std::string m;
    if (o == Py_None) {
        m = "'None' is not an instance of '";
    } else {
        m = "'";
        m.append(type_name(o));
        m.append("' object is not an instance of '");
    }
    m.append(target);
    m.append("'");
    return type_error(std::move(m));
}

namespace {

std::string quoted_list(const std::vector<const char*>& names) {
    // 'a'  /  'a' and 'b'  /  'a', 'b', and 'c'
    std::string out;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0) out += names.size() == 2 ? " and " : (i + 1 == names.size() ? ", and " : ", ");
        out += "'";
        out += names[i];
        out += "'";
    }
    return out;
}

Error missing(const std::string& function, const std::vector<const char*>& names, const char* kind) {
    std::string m = function;
    m += " missing " + std::to_string(names.size()) + " required " + kind + " argument";
    if (names.size() != 1) m += "s";
    m += ": " + quoted_list(names);
    return type_error(std::move(m));
}

bool name_equals(PyObject* name, const char* s) {
    Py_ssize_t n = 0;
    const char* u = PyUnicode_AsUTF8AndSize(name, &n);
    if (!u) {
        PyErr_Clear();
        return false;
    }
    return std::string_view(u, static_cast<std::size_t>(n)) == s;
}

}  // namespace

Result<Args> parse_args(const Signature& sig, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                        PyObject* self) {
    Args out;
    // The name in messages, made only when one is needed.
    const auto function = [&] {
        return self ? type_name(self) + "." + sig.function : std::string(sig.function);
    };
    const int positional = sig.keyword_only;  // parameters that may be given by position
    if (nargs > positional) {
        if (sig.var_positional) {
            out.extra = args + positional;
            out.extra_count = nargs - positional;
        } else {
            std::string m = function();
            m += " takes ";
            if (sig.required < positional)
                m += "from " + std::to_string(sig.required) + " to " + std::to_string(positional);
            else
                m += std::to_string(positional);
            m += positional == 1 && sig.required == positional ? " positional argument"
                                                               : " positional arguments";
            m += " but " + std::to_string(nargs) + (nargs == 1 ? " was given" : " were given");
            return type_error(std::move(m));
        }
    }
    const Py_ssize_t given = nargs < positional ? nargs : positional;
    for (Py_ssize_t i = 0; i < given; ++i) out.values[i] = args[i];

    if (kwnames) {
        const Py_ssize_t nkw = PyTuple_Size(kwnames);
        std::vector<const char*> positional_only_as_keyword;
        for (Py_ssize_t k = 0; k < nkw; ++k) {
            PyObject* name = PyTuple_GetItem(kwnames, k);
            PyObject* value = args[nargs + k];
            int match = -1;
            for (int i = 0; i < sig.count; ++i) {
                if (name_equals(name, sig.names[i])) {
                    match = i;
                    break;
                }
            }
            if (match >= 0 && match < sig.positional_only) {
                if (!sig.var_keyword) {
                    positional_only_as_keyword.push_back(sig.names[match]);
                    continue;
                }
                match = -1;  // goes to **kwargs
            }
            if (match < 0) {
                if (!sig.var_keyword) {
                    Py_ssize_t n = 0;
                    const char* s = PyUnicode_AsUTF8AndSize(name, &n);
                    if (!s) return Error::pending();
                    return type_error(function() + " got an unexpected keyword argument '" +
                                      std::string(s, static_cast<std::size_t>(n)) + "'");
                }
                if (!out.keywords) {
                    out.keywords = Ref::steal(PyDict_New());
                    if (!out.keywords) return Error::pending();
                }
                if (PyDict_SetItem(out.keywords.get(), name, value) < 0) return Error::pending();
                continue;
            }
            if (out.values[match]) {
                return type_error(function() + " got multiple values for argument '" + sig.names[match] +
                                  "'");
            }
            out.values[match] = value;
        }
        if (!positional_only_as_keyword.empty()) {
            std::string names;
            for (std::size_t i = 0; i < positional_only_as_keyword.size(); ++i) {
                if (i) names += ", ";
                names += positional_only_as_keyword[i];
            }
            return type_error(function() +
                              " got some positional-only arguments passed as keyword arguments: '" + names +
                              "'");
        }
    }

    std::vector<const char*> absent;
    for (int i = 0; i < sig.required; ++i)
        if (!out.values[i]) absent.push_back(sig.names[i]);
    if (!absent.empty()) return missing(function(), absent, "positional");
    return out;
}

}  // namespace morvelan::py
