// Arrays of tables: `[[name]]` headers. Members are Table items in header
// order; each member's decor is the text around its header line.
#pragma once

#include <cstdint>

#include "alloc.hpp"
#include "elements.hpp"
#include "tree_item.hpp"

namespace morvelan {

class ArrayOfTables : public EngineAllocated {
public:
    Elements values;

    ArrayOfTables() = default;
    // A deep copy.
    ArrayOfTables(const ArrayOfTables& o) : ArrayOfTables(o, Elements(o.values)) {}
    // An array of tables with the given members and a copy of every other
    // field of `o`: the one place that copies those fields, for the copy of a
    // single array of tables and for the copy of a whole tree.
    ArrayOfTables(const ArrayOfTables&, Elements&& members) : values(std::move(members)) {}
    ArrayOfTables& operator=(const ArrayOfTables&) = delete;

    std::size_t size() const noexcept { return values.size(); }

private:
    friend class NodeChain;
    ArrayOfTables* chain_next_ = nullptr;  // see NodeChain; never copied
};

}  // namespace morvelan
