// Live key, value and item views of a table or of the document root. A view
// carries the same record as a handle (document, path, version) and reads the
// table afresh on every use.
#pragma once

#include "item_proxy.hpp"

namespace morvelan::py {

PyObject* keys_view_type();
PyObject* values_view_type();
PyObject* items_view_type();

// A new view of the table at `p` (already checked by the caller).
Result<Ref> new_view(PyObject* (*type)(), const Place& p);

}  // namespace morvelan::py
