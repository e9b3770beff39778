// Table edits and the layout they leave behind.
//
// Text around an entry lives in decor (see engine/repr.hpp):
//
//     # about port           <- key prefix (a standard table's entry)
//     port = 80  # web       <- value suffix "  # web"
//
//     # about db             <- header prefix (a table stored as a section)
//     [db]
//
//     t = {                  <- inline table written over several lines:
//       a = 1,  # one        <-   "  # one\n  " is b's key prefix: what
//       b = 2,  # two        <-   follows a comma starts the next key
//     }                      <-   "  # two\n" is the table's trailing text
//
// A comment that ends an inline-table entry's line therefore sits in the text
// that follows the entry's comma (the next key's prefix or the trailing text),
// or in the entry's own value suffix when no comma follows the value on that
// line. Edits move these texts so that every comment stays on its line and no
// comma or brace ever lands inside a comment.
#include "dict_ops.hpp"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "comments.hpp"
#include "engine/array_of_tables.hpp"
#include "engine/encode.hpp"
#include "layout_rules.hpp"
#include "written_order.hpp"

namespace morvelan {

namespace {

constexpr std::size_t kNone = kNoEntry;

RawText owned(Text s) { return RawText::owned(s); }

RawText indent_prefix(Text indent) { return indent.empty() ? RawText::absent() : owned(indent); }

// ---------------------------------------------------------------------------
// Entries and the lines they are written as

// ---------------------------------------------------------------------------
// The text around a table in the document
//
// Headers are written in an order of their own (by recorded position, see
// engine/encode.hpp): the text that a table's lines stand next to is found in
// that order, not among the entries.

// New text goes in before `header` (null: before the document's trailing
// text): a new section, the first lines of the root, or the header and the
// lines of an implicit table that starts to be written; `prefix` is the text
// before the new text. What stands above that header without being its own
// stays above the new text: at the start of the document, every comment
// paragraph set off from the header by a blank line (a licence, say);
// elsewhere, the comment lines that directly end the body before (set off
// from the header by a blank line): they belong to that body. With `set_off`
// the header is set off from the new text by a blank line.
void insert_before(DocumentRoot& doc, TreeItem* header, bool at_start, RawText& prefix, bool set_off_header) {
    RawText& next = header ? header->decor().prefix : doc.trailing;
    const Text text = next.view();
    Text lead = at_start ? opening_comments(text) : ends_body_above(text);
    if (!at_start && header && !starts_blank(text.substr(lead.size()))) lead = Text();
    if (!lead.empty()) {
        if (at_start) {
            // Below what already opens the new text's own prefix (it came
            // from above), before the rest of it.
            const Text own = prefix.view();
            const Text own_free = free_comments(own);
            std::string above = own_free.empty() ? std::string(lead) : join_paragraphs(own_free, lead);
            prefix = owned(join_paragraphs(above, own.substr(own_free.size())));
        } else {
            std::string above(lead);
            if (!above.ends_with('\n')) above.push_back('\n');
            const Text own = prefix.is_absent() ? Text("\n") : prefix.view();
            if (!starts_blank(own)) above.push_back('\n');
            above.append(own);
            prefix = owned(above);
        }
        next = part_of(next, text.substr(lead.size()));
        // What is left began after a blank line.
        if (at_start && header) set_off(next);
    }
    if (header && set_off_header) set_off(next);
}

// Free comment text of a removed entry (see free_comments) goes before the
// text that followed the entry: the prefix of the next line or header, or
// the document's trailing text.
void keep_before(RawText& next, Text kept) { next = owned(join_paragraphs(kept, next.view())); }

// `alone`: nothing else is left written in the document.
void keep_at_end(DocumentRoot& doc, Text kept, bool alone) {
    if (doc.trailing.empty()) {
        // Its blank line set it off from what followed; nothing does now.
        // Where it is all the document holds, it still opens it.
        if (alone) {
            doc.trailing = owned(kept);
            return;
        }
        kept.remove_suffix(1);
        kept = kept.substr(0, kept.rfind('\n') + 1);
        doc.trailing = owned(kept);
    } else {
        keep_before(doc.trailing, kept);
    }
}

// The entry that holds `target` among the dotted tables of `owner`.
Entry* entry_of(TreeItem& owner, const TreeItem& target) {
    std::vector<TreeItem*> stack{&owner};
    while (!stack.empty()) {
        TreeItem* item = stack.back();
        stack.pop_back();
        for (Entry& e : item->as_table().entries) {
            if (&e.item == &target) return &e;
            if (is_dotted(e.item)) stack.push_back(&e.item);
        }
    }
    return nullptr;
}

// The statements of removed entries: the headers of their sections and their
// key/value lines (each list sorted, for lookup), and the text a replaced
// entry hands to the new one (its first header's or first line's).
struct Removed {
    std::vector<const TreeItem*> tables;
    std::vector<const Key*> keys;
    const RawText* carried_header = nullptr;
    const Key* carried_key = nullptr;

    bool has_table(const TreeItem* t) const { return holds(tables, t); }
    bool has_key(const Key* k) const { return std::binary_search(keys.begin(), keys.end(), k); }
    // What stays of the text above a removed header or line.
    Text stays_above(const TreeItem& header) const {
        return &header.decor().prefix == carried_header ? Text()
                                                        : stays_when_removed(header.decor().prefix.view());
    }
    Text stays_above(const Key& k) const {
        return &k == carried_key ? Text() : stays_when_removed(k.leaf_decor.prefix.view());
    }
};

Removed removed_statements(Table& t, std::size_t from, std::size_t to, bool replaced) {
    Removed r;
    for (std::size_t i = from; i < to; ++i) {
        Entry& e = t.entries.at(i);
        if (e.item.is_array_of_tables() && !header_prefix(e.item)) {
            r.keys.push_back(&e.key);  // written `key = []`
        } else if (is_section(e.item)) {
            const std::vector<const TreeItem*> more = tables_in(e.item);
            r.tables.insert(r.tables.end(), more.begin(), more.end());
            if (replaced) r.carried_header = written_prefix(e.item);
        } else if (is_dotted(e.item)) {
            // Its lines, and the headers of the sections below it.
            for (const TreeItem* x : tables_in(e.item))
                if (!is_dotted(*x)) r.tables.push_back(x);
            std::vector<Line> own;
            collect_written(e.item.as_table(), 0, own);
            if (own.empty()) own.push_back(Line{&e.key, &e.item, i});  // written `key = {}`
            for (const Line& l : own) r.keys.push_back(l.key);
            if (replaced) r.carried_key = own.front().key;
        } else if (e.item.is_value()) {
            r.keys.push_back(&e.key);
        }
    }
    std::sort(r.tables.begin(), r.tables.end());
    std::sort(r.keys.begin(), r.keys.end());
    return r;
}

// Free paragraphs gathered from removed statements, waiting for the next
// statement that stays.
struct Pending {
    std::string text;
    void take(Text free) {
        if (!free.empty()) text = text.empty() ? std::string(free) : join_paragraphs(text, free);
    }
    void put_before(RawText& next) {
        if (text.empty()) return;
        keep_before(next, text);
        text.clear();
    }
};

// The comment paragraphs that stand free above the lines and headers of
// removed entries (those from `from` to `to`) stay in the document; the
// comment block directly above each goes with the entry. When an entry is
// `replaced`, the text above its first line or header is not removed: it
// goes to the new entry.
void keep_free_comments(DocumentRoot& doc, TreeItem& target, std::size_t from, std::size_t to,
                        bool replaced = false) {
    const Removed r = removed_statements(target.as_table(), from, to, replaced);
    bool any = false;
    for (const TreeItem* x : r.tables) any = any || !r.stays_above(*x).empty();
    for (const Key* k : r.keys) any = any || !r.stays_above(*k).empty();
    if (!any) return;
    // Lines first: each one's goes before the next line that stays.
    Pending pending;
    TreeItem& owner = line_owner(doc, target);
    if (!r.keys.empty()) {
        for (Line& l : written_lines(owner.as_table(), doc)) {
            if (r.has_key(l.key))
                pending.take(r.stays_above(*l.key));
            else
                pending.put_before(l.key->leaf_decor.prefix);
        }
    }
    // Then headers, in the order written: what is left of the lines follows
    // the owner's header and lines.
    const std::string after_lines = std::exchange(pending.text, std::string());
    const Written order(doc);
    const std::size_t lines_at = order.index_of(&owner);
    for (std::size_t i = 0; i < order.size(); ++i) {
        if (i != 0 && order.header(i)) {
            TreeItem* h = order.item(i);
            if (r.has_table(h))
                pending.take(r.stays_above(*h));
            else
                pending.put_before(h->decor().prefix);
        }
        if (i == lines_at) pending.take(after_lines);
    }
    if (pending.text.empty()) return;
    bool alone = true;
    for (std::size_t i = 1; alone && i < order.size(); ++i)
        alone = !order.header(i) || r.has_table(order.item(i));
    for (const Line& l : written_lines(doc.table(), doc)) alone = alone && r.has_key(l.key);
    keep_at_end(doc, pending.text, alone);
}

// The place of a table among the headers: its recorded position or, for a
// table without a header of its own, that of the first header below it.
HeaderPosition place_of(const TreeItem& item) {
    HeaderPosition place;
    for (const TreeItem* t : tables_in(item)) {
        const auto& p = t->as_table().doc_position;
        if (p && (!place || *p < *place)) place = p;
    }
    return place;
}

// ---------------------------------------------------------------------------
// Standard tables

// A new section (no recorded position) is written after the table before
// it in the walk: what ended that table's body stays with it.
void section_placed(DocumentRoot& doc, TreeItem& item) {
    // The header written first: an implicit table writes none of its own.
    RawText* p = written_prefix(item);
    if (!p) return;
    const TreeItem* first_table = nullptr;
    for (const TreeItem* x : tables_in(item))
        if (&x->decor().prefix == p) first_table = x;
    const Written order(doc);
    const std::size_t i = order.index_of(first_table);
    if (i == kNone) return;
    insert_before(doc, order.next_header(i, tables_in(item)), order.at_start(i), *p, false);
}

// The same for the section at entry `at` of `target`, just added. `ends` are
// those of the written order before it came, if known: when the table
// before it in the walk is the one written last, so is the new section, with
// no header after it, and nothing is written before it unless some header
// is; the ends are then kept with it as the last.
void section_placed(DocumentRoot& doc, TreeItem& target, std::size_t at,
                    const std::optional<OrderEnds>& ends) {
    TreeItem& item = target.as_table().entries.at(at).item;
    // (An implicit table may stop writing its header once it holds something.)
    const bool implicit = &target != &doc.root() && target.as_table().implicit;
    if (!ends || implicit || section_before(doc, target, at) != ends->last) {
        section_placed(doc, item);
        return;
    }
    if (RawText* p = written_prefix(item)) {
        const bool at_start = !ends->first_header && !writes_lines(doc.table());
#ifndef NDEBUG
        const TreeItem* first_table = nullptr;
        for (const TreeItem* x : tables_in(item))
            if (&x->decor().prefix == p) first_table = x;
        const Written order(doc);
        const std::size_t i = order.index_of(first_table);
        check_ends_answer(
            i == kNone || (!order.next_header(i, tables_in(item)) && order.at_start(i) == at_start),
            "a new section written last");
#endif
        insert_before(doc, nullptr, at_start, *p, false);
    }
    const Table* first = ends->first_header ? ends->first_header : first_header_in(item, false);
    keep_order_ends(doc, OrderEnds{first, last_section_in(item, false)});
}

// The table's first line has just been written into it (`key` is its key):
// in the root, it goes before the first header; an implicit table starts
// writing its header, before its first sub-table; under a header that is
// written already, it comes between that header and a sub-table right
// under it. The header after the new line is set off by a blank line.
void lines_begin(DocumentRoot& doc, TreeItem& target, Key& key) {
    // A sub-table's header after the new line is set off as the file sets
    // off its headers (one glued to its table's header stays glued).
    const bool glued = !headers_set_off(doc);
    Table& t = target.as_table();
    if (&target != &doc.root() && t.implicit && !t.doc_position) {
        // Its header goes right above its first sub-table's: it takes that
        // place (a table comes before the tables in it among equal places).
        HeaderPosition first;
        for (const TreeItem* x : tables_in(target)) {
            const HeaderPosition& p = x->as_table().doc_position;
            if (p && (!first || *p < *first)) first = p;
        }
        t.doc_position = first;
    }
    const Written order(doc);
    const std::size_t i = order.index_of(&target);
    if (i == kNone) return;
    TreeItem* next = order.next_header(i);
    if (i == 0) {
        // The root has no header its first section could stay glued to.
        insert_before(doc, next, true, key.leaf_decor.prefix, true);
    } else if (target.as_table().implicit) {
        insert_before(doc, next, order.at_start(i), target.decor().prefix, true);
    } else if (next && holds(tables_in(target), next) && !glued) {
        set_off(next->decor().prefix);
    }
}

// A line written above the document's first line (`key` is its key; the
// line is in the body of `owner`, the root's or a dotted table's written
// among the root's): what opened the document (a licence) stays above it.
void opening_stays_first(DocumentRoot& doc, TreeItem& owner, Key& key) {
    if (&owner != &doc.root()) return;
    std::vector<Line> lines = written_lines(owner.as_table(), doc);
    if (lines.size() < 2 || lines[0].key != &key) return;
    RawText& second = lines[1].key->leaf_decor.prefix;
    if (const Text lead = opening_comments(second.view()); !lead.empty()) {
        key.leaf_decor.prefix = owned(join_paragraphs(lead, key.leaf_decor.prefix.view()));
        second = part_of(second, second.view().substr(lead.size()));
    }
}

// The key of the entry holding a dotted table written `key = {}` (it has no
// entries) among the lines of `owner`: the text above that line is on it.
Key* empty_dotted_key(TreeItem& owner, TreeItem& target) {
    Entry* e = entry_of(owner, target);
    return e && e->key.leaf_decor.prefix.is_present() ? &e->key : nullptr;
}

// The first line of a dotted table written `key = {}` so far (`k` is its
// key): it takes the text above that line.
void dotted_key_text_to_line(DocumentRoot& doc, TreeItem& target, Key& k) {
    if (Key* old = empty_dotted_key(line_owner(doc, target), target)) {
        k.leaf_decor.prefix = std::move(old->leaf_decor.prefix);
        old->leaf_decor.prefix = RawText::absent();
    }
}

// A section under a dotted table written `key = {}` so far (`header` is its
// header prefix): that line is no longer written. The comment block directly
// above it goes above the header; comment paragraphs set off from the line
// stay before the line that followed it (or go above the header too).
void dotted_key_text_to_header(DocumentRoot& doc, TreeItem& target, RawText& header) {
    TreeItem& owner = line_owner(doc, target);
    Key* old = empty_dotted_key(owner, target);
    if (!old) return;
    const Text text = old->leaf_decor.prefix.view();
    Text free = free_comments(text);
    const Text block = text.substr(free.size());
    const std::vector<Line> lines = written_lines(owner.as_table(), doc);
    if (!free.empty()) {
        for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
            if (lines[i].key != old) continue;
            keep_before(lines[i + 1].key->leaf_decor.prefix, free);
            free = Text();
            break;
        }
    }
    std::string above(free);
    if (has_comment(block)) above.append(block.substr(0, block.rfind('\n') + 1));
    if (!above.empty()) {
        // Set off from the lines above it, if any are written.
        const bool after_lines = lines.size() > 1 || &owner != &doc.root();
        if (after_lines && !starts_blank(above)) above.insert(0, "\n");
        header = owned(join_paragraphs(above, header.view()));
    }
    old->leaf_decor.prefix = RawText::absent();
}

// Comments that opened the document go above the header written first, or
// stay as its trailing text when the root has no headers and no lines.
void opens_document(DocumentRoot& doc, Text opening) {
    const Written order(doc);
    if (TreeItem* top = order.next_header(0)) {
        keep_before(top->decor().prefix, opening);
    } else {
        keep_at_end(doc, opening, !writes_lines(doc.table()));
    }
}

// A section of the root (`item`, its top table at `place`) has taken the
// place of another (whose tables were `old`): the ends before it were
// `ends`. It is written where the old one's first table was, its tables one
// after another. Kept when that settles them: the first header is the new
// section's when it was the old one's; another first header, or the last
// table, stays when it is none of the old one's and has a position of its
// own (one without follows the table before it, which may have gone), the
// first header before `place`, and while the section after it has a
// position (`followed`).
void replaced_in_place(DocumentRoot& doc, OrderEnds ends, const std::vector<const Table*>& old,
                       HeaderPosition place, const TreeItem& item, bool followed) {
    if (!place || !followed || among(old, ends.last) || !ends.last->doc_position) return;
    if (among(old, ends.first_header)) {
        ends.first_header = first_header_in(item, false);
        if (!ends.first_header) return;
    } else if (ends.first_header) {
        const HeaderPosition p = ends.first_header->doc_position;
        if (!p || *p >= *place) return;
    }
    keep_order_ends(doc, ends);
}

// An item stored into a standard table: a table or an array of tables
// becomes a section of its own (a dotted table taken from elsewhere is one
// too), and an inline table stored as a value is written as one, not as
// dotted keys. Returns whether it is a section.
bool stored_as_entry(TreeItem& item) {
    const bool section = item.is_table() || item.is_array_of_tables();
    if (section) clear_positions(item);
    if (item.is_table_like()) item.as_table().dotted = false;
    if (item.is_array_of_tables())
        for (TreeItem& m : item.as_array_of_tables().values)
            if (m.is_table()) {  // a member has a header of its own
                m.as_table().dotted = false;
                m.as_table().implicit = false;
            }
    return section;
}

// The header of an implicit table is no longer written (it holds sections
// only): the text above it (comments, blank lines) goes above the header now
// written first for it.
void header_text_to_first_section(TreeItem& target) {
    RawText& own = target.decor().prefix;
    RawText* first = written_prefix(target);
    if (!first || first == &own || !has_comment(own.view())) return;
    *first = owned(join_paragraphs(own.view(), first->view()));
    own = RawText::absent();
}

// A new key: a section goes after the table's last one, a line after its
// last line.
void add_standard(DocumentRoot& doc, TreeItem& target, std::string_view key, TreeItem item, bool section,
                  std::optional<OrderEnds> ends) {
    Table& t = target.as_table();
    const std::size_t first = first_visible(t);
    const bool had_lines = !section && writes_lines(t);
    Key k(key);
    if (section) {
        RawText* p = header_prefix(item);
        if (p && sets_off_new_section(t)) set_off(*p);
        if (p && first == kNone && is_dotted(target)) dotted_key_text_to_header(doc, target, *p);
    } else {
        item.decor().clear();
        k.leaf_decor.prefix = indent_prefix(new_line_indent(doc, target));
        if (first == kNone && is_dotted(target)) dotted_key_text_to_line(doc, target, k);
    }
    // Where the new section goes follows from the ends before it came.
    if (section && !ends) ends = Written(doc).ends();
    // An empty implicit table writes its header until a section is all it
    // holds: the text above that header then goes above the one written
    // first for it. (One that holds anything writes its header after the
    // new section as before, or wrote none.)
    const bool had_header = section && first == kNone && &target != &doc.root() && t.implicit && !t.dotted;
    Entry& added = t.entries.append(std::move(k), std::move(item));
    if (section) {
        section_placed(doc, target, t.entries.size() - 1, ends);
        if (had_header && !has_header_line(target)) header_text_to_first_section(target);
    } else if (!had_lines) {
        lines_begin(doc, target, added.key);
    } else if (ends) {
        keep_order_ends(doc, *ends);  // one more line where there were lines
    }
}

// What an entry replaced at `i` of a standard table was, and what the new one
// is: the facts the layout of the replacement follows from.
struct Replacing {
    std::size_t i;
    bool section;      // the new entry is a section
    bool old_section;  // the old one was
    bool old_dotted;   // the old one was written as dotted keys
    // A line that becomes a header, or the reverse, is written elsewhere:
    // only the comment block directly above it goes along. In place (a table
    // for a table, a value for dotted keys) the text above the first line or
    // header stays with the new entry.
    bool moves;
    bool had_lines;  // the table wrote lines (a section leaves them as they are)
    // A section of the root in place of another: written where that was,
    // which the ends of the written order tell without reading it whole.
    bool in_place;
    std::string opening;      // comments that opened the document and must stay first
    bool first_goes = false;  // the header written first in the document goes
    bool opens = false;       // the old entry opened its table (see opens_table)
};

Replacing replacing(DocumentRoot& doc, TreeItem& target, std::size_t i, bool section) {
    Table& t = target.as_table();
    const TreeItem& old = t.entries.at(i).item;
    Replacing r{};
    r.i = i;
    r.section = section;
    r.old_section = is_section(old);
    r.old_dotted = is_dotted(old);
    r.moves = r.old_section != section || (r.old_dotted && section);
    r.had_lines = !section && writes_lines(t);
    r.in_place = r.old_section && section && &target == &doc.root();
    return r;
}

// A section that opened the document gives way to a line: the comments that
// opened the document stay first (above the line when it is the root's,
// else above whatever header is written first afterwards). The same when
// the document's only lines give way to a section: they go to whatever
// header is written first afterwards. Taken out of the text before the old
// entry goes.
void take_opening(DocumentRoot& doc, TreeItem& target, Replacing& r) {
    if (!r.moves) return;
    Table& t = target.as_table();
    RawText* p = nullptr;
    if (r.old_section && !writes_lines(doc.table())) {
        const Written order(doc);
        if (TreeItem* top = order.next_header(0); top && holds(tables_in(t.entries.at(r.i).item), top)) {
            r.first_goes = true;
            p = &top->decor().prefix;
        }
    } else if (!r.old_section && r.section && &target == &doc.root()) {
        std::vector<Line> lines = written_lines(t, doc);
        if (!lines.empty() &&
            std::all_of(lines.begin(), lines.end(), [&](const Line& l) { return l.entry == r.i; }))
            p = &lines.front().key->leaf_decor.prefix;
    }
    if (!p) return;
    r.opening = opening_comments(p->view());
    *p = part_of(*p, p->view().substr(r.opening.size()));
}

// Whether the old section's first header opened its table: written right
// under the table's own header, or first in the document (then the new
// section is not set off by a blank line either).
bool section_opened(DocumentRoot& doc, TreeItem& target, const Replacing& r,
                    const std::optional<OrderEnds>& ends) {
    const Table& t = target.as_table();
    Entry& e = target.as_table().entries.at(r.i);
    const RawText* p = written_prefix(e.item);
    const TreeItem* header = nullptr;
    for (const TreeItem* x : tables_in(e.item))
        if (&x->decor().prefix == p) header = x;
    if (!header) return r.i == first_visible(t) && !writes_lines(t, r.i);
    if (r.in_place) {
        // No header is written between the root's lines and another. (Whether
        // the root writes a line is asked last: it reads every entry.)
        const bool opens = ends->first_header == &header->as_table() && !writes_lines(t, r.i);
#ifndef NDEBUG
        const Written order(doc);
        check_ends_answer((!writes_lines(t, r.i) && order.at_start(order.index_of(header))) == opens,
                          "a section replaced in the root");
#endif
        return opens;
    }
    // A header written first in the document opens it, whatever lines its
    // table writes. (The ends tell, when known, without reading the order.)
    if (ends && ends->first_header == &header->as_table() && !writes_lines(doc.table())) return true;
    if (ends && writes_lines(t, r.i)) return false;
    const Written order(doc);
    const std::size_t j = order.index_of(header);
    if (j != kNone && order.at_start(j)) return true;
    if (writes_lines(t, r.i)) return false;
    if (j == kNone) return r.i == first_visible(t);
    std::size_t k = j - 1;
    while (k > 0 && !order.header(k)) --k;
    return k > 0 && order.item(k) == &target;
}

// A value in place of an entry at `r.i`, whose comment block was `old_block`.
void value_in_place(DocumentRoot& doc, TreeItem& target, const Replacing& r, TreeItem item, RawText old_block,
                    const std::optional<OrderEnds>& ends) {
    Table& t = target.as_table();
    Entry& e = t.entries.at(r.i);
    if (!r.old_section && !r.old_dotted) {
        // A value in place of a value: the line keeps its spacing and comment.
        item.decor() = std::move(e.item.decor());
    } else {
        // The key's decor was written inside a header's brackets or along a
        // dotted path; the line starts afresh with the old comment block.
        item.decor().clear();
        RawText prefix;
        if (r.old_dotted) {
            prefix = std::move(old_block);  // the first dotted line's prefix, as it was
        } else {
            std::vector<std::string> block = comment_lines_kept(old_block.view());
            Text indent = body_indent(t);
            prefix = block.empty() ? indent_prefix(indent) : with_block(indent, block);
        }
        e.key.clear_decor();
        e.key.leaf_decor.prefix = std::move(prefix);
    }
    e.item = std::move(item);
    if (ends) keep_order_ends(doc, *ends);  // a value in place of a value
    // A line of the root's body: the root's own, or one of a dotted table
    // written among them.
    const bool moved = !r.had_lines || r.old_section || r.old_dotted;
    TreeItem* owner = moved || !r.opening.empty() || r.first_goes ? &line_owner(doc, target) : nullptr;
    const bool root_line = owner == &doc.root();
    if (!r.opening.empty() && root_line)
        e.key.leaf_decor.prefix = owned(join_paragraphs(r.opening, e.key.leaf_decor.prefix.view()));
    if (!r.had_lines) lines_begin(doc, target, e.key);
    // A new line among the root's lines (a dotted table's first line is
    // one), or one in place of dotted keys, may be written before the lines
    // that were first (a value in place of a value stays where that was).
    if (moved) opening_stays_first(doc, *owner, e.key);
    if (r.first_goes && !root_line && !writes_lines(doc.table())) {
        // The header written first now starts the document.
        if (TreeItem* top = Written(doc).next_header(0)) not_set_off(top->decor().prefix);
    }
    if (!r.opening.empty() && !root_line) opens_document(doc, r.opening);
}

// A section in place of an entry at `r.i`, whose comment block was
// `old_block`; a section in place of a section is written where the old one
// was (at `place`).
void section_in_place(DocumentRoot& doc, TreeItem& target, const Replacing& r, TreeItem item,
                      RawText old_block, HeaderPosition place) {
    Entry& e = target.as_table().entries.at(r.i);
    e.key.clear_decor();
    if (r.old_section && place) {
        if (item.is_table()) {
            item.as_table().doc_position = place;
        } else {
            for (TreeItem& m : item.as_array_of_tables().values) {
                if (!m.is_table()) continue;
                m.as_table().doc_position = place;
                break;
            }
        }
    }
    if (RawText* p = written_prefix(item)) {
        if (r.old_section) {
            // Header text in place of header text: kept as it was, unless only
            // the new section brings a comment.
            if (old_block.is_present() && (has_comment(old_block.view()) || !has_comment(p->view())))
                *p = std::move(old_block);
            if (!r.opens) set_off(*p);
        } else {
            // A line set off by a blank line gives its place to a header set off the same way.
            if (!r.opens || starts_blank(old_block.view())) set_off(*p);
            std::vector<std::string> block = comment_lines_kept(old_block.view());
            if (!block.empty()) *p = with_block(p->view(), block);
        }
    }
    e.item = std::move(item);
    if (!r.old_section) section_placed(doc, e.item);
    if (!r.opening.empty()) opens_document(doc, r.opening);
}

// The entry at `i` replaced by `item`.
void replace_standard(DocumentRoot& doc, TreeItem& target, std::size_t i, TreeItem item, bool section,
                      std::optional<OrderEnds> ends) {
    Replacing r = replacing(doc, target, i, section);
    take_opening(doc, target, r);
    // Free comment paragraphs above the old entry's lines and headers stay
    // where they stand.
    if (r.old_section || r.old_dotted || r.moves) keep_free_comments(doc, target, i, i + 1, !r.moves);
    Entry& e = target.as_table().entries.at(i);
    if (r.in_place && !ends) ends = Written(doc).ends();
    r.opens = r.old_section ? section_opened(doc, target, r, ends)
                            : i == first_visible(target.as_table()) && !writes_lines(target.as_table(), i);
    if (!r.in_place && (r.old_section || r.old_dotted || section)) ends.reset();
    const std::vector<const Table*> old_tables = r.in_place ? tables_of(e.item) : std::vector<const Table*>();
    const HeaderPosition place = r.old_section ? place_of(e.item) : HeaderPosition();
    RawText old_block = block_text(e);
    if (const Text kept = r.moves ? stays_when_removed(old_block.view()) : Text(); !kept.empty())
        old_block = part_of(old_block, old_block.view().substr(kept.size()));
    if (!section) {
        value_in_place(doc, target, r, std::move(item), std::move(old_block), ends);
        return;
    }
    // An implicit table whose last line gives way to a section writes its
    // header no more: the text above that header goes above the header now
    // written first for it.
    const Table& t = target.as_table();
    const bool had_header = &target != &doc.root() && t.implicit && !t.dotted && has_header_line(target);
    section_in_place(doc, target, r, std::move(item), std::move(old_block), place);
    if (had_header && !has_header_line(target)) header_text_to_first_section(target);
    if (r.in_place)
        replaced_in_place(doc, *ends, old_tables, place, e.item, followed_by_position(doc, target, i));
}

// `ends`: those of the written order before the edit, if known; kept again
// where the edit knows where it leaves them.
void assign_standard(DocumentRoot& doc, TreeItem& target, std::ptrdiff_t at, std::string_view key,
                     TreeItem item, std::optional<OrderEnds> ends) {
    const bool section = stored_as_entry(item);
    if (at < 0)
        add_standard(doc, target, key, std::move(item), section, ends);
    else
        replace_standard(doc, target, static_cast<std::size_t>(at), std::move(item), section, ends);
}

// A dotted table left without entries stays, written `key = {}` where its
// first line was: the text above that line (the table's comment block) and
// the free comments of its other lines go above it.
void dotted_text_to_key(DocumentRoot& doc, TreeItem& target) {
    Table& t = target.as_table();
    std::string kept;
    std::optional<Text> block;  // of the first line, after its free comments
    TreeItem& owner = line_owner(doc, target);
    std::vector<Line> own;
    collect_lines(t, 0, own);
    for (const Line& l : written_lines(owner.as_table(), doc)) {
        if (std::none_of(own.begin(), own.end(), [&](const Line& o) { return o.key == l.key; })) continue;
        const Text p = l.key->leaf_decor.prefix.view();
        const Text f = free_comments(p);
        if (!block) block = p.substr(f.size());
        if (!f.empty()) kept = kept.empty() ? std::string(f) : join_paragraphs(kept, f);
    }
    if (Entry* e = entry_of(owner, target)) {
        RawText& prefix = e->key.leaf_decor.prefix;
        if (block) prefix = owned(*block);
        if (!kept.empty()) keep_before(prefix, kept);
    }
}

// An implicit table left empty starts writing its header: where the header
// of what it held stood, under the comments that stood free above that
// header. Both are taken from what it held (`held`: the entry that goes, or
// `target` itself when all of it goes) before that goes.
struct HeaderStart {
    HeaderPosition place;
    std::string opening;
};

HeaderStart header_start(TreeItem& held, const TreeItem* target = nullptr) {
    HeaderStart s{place_of(held), {}};
    if (RawText* p = written_prefix(held); p && !(target && p == &target->decor().prefix)) {
        s.opening = std::string(opening_comments(p->view()));
        *p = part_of(*p, p->view().substr(s.opening.size()));
    }
    return s;
}

void start_header(TreeItem& target, const HeaderStart& s) {
    target.as_table().doc_position = s.place;
    if (!s.opening.empty()) target.decor().prefix = owned(s.opening);
}

// Whether entry `at` is the only visible entry of `t`.
bool only_entry(const Table& t, std::size_t at) noexcept {
    for (std::size_t i = 0; i < t.entries.size(); ++i)
        if (i != at && !t.entries.at(i).item.is_none()) return false;
    return true;
}

// Whether the header of a section that goes (its tables `gone`) came first
// after its table's own header (or first in the document): in the root, the
// header written first, when the root writes no line. `owner` writes the
// table's lines.
bool header_came_first(const DocumentRoot& doc, const TreeItem& owner, const std::vector<const Table*>& gone,
                       std::optional<OrderEnds>& ends) {
    if (&owner == &doc.root()) {
        // (Whether the root writes a line is asked last: it reads every entry.)
        if (!ends) ends = Written(doc).ends();
        const bool first = among(gone, ends->first_header) && !writes_lines(owner.as_table());
#ifndef NDEBUG
        const TreeItem* next = Written(doc).next_header(0);
        check_ends_answer(
            (!writes_lines(owner.as_table()) && next && among(gone, &next->as_table())) == first,
            "a section of the root removed");
#endif
        return first;
    }
    if (writes_lines(owner.as_table())) return false;
    const Written order(doc);
    const std::size_t i = order.index_of(&owner);
    const TreeItem* next = i == kNone ? nullptr : order.next_header(i);
    return next && among(gone, &next->as_table());
}

// Once the entry is gone: a header that now comes first under its table's
// own header (`under_header`), or first in the document (`first_in_document`),
// is not set off; otherwise the ends of the written order are kept where the
// removal leaves them known.
struct Removal {
    bool under_header;
    bool first_in_document;
    bool keeps_ends;  // the ends may stay, if they are settled
    std::vector<const Table*> gone;
    bool followed;
};

void settle_after_removal(DocumentRoot& doc, const TreeItem& owner, const Removal& r,
                          const std::optional<OrderEnds>& ends) {
    if (r.under_header || r.first_in_document) {
        // A sub-table that now follows the table's own header directly (or,
        // in the root, starts the document) does not start with a blank
        // line. An implicit table writes no header: what is written before
        // its sub-tables is another table's. The header now written first
        // in the document starts it.
        const Written order(doc);
        TreeItem* done = nullptr;
        const std::size_t i = order.index_of(&owner);
        if (r.under_header && (i == 0 || (i != kNone && order.header(i)))) {
            TreeItem* next = order.next_header(i);
            if (next && (i == 0 || holds(tables_in(owner), next))) not_set_off((done = next)->decor().prefix);
        }
        if (r.first_in_document)
            if (TreeItem* top = order.next_header(0); top && top != done) not_set_off(top->decor().prefix);
        keep_order_ends(doc, order.ends());
    } else if (ends && r.keeps_ends) {
        // Tables that are neither end went: the ends stay, when they and the
        // section after the entry have positions of their own (a table
        // without one is written after the table before it, which may have
        // gone).
        const bool settled = !among(r.gone, ends->last) && !among(r.gone, ends->first_header) &&
                             (r.gone.empty() || (r.followed && ends->last->doc_position &&
                                                 (!ends->first_header || ends->first_header->doc_position)));
        if (settled) keep_order_ends(doc, *ends);
    }
}

// `ends`: those of the written order before the edit, if known; kept again
// where the edit knows where it leaves them.
std::optional<Entry> remove_standard(DocumentRoot& doc, TreeItem& target, std::size_t at,
                                     std::optional<OrderEnds> ends) {
    Table& t = target.as_table();
    TreeItem& owner = line_owner(doc, target);
    const TreeItem& removed = t.entries.at(at).item;
    const bool section = is_section(removed);
    // (Removing a section leaves the lines as they are.)
    const bool had_lines = !section && writes_lines(owner.as_table());
    Removal r{};
    // The tables that go (a value has none).
    if (removed.is_table() || removed.is_array_of_tables()) r.gone = tables_of(removed);
    r.followed = !r.gone.empty() && followed_by_position(doc, target, at);
    const bool came_first = section && header_came_first(doc, owner, r.gone, ends);
    // Any other section whose header the document wrote first (a sub-table
    // written above its table's header): the header written first after it
    // starts the document. (The written order is read only when no root
    // line is written first.)
    if (section) {
        // With the ends known, whether the root writes a line (which reads
        // every entry) is asked only of a section whose header came first.
        if (ends)
            r.first_in_document = among(r.gone, ends->first_header) && !writes_lines(doc.table());
        else if (!writes_lines(doc.table()))
            r.first_in_document = among(r.gone, (ends = Written(doc).ends())->first_header);
    }
    const bool starts_header =
        &target != &doc.root() && t.implicit && !t.dotted && !t.doc_position && only_entry(t, at);
    const HeaderStart start = starts_header ? header_start(t.entries.at(at).item) : HeaderStart();
    const bool last_line = is_dotted(target) && !target.is_inline_table() && only_entry(t, at);
    // A section that was all a dotted table held, whose header opened the
    // document (no root line came before it): what opened the document goes
    // to the `key = {}` line written from now on, first in the document.
    std::string opening;
    if (last_line && r.first_in_document)
        if (const RawText* p = written_prefix(t.entries.at(at).item)) opening = opening_comments(p->view());
    if (last_line)
        dotted_text_to_key(doc, target);  // written `key = {}` from now on
    else
        keep_free_comments(doc, target, at, at + 1);
    // An implicit table whose last line goes writes its header no more: the
    // text above that header goes above the header now written first for it.
    const bool had_header = &target != &doc.root() && t.implicit && !t.dotted && has_header_line(target);
    std::optional<Entry> out(t.entries.remove_at(at));
    if (had_header && !has_header_line(target)) header_text_to_first_section(target);
    if (last_line) {
        // Written `key = {}` where it may now come first: what opened the
        // document stays above it.
        if (Entry* e = entry_of(owner, target)) {
            RawText& prefix = e->key.leaf_decor.prefix;
            if (!opening.empty()) prefix = owned(join_paragraphs(opening, prefix.view()));
            opening_stays_first(doc, owner, e->key);
        }
    }
    if (starts_header) start_header(target, start);
    r.under_header = came_first || (had_lines && !writes_lines(owner.as_table()));
    r.keeps_ends = !starts_header && !last_line && (&target == &doc.root() || !t.implicit);
    settle_after_removal(doc, owner, r, ends);
    return out;
}

// ---------------------------------------------------------------------------
// Inline tables

// Decor of inline-table entries as the writer writes it.
Text key_prefix_text(const Key& k) noexcept {
    const RawText& p = k.leaf_decor.prefix;
    return p.is_present() ? p.view() : Text(" ");
}
Text last_suffix_text(const TreeItem& v) noexcept {
    const RawText& s = v.decor().suffix;
    return s.is_present() ? s.view() : Text(" ");
}

// The lines an inline-table entry is written as (a dotted entry's, or its
// value's), found without walking the other entries.
std::vector<Line> lines_of_entry(Table& t, std::size_t i) {
    std::vector<Line> lines;
    Entry& e = t.entries.at(i);
    if (is_dotted(e.item))
        collect_lines(e.item.as_table(), i, lines);
    else if (e.item.is_value())
        lines.push_back(Line{&e.key, &e.item, i});
    return lines;
}

// The last line of the entries before position i, the first of those from
// position i on; nullopt when there is none. Only the entries passed over
// on the way are looked at (holes and placeholders write no line).
std::optional<Line> line_before(Table& t, std::size_t i) {
    while (i-- > 0)
        if (std::vector<Line> l = lines_of_entry(t, i); !l.empty()) return l.back();
    return std::nullopt;
}
std::optional<Line> line_from(Table& t, std::size_t i) {
    for (; i < t.entries.size(); ++i)
        if (std::vector<Line> l = lines_of_entry(t, i); !l.empty()) return l.front();
    return std::nullopt;
}

// Written over several lines, as the text around the first and the last
// line and before the closing brace tells: the ends of the table decide the
// layout of a new entry, whatever lines in between do.
bool is_multiline(const Table& t, const Line* first, const Line* last) noexcept {
    if (has_break(t.trailing.view())) return true;
    for (const Line* l : {first, last})
        if (l && (has_break(l->key->leaf_decor.prefix.view()) || has_break(l->value->decor().suffix.view())))
            return true;
    return false;
}

// `item` in place of entry `e` of an inline table: a value keeps the decor of
// the value it replaces; dotted keys (`a.x = 1, a.y = 2`) become one entry
// `a = ...` that starts where the first of them started and ends where the
// last ended.
void replace_inline(Entry& e, TreeItem item) {
    if (is_dotted(e.item)) {
        std::vector<Line> lines;
        collect_lines(e.item.as_table(), 0, lines);
        item.decor().clear();
        e.key.clear_decor();
        if (!lines.empty()) {
            e.key.leaf_decor.prefix = lines.front().key->leaf_decor.prefix;
            item.decor().suffix = lines.back().value->decor().suffix;
        }
    } else {
        item.decor() = std::move(e.item.decor());
    }
    e.item = std::move(item);
}

// The first entry of an inline table: `{}` gets the default `{ key = value }`;
// a table open over several lines puts the entry on a line of its own, after
// any comment lines.
void first_inline_entry(Table& t, Key& k, TreeItem& item, bool multiline) {
    if (multiline) {
        const Text trailing = t.trailing.view();
        const Text closing_indent = tail_of(trailing);
        std::string prefix(trailing.substr(0, trailing.rfind('\n') + 1));
        prefix.append(closing_indent);
        prefix.append("  ");
        k.leaf_decor.prefix = owned(prefix);
        item.decor().suffix = owned("\n" + std::string(closing_indent));
    }
    t.trailing = RawText();
    t.trailing_comma = false;
}

// A new last entry of an inline table written over several lines, after
// `last` (the last line), indented by `indent`.
void next_inline_line(Table& t, const Line& last, Key& k, TreeItem& item, const std::string& indent) {
    const Text trailing = t.trailing.view();
    if (t.trailing_comma) {
        // The rest of the previous entry's line follows its comma: it stays
        // there, and the new entry starts on the next line.
        const Text head = head_of(trailing);
        k.leaf_decor.prefix = owned((head.empty() ? std::string("\n") : std::string(head)) + indent);
        if (!head.empty()) t.trailing = owned("\n" + std::string(after_head(trailing)));
        item.decor().suffix = RawText();
        return;
    }
    // No comma after the previous value: the text up to the closing brace is
    // its suffix. Its first line (a comment, say) goes behind the comma the
    // new entry brings; the rest closes the new entry.
    TreeItem& prev = *last.value;
    std::string closing(last_suffix_text(prev));
    closing.append(trailing);
    const Text c = closing;
    const Text head = head_of(c);
    if (head.empty()) {
        k.leaf_decor.prefix = owned("\n" + indent);
        item.decor().suffix = owned(c);
    } else {
        k.leaf_decor.prefix = owned(std::string(head) + indent);
        item.decor().suffix = owned("\n" + std::string(after_head(c)));
    }
    prev.decor().suffix = RawText();
    t.trailing = RawText();
}

void assign_inline(Table& t, std::ptrdiff_t at, std::string_view key, TreeItem item) {
    item.convert_to_value();
    if (item.is_inline_table()) item.as_table().dotted = false;
    if (at >= 0) {
        replace_inline(t.entries.at(static_cast<std::size_t>(at)), std::move(item));
        return;
    }
    Key k(key);
    item.decor().clear();
    const std::optional<Line> first = line_from(t, 0);
    const std::optional<Line> last = line_before(t, t.entries.size());
    const bool multiline = is_multiline(t, first ? &*first : nullptr, last ? &*last : nullptr);
    if (!last) {
        first_inline_entry(t, k, item, multiline);
    } else if (!multiline) {
        // One line: the space before the closing brace moves behind the new entry.
        TreeItem& prev = *last->value;
        item.decor().suffix = std::move(prev.decor().suffix);
        prev.decor().suffix = RawText::absent();
    } else {
        const std::string indent =
            inline_entry_indent(first->key->leaf_decor.prefix.view(), last->key->leaf_decor.prefix.view());
        next_inline_line(t, *last, k, item, indent);
    }
    t.entries.append(std::move(k), std::move(item));
}

std::optional<Entry> remove_inline(Table& t, std::size_t at) {
    const std::vector<Line> own_lines = lines_of_entry(t, at);
    if (!own_lines.empty()) {
        const Line& first = own_lines.front();
        const Line& last = own_lines.back();
        const std::optional<Line> before = line_before(t, at);
        const std::optional<Line> after = line_from(t, at + 1);
        // The removed key's prefix: the rest of the line before it (after the
        // previous comma or the opening brace), its comment block, its indentation.
        const Text removed = key_prefix_text(*first.key);
        const Text line_rest = head_of(removed);
        if (after) {
            // The next entry moves up: the line before keeps its rest (a comment
            // of the previous entry), the removed entry's comments go.
            RawText& next = after->key->leaf_decor.prefix;
            if (!has_break(removed)) {
                if (!before) next = first.key->leaf_decor.prefix;
            } else {
                const Text own = key_prefix_text(*after->key);
                std::string text(line_rest);
                text.append(has_break(own) ? after_head(own) : tail_of(removed));
                next = owned(text);
            }
        } else {
            // The last entry goes: what stood after its line (the line break
            // and indentation before the closing brace) now closes the table.
            std::string end(last_suffix_text(*last.value));
            end.append(t.trailing.view());
            const Text rest = has_break(end) ? after_head(end) : Text(end);
            std::string closing;
            if (has_break(line_rest)) {
                closing.assign(line_rest);
            } else if (has_break(end)) {
                closing.assign("\n");
            }
            closing.append(rest);
            if (!before) {
                t.trailing = has_break(closing) ? owned(closing) : RawText();
                t.trailing_comma = false;
            } else if (t.trailing_comma) {
                t.trailing = owned(closing);
            } else {
                TreeItem& prev = *before->value;
                if (!has_comment(prev.decor().suffix.view())) prev.decor().suffix = owned(closing);
                t.trailing = RawText();
            }
        }
    }
    return std::optional<Entry>(t.entries.remove_at(at));
}

}  // namespace

namespace {

// Whether the document writes nothing but its trailing text, and that holds
// a comment: the comments that open a document with nothing else in it.
bool only_comments(const DocumentRoot& doc) {
    for (const Entry& e : doc.table().entries)
        if (!e.item.is_none()) return false;
    return has_comment(doc.trailing.view());
}

// The first entry of a document that held only comments (`e`): they open
// the document, above what the entry writes, set off from it by a blank
// line (so that they stay first when lines go in above a header).
void comments_open(DocumentRoot& doc, Entry& e) {
    RawText* place = block_place(e, false);
    if (!place || !has_comment(doc.trailing.view())) return;
    // The paragraphs that stood free of the end may have gone above the
    // entry already: the rest follows them.
    const std::string there(place->view());
    const Text above = free_comments(there);
    const Text below = Text(there).substr(above.size());
    std::string opening(doc.trailing.view());
    if (!opening.ends_with('\n')) opening += '\n';
    if (!starts_blank(below) && !opening.ends_with("\n\n") && !opening.ends_with("\n\r\n"))
        opening += opening.ends_with("\r\n") ? "\r\n" : "\n";
    *place = owned(std::string(above) + opening + std::string(below));
    doc.trailing = RawText();
}

}  // namespace

bool assign_entry(DocumentRoot& doc, TreeItem& target, std::string_view key, TreeItem item) {
    Table& t = target.as_table();
    const bool opening = &target == &doc.root() && only_comments(doc);
    std::ptrdiff_t at = t.entries.find(key);
    const bool existed = at >= 0 && !t.entries.at(static_cast<std::size_t>(at)).item.is_none();
    if (at >= 0 && !existed) {
        // A placeholder is no entry: the key is new and goes at the end.
        t.entries.remove_at(static_cast<std::size_t>(at));
        at = -1;
    }
    std::optional<OrderEnds> ends = take_order_ends(doc);
    if (target.is_inline_table()) {
        assign_inline(t, at, key, std::move(item));
        if (ends) keep_order_ends(doc, *ends);  // an inline table holds no sections
    } else {
        assign_standard(doc, target, at, key, std::move(item), ends);
    }
    if (opening)
        if (Entry* e = t.entries.get(key)) comments_open(doc, *e);
    return existed;
}

namespace {

std::optional<Entry> remove_entry_at(DocumentRoot& doc, TreeItem& target, std::size_t i) {
    std::optional<OrderEnds> ends = take_order_ends(doc);
    if (!target.is_inline_table()) return remove_standard(doc, target, i, ends);
    std::optional<Entry> out = remove_inline(target.as_table(), i);
    if (ends) keep_order_ends(doc, *ends);  // an inline table holds no sections
    return out;
}

}  // namespace

std::optional<Entry> remove_entry(DocumentRoot& doc, TreeItem& target, std::string_view key) {
    Table& t = target.as_table();
    const std::ptrdiff_t at = t.entries.find(key);
    if (at < 0 || t.entries.at(static_cast<std::size_t>(at)).item.is_none()) return std::nullopt;
    return remove_entry_at(doc, target, static_cast<std::size_t>(at));
}

std::optional<Entry> remove_last_entry(DocumentRoot& doc, TreeItem& target) {
    Table& t = target.as_table();
    for (std::size_t i = t.entries.size(); i-- > 0;)
        if (!t.entries.at(i).item.is_none()) return remove_entry_at(doc, target, i);
    return std::nullopt;
}

void array_of_tables_emptied(DocumentRoot& doc, TreeItem& target, std::string_view key) {
    if (!target.is_table()) return;
    Table& t = target.as_table();
    const std::ptrdiff_t i = t.entries.find(key);
    if (i < 0) return;
    Key& k = t.entries.at(static_cast<std::size_t>(i)).key;
    if (writes_lines(t, static_cast<std::size_t>(i)))
        opening_stays_first(doc, line_owner(doc, target), k);
    else
        lines_begin(doc, target, k);
}

Refill array_of_tables_refilling(DocumentRoot& doc, TreeItem& target, std::string_view key) {
    Refill r;
    if (!target.is_table()) return r;
    Table& t = target.as_table();
    const std::ptrdiff_t at = t.entries.find(key);
    if (at < 0) return r;
    const auto i = static_cast<std::size_t>(at);
    Key& k = t.entries.at(i).key;
    const Text prefix = k.leaf_decor.prefix.view();
    const Text free = free_comments(prefix);
    bool opens = false;
    if (&target == &doc.root()) {
        const std::vector<Line> lines = written_lines(t, doc);
        opens = !lines.empty() && lines.front().key == &k;
    }
    if (opens)
        r.opening = std::string(free);
    else
        keep_free_comments(doc, target, i, i + 1);
    const Text block = prefix.substr(free.size());
    if (const std::size_t hash = block.find('#'); hash != Text::npos) {
        r.block = std::string(block.substr(hash));
        if (!r.block.ends_with('\n')) r.block.push_back('\n');
    }
    k.leaf_decor.clear();
    return r;
}

void array_of_tables_refilled(DocumentRoot& doc, TreeItem& member, const Refill& r) {
    RawText& own = member.decor().prefix;
    // What is written first now: the document's first line, else its first header.
    RawText* first = nullptr;
    if (std::vector<Line> lines = written_lines(doc.table(), doc); !lines.empty()) {
        first = &lines.front().key->leaf_decor.prefix;
    } else {
        const Written order(doc);
        if (TreeItem* top = order.next_header(0)) first = &top->decor().prefix;
    }
    const bool opens = first == nullptr || first == &own;
    std::string text = r.block;
    if (!r.opening.empty()) {
        if (opens)
            text = text.empty() ? r.opening : join_paragraphs(r.opening, text);
        else
            keep_before(*first, r.opening);
    }
    if (text.empty()) return;
    own = owned(text);
    if (!opens) set_off(own);
}

CommentEdit set_entry_comment(DocumentRoot& doc, TreeItem& parent, const EntrySlot& slot,
                              std::optional<Text> comment) {
    // The header whose prefix holds the block, if the entry has one.
    TreeItem* header = nullptr;
    RawText* place = nullptr;
    if (slot.by_key && parent.is_table()) {
        Entry* e = parent.as_table().entries.get(slot.key);
        if (e && !e->item.is_none() && is_section(e->item)) {
            place = written_prefix(e->item);
            for (const TreeItem* t : tables_in(e->item))
                if (&t->decor().prefix == place) header = const_cast<TreeItem*>(t);
        }
    } else if (!slot.by_key && parent.is_array_of_tables() && slot.index < length_of(parent)) {
        header = &parent.as_array_of_tables().values[slot.index];
        place = &header->decor().prefix;
    }
    const bool apart = header && has_break(place->view());
    const CommentEdit r = set_block_comment(parent, slot, comment);
    if (r == CommentEdit::Done && apart && !has_break(place->view())) {
        const Written order(doc);
        const std::size_t i = order.index_of(header);
        if (i != kNone && !order.at_start(i)) set_off(*place);
    } else if (r == CommentEdit::Done && header && !leading_breaks(place->view()).empty()) {
        // The header written first in the document: its comment opens the
        // document, with no blank line above it.
        std::optional<OrderEnds> ends = take_order_ends(doc);
        if (!ends) ends = Written(doc).ends();
        keep_order_ends(doc, *ends);
        if (ends->first_header == &header->as_table() && !writes_lines(doc.table())) starts_document(*place);
    }
    return r;
}

void keep_removed_text(DocumentRoot& doc, KeptText& kept, RawText* line) {
    if (!kept.set_off && kept.text.empty()) return;
    const bool from_ends = kept.set_off && kept.set_off_member && kept.ends;
    if (from_ends) {
        // Written first when it is the first header and the root writes no
        // line (the ends are those after the removal).
        const bool at_start = kept.ends->first_header == kept.set_off && !writes_lines(doc.table());
#ifndef NDEBUG
        const Written order(doc);
        check_ends_answer(order.at_start(order.index_of(kept.set_off_member)) == at_start,
                          "a member after a removed one");
#endif
        if (at_start) {
            starts_document(kept.set_off_member->decor().prefix);
        }
        if (kept.text.empty()) return;
    }
    const Written order(doc);
    // Read whole now: the edit keeps its ends (the decor changed below does
    // not move them).
    kept.ends = order.ends();
    if (kept.set_off && !from_ends) {
        // Nothing is written above it now: no blank line either.
        for (std::size_t i = 0; i < order.size(); ++i) {
            if (!order.header(i) || &order.item(i)->as_table() != kept.set_off) continue;
            if (order.at_start(i)) starts_document(order.item(i)->decor().prefix);
            break;
        }
    }
    if (kept.text.empty()) return;
    if (kept.opened && line) {
        keep_before(*line, kept.text);
        return;
    }
    bool headers = false;
    for (std::size_t i = 0; i < order.size(); ++i) {
        if (!order.header(i)) continue;
        headers = true;
        const auto& p = order.item(i)->as_table().doc_position;
        if (kept.position && p && *p > *kept.position) {
            keep_before(order.item(i)->decor().prefix, kept.text);
            return;
        }
    }
    // After the last header the text stays at the end, where it stood: the
    // line of an emptied array of tables goes to its table's lines, which
    // may be far above. Text above headers that were never in the source
    // has no place of its own there: it stays with that line.
    if (!line || (headers && kept.position)) {
        keep_at_end(doc, kept.text, !headers && !writes_lines(doc.root().as_table()));
    } else if (has_break(line->view())) {
        keep_before(*line, kept.text);
    } else {
        *line = owned(kept.text);  // in place of a header key's bracket spacing
    }
}

bool rename_entry(TreeItem& target, std::string_view from, std::string_view to) {
    EntryMap& entries = target.as_table().entries;
    if (from == to) return true;
    if (const Entry* there = entries.get(to)) {
        if (!there->item.is_none()) return false;
        // An invisible entry under the new key makes way.
        entries.remove_at(static_cast<std::size_t>(entries.find(to)));
    }
    entries.rename_at(static_cast<std::size_t>(entries.find(from)), to);
    return true;
}

void clear_entries(DocumentRoot& doc, TreeItem& target) {
    take_order_ends(doc);
    Table& t = target.as_table();
    if (is_dotted(target) && !target.is_inline_table()) {
        dotted_text_to_key(doc, target);
    } else if (!target.is_inline_table()) {
        const bool starts_header = &target != &doc.root() && t.implicit && !t.doc_position;
        const HeaderStart start = starts_header ? header_start(target, &target) : HeaderStart();
        keep_free_comments(doc, target, 0, t.entries.size());
        if (starts_header) start_header(target, start);
    }
    t.entries.clear();
    if (target.is_inline_table()) {
        // The text before the closing brace followed the last entry.
        t.trailing = RawText();
        t.trailing_comma = false;
    }
}

}  // namespace morvelan
