// Live references into a document: the Item class family.
//
// An Item holds its Document and a path from the root; every use resolves the
// path again and checks the version registry, so a handle either sees the
// current value at its place or reports that it has gone stale.
#pragma once

#include <atomic>

#include "document.hpp"
#include "registry.hpp"

namespace morvelan::py {

struct ItemState : EngineAllocated {
    std::atomic<std::uint64_t> version{0};
    Path path;
};

struct ItemObject {
    PyObject_HEAD
    ItemState* state;
    PyObject* document;  // strong reference
};

// The classes (created once); null with an error set on failure.
PyObject* item_type();
PyObject* dict_item_type();
PyObject* list_item_type();
PyObject* scalar_item_type();

bool is_item(PyObject* o) noexcept;

}  // namespace morvelan::py
