// The arguments of Python calls: parsing fast-call arguments against a
// parameter list, with the interpreter's messages, and the notes that name
// the argument a conversion failed on.
#pragma once

#include <string>
#include <string_view>

#include "frame.hpp"
#include "pyref.hpp"

namespace morvelan::py {

// A parameter list. Parameters [0, positional_only) are positional-only,
// [keyword_only, count) keyword-only, the rest either; the first `required`
// positional ones and every keyword-only one before `count` without default
// are required (keyword-only parameters here are never required).
struct Signature {
    const char* function;  // "loads()", "Document.get()"
    const char* const* names;
    int count;
    int positional_only;
    int keyword_only;
    int required;
    bool var_positional;  // *args: extra positional arguments are returned
    bool var_keyword;     // **kwargs: unknown keywords are returned as a dict
};

constexpr int kMaxParams = 4;

struct Args {
    PyObject* values[kMaxParams] = {};  // borrowed; null when not given
    PyObject* const* extra = nullptr;   // *args
    Py_ssize_t extra_count = 0;
    Ref keywords;  // **kwargs (a dict), or null when none were given
};

// Parses fast-call arguments; the messages are the interpreter's. For a
// method shared by several classes, `self` names the class in the messages:
// the function "get()" of a Document reads "Document.get()".
Result<Args> parse_args(const Signature& sig, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                        PyObject* self = nullptr);

// Parses the arguments of a method that takes none ("popitem()").
inline Status no_arguments(const char* function, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                           PyObject* self = nullptr) {
    const Signature sig{function, nullptr, 0, 0, 0, 0, false, false};
    MV_CHECK(parse_args(sig, args, nargs, kwnames, self));
    return ok();
}

// The type name of an object, as in messages: "int", "NoneType".
std::string type_name(PyObject* o);

// A wrong argument type: "'int' object is not an instance of 'str'", or
// "'None' is not an instance of 'str'".
Error wrong_type(PyObject* o, const char* target);

// Runs a conversion of the named argument: an error gets the note
// "while processing '{name}'".
template <class T>
Result<T> for_argument(const char* name, Result<T> r) {
    if (!r.ok()) {
        Error& e = r.error();
        if (!e.is_pending()) {
            raise(e);
            e = Error::pending();
        }
        std::string note = "while processing '";
        note += name;
        note += "'";
        add_note(note);
    }
    return r;
}

// The UTF-8 text of the argument `name`, which must be a str; errors get the
// argument's note.
inline Result<std::string_view> str_argument(const char* name, PyObject* o) {
    if (!PyUnicode_Check(o)) return for_argument(name, Result<std::string_view>(wrong_type(o, "str")));
    return for_argument(name, utf8_of(o));
}

}  // namespace morvelan::py
