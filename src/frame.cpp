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

}  // namespace morvelan::py
