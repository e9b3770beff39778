// The mutable-mapping surface shared by Document (the root table) and
// DictItem (a table or inline table inside a document).
#pragma once

#include <vector>

#include "frame.hpp"

namespace morvelan::py {

// get, pop, popitem, update, setdefault, keys, values, items (no sentinel).
const PyMethodDef* mapping_methods();
std::size_t mapping_method_count();

// The mapping protocol slots: subscript, assignment, length, containment,
// iteration, `|` and `|=`.
void add_mapping_slots(std::vector<PyType_Slot>& slots);

}  // namespace morvelan::py
