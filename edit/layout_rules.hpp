// The layout choices of the edit layer, in one place.
//
// Each choice an edit makes about text it writes (the indentation of a new
// key, element or header; the blank lines around a header; which comments go
// with an entry that goes and which stay; who keeps the comments that open
// the document) is a function here. The edits in dict_ops and list_ops apply
// them; the reading of the text they look at (the head, the free paragraphs,
// the comment block and the indentation above a statement) is in
// comments.hpp. Each rule has an exact-output test (tests/test_layout.py,
// tests/engine/test_dict_ops.cpp, tests/engine/test_list_ops.cpp).
#pragma once
#include <string>

#include "comments.hpp"
#include "engine/array.hpp"
#include "engine/document.hpp"
#include "engine/table.hpp"
#include "engine/tree_item.hpp"

namespace morvelan {

// ---- indentation -------------------------------------------------------------

// A new key/value line of a standard table is indented like the table's
// first line; in a table with no line of its own, like its header plus the
// file's step past a header (line_step), never at column 0 in an indented
// file. The root and dotted tables indent like their lines.
std::string new_line_indent(const DocumentRoot& doc, TreeItem& target);
// The indentation of the table's first key/value line (dotted tables
// entered); empty when it has none.
Text body_indent(const Table& t) noexcept;
// How far the file indents a table's lines past its header line: as the
// first table read with a header and lines does (not at all when none).
std::string line_step(const DocumentRoot& doc);
// The key that ends the table's first key/value line (dotted tables
// entered), or null.
const Key* first_line_key(const Table& t) noexcept;

// A new entry of an inline table written over several lines goes on a line
// of its own, indented like the first entry that starts a line, else the
// last (`first_prefix`, `last_prefix`: their key prefixes); one space when
// neither does.
std::string inline_entry_indent(Text first_prefix, Text last_prefix);

// The decor a new element of a non-empty array takes from the layout of its
// first two elements (`second` null when it has one): where the next element
// would start, and what follows it.
struct NewDecor {
    std::string prefix;
    std::string suffix;
    // Commas start the lines (`[ 1\n, 2\n]`): they follow the line breaks.
    bool commas_first = false;
};
NewDecor new_element_decor(const Decor& first, const Decor* second);

// ---- blank lines around headers ----------------------------------------------

// A header written after other text is set off from it by a blank line:
// its prefix begins with a line break.
void set_off(RawText& header_prefix);
// A header written first in the document (or that a removal left right
// under its table's header where nothing set it off before) loses that
// line break.
void not_set_off(RawText& header_prefix);
// A header written first in the document starts it: no line break above it
// (nor above its comment).
void starts_document(RawText& header_prefix);
// A new section of a table is set off unless it is the table's first entry
// (then it opens the table, right under its header).
bool sets_off_new_section(const Table& t) noexcept;
// Whether a sub-table header that now follows a table's first line is set
// off by a blank line: as the file does it, read from most of its headers
// read after a table's lines, or where none is, from those right after a
// header (yes when the file has neither). A file that glues its sub-tables'
// headers to their parent's keeps them glued.
bool headers_set_off(const DocumentRoot& doc);

// ---- comments that go and comments that stay ---------------------------------

// Above a statement, the comment block directly above it (no blank line
// between) is its own: it goes where the statement goes. Paragraphs set off
// by a blank line stand free: when the statement goes, they stay, before the
// statement or header that followed it.
inline Text stays_when_removed(Text prefix) noexcept { return free_comments(prefix); }
// The paragraphs set off above the first statement of the document open
// the document: they stay first whatever is added above, removed or moved.
inline Text opening_comments(Text first_prefix) noexcept { return free_comments(first_prefix); }
// Comment lines right at the start of the text before a header (no blank
// line before them) end the body above it: a new section written before
// that header goes after them.
inline Text ends_body_above(Text header_prefix) noexcept { return leading_comments(header_prefix); }

// ---- values copied out ------------------------------------------------------

// The decor of an array element or an inline-table entry is the layout of
// its place in that container (text after the previous comma, before the
// next): a copy of it (`copy`, found in `parent` at `slot`) leaves that
// behind and keeps only its inline comment, as its suffix, so that it fits a
// key/value line.
void leave_place_behind(TreeItem& copy, const TreeItem& parent, const EntrySlot& slot);

}  // namespace morvelan
