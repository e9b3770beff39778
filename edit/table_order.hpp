// Putting the entries of a table in a new order (the sort() of tables and of
// the document): each entry moves with its own text, the layout stays.
//
//     [t]
//     # about b            <- b's comment block: moves with b
//     b = 2  # two         <- b's line-end comment: moves with b
//
//     # a paragraph        <- set off by a blank line: stays here
//     a = 1                <- the indentation, the blank lines: stay
//
//     # about t.y          <- the comment block above a section's first
//     [t.y]                   header moves with the section, which takes
//                             the place in the document of the one it
//     [t.x]                   replaces
//
// A tree operation only (no Python): the binding works the order out and
// calls this under the document's exclusive lock.
#pragma once

#include <cstddef>
#include <vector>

#include "engine/document.hpp"
#include "engine/tree_item.hpp"

namespace morvelan {

enum class TableOrder {
    Done,
    // The table's sections are not written as one run of the document
    // (another table's header stands among them), some were read from the
    // text and others added by edits, or the writer would not put them in
    // the new order.
    SectionsApart,
    // The lines of a dotted table are written among other lines of the table
    // whose body holds them (`a.x = 1`, `b = 2`, `a.y = 3`, sorting `a`).
    LinesApart,
};

// Puts the visible entries of `target` (a Table or an InlineTable of `doc`)
// in a new order: the j-th visible entry comes from visible position
// order[j] (a permutation); entries that are not visible keep their
// positions. In a standard table:
// - the key/value lines take the places the lines held, each with its
//   comment block (the comment lines directly above it) and its line-end
//   comment; blank lines, indentation and comment paragraphs set off by a
//   blank line stay where they are. The lines of a dotted-key entry go
//   together, in the order of its entries;
// - the sections (sub-tables, arrays of tables, with the headers below
//   them) take the places in the document that the sections held, each with
//   the comment block above its first header.
// In an inline table the entries move as the elements of an array do (see
// reorder_elements). Anything but Done leaves the document as it was.
TableOrder reorder_entries(DocumentRoot& doc, TreeItem& target, const std::vector<std::size_t>& order);

}  // namespace morvelan
