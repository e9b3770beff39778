// Live key, value and item views of a table or of the document root.
#pragma once

#include <atomic>

#include "document.hpp"
#include "registry.hpp"

namespace morvelan::py {

struct ViewState : EngineAllocated {
    std::atomic<std::uint64_t> version{0};
    Path path;
};

struct ViewObject {
    PyObject_HEAD
    ViewState* state;
    PyObject* document;  // strong reference
};

PyObject* keys_view_type();
PyObject* values_view_type();
PyObject* items_view_type();

}  // namespace morvelan::py
