#include "arguments.hpp"

#include <vector>

namespace morvelan::py {

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
