// The scalar surface of ScalarItem: a handle that acts as the value it
// currently points at (arithmetic, ordering, hashing, conversions, use as an
// index, membership, formatting and the value's own attributes).
#pragma once

#include <vector>

#include "frame.hpp"

namespace morvelan::py {

// __format__.
const PyMethodDef* scalar_methods();
std::size_t scalar_method_count();

// The number-protocol, hash, comparison, containment and attribute slots.
void add_scalar_slots(std::vector<PyType_Slot>& slots);

}  // namespace morvelan::py
