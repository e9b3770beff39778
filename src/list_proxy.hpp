// The sequence surface of ListItem (an array or an array of tables).
#pragma once

#include <vector>

#include "frame.hpp"

namespace morvelan::py {

// count, index, __reversed__ (no sentinel).
const PyMethodDef* list_methods();
std::size_t list_method_count();

// Subscript (index or slice), length, containment and iteration slots.
void add_list_slots(std::vector<PyType_Slot>& slots);

}  // namespace morvelan::py
