// The module's private functions for the command line: _layout, _comments and
// _value_text (see layout.cpp). They are no part of the API: not in __all__.
#pragma once

#include <span>

#include "python.hpp"

namespace morvelan::py {

// Their definitions, which the module sets on itself.
std::span<PyMethodDef> layout_functions() noexcept;

}  // namespace morvelan::py
