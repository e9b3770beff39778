// The nesting that written text may have for the parser to read it back.
//
// The parser reads at most kMaxNesting levels of arrays and inline tables in
// one value, and key paths (table headers, dotted keys) of at most
// kMaxKeyPath keys. A tree built in memory can nest deeper; before a value is
// stored, the edit checks here that the text the writer will write for it,
// where it goes, stays within both limits, so that everything written reads
// back. The check follows how the writer writes a tree:
//
// - a table that is not dotted, and every member of an array of tables, has
//   a header with the keys from the root down to it (a table stored inside a
//   value is written as an inline table instead);
// - a value, an empty dotted table (`k = {}`) and an empty array of tables
//   (`k = []`) are written as a line whose key path holds the dotted tables
//   between the header and the value, and the value's key;
// - inside a value, arrays and inline tables each open a level, except a
//   dotted inline table with entries, whose entries are written as dotted
//   keys of the inline table around it; those key paths are limited too.
#pragma once

#include <cstdint>

#include "tree_item.hpp"

namespace morvelan {

// Where the children of a container are written.
struct Scope {
    enum class Kind : std::uint8_t {
        Table,          // entries of a standard table
        ArrayOfTables,  // members of an array of tables
        Value,          // elements of an array or entries of an inline table
    };
    Kind kind = Kind::Table;
    // Table: keys from the root to the table (its header path) and to the
    // table whose header its lines are written under. ArrayOfTables: keys
    // of its members' headers.
    std::uint32_t keys = 0;
    std::uint32_t header_keys = 0;
    // Value: arrays and inline tables open around the children, and for the
    // entries of an inline table (`keyed`) the keys of the dotted inline
    // tables between it and them.
    std::uint32_t levels = 0;
    std::uint32_t dotted_keys = 0;
    bool keyed = false;

    // The entries of a document's root table.
    static Scope root() noexcept { return Scope{}; }
};

// Where the children of `container` (a table, array of tables, array or
// inline table written in `outer`) are written.
Scope scope_below(const Scope& outer, const TreeItem& container) noexcept;

// What keeps the text of `item`, stored as a child of a container whose
// children are written in `scope`, from being read back: null when nothing
// does, else the message of the refusal. The item is taken as stored: a
// dotted table stops being dotted there.
const char* unreadable_nesting(const Scope& scope, const TreeItem& item);

// The same for a whole document's root table.
const char* unreadable_nesting(const TreeItem& root);

}  // namespace morvelan
