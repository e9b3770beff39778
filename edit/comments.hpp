// The text between entries: how edits read and rewrite the layout and the
// comments that live in decor (see engine/repr.hpp for where each piece of
// text is kept). Plain C++ on the engine tree, no Python: the table and
// array edits (dict_ops, list_ops) and the comment properties of handles
// share these rules.
//
// A prefix-like text (the text before an entry: a key's prefix, a header's
// prefix, an array element's prefix) splits in three:
//
//     "  # end of the line before\n# about b\n\n  "
//      \_________ head __________/\__ middle _/\tail/
//
// the head is the rest of the line the text starts on (up to and including
// its first line break; empty when it has none), the middle the whole lines
// after it (comment lines and blank lines), the tail the indentation of the
// entry's own line (after the last line break; all of the text when it has
// no line break).
//
// In an array or an inline table, what follows an element's comma is the
// next element's prefix (or, after the last element, the container's
// trailing text): its head is the rest of the element's own line, where the
// element's inline comment stands.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/array.hpp"
#include "engine/table.hpp"
#include "engine/tree_item.hpp"

namespace morvelan {

using Text = std::string_view;

bool has_break(Text s) noexcept;
// Decor holds only whitespace, line breaks and comments: a '#' starts a comment.
bool has_comment(Text s) noexcept;

// The three parts of a prefix-like text (see above).
struct Layout {
    Text head;
    Text middle;
    Text tail;
};
Layout split_layout(Text s) noexcept;
inline Text head_of(Text s) noexcept { return split_layout(s).head; }
// Everything after the head.
inline Text after_head(Text s) noexcept { return s.substr(head_of(s).size()); }
inline Text tail_of(Text s) noexcept { return split_layout(s).tail; }

// The whole lines of a layout's middle split in two: the comment lines
// directly above the entry (`own`: the last run of comment lines, with no
// blank line after it) and what stands before them (`free`: blank lines and
// comment paragraphs set off from the entry by a blank line). A blank line
// is a line of spaces and tabs only.
struct Block {
    Text free;
    Text own;
};
Block split_block(Text middle) noexcept;

// The text before a statement (a key/value line, a header, an array
// element, or the end of a body) read as the statement's trivia:
//
//     "  # end of the line before\n# licence\n\n# about b\n  "
//      \________ head _________/\___ free ___/\_ block _/\indent
//
// `head` ends the line before (the comment there is that line's); `free`
// holds blank lines and comment paragraphs set off by a blank line (they
// belong to the place, not to the statement); `block` is the statement's
// own comment block, the comment lines directly above it; `indent` is its
// indentation. The four put back together are the text again.
struct Trivia {
    Text head;
    Text free;
    Text block;
    Text indent;
    // The whole lines between head and indent: free and block, which are
    // next to each other in the text.
    Text lines() const noexcept { return Text(free.data(), free.size() + block.size()); }
};
Trivia trivia_of(Text before) noexcept;
// The same for text that starts at the start of a line (the prefix of a
// standard table's key/value line or of a header): it has no head.
Trivia line_trivia(Text before) noexcept;

// A part of `whole`'s text, kept as a piece of the source when `whole` is one.
RawText part_of(const RawText& whole, Text part);

// `a` followed by `b`, with one blank line less when `a` ends in a blank
// line and `b` starts with one (so joining two texts never doubles one).
std::string join_lines(Text a, Text b);

// The line breaks at the start of a text (with any carriage returns in them).
Text leading_breaks(Text s) noexcept;

// Paragraphs of a prefix-like text that starts at the start of a line: the
// comment block that goes with an entry is the run of comment lines directly
// above it; a comment paragraph separated from it by a blank line stands
// free. free_comments is the text up to and including the last blank line
// when a comment stands there (empty otherwise): what stays in the document
// when the entry goes.
Text free_comments(Text prefix) noexcept;
// The comment lines at the very start of `text` (no blank line before
// them), each with its line break: comments that end the body before them.
Text leading_comments(Text text) noexcept;
// Whether the first line of `text` is blank (whitespace and a line break).
bool starts_blank(Text text) noexcept;
// `above` (ending in a blank line) followed by `below` without its leading
// blank lines: two texts joined with no doubled blank line.
std::string join_paragraphs(Text above, Text below);

// ---------------------------------------------------------------------------
// Where the text of a table entry lives

// A dotted table (or dotted inline table): written as dotted keys of its
// parent. A section: a table or an array of tables written under headers.
bool is_dotted(const TreeItem& item) noexcept;
bool is_section(const TreeItem& item) noexcept;

// One key/value line of a table's body (or one entry of an inline table):
// dotted tables are flattened into the lines of their values. `entry` is the
// top-level entry the line belongs to (its own index when collected with
// kNoEntry).
inline constexpr std::size_t kNoEntry = static_cast<std::size_t>(-1);
struct Line {
    Key* key;  // the last key of the line's path: its leaf decor is the line's
    TreeItem* value;
    std::size_t entry;
};
void collect_lines(Table& t, std::size_t entry, std::vector<Line>& out);

// Every table of an item (itself, the members of an array of tables, the
// tables below them), sorted by address for lookup.
std::vector<const TreeItem*> tables_in(const TreeItem& item);

// Whether a table is written with a header line of its own, where its
// header decor suffix (its inline comment) is written: not a dotted table
// (written as dotted keys of its parent), not an implicit table whose header
// is left out.
bool has_header_line(const TreeItem& item) noexcept;

// The header decor prefix of a section: a table's, or an array of tables'
// first member's; null when there is no header.
RawText* header_prefix(TreeItem& item) noexcept;

// The prefix of the first header of a section in the text: its own, or
// that of a header below it that comes first (a header before its parent's,
// or below an implicit table that writes none).
RawText* written_prefix(TreeItem& item);

// Where the block comment of a table entry is kept: its key's prefix (a
// value in a standard table, an empty dotted table written `key = {}`; any
// entry of an inline table), the prefix of its first line (a dotted table),
// the prefix of the first header written for it (a table, an array of
// tables). Null when there is no such text.
RawText* block_place(Entry& e, bool in_inline);

// Text kept on the key of a table entry that is written above its header
// (a comment brought by a value the table replaced): part of its block.
Text hoisted(const Entry& e) noexcept;

// The whole text above an entry of a standard table that holds its comment
// block (hoisted text and the block place), copied out.
RawText block_text(Entry& e);

// The comment at the end of a line: the first line of `text`, trimmed, when
// it starts with '#'; empty otherwise.
Text line_comment(Text text) noexcept;

// The comment lines of a prefix-like text, trimmed, with the blank lines
// between them; blank lines before the first comment and after the last are
// left out (the place the block is written to has its own).
std::vector<std::string> comment_lines(Text text);

// comment_lines, with a blank line after the last comment when it stood
// free (set off by a blank line from what followed it): a block moved
// elsewhere keeps free comments free.
std::vector<std::string> comment_lines_kept(Text text);

// `base` with a comment block written into it: its leading line breaks, the
// block indented like the line that ends `base`, then that indentation.
RawText with_block(Text base, const std::vector<std::string>& block);

// The text that follows the comma after element `i` of an array: the next
// element's prefix, or the trailing text after the last element (with or
// without a comma before it).
const RawText* after_comma(const Array& a, std::size_t i);

// The inline comment of an array element (by index) or of an inline-table
// entry (by key), read where its line ends: for an array element after its
// comma first and in its own suffix second; for an inline-table entry the
// other way round. Empty when there is none.
Text inline_comment(const Array& a, std::size_t index);
Text inline_comment(const Table& inline_table, std::string_view key);

// Where the line of an entry of an inline table ends: the suffix of its
// value (of the last value of a dotted entry) and the text after its comma,
// the next line's key prefix (`next_prefix`) or the table's trailing text.
// Nothing when the key is not there or the entry writes no line.
struct LineEnd {
    RawText* own;
    RawText* after;
    bool next_prefix;
};
std::optional<LineEnd> line_end(Table& inline_table, std::string_view key);

// ---------------------------------------------------------------------------
// The comments of an entry, read and written (the comment properties of
// handles).

// An entry of a container: by key in a table or inline table, by index in an
// array or an array of tables.
struct EntrySlot {
    bool by_key = true;
    std::string_view key;
    std::size_t index = 0;
};

// The comment lines of a prefix-like text: each line trimmed, blank lines
// kept as empty lines, lines that are not comments left out, blank lines at
// the end dropped; joined with "\n". Nothing when no line is left.
std::optional<std::string> comment_text(Text text);

// The block comment above an entry, or nothing. The entry exists.
std::optional<std::string> block_comment(const TreeItem& parent, const EntrySlot& slot);
// The inline comment at the end of an entry's line, or nothing.
std::optional<std::string> line_comment_of(const TreeItem& parent, const EntrySlot& slot);

// What is wrong with a comment given to the setters (the message of the
// ValueError), or nothing.
std::optional<std::string> block_comment_error(Text comment);
std::optional<std::string> inline_comment_error(Text comment);

enum class CommentEdit { Done, NoEntry, Unsupported, NoLine };

// Writes (or, with nothing, clears) the block comment above an entry, or
// the inline comment at the end of its line; the comment has been checked.
// Only decor text changes. NoEntry when a key is not in the table;
// Unsupported when the entry cannot take an inline comment (an array of
// tables by key, a placeholder); NoLine when it is a table that writes no
// header line to end with the comment (see has_header_line).
CommentEdit set_block_comment(TreeItem& parent, const EntrySlot& slot, std::optional<Text> comment);
CommentEdit set_inline_comment(TreeItem& parent, const EntrySlot& slot, std::optional<Text> comment);

}  // namespace morvelan
