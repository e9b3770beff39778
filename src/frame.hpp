// The call frame: how every Python-visible function, method, property and
// slot reaches the module's logic and how failures come back.
//
// Logic returns Result<T>: a value or an Error. An Error names a Python
// exception type and message, or says that an exception is already set (an
// exception raised by Python code the logic called propagates unchanged).
// Only the frame raises. A broken internal invariant throws InternalFault
// (engine/error.hpp), which unwinds (releasing every lock through its guard)
// to the frame, where it becomes PanicException.
#pragma once

#include <cstdint>
#include <new>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>

#include "engine/error.hpp"
#include "pyref.hpp"

namespace morvelan::py {

struct Error {
    PyObject* type = nullptr;  // borrowed; null: the interpreter's current exception
    std::string message;
    Ref argument;  // when set, the exception is raised with this object (KeyError(key))

    bool is_pending() const noexcept { return type == nullptr; }
    static Error pending() { return Error{}; }
};

Error value_error(std::string message);
Error type_error(std::string message);
Error key_error(std::string message);
Error key_error(Ref key);
Error index_error(std::string message);
Error runtime_error(std::string message);

template <class T>
class [[nodiscard]] Result {
public:
    Result(T value) : v_(std::in_place_index<0>, std::move(value)) {}
    Result(Error error) : v_(std::in_place_index<1>, std::move(error)) {}

    bool ok() const noexcept { return v_.index() == 0; }
    T& value() noexcept { return std::get<0>(v_); }
    Error& error() noexcept { return std::get<1>(v_); }
    T take() noexcept { return std::move(std::get<0>(v_)); }

private:
    std::variant<T, Error> v_;
};

struct Unit {};
using Status = Result<Unit>;
inline Status ok() { return Unit{}; }

// Shorthands for Result expressions, returning the error from the enclosing
// function: MV_CHECK(expr) evaluates one for its success only;
// MV_ASSIGN(target, expr) evaluates one and assigns its value to `target`,
// a declaration (`Ref x`) or an lvalue. Each is a statement of its own.
#define MV_CAT2(a, b) a##b
#define MV_CAT(a, b) MV_CAT2(a, b)
#define MV_CHECK(expr)                                                         \
    do {                                                                       \
        if (auto _mv_r = (expr); !_mv_r.ok()) return std::move(_mv_r.error()); \
    } while (false)
#define MV_ASSIGN(target, expr)                                                           \
    auto MV_CAT(_mv_r, __LINE__) = (expr);                                                \
    if (!MV_CAT(_mv_r, __LINE__).ok()) return std::move(MV_CAT(_mv_r, __LINE__).error()); \
    target = MV_CAT(_mv_r, __LINE__).take()

// The PanicException class (derives from BaseException); created once.
PyObject* panic_exception_type();

// Sets `error` as the current Python exception.
void raise(Error& error);

// Adds the PEP 678 note to the current exception.
void add_note(std::string_view note);

// Result<T> from a new reference returned by the C API (null: error set).
inline Result<Ref> checked(PyObject* o) {
    if (!o) return Error::pending();
    return Ref::steal(o);
}

// A new str from UTF-8 text.
inline Result<Ref> str_from(std::string_view text) {
    return checked(PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "strict"));
}

// The UTF-8 text of a str, valid while the str lives (a str holding lone
// surrogates raises UnicodeEncodeError).
inline Result<std::string_view> utf8_of(PyObject* s) {
    Py_ssize_t n = 0;
    const char* data = PyUnicode_AsUTF8AndSize(s, &n);
    if (!data) return Error::pending();
    return std::string_view(data, static_cast<std::size_t>(n));
}

// Raises PanicException with `message`.
void raise_panic(const char* message);

// Runs `f` (returning Result<T>) with every failure caught: an error value
// is raised as a Python exception, a panic as PanicException (the guards of
// the locks it held have been released by the unwinding), an allocation
// failure as MemoryError. Gives the value, or `failed` with an exception set.
template <class T, class F>
T frame_as(F&& f, T failed) noexcept {
    try {
        auto r = f();
        if (r.ok()) {
            if constexpr (std::is_same_v<T, PyObject*>)
                return r.value().release();
            else
                return r.value();
        }
        raise(r.error());
    } catch (const InternalFault& f) {
        raise_panic(f.message);
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (...) {
        raise_panic("unexpected internal error");
    }
    return failed;
}

// For functions, methods, properties and slots returning an object: `f`
// returns Result<Ref>; a new reference, or null with an exception set.
template <class F>
PyObject* frame(F&& f) noexcept {
    return frame_as<PyObject*>(std::forward<F>(f), nullptr);
}

// For slots that return an int (0 or a truth value; -1 on error).
template <class F>
int frame_int(F&& f) noexcept {
    return frame_as<int>(std::forward<F>(f), -1);
}

// For slots that return a Py_ssize_t (-1 on error).
template <class F>
Py_ssize_t frame_ssize(F&& f) noexcept {
    return frame_as<Py_ssize_t>(std::forward<F>(f), -1);
}

}  // namespace morvelan::py
