// Array and array-of-tables edits with their layout rules: what inserting,
// replacing and removing elements does to the text around them.
//
// These are tree operations only (no Python): the sequence members of
// ListItem convert their arguments, lock, check and resolve, and then call
// these on the resolved list, a TreeItem that is an Array or an
// ArrayOfTables. Positions are checked by the caller.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/array.hpp"
#include "engine/array_of_tables.hpp"
#include "engine/document.hpp"
#include "engine/table.hpp"
#include "engine/tree_item.hpp"

namespace morvelan {

// The elements of an array (unpacked) or the members of an array of tables.
Elements& elements_of(TreeItem& list);
// Element i (< length) of an array or an array of tables; an array's
// elements before it may stay packed.
TreeItem& element_at(TreeItem& list, std::size_t i);
// Element i (< length) to read: nothing is unpacked (see Array::peek).
const TreeItem& read_element(const TreeItem& list, std::size_t i);
std::size_t length_of(const TreeItem& list) noexcept;

// `value` made an element of `list`: for an array a value (a table becomes
// an inline table, an array of tables an array of inline tables, and the
// decor of its old place stays behind); for an array of tables a standard
// table (an inline table's entries move into one), or nothing when `value`
// is neither a table nor an inline table.
std::optional<TreeItem> as_element(const TreeItem& list, TreeItem value);

// A table or an inline table as a member of an array of tables: an inline
// table's entries move into a new standard table with the default layout.
TreeItem as_member_table(TreeItem&& item);

// Inserts `element` (made by as_element) before position `at` (at most the
// length), laid out like its neighbours: on a line of its own in a list
// written one element per line, after the rest of the previous element's
// line (its comment), before the comment lines of the element that follows.
void insert_element(TreeItem& list, std::size_t at, TreeItem&& element);

// Replaces element `i`; the new element takes over the decor (the header
// decor and the place in the document, in an array of tables) of the one it
// replaces.
void replace_element(TreeItem& list, std::size_t i, TreeItem&& element);

// Text above removed headers of an array of tables that stays in the
// document but that no member of the array takes over (the removed member
// was the last): comment paragraphs set off from the header by a blank line,
// with the place in the document of the first header they stood above. The
// caller puts it before the next header written (see keep_removed_text).
struct KeptText {
    std::string text;
    HeaderPosition position;
    // The member whose header took the place of a removed one and kept its
    // own blank lines above it: it loses them when it is now written first
    // in the document.
    const Table* set_off = nullptr;
    TreeItem* set_off_member = nullptr;  // its member, where it stands after the removal
    // The text came from above the header written first in the document,
    // with no line of the root before it: it opened the document.
    bool opened = false;
    // The ends of the written order as the edit leaves them, while known
    // (see written_order.hpp).
    std::optional<OrderEnds> ends;
    void add(const TreeItem& member);
};

// Removes element `i` with the comment lines directly above it and the
// comment on its own line, and returns it. The other elements keep their
// lines and comments; a comment paragraph set off from the removed element
// by a blank line stays: above the next member, or in `kept`.
TreeItem remove_element(TreeItem& list, std::size_t i, KeptText* kept = nullptr);

// Removes every element (a table's header layout goes with it; the text
// that stays, with `kept`, as above).
void clear_elements(TreeItem& list, KeptText* kept = nullptr);

// Makes room for `more` elements, so that inserting them one by one does
// not fail halfway for want of memory.
void reserve_elements(TreeItem& list, std::size_t more);

// Puts the elements of an array in a new order: the element at position j
// comes from position order[j] (a permutation of the positions). Each
// element takes with it its own comment block (the comment lines directly
// above it) and the comment at the end of its line; the layout stays where
// it is: line breaks, indentation, blank lines, comment paragraphs set off by
// a blank line, the text after "[" and the comments before "]".
void reorder_elements(Array& a, const std::vector<std::size_t>& order);

// Puts the members of an array of tables in a new order, as reorder_elements
// does for an array: each member goes with its sections (its header and the
// headers below it, which take the places in the document the members'
// sections held, in the new order), its comment block and its header's
// comment; blank lines and comment paragraphs set off above a header stay
// where they are. False, changing nothing, when the members' sections are
// not written as one run of the document (another table's header stands among
// them, or some members were read from the text and others added by edits).
bool reorder_members(DocumentRoot& doc, TreeItem& list, const std::vector<std::size_t>& order);

// Lays a non-empty array out one element per line, each indented by
// `indent` spaces, with a comma after the last; the elements' decor (and the
// comments in it) is replaced.
void set_multiline(Array& a, std::size_t indent);

}  // namespace morvelan
