// Arrays of tables: `[[name]]` headers. Members are Table items in header
// order; each member's decor is the text around its header line.
#pragma once

#include <cstdint>

#include "alloc.hpp"
#include "tree_item.hpp"

namespace morvelan {

class ArrayOfTables : public EngineAllocated {
public:
    Vector<TreeItem> values;
    std::uint32_t span_start = 0, span_end = 0;

    std::size_t size() const noexcept { return values.size(); }
    void detach();
};

}  // namespace morvelan
