// Sorting a table: the entries change places, their text goes with them.
//
// The writer puts a table's key/value lines in entry order, or, when dotted
// tables are flattened among them, in the order their keys stand in the
// source (see open_lines in engine/encode.cpp); and its sections in the order
// of their recorded positions, a table without one right after the table
// before it in a walk of the tree (see written_order.hpp). So a sort puts
// the entries in the new order, lets the lines of the sorted table forget
// their places in the source (they are then written in entry order), and
// hands the sections' positions out again in the new order; then it checks
// that the writer puts the sections where they should be, and undoes the
// move when it would not.
#include "table_order.hpp"

#include <algorithm>
#include <optional>
#include <string>
#include <utility>

#include "comments.hpp"
#include "list_ops.hpp"
#include "written_order.hpp"

namespace morvelan {

namespace {

// ---------------------------------------------------------------------------
// The entries

// Where each position of the entry map takes its entry from: the visible
// positions in `order`, the others (placeholders) from themselves.
std::vector<std::size_t> sources(const Table& t, const std::vector<std::size_t>& order) {
    std::vector<std::size_t> visible;
    for (std::size_t i = 0; i < t.entries.size(); ++i)
        if (!t.entries.at(i).item.is_none()) visible.push_back(i);
    std::vector<std::size_t> from(t.entries.size());
    for (std::size_t i = 0; i < from.size(); ++i) from[i] = i;
    for (std::size_t k = 0; k < visible.size(); ++k) from[visible[k]] = visible[order[k]];
    return from;
}

// Rebuilds the entry map (which holds no holes), position i taking the
// entry at from[i].
void permute(Table& t, const std::vector<std::size_t>& from) {
    EntryMap fresh;
    fresh.reserve(from.size());
    for (const std::size_t k : from) {
        Entry& e = t.entries.at(k);
        fresh.append(std::move(e.key), std::move(e.item));
    }
    t.entries = std::move(fresh);
}

std::vector<std::size_t> inverse(const std::vector<std::size_t>& from) {
    std::vector<std::size_t> back(from.size());
    for (std::size_t i = 0; i < from.size(); ++i) back[from[i]] = i;
    return back;
}

// ---------------------------------------------------------------------------
// The lines

std::vector<Line> lines_of(Table& t) {
    std::vector<Line> lines;
    collect_written(t, kNoEntry, lines);
    return lines;
}

// The lines in their new order, as indices into the old walk: the entries
// in the new order (from[i]: the old position of the entry now at i), each
// with its lines.
std::vector<std::size_t> moved_lines(const std::vector<Line>& walk, const std::vector<std::size_t>& from) {
    std::vector<std::size_t> begin(from.size() + 1, 0);
    for (const Line& l : walk) ++begin[l.entry + 1];
    for (std::size_t i = 0; i < from.size(); ++i) begin[i + 1] += begin[i];
    std::vector<std::size_t> out;
    out.reserve(walk.size());
    for (const std::size_t k : from)
        for (std::size_t i = begin[k]; i < begin[k + 1]; ++i) out.push_back(i);
    return out;
}

bool in_walk_order(const std::vector<std::size_t>& written) {
    for (std::size_t i = 0; i < written.size(); ++i)
        if (written[i] != i) return false;
    return true;
}

// The key prefixes of a table's lines that no longer have a place in the
// source: they are written in entry order from now on.
void forget_places(Table& t) {
    for (const Line& l : lines_of(t)) {
        RawText spelled = l.key->repr();
        spelled.detach();
        l.key->set_repr(std::move(spelled));
    }
}

// The text above a line or a header (which starts a line), cut into what
// stays with the place and what moves with the line.
struct Above {
    std::string free;  // blank lines, and comment paragraphs set off by one
    std::string own;   // the comment lines directly above
    std::string tail;  // the indentation
    bool absent;
};

Above above_of(Text text, bool absent) {
    const Trivia t = line_trivia(text);
    return Above{std::string(t.free), std::string(t.block), std::string(t.indent), absent};
}

Above above_of(const RawText& prefix) { return above_of(prefix.view(), prefix.is_absent()); }

// The text of `place` with the comment block of `moved`.
RawText placed(const Above& place, const Above& moved) {
    if (place.absent && moved.own.empty()) return RawText::absent();
    return RawText::owned(place.free + moved.own + place.tail);
}

}  // namespace

namespace {

// ---------------------------------------------------------------------------
// The sections

// The sections below the entries of the sorted table, where the writer puts
// them, and the places they take in the new order. A unit is an entry with
// tables written as sections below it (a sub-table, an array of tables, an
// implicit or dotted table with sub-tables).
class Sections {
public:
    // Reads them; false when they cannot be moved: another table's header
    // written among them, or units read from the text and others added by
    // edits (which have no positions).
    bool read(const DocumentRoot& doc, Table& t);
    // Hands the positions out in the new order (from[i]: the old position of
    // the entry now at i), and works out the order the writer must follow.
    void place(const std::vector<std::size_t>& from);
    // Whether the writer writes the headers in that order.
    bool placed_right(const DocumentRoot& doc) const;
    void undo();
    // The units take the slots of the written order in turn, with their
    // comment blocks.
    void move_blocks(const DocumentRoot& doc, const std::vector<std::size_t>& from) const;

private:
    std::size_t entry_of(const Table* x) const;
    bool positions_apart(const DocumentRoot& doc);

    std::vector<std::pair<const Table*, std::size_t>> entry_;  // each table below an entry, by address
    std::vector<std::vector<const Table*>> headers_;  // each entry's tables that write headers, written order
    std::vector<std::vector<Table*>> placed_;         // each entry's tables with positions, by position
    std::vector<Above> above_;                        // each unit's text above its first header
    std::vector<std::size_t> slots_;                  // the units in the written order
    std::vector<const Table*> written_;               // the headers of the document, in order
    std::vector<const Table*> expected_;              // the same in the new order
    std::vector<std::pair<Table*, HeaderPosition>> saved_;
};

std::size_t Sections::entry_of(const Table* x) const {
    const auto at = std::lower_bound(entry_.begin(), entry_.end(), std::make_pair(x, std::size_t{0}));
    return at != entry_.end() && at->first == x ? at->second : kNoEntry;
}

bool Sections::read(const DocumentRoot& doc, Table& t) {
    const std::size_t n = t.entries.size();
    headers_.assign(n, {});
    placed_.assign(n, {});
    above_.assign(n, Above{});
    for (std::size_t i = 0; i < n; ++i)
        for (const Table* x : tables_of(t.entries.at(i).item)) entry_.emplace_back(x, i);
    std::sort(entry_.begin(), entry_.end());
    const Written w(doc);
    std::size_t first = kNoEntry, last = 0;
    for (std::size_t i = 0; i < w.size(); ++i) {
        if (!w.header(i)) continue;
        const Table* x = &w.item(i)->as_table();
        written_.push_back(x);
        const std::size_t e = entry_of(x);
        if (e == kNoEntry) continue;
        if (headers_[e].empty()) {
            // An absent prefix is the writer's: nothing first in the
            // document, a blank line elsewhere.
            const RawText& p = w.item(i)->decor().prefix;
            above_[e] = above_of(p.is_present() ? p.view() : Text(w.at_start(i) ? "" : "\n"), p.is_absent());
            slots_.push_back(e);
        }
        headers_[e].push_back(x);
        first = std::min(first, written_.size() - 1);
        last = written_.size() - 1;
    }
    for (std::size_t k = first + 1; k < last; ++k)
        if (entry_of(written_[k]) == kNoEntry) return false;
    return !positions_apart(doc);
}

// Units with positions and units without, or a table with a position among
// theirs that is not one of them.
bool Sections::positions_apart(const DocumentRoot& doc) {
    std::vector<std::int32_t> places;
    for (const auto& [x, e] : entry_) {
        if (!x->doc_position) continue;
        placed_[e].push_back(const_cast<Table*>(x));  // the caller's tree, handed out for editing
        places.push_back(*x->doc_position);
    }
    std::size_t with = 0, without = 0;
    for (std::size_t e = 0; e < headers_.size(); ++e) {
        std::sort(placed_[e].begin(), placed_[e].end(),
                  [](const Table* a, const Table* b) { return *a->doc_position < *b->doc_position; });
        if (!headers_[e].empty()) ++(placed_[e].empty() ? without : with);
    }
    if (with != 0 && without != 0) return true;
    if (places.empty()) return false;
    const auto [low, high] = std::minmax_element(places.begin(), places.end());
    for (const TreeItem* x : tables_in(doc.root())) {
        const HeaderPosition p = x->as_table().doc_position;
        if (p && *p > *low && *p < *high && entry_of(&x->as_table()) == kNoEntry) return true;
    }
    return false;
}

void Sections::place(const std::vector<std::size_t>& from) {
    std::vector<std::int32_t> places;
    for (const std::vector<Table*>& tables : placed_)
        for (Table* x : tables) {
            places.push_back(*x->doc_position);
            saved_.emplace_back(x, x->doc_position);
        }
    std::sort(places.begin(), places.end());
    std::size_t next = 0;
    std::vector<const Table*> run;
    for (const std::size_t k : from) {
        for (Table* x : placed_[k]) x->doc_position = HeaderPosition(places[next++]);
        run.insert(run.end(), headers_[k].begin(), headers_[k].end());
    }
    expected_ = written_;
    next = 0;
    for (const Table*& x : expected_)
        if (entry_of(x) != kNoEntry) x = run[next++];
}

bool Sections::placed_right(const DocumentRoot& doc) const {
    const Written w(doc);
    std::size_t k = 0;
    for (std::size_t i = 0; i < w.size(); ++i) {
        if (!w.header(i)) continue;
        if (k == expected_.size() || expected_[k] != &w.item(i)->as_table()) return false;
        ++k;
    }
    return k == expected_.size();
}

void Sections::undo() {
    for (auto& [x, p] : saved_) x->doc_position = p;
}

void Sections::move_blocks(const DocumentRoot& doc, const std::vector<std::size_t>& from) const {
    if (slots_.empty()) return;
    const Written w(doc);
    std::vector<std::pair<const Table*, TreeItem*>> items;
    for (std::size_t i = 0; i < w.size(); ++i) items.emplace_back(&w.item(i)->as_table(), w.item(i));
    std::sort(items.begin(), items.end());
    std::size_t j = 0;
    for (const std::size_t unit : from) {
        if (headers_[unit].empty()) continue;
        const auto at =
            std::lower_bound(items.begin(), items.end(),
                             std::make_pair(headers_[unit].front(), static_cast<TreeItem*>(nullptr)));
        if (at == items.end() || at->first != headers_[unit].front()) continue;  // every header is written
        at->second->decor().prefix = placed(above_[slots_[j++]], above_[unit]);
    }
}

// ---------------------------------------------------------------------------
// Standard tables and inline tables

std::vector<std::size_t> identity(std::size_t n) {
    std::vector<std::size_t> out(n);
    for (std::size_t i = 0; i < n; ++i) out[i] = i;
    return out;
}

// The lines of the sorted table: `walk` in entry order, `written` the same
// in the order the writer writes them (indices into `walk`); `owner` is the
// table whose body holds them and `all` its lines (for a dotted table).
struct TableLines {
    std::vector<Line> walk;
    std::vector<std::size_t> written;
    Table* owner = nullptr;
    std::vector<Line> all;
};

// Nothing when it is a dotted table whose lines are written among other lines.
std::optional<TableLines> read_lines(DocumentRoot& doc, TreeItem& target) {
    TableLines l;
    l.walk = lines_of(target.as_table());
    if (!is_dotted(target)) {
        l.owner = &target.as_table();
        l.written = written_positions(l.walk, target.as_table(), doc);
        return l;
    }
    l.owner = &line_owner(doc, target).as_table();
    l.all = lines_of(*l.owner);
    if (!in_walk_order(written_positions(l.all, *l.owner, doc))) return std::nullopt;
    l.written = identity(l.walk.size());
    return l;
}

TableOrder reorder_standard(DocumentRoot& doc, TreeItem& target, const std::vector<std::size_t>& from) {
    Table& t = target.as_table();
    std::optional<TableLines> lines = read_lines(doc, target);
    if (!lines) return TableOrder::LinesApart;
    std::vector<Line>& walk = lines->walk;
    const std::vector<std::size_t>& written = lines->written;
    const std::vector<std::size_t> moved = moved_lines(walk, from);
    std::vector<RawText> prefixes;
    prefixes.reserve(walk.size());
    for (std::size_t j = 0; j < walk.size(); ++j)
        prefixes.push_back(placed(above_of(walk[written[j]].key->leaf_decor.prefix),
                                  above_of(walk[moved[j]].key->leaf_decor.prefix)));
    Sections sections;
    if (!sections.read(doc, t)) return TableOrder::SectionsApart;
    permute(t, from);
    sections.place(from);
    if (!sections.placed_right(doc)) {
        sections.undo();
        permute(t, inverse(from));
        return TableOrder::SectionsApart;
    }
    sections.move_blocks(doc, from);
    walk = lines_of(t);
    for (std::size_t j = 0; j < walk.size(); ++j) walk[j].key->leaf_decor.prefix = std::move(prefixes[j]);
    forget_places(t);
    take_order_ends(doc);
    return TableOrder::Done;
}

// A text as the writer writes it in an inline table: an absent one is the
// one space before a key.
Text inline_text(const RawText& r) { return r.is_present() ? r.view() : Text(" "); }
RawText inline_back(const RawText& r, bool absent) {
    return absent && r.view() == " " ? RawText::absent() : r;
}

// The entries of an inline table (or of a dotted table in one) move as the
// elements of an array: its lines are laid out as one, with the text after
// the last line's comma as the array's trailing text.
TableOrder reorder_inline(DocumentRoot& doc, TreeItem& target, const std::vector<std::size_t>& from) {
    Table& t = target.as_table();
    std::optional<TableLines> lines = read_lines(doc, target);
    if (!lines) return TableOrder::LinesApart;
    std::vector<Line>& walk = lines->walk;
    const std::vector<std::size_t>& written = lines->written;
    const std::vector<Line>& all = lines->all;
    Table* owner = lines->owner;
    const std::size_t n = walk.size();
    // What follows the last line: the next line of the owner, or its end.
    std::size_t next = all.size();
    for (std::size_t i = 0; n != 0 && i < all.size(); ++i)
        if (all[i].key == walk.back().key) next = i + 1;
    RawText& after = next < all.size() ? all[next].key->leaf_decor.prefix : owner->trailing;
    TreeItem list = TreeItem::array();
    Array& a = list.as_array();
    std::vector<bool> absent(n + 1);
    for (std::size_t j = 0; j < n; ++j) {
        const Line& l = walk[written[j]];
        TreeItem x = TreeItem::integer(0);
        absent[j] = l.key->leaf_decor.prefix.is_absent();
        x.decor().prefix = RawText::owned(inline_text(l.key->leaf_decor.prefix));
        if (writes_value(l)) x.decor().suffix = l.value->decor().suffix;
        a.items().push_back(std::move(x));
    }
    absent[n] = after.is_absent();
    a.trailing = RawText::owned(inline_text(after));
    a.trailing_comma = next < all.size() || owner->trailing_comma;
    std::vector<std::size_t> slot_of(n), order(n);
    for (std::size_t j = 0; j < n; ++j) slot_of[written[j]] = j;
    const std::vector<std::size_t> moved = moved_lines(walk, from);
    for (std::size_t j = 0; j < n; ++j) order[j] = slot_of[moved[j]];
    reorder_elements(a, order);
    permute(t, from);
    walk = lines_of(t);
    for (std::size_t j = 0; j < n; ++j) {
        walk[j].key->leaf_decor.prefix = inline_back(a.items()[j].decor().prefix, absent[j]);
        if (writes_value(walk[j])) walk[j].value->decor().suffix = a.items()[j].decor().suffix;
    }
    after = inline_back(a.trailing, absent[n]);
    forget_places(t);
    return TableOrder::Done;
}

}  // namespace

TableOrder reorder_entries(DocumentRoot& doc, TreeItem& target, const std::vector<std::size_t>& order) {
    Table& t = target.as_table();
    t.entries.shrink_to_fit();  // no holes: each position holds an entry
    const std::vector<std::size_t> from = sources(t, order);
    return target.is_inline_table() ? reorder_inline(doc, target, from) : reorder_standard(doc, target, from);
}

}  // namespace morvelan
