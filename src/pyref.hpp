// Ref: the one owning reference type of the module.
//
// A Ref owns one strong reference (or none): copying increfs, moving
// transfers, destruction decrefs. A raw pointer becomes a Ref only through
// Ref::steal (a new reference handed over) or Ref::borrow (a borrowed one,
// increfed here); release() hands the reference on to the interpreter.
#pragma once

#include "python.hpp"

namespace morvelan::py {

class Ref {
public:
    Ref() noexcept = default;
    Ref(std::nullptr_t) noexcept {}
    static Ref steal(PyObject* o) noexcept { return Ref(o); }
    static Ref borrow(PyObject* o) noexcept {
        Py_XINCREF(o);
        return Ref(o);
    }

    Ref(const Ref& o) noexcept : p_(o.p_) { Py_XINCREF(p_); }
    Ref(Ref&& o) noexcept : p_(o.p_) { o.p_ = nullptr; }
    Ref& operator=(const Ref& o) noexcept {
        Ref tmp(o);
        swap(tmp);
        return *this;
    }
    Ref& operator=(Ref&& o) noexcept {
        Ref tmp(std::move(o));
        swap(tmp);
        return *this;
    }
    ~Ref() { Py_XDECREF(p_); }

    PyObject* get() const noexcept { return p_; }
    explicit operator bool() const noexcept { return p_ != nullptr; }
    // Hands the reference on (to a return value or a stealing API).
    [[nodiscard]] PyObject* release() noexcept {
        PyObject* o = p_;
        p_ = nullptr;
        return o;
    }
    void swap(Ref& o) noexcept { std::swap(p_, o.p_); }

private:
    explicit Ref(PyObject* o) noexcept : p_(o) {}
    PyObject* p_ = nullptr;
};

}  // namespace morvelan::py
