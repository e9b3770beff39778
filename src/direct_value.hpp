// The values of a document read straight from its text into Python objects
// (engine/direct.hpp), without building the tree: what `loads(text).value`
// gives, made while loading.
#pragma once

#include <span>
#include <string_view>

#include "frame.hpp"

namespace morvelan::py {

struct DirectValue {
    // The document's value, as to_python() makes it from the tree that
    // parse_document builds; null when the text is left to the parser.
    Ref value;
    // Its deepest level of nesting (the dict itself is level 1).
    int depth = 0;
};

// Reads `utf8` (a whole document). The value is null, with no error set,
// when the text does not parse, or holds a value that to_python() would fail
// on (a date-time that Python's classes cannot hold), or when anything else
// failed: the parser then reads the text, reports what is wrong, and the
// tree's conversion raises what it raises.
DirectValue decode_values(std::string_view utf8);

// The definitions of the private functions _direct_value and _loads_tree,
// which the module sets on itself.
std::span<PyMethodDef> value_functions() noexcept;

}  // namespace morvelan::py
