// Writing a plain dict as TOML text straight from its Python objects, for
// dumps() and dump(): the text that converting it to a document tree and
// writing the tree gives, without building the tree.
#pragma once

#include <optional>

#include "engine/alloc.hpp"
#include "python.hpp"

namespace morvelan::py {

// The text dumps(obj) writes through the document tree, written directly; or
// nothing when `obj` is not an exact dict or holds anything this writer
// leaves to the tree (see direct_write.cpp for the rule), which must then
// write it from the start. Runs no Python code and leaves no exception set;
// a failure to allocate throws std::bad_alloc, as writing the tree would.
// Holds the interpreter lock throughout: it reads Python objects.
std::optional<String> write_direct(PyObject* obj);

}  // namespace morvelan::py
