// The module's private functions for the command line: _layout, _comments and
// _value_text (see layout.cpp). They are no part of the API: not in __all__.
#pragma once

#include "python.hpp"

namespace morvelan::py {

// Sets the private functions on the module (their __module__ is `package`);
// -1 with an error set on failure.
int add_private_functions(PyObject* module, PyObject* package);

}  // namespace morvelan::py
