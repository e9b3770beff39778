// Table edits with their layout rules: what assigning, deleting and popping
// an entry of a standard table or an inline table does to the text around it.
//
// These are tree operations only (no Python): the mapping members of Document
// and DictItem convert their arguments, lock, check and resolve, and then call
// these on the resolved target. A target is a TreeItem that is a Table or an
// InlineTable; entries whose item is None are invisible here as everywhere.
#pragma once

#include <optional>
#include <string_view>

#include "comments.hpp"
#include "engine/document.hpp"
#include "engine/table.hpp"
#include "engine/tree_item.hpp"
#include "list_ops.hpp"

namespace morvelan {

// Stores `item` under `key` in `target` (a Table or an InlineTable):
// - an existing visible key keeps its place and its Key; a replaced value
//   hands its decor to the new value; the comment block above the old entry
//   is carried over to the new one in the form that suits the new kind;
// - a new key is appended after the last entry, indented like the table's
//   first entry (standard table) or laid out like the inline table's entries
//   (one line or several);
// - a Table or ArrayOfTables stored into a standard table becomes a section
//   (no position, blank line before its header unless it is the first entry);
//   stored into an inline table it is first converted to an inline value.
// Returns whether the key held a visible entry before.
bool assign_entry(DocumentRoot& doc, TreeItem& target, std::string_view key, TreeItem item);

// Removes the visible entry under `key` with the removal layout rules;
// nullopt when there is none.
std::optional<Entry> remove_entry(DocumentRoot& doc, TreeItem& target, std::string_view key);

// Removes the last visible entry (popitem); nullopt when there is none.
std::optional<Entry> remove_last_entry(DocumentRoot& doc, TreeItem& target);

// Renames the visible entry `from` of `target` (a Table or an InlineTable)
// to `to` in place: the same line or header, the same value text and
// comments; headers below a renamed table follow it. False, changing
// nothing, when `to` is a visible key already; `from` is visible.
bool rename_entry(TreeItem& target, std::string_view from, std::string_view to);

// Removes every entry (clear()); comment paragraphs that stood free among
// them stay.
void clear_entries(DocumentRoot& doc, TreeItem& target);

// Sets (or clears) the block comment above an entry of `parent`, as
// set_block_comment does; a header that stood on a line apart from the line
// before it keeps doing so (clearing its comment leaves a blank line), unless
// it opens the document.
CommentEdit set_entry_comment(DocumentRoot& doc, TreeItem& parent, const EntrySlot& slot,
                              std::optional<std::string_view> comment);

// ---------------------------------------------------------------------------
// Steps of list edits that change the table holding the list. Only ListEdit
// (list_edit.hpp) calls these, each at its point of a whole operation.

// The array of tables under `key` in `target` has lost its last member and is
// written `key = []` from now on: when that is the table's only line, the
// line is placed like a first line (the header after it set off); above the
// document's first line, it stays below the comments that opened it.
void array_of_tables_emptied(DocumentRoot& doc, TreeItem& target, std::string_view key);

// The array of tables under `key` in `target`, written `key = []`, gets a
// member and is written as sections again. Before the member goes in,
// array_of_tables_refilling takes what the line carried: comment paragraphs
// that stood free above it stay where they stand (kept for later when they
// open the document), the key loses the line's spacing, and the comment block
// directly above the line is kept for the member's header. Once the member
// (`member`) is in, array_of_tables_refilled places them: the opening
// paragraphs stay first in the document, the block goes above the header.
struct Refill {
    std::string opening;
    std::string block;
};
Refill array_of_tables_refilling(DocumentRoot& doc, TreeItem& target, std::string_view key);
void array_of_tables_refilled(DocumentRoot& doc, TreeItem& member, const Refill& r);

// Text that stood above removed headers of an array of tables goes before
// the next header written after them; with none, before `line` (the prefix
// of the line an emptied array of tables is written as) or to the end of
// the document.
void keep_removed_text(DocumentRoot& doc, KeptText& kept, RawText* line);

}  // namespace morvelan
