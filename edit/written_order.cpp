#include "written_order.hpp"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "engine/array_of_tables.hpp"

namespace morvelan {

std::size_t first_visible(const Table& t) noexcept {
    for (std::size_t i = 0; i < t.entries.size(); ++i)
        if (!t.entries.at(i).item.is_none()) return i;
    return kNoEntry;
}

bool writes_lines(const Table& t, std::size_t skip) noexcept {
    for (std::size_t i = 0; i < t.entries.size(); ++i) {
        const TreeItem& item = t.entries.at(i).item;
        if (i == skip) continue;
        if (is_dotted(item)) {
            if (first_visible(item.as_table()) == kNoEntry || writes_lines(item.as_table())) return true;
        } else if (item.is_value()) {
            return true;
        } else if (item.is_array_of_tables()) {
            const auto& members = item.as_array_of_tables().values;
            if (std::none_of(members.begin(), members.end(), [](const TreeItem& m) { return m.is_table(); }))
                return true;
        }
    }
    return false;
}

bool holds(const std::vector<const TreeItem*>& sorted, const TreeItem* t) {
    return std::binary_search(sorted.begin(), sorted.end(), t);
}

// ---------------------------------------------------------------------------
// The order read whole

std::size_t Written::index_of(const TreeItem* t) const noexcept {
    for (std::size_t i = 0; i < order_.size(); ++i)
        if (order_[i].item == t) return i;
    return kNoEntry;
}

TreeItem* Written::next_header(std::size_t from, const std::vector<const TreeItem*>& skip) const {
    for (std::size_t i = from + 1; i < order_.size(); ++i)
        if (order_[i].header && !holds(skip, order_[i].item)) return item(i);
    return nullptr;
}

bool Written::at_start(std::size_t at) const {
    if (writes_lines(order_[0].item->as_table())) return false;
    for (std::size_t i = 1; i < at && i < order_.size(); ++i)
        if (order_[i].header) return false;
    return true;
}

OrderEnds Written::ends() const noexcept {
    OrderEnds e;
    e.last = &order_.back().item->as_table();
    for (std::size_t i = 1; i < order_.size(); ++i) {
        if (order_[i].header) {
            e.first_header = &order_[i].item->as_table();
            break;
        }
    }
    return e;
}

// ---------------------------------------------------------------------------
// The ends kept between edits

OrderEnds order_ends(const DocumentRoot& doc, const std::optional<OrderEnds>& kept) {
    return kept ? *kept : Written(doc).ends();
}

void check_ends_answer([[maybe_unused]] bool same, [[maybe_unused]] const char* what) noexcept {
#ifndef NDEBUG
    if (!same) {
        std::fprintf(stderr, "morvelan: the ends of the written order gave a wrong answer: %s\n", what);
        std::abort();
    }
#endif
}

void keep_order_ends(DocumentRoot& doc, OrderEnds ends) {
#ifndef NDEBUG
    check_ends_answer(Written(doc).ends() == ends, "the ends kept");
#endif
    doc.written_ends.keep(ends);
}

// The walk is the writer's (Writer::collect): a table, then each entry in
// order, an array of tables member after member; a table entered from its
// parent is a section unless it is dotted, a member always is.
const Table* last_section_in(const TreeItem& item, bool member) {
    if (item.is_array_of_tables()) {
        const Elements& m = item.as_array_of_tables().values;
        for (std::size_t i = m.size(); i-- > 0;)
            if (m[i].is_table()) return last_section_in(m[i], true);
        return nullptr;
    }
    if (!item.is_table()) return nullptr;
    const Table& t = item.as_table();
    for (std::size_t i = t.entries.size(); i-- > 0;)
        if (const Table* s = last_section_in(t.entries.at(i).item, false)) return s;
    return member || !t.dotted ? &t : nullptr;
}

const Table* first_header_in(const TreeItem& item, bool member) {
    if (item.is_array_of_tables()) {
        for (const TreeItem& m : item.as_array_of_tables().values)
            if (m.is_table())
                if (const Table* s = first_header_in(m, true)) return s;
        return nullptr;
    }
    if (!item.is_table()) return nullptr;
    const Table& t = item.as_table();
    if ((member || !t.dotted) && writes_header(item, member)) return &t;
    for (const Entry& e : t.entries)
        if (const Table* s = first_header_in(e.item, false)) return s;
    return nullptr;
}

namespace {

// The first section the writer meets in `item` and below it, or null.
const Table* first_section_in(const TreeItem& item, bool member) {
    if (item.is_array_of_tables()) {
        for (const TreeItem& m : item.as_array_of_tables().values)
            if (m.is_table()) return &m.as_table();
        return nullptr;
    }
    if (!item.is_table()) return nullptr;
    const Table& t = item.as_table();
    if (member || !t.dotted) return &t;
    for (const Entry& e : t.entries)
        if (const Table* s = first_section_in(e.item, false)) return s;
    return nullptr;
}

}  // namespace

bool followed_by_position(const DocumentRoot& doc, const TreeItem& target, std::size_t at) {
    const Table& t = target.as_table();
    for (std::size_t i = at + 1; i < t.entries.size(); ++i)
        if (const Table* s = first_section_in(t.entries.at(i).item, false))
            return static_cast<bool>(s->doc_position);
    return &target == &doc.root();
}

const Table* section_before(const DocumentRoot& doc, const TreeItem& target, std::size_t at) {
    const Table& t = target.as_table();
    for (std::size_t i = at; i-- > 0;)
        if (const Table* s = last_section_in(t.entries.at(i).item, false)) return s;
    return &target == &doc.root() || !t.dotted ? &t : nullptr;
}

std::vector<const Table*> tables_of(const TreeItem& item) {
    std::vector<const Table*> out;
    for (const TreeItem* t : tables_in(item)) out.push_back(&t->as_table());
    return out;
}

bool among(const std::vector<const Table*>& tables, const Table* t) noexcept {
    return t && std::find(tables.begin(), tables.end(), t) != tables.end();
}

// ---------------------------------------------------------------------------
// Arrays of tables

void member_came(KeptText& kept, const TreeItem& list, std::size_t at) {
    if (!kept.ends || !list.is_array_of_tables()) return;
    const Elements& v = list.as_array_of_tables().values;
    OrderEnds& e = *kept.ends;
    if (!v[at].is_table()) return;  // writes nothing
    if (at + 1 < v.size()) {
        // It took the position of the member it went before, and is written
        // right before it (its own tables after it, before that member).
        const TreeItem& next = v[at + 1];
        if (!next.is_table() || !next.as_table().doc_position) {
            kept.ends.reset();
            return;
        }
        if (e.first_header == &next.as_table()) e.first_header = &v[at].as_table();
        return;
    }
    if (at == 0) {
        kept.ends.reset();  // the array had no member: its key was a line
        return;
    }
    // Appended, it has no position: it is written right after the section
    // written last below the member before it.
    if (last_section_in(v[at - 1], true) == e.last) e.last = last_section_in(v[at], true);
}

void member_goes(KeptText& kept, const Elements& v, std::size_t i) {
    if (!kept.ends || !v[i].is_table()) return;
    OrderEnds& e = *kept.ends;
    const std::vector<const Table*> gone = tables_of(v[i]);
    // A table without a position is written after the table before it in
    // the walk, which may be one that goes: only ends with a position stay
    // where they are, and only while the member after it has one.
    const bool next_placed = i + 1 < v.size() && v[i + 1].is_table() && v[i + 1].as_table().doc_position;
    if (!next_placed || among(gone, e.last) || !e.last || !e.last->doc_position) {
        kept.ends.reset();
        return;
    }
    if (!among(gone, e.first_header)) {
        if (e.first_header && !e.first_header->doc_position) kept.ends.reset();
        return;
    }
    // The member written first goes: the member after it comes first when
    // nothing is written between them, that is when every position between
    // theirs was one of the removed member's tables.
    const HeaderPosition from = v[i].as_table().doc_position;
    const HeaderPosition to =
        i + 1 < v.size() && v[i + 1].is_table() ? v[i + 1].as_table().doc_position : HeaderPosition();
    if (!from || !to || *to <= *from) {
        kept.ends.reset();
        return;
    }
    std::vector<std::int32_t> between;
    for (const Table* t : gone)
        if (const HeaderPosition p = t->doc_position; p && *p > *from && *p < *to) between.push_back(*p);
    std::sort(between.begin(), between.end());
    between.erase(std::unique(between.begin(), between.end()), between.end());
    if (static_cast<std::int64_t>(between.size()) != std::int64_t{*to} - *from - 1) {
        kept.ends.reset();
        return;
    }
    e.first_header = &v[i + 1].as_table();
}

void collect_written(Table& t, std::size_t entry, std::vector<Line>& out) {
    for (std::size_t i = 0; i < t.entries.size(); ++i) {
        Entry& e = t.entries.at(i);
        const std::size_t top = entry == kNoEntry ? i : entry;
        if (is_dotted(e.item) && first_visible(e.item.as_table()) == kNoEntry) {
            out.push_back(Line{&e.key, &e.item, top});  // written `key = {}`
        } else if (is_dotted(e.item)) {
            collect_written(e.item.as_table(), top, out);
        } else if (e.item.is_value() || (e.item.is_array_of_tables() && !header_prefix(e.item))) {
            out.push_back(Line{&e.key, &e.item, top});  // a value, or `key = []`
        }
    }
}

bool writes_value(const Line& l) noexcept { return l.value->is_value() && !is_dotted(*l.value); }

std::vector<std::size_t> written_positions(const std::vector<Line>& lines, const Table& t,
                                           const DocumentRoot& doc) {
    std::vector<std::size_t> out(lines.size());
    for (std::size_t i = 0; i < out.size(); ++i) out[i] = i;
    bool flattened = false;
    for (const Entry& e : t.entries) flattened |= is_dotted(e.item);
    if (!flattened || !doc.source()) return out;
    const Text src = doc.source()->view();
    std::vector<std::size_t> at(lines.size());
    std::size_t last = 0;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const Text k = lines[i].key->repr().view();
        if (k.data() >= src.data() && k.data() < src.data() + src.size())
            last = static_cast<std::size_t>(k.data() - src.data());
        at[i] = last;
    }
    std::stable_sort(out.begin(), out.end(), [&](std::size_t a, std::size_t b) { return at[a] < at[b]; });
    return out;
}

std::vector<Line> written_lines(Table& t, const DocumentRoot& doc) {
    std::vector<Line> lines;
    collect_written(t, kNoEntry, lines);
    const std::vector<std::size_t> order = written_positions(lines, t, doc);
    std::vector<Line> out;
    out.reserve(lines.size());
    for (const std::size_t i : order) out.push_back(lines[i]);
    return out;
}

TreeItem& line_owner(DocumentRoot& doc, TreeItem& target) {
    if (!is_dotted(target)) return target;
    std::vector<std::pair<TreeItem*, TreeItem*>> stack{{&doc.root(), &doc.root()}};  // item, owner
    while (!stack.empty()) {
        auto [item, owner] = stack.back();
        stack.pop_back();
        if (item == &target) return *owner;
        if (item->is_table_like()) {
            for (Entry& e : item->as_table().entries)
                stack.emplace_back(&e.item, is_dotted(e.item) ? owner : &e.item);
        } else if (item->is_array_of_tables()) {
            for (TreeItem& m : item->as_array_of_tables().values) stack.emplace_back(&m, &m);
        }
    }
    return target;
}

}  // namespace morvelan
