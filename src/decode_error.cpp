#include "decode_error.hpp"

#include "arguments.hpp"

#include <algorithm>
#include <string>

namespace morvelan::py {

namespace {

// The number of characters in UTF-8 text: its bytes that start one.
std::size_t characters(std::string_view utf8) {
    return static_cast<std::size_t>(std::count_if(
        utf8.begin(), utf8.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

// The byte offset of character `index` of UTF-8 text (its size past the end).
std::size_t byte_offset(std::string_view utf8, std::size_t index) {
    std::size_t seen = 0;
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        if ((static_cast<unsigned char>(utf8[i]) & 0xC0) == 0x80) continue;
        if (seen++ == index) return i;
    }
    return utf8.size();
}

Status set_attribute(PyObject* self, const char* name, Result<Ref> value) {
    if (!value.ok()) return std::move(value.error());
    if (PyObject_SetAttrString(self, name, value.value().get()) < 0) return Error::pending();
    return ok();
}

Result<Ref> size_object(std::size_t n) { return checked(PyLong_FromSize_t(n)); }

// Sets the five attributes; `at` is the byte offset in `text` (the UTF-8 of
// `doc`) the error points to.
Status set_fields(PyObject* self, PyObject* msg, PyObject* doc, PyObject* pos, std::string_view text,
                  std::size_t at) {
    const LineColumn where = line_column(text, at);
    MV_CHECK(set_attribute(self, "msg", Ref::borrow(msg)));
    MV_CHECK(set_attribute(self, "doc", Ref::borrow(doc)));
    MV_CHECK(set_attribute(self, "pos", Ref::borrow(pos)));
    MV_CHECK(set_attribute(self, "lineno", size_object(where.line)));
    MV_CHECK(set_attribute(self, "colno", size_object(where.column)));
    return ok();
}

// TOMLDecodeError(msg, doc, pos): the report of an error at character `pos`
// of `doc`, as the parser would show it.
PyObject* decode_error_init(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return frame([&]() -> Result<Ref> {
        static const char* const names[] = {"msg", "doc", "pos"};
        static const Signature sig{"TOMLDecodeError()", names, 3, 0, 3, 3, false, false};
        MV_ASSIGN(Args a, parse_args(sig, args, nargs, kwnames));
        MV_ASSIGN(std::string_view msg, str_argument("msg", a.values[0]));
        MV_ASSIGN(std::string_view doc, str_argument("doc", a.values[1]));
        PyObject* pos = a.values[2];
        if (!PyLong_Check(pos)) return for_argument("pos", Result<Ref>(wrong_type(pos, "int")));
        const Py_ssize_t index = PyLong_AsSsize_t(pos);
        if (index == -1 && PyErr_Occurred()) return for_argument("pos", Result<Ref>(Error::pending()));
        const std::size_t at = byte_offset(doc, static_cast<std::size_t>(std::max<Py_ssize_t>(index, 0)));

        ParseErrorReport report;
        report.message = std::string(msg);
        report.raw.emplace(doc);
        report.span = Span{at, at};
        MV_ASSIGN(Ref text, str_from(report.display()));
        MV_ASSIGN(Ref args_tuple, checked(PyTuple_Pack(1, text.get())));
        if (PyObject_SetAttrString(self, "args", args_tuple.get()) < 0) return Error::pending();
        MV_CHECK(set_fields(self, a.values[0], a.values[1], pos, doc, at));
        return Ref::borrow(Py_None);
    });
}

// Pickles as TOMLDecodeError(msg, doc, pos) with the attributes (the report
// among them) restored over what that call makes.
PyObject* decode_error_reduce(PyObject* self, PyObject*) {
    return frame([&]() -> Result<Ref> {
        MV_ASSIGN(Ref state, checked(PyObject_GetAttrString(self, "__dict__")));
        MV_ASSIGN(state, checked(PyDict_Copy(state.get())));
        MV_ASSIGN(Ref args, checked(PyObject_GetAttrString(self, "args")));
        if (PyDict_SetItemString(state.get(), "args", args.get()) < 0) return Error::pending();
        Ref values[3];
        const char* const names[] = {"msg", "doc", "pos"};
        for (int i = 0; i < 3; ++i) {
            MV_ASSIGN(values[i], checked(PyObject_GetAttrString(self, names[i])));
        }
        MV_ASSIGN(Ref call, checked(PyTuple_Pack(3, values[0].get(), values[1].get(), values[2].get())));
        PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(self));
        return checked(PyTuple_Pack(3, type, call.get(), state.get()));
    });
}

PyMethodDef init_def = {"__init__",
                        reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(decode_error_init)),
                        METH_FASTCALL | METH_KEYWORDS, nullptr};
PyMethodDef reduce_def = {"__reduce__", decode_error_reduce, METH_NOARGS, nullptr};

constexpr const char* kDoc =
    "TOMLDecodeError(msg, doc, pos)\n--\n\n"
    "An error in TOML text (a subclass of ValueError). `msg` is the one-line\n"
    "message, `doc` the text parsed, `pos` the index in `doc` where the error\n"
    "is, `lineno` and `colno` its 1-based line and column; str() of the error\n"
    "is the report that shows the line.";

PyObject* make_type() {
    Ref type =
        Ref::steal(PyErr_NewExceptionWithDoc("morvelan.TOMLDecodeError", kDoc, PyExc_ValueError, nullptr));
    if (!type) return nullptr;
    for (PyMethodDef* def : {&init_def, &reduce_def}) {
        Ref method = Ref::steal(PyDescr_NewMethod(reinterpret_cast<PyTypeObject*>(type.get()), def));
        if (!method || PyObject_SetAttrString(type.get(), def->ml_name, method.get()) < 0) return nullptr;
    }
    return type.release();
}

}  // namespace

PyObject* decode_error_type() {
    static PyObject* type = nullptr;
    if (!type) type = make_type();
    return type;
}

Error parse_failure(const ParseErrorReport& report) {
    if (report.out_of_stack) {
        std::string message = "maximum TOML nesting depth exceeded while parsing";
        if (report.raw && report.span) {
            const LineColumn at = line_column(report.raw->view(), report.span->start);
            message += " (line " + std::to_string(at.line) + ", column " + std::to_string(at.column) + ")";
        }
        message += ": not enough C stack left in this thread";
        return Error{PyExc_RecursionError, std::move(message), {}};
    }
    PyObject* type = decode_error_type();
    if (!type) return Error::pending();
    const std::string_view text = report.raw ? report.raw->view() : std::string_view();
    const std::size_t at = report.span ? report.span->start : text.size();
    MV_ASSIGN(Ref shown, str_from(report.display()));
    MV_ASSIGN(Ref args, checked(PyTuple_Pack(1, shown.get())));
    // Made without __init__: the report is the parser's, whose carets cover
    // the whole span.
    auto make = reinterpret_cast<newfunc>(PyType_GetSlot(reinterpret_cast<PyTypeObject*>(type), Py_tp_new));
    MV_ASSIGN(Ref error, checked(make(reinterpret_cast<PyTypeObject*>(type), args.get(), nullptr)));
    MV_ASSIGN(Ref msg, str_from(report.message));
    MV_ASSIGN(Ref doc, str_from(text));
    MV_ASSIGN(Ref pos, size_object(characters(text.substr(0, std::min(at, text.size())))));
    MV_CHECK(set_fields(error.get(), msg.get(), doc.get(), pos.get(), text, at));
    return Error{type, {}, std::move(error)};
}

}  // namespace morvelan::py
