// The order the tables of a document are written in, as edits see it.
//
// The writer puts the tables in the order of their recorded positions, a
// table without one right after the table before it in a depth-first walk
// (see engine/encode.hpp). Reading that order from the tree costs a walk
// over every table. Most edits need little of it: whether a section is
// written first, which header follows it. They read that from its two ends
// (OrderEnds: the first table written with a header, the last table written),
// which the edits keep for one another (KeptEnds in engine/document.hpp):
// an edit of the tables takes them before it changes anything, and keeps
// them again when it knows where it left them. Debug builds check every
// kept pair against the whole order.
#pragma once

#include <cstddef>
#include <optional>
#include <vector>

#include "comments.hpp"
#include "engine/document.hpp"
#include "engine/encode.hpp"
#include "list_ops.hpp"

namespace morvelan {

// The position of the first visible entry of `t`, or kNoEntry.
std::size_t first_visible(const Table& t) noexcept;

// Whether the table writes a key/value line, as the writer decides it, but
// for entry `skip`.
bool writes_lines(const Table& t, std::size_t skip = kNoEntry) noexcept;

bool holds(const std::vector<const TreeItem*>& sorted, const TreeItem* t);

// The tables of a document in the order they are written, read whole. The
// document is the caller's to edit: the items are handed out for editing.
class Written {
public:
    explicit Written(const DocumentRoot& doc) : order_(written_tables(doc)) {}

    std::size_t index_of(const TreeItem* t) const noexcept;
    TreeItem* item(std::size_t i) const noexcept { return const_cast<TreeItem*>(order_[i].item); }
    bool header(std::size_t i) const noexcept { return order_[i].header; }
    std::size_t size() const noexcept { return order_.size(); }

    // The first table after `from` that writes a header and is not one of
    // `skip`; null when none.
    TreeItem* next_header(std::size_t from, const std::vector<const TreeItem*>& skip = {}) const;
    // Whether nothing is written before the table at `at`.
    bool at_start(std::size_t at) const;
    OrderEnds ends() const noexcept;

private:
    Vector<WrittenTable> order_;
};

// The ends the last edit kept, taken (none when it kept none).
inline std::optional<OrderEnds> take_order_ends(DocumentRoot& doc) noexcept {
    return doc.written_ends.take();
}
// The ends kept, or else read from the whole order.
OrderEnds order_ends(const DocumentRoot& doc, const std::optional<OrderEnds>& kept);
// Keeps `ends` for the next edit.
void keep_order_ends(DocumentRoot& doc, OrderEnds ends);
// Debug builds check what an edit read from the ends against what the whole
// order says (`same`), and stop the process when they differ: that is a
// fault of this code, as a failed assertion is.
void check_ends_answer(bool same, const char* what) noexcept;

// The last section the writer meets in `item` and below it (a table entered
// from its parent, `member` of an array of tables, or an array of tables),
// or null: a dotted table is no section, the tables below it may be.
const Table* last_section_in(const TreeItem& item, bool member);
// The first section in `item` and below it, in that walk, that writes a
// header; null when none does.
const Table* first_header_in(const TreeItem& item, bool member);
// Whether the tables that follow entry `at` of the standard table `target`
// keep their places when that entry changes: a table without a position is
// written right after the table before it in the walk, so the first section
// after the entry must have one (or there must be none: known in the root
// only).
bool followed_by_position(const DocumentRoot& doc, const TreeItem& target, std::size_t at);
// The section the writer meets last before entry `at` of the standard
// table `target`: in the entries before it, else `target` itself (the
// root, or a section); null for a dotted table without one.
const Table* section_before(const DocumentRoot& doc, const TreeItem& target, std::size_t at);
// The tables of `item` (see tables_in), as tables: they stay what they are
// when their items move or go, to be told apart from others.
std::vector<const Table*> tables_of(const TreeItem& item);
// Whether `t` is one of `tables`.
bool among(const std::vector<const Table*>& tables, const Table* t) noexcept;

// Member `at` of the array of tables `list` has just come in: the ends
// `kept.ends` move with it, or become unknown.
void member_came(KeptText& kept, const TreeItem& list, std::size_t at);
// Member `i` of `members` (still there) is about to go: the ends
// `kept.ends` move without it, or become unknown.
void member_goes(KeptText& kept, const Elements& members, std::size_t i);

// ---------------------------------------------------------------------------
// The key/value lines of a table's body, as the writer orders them

// The lines of `t` in entry order, dotted tables entered (each entry's lines
// together; `entry` is the top-level entry, kNoEntry for `t`'s own): a value,
// `key = {}` for a dotted table with no entry, `key = []` for an array of
// tables without members (the value is then that table or array of tables).
void collect_written(Table& t, std::size_t entry, std::vector<Line>& out);
// Whether a line writes a value of its own (not `key = {}` or `key = []`).
bool writes_value(const Line& l) noexcept;
// The positions in `lines` (collected from `t`) in the order the writer
// writes them: entry order, or source order when dotted tables are
// flattened among them (a line made in memory follows the line before it).
std::vector<std::size_t> written_positions(const std::vector<Line>& lines, const Table& t,
                                           const DocumentRoot& doc);
// The lines of `t` in the order they are written.
std::vector<Line> written_lines(Table& t, const DocumentRoot& doc);
// The table whose body holds the lines of `target`: the table itself, or for
// a dotted table the table its dotted keys are written in.
TreeItem& line_owner(DocumentRoot& doc, TreeItem& target);

}  // namespace morvelan
