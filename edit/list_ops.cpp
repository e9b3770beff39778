// Array edits and the layout they leave behind.
//
// Text around an array element lives in its decor (see engine/array.hpp):
//
//     deps = [               <- "\n    " is the first element's prefix
//         "numpy",           <- "\n    # about pillow\n    " is pillow's prefix:
//         # about pillow     <-   the rest of numpy's line after its comma,
//         "pillow",  # img   <-   pillow's comment lines, its indentation
//         # "requests",      <- "  # img\n    # \"requests\",\n" is the
//     ]                      <-   trailing text after the last comma
//
// What follows an element's comma begins with the rest of that element's
// line: its inline comment. Edits move these texts so that every comment
// stays on its element's line, comment lines stay above the element they
// describe, and no comma or bracket ever lands inside a comment. Without a
// comma after the last element, the text up to "]" is that element's suffix.
#include "list_ops.hpp"

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "comments.hpp"
#include "engine/table.hpp"
#include "layout_rules.hpp"
#include "written_order.hpp"

namespace morvelan {

namespace {

RawText owned(Text s) { return RawText::owned(s); }

// Decor as the writer writes it: an absent part stands for its default.
Text prefix_text(const TreeItem& item, bool first) noexcept {
    const RawText& p = item.decor().prefix;
    return p.is_present() ? p.view() : (first ? Text() : Text(" "));
}
Text suffix_text(const TreeItem& item) noexcept { return item.decor().suffix.view(); }

// The layout a new element takes (new_element_decor) from the first two elements
// of a non-empty array, read from its packed run if they are in it.
NewDecor new_decor(const Array& a) {
    ElementReader reader(a);
    const Decor first = reader.next()->decor();  // the reader reuses its item for the next
    const TreeItem* second = reader.next();
    return new_element_decor(first, second ? &second->decor() : nullptr);
}

// The elements an edit at position i looks at (the one before it and those
// after) as items: those before them may stay packed. `at` gives an element
// by its position in the whole array.
struct Around {
    explicit Around(Array& a, std::size_t i)
        : base(a.unpack_from(i == 0 ? 0 : i - 1)), items(a.stored_items()) {}
    TreeItem& at(std::size_t i) noexcept { return items[i - base]; }
    const TreeItem* place(std::size_t i) const noexcept { return items.begin() + (i - base); }
    std::size_t base;
    Elements& items;
};

// A text that puts the next line after `head` (the rest of the line before,
// or nothing) indented by `indent`.
std::string on_next_line(Text head, Text indent) {
    std::string s = head.empty() ? std::string("\n") : std::string(head);
    s.append(indent);
    return s;
}

// The decor of `x` going in before element `k` (`next`, written after the
// prefix `p`), laid out as `d` says a new element is.
void decor_before(Around& v, std::size_t k, TreeItem& x, const NewDecor& d) {
    TreeItem& next = v.at(k);
    const Text p = prefix_text(next, k == 0);
    if (has_break(p)) {
        // On a line of its own after the line before, indented like the
        // element it goes before, which keeps its comment lines.
        const Trivia tr = trivia_of(p);
        x.decor().prefix = owned(std::string(tr.head) + std::string(tr.indent));
        next.decor().prefix = owned("\n" + std::string(tr.lines()) + std::string(tr.indent));
    } else if (k == 0) {
        // The first element's place (after "[") goes to the new element.
        x.decor().prefix = std::move(next.decor().prefix);
        next.decor().prefix = owned(d.prefix);
    } else if (const Text before = suffix_text(v.at(k - 1)); has_break(before)) {
        // `next` is on a line that starts with the comma before it: the
        // new element gets a line of its own written the same way.
        x.decor().prefix = owned(p);
        x.decor().suffix = owned("\n" + std::string(tail_of(before)));
    } else {
        x.decor().prefix = owned(d.prefix);
    }
}

// The decor of `x` going in after the last element `last`.
void decor_after_last(Array& a, TreeItem& last, TreeItem& x, const NewDecor& d) {
    if (a.trailing_comma) {
        // After the last comma: the rest of the last element's line stays
        // there; the new element starts on the next line.
        const Text t = a.trailing.view();
        if (has_break(t)) {
            x.decor().prefix =
                owned(on_next_line(head_of(t), has_break(d.prefix) ? tail_of(d.prefix) : tail_of(t)));
            a.trailing = owned("\n" + std::string(after_head(t)));
        } else {
            x.decor().prefix = owned(d.prefix);
        }
        return;
    }
    if (d.commas_first) {
        x.decor().prefix = owned(d.prefix);
        return;
    }
    // The last element's suffix runs up to "]": the new comma goes right
    // after its value, its line's comment after that comma, and the rest (up
    // to "]") closes the new element.
    const Text s = suffix_text(last);
    if (has_break(s)) {
        x.decor().prefix =
            owned(on_next_line(head_of(s), has_break(d.prefix) ? tail_of(d.prefix) : tail_of(s)));
        x.decor().suffix = owned("\n" + std::string(after_head(s)));
        last.decor().suffix = RawText();
    } else {
        x.decor().prefix = owned(d.prefix);
        x.decor().suffix = std::move(last.decor().suffix);
        last.decor().suffix = RawText::absent();
    }
}

void insert_into_array(Array& a, std::size_t k, TreeItem&& x) {
    const std::size_t n = a.size();
    Around v(a, k);
    // Room first: once the layout around it changes, the element goes in.
    v.items.reserve_insert(k - v.base);
    x.decor().clear();
    if (n == 0) {
        x.decor().prefix = RawText();
        x.decor().suffix = RawText();
        // Space between the brackets of an empty array closes the new element.
        const Text t = a.trailing.view();
        if (!t.empty() && t.find_first_not_of(" \t\r\n") == Text::npos)
            a.trailing = has_break(t) ? owned("\n" + std::string(tail_of(t))) : RawText();
        v.items.push_back(std::move(x));
        return;
    }
    const NewDecor d = new_decor(a);
    x.decor().suffix = owned(d.suffix);
    if (k < n) {
        decor_before(v, k, x, d);
        v.items.insert(v.place(k), std::move(x));
    } else {
        decor_after_last(a, v.at(n - 1), x, d);
        v.items.push_back(std::move(x));
    }
}

// Removes element i of an array, mending the text around it (see above).
// The last element (`gone`, its prefix `p`) goes and no comma follows it:
// its suffix ran up to "]", and the element before (`prev`) loses its comma.
// `kept` is what stays of the prefix.
void last_goes_without_comma(TreeItem& prev, TreeItem& gone, Text p, const std::string& kept) {
    const Text s = suffix_text(gone);
    if (has_break(p)) {
        const Text rest = has_break(s) ? after_head(s) : s;
        prev.decor().suffix = owned(join_lines(std::string(suffix_text(prev)) + kept, rest));
        return;
    }
    // One line: the element before takes over the suffix, without the
    // removed element's comment.
    const std::size_t b = s.find_first_not_of(" \t");
    const bool comment_first = b != Text::npos && s[b] == '#';
    if (has_break(s) || comment_first) {
        const std::size_t lf = s.find('\n');
        prev.decor().suffix = lf == Text::npos ? RawText() : owned(s.substr(lf));
    } else {
        prev.decor().suffix = std::move(gone.decor().suffix);
    }
}

TreeItem remove_from_array(Array& a, std::size_t i) {
    const std::size_t n = a.size();
    Around v(a, i);
    const Text p = prefix_text(v.at(i), i == 0);
    const Trivia tr = trivia_of(p);
    // What stays of the removed element's prefix: the rest of the line before
    // (after "[" or the previous comma) and any comment paragraph set off from
    // the element by a blank line.
    const std::string kept = std::string(tr.head) + std::string(tr.free);

    if (n == 1) {
        const Text after = a.trailing_comma ? a.trailing.view() : suffix_text(v.at(0));
        if (has_break(p) || has_break(after))
            a.trailing = owned(join_lines(kept.empty() ? Text("\n") : Text(kept), after_head(after)));
        else
            a.trailing = RawText();
        a.trailing_comma = false;
    } else if (i + 1 < n) {
        // The next element's prefix: its line's start is the removed element's.
        TreeItem& next = v.at(i + 1);
        const Text q = prefix_text(next, false);
        if (has_break(q)) {
            next.decor().prefix = owned(join_lines(kept.empty() ? Text("\n") : Text(kept), after_head(q)));
        } else if (has_break(p)) {
            next.decor().prefix = owned(kept + std::string(tr.indent));
        } else if (i == 0) {
            next.decor().prefix = std::move(v.at(0).decor().prefix);
        }
    } else if (a.trailing_comma) {
        // The last element goes; the trailing text after its comma began with
        // the rest of its line.
        const Text t = a.trailing.view();
        const Text rest = has_break(t) ? after_head(t) : t;
        if (has_break(p))
            a.trailing = owned(join_lines(kept, rest));
        else if (has_break(t))
            a.trailing = owned("\n" + std::string(rest));
    } else {
        last_goes_without_comma(v.at(i - 1), v.at(i), p, kept);
    }
    TreeItem out = std::move(v.at(i));
    v.items.erase(v.place(i));
    return out;
}

// What stands above a member's header without being its own: the line
// breaks that open its prefix, and the blank lines and comment paragraphs
// after them that are set off from the header by a blank line.
struct Above {
    Text lead;
    Text free;
};
Above above_header(Text prefix) noexcept {
    const Text lead = leading_breaks(prefix);
    return {lead, split_block(prefix.substr(lead.size(), prefix.rfind('\n') + 1 - lead.size())).free};
}

// Members are written in the order of their recorded places: a new member
// takes the place of the member it goes before (the writer keeps the new
// one first), or, appended, follows the members before it.
void insert_into_aot(ArrayOfTables& aot, std::size_t k, TreeItem&& x) {
    clear_positions(x);
    x.decor().clear();
    Elements& v = aot.values;
    if (k < v.size() && v[k].is_table()) x.as_table().doc_position = v[k].as_table().doc_position;
    v.reserve_insert(k);
    if (k < v.size()) {
        // The new header is written where the one it goes before was: what
        // stood above that header without being its own (blank lines, and
        // comment paragraphs set off from it: the end of the lines above, or
        // what opens the document) stays above the new one. The comment
        // lines directly above it stay with their member, which is set off
        // from the new one by a blank line.
        RawText& next = v[k].decor().prefix;
        const Text t = next.view();
        const Above a = above_header(t);
        if (!a.lead.empty() || !a.free.empty()) {
            x.decor().prefix = owned(std::string(a.lead) + std::string(a.free));
            next = owned(t.substr(a.lead.size() + a.free.size()));
        }
        set_off(next);
    }
    v.insert(v.begin() + static_cast<std::ptrdiff_t>(k), std::move(x));
}

TreeItem remove_from_aot(ArrayOfTables& aot, std::size_t i, KeptText* kept) {
    Elements& v = aot.values;
    if (kept) {
        member_goes(*kept, v, i);
        kept->set_off_member = nullptr;
    }
    if (i + 1 == v.size() && kept) kept->add(v[i]);
    bool sets_off = false;
    if (i + 1 < v.size()) {
        // The next header takes the removed one's place: any comment
        // paragraph set off from it by a blank line stays; the comment lines
        // directly above the removed header go with it. It stays set off by
        // the blank lines that stood above either header, so that a header
        // set off from the lines above before is not glued to them now (one
        // written first in the document loses them again: see KeptText).
        // An absent prefix is the writer's default, right wherever the
        // header stands (none first in the document, a blank line
        // elsewhere): it stays absent unless comments come above it.
        RawText& next = v[i + 1].decor().prefix;
        const auto [removed_lead, free] = above_header(v[i].decor().prefix.view());
        if (next.is_present() || !free.empty()) {
            const Text next_text = next.is_present() ? next.view() : Text("\n");
            Text lead = removed_lead;
            const Text next_lead = leading_breaks(next_text);
            if (next_lead.size() > lead.size()) {
                lead = next_lead;
                sets_off = kept && v[i + 1].is_table();
                if (sets_off) kept->set_off = &v[i + 1].as_table();
            }
            const Text own = next_text.substr(next_lead.size());
            next = owned(std::string(lead) + std::string(free) + std::string(own));
        }
    }
    TreeItem out = std::move(v[i]);
    v.erase(v.begin() + static_cast<std::ptrdiff_t>(i));
    if (sets_off) kept->set_off_member = &v[i];
    return out;
}

}  // namespace

Elements& elements_of(TreeItem& list) {
    return list.is_array() ? list.as_array().items() : list.as_array_of_tables().values;
}

TreeItem& element_at(TreeItem& list, std::size_t i) {
    return list.is_array() ? list.as_array().element(i) : list.as_array_of_tables().values[i];
}

const TreeItem& read_element(const TreeItem& list, std::size_t i) {
    return list.is_array() ? list.as_array().peek(i) : list.as_array_of_tables().values[i];
}

std::size_t length_of(const TreeItem& list) noexcept {
    return list.is_array() ? list.as_array().size() : list.as_array_of_tables().size();
}

namespace {

// The layout of an inline table's entries laid out afresh as lines, through
// the dotted tables among them: the text around an entry of an inline table
// (which begins with the rest of the line before, after its comma) means
// nothing between lines.
void lines_afresh(Table& t) noexcept {
    t.fmt();
    for (Entry& e : t.entries) {
        if (!is_dotted(e.item)) continue;
        e.key.clear_decor();
        lines_afresh(e.item.as_table());
    }
}

}  // namespace

TreeItem as_member_table(TreeItem&& item) {
    if (!item.is_inline_table()) return std::move(item);
    TreeItem table = TreeItem::table();
    table.as_table().entries = std::move(item.as_table().entries);
    lines_afresh(table.as_table());
    return table;
}

std::optional<TreeItem> as_element(const TreeItem& list, TreeItem value) {
    if (list.is_array_of_tables()) {
        if (!value.is_table_like()) return std::nullopt;
        TreeItem table = as_member_table(std::move(value));
        table.as_table().implicit = false;
        table.as_table().dotted = false;
        return table;
    }
    if (value.is_table() || value.is_array_of_tables()) value.convert_to_value();
    if (value.is_inline_table()) value.as_table().dotted = false;
    value.decor().clear();
    return value;
}

void insert_element(TreeItem& list, std::size_t at, TreeItem&& element) {
    if (list.is_array())
        insert_into_array(list.as_array(), at, std::move(element));
    else
        insert_into_aot(list.as_array_of_tables(), at, std::move(element));
}

void replace_element(TreeItem& list, std::size_t i, TreeItem&& element) {
    if (list.is_array()) {
        list.as_array().replace(i, std::move(element));
        return;
    }
    clear_positions(element);
    TreeItem& old = list.as_array_of_tables().values[i];
    element.decor() = std::move(old.decor());
    if (old.is_table()) element.as_table().doc_position = old.as_table().doc_position;
    old = std::move(element);
}

void KeptText::add(const TreeItem& member) {
    if (!member.is_table()) return;
    const Text free = stays_when_removed(member.decor().prefix.view());
    if (free.empty()) return;
    text = text.empty() ? std::string(free) : join_paragraphs(text, free);
    if (!position) position = member.as_table().doc_position;
}

TreeItem remove_element(TreeItem& list, std::size_t i, KeptText* kept) {
    return list.is_array() ? remove_from_array(list.as_array(), i)
                           : remove_from_aot(list.as_array_of_tables(), i, kept);
}

void clear_elements(TreeItem& list, KeptText* kept) {
    if (list.is_array()) {
        list.as_array().clear();
        return;
    }
    Elements& v = list.as_array_of_tables().values;
    if (kept) {
        for (const TreeItem& m : v) kept->add(m);
        kept->ends.reset();
    }
    v.clear();
}

void reserve_elements(TreeItem& list, std::size_t more) {
    // An array's packed run stays packed: the new elements go after the items.
    (list.is_array() ? list.as_array().stored_items() : elements_of(list)).reserve_more(more);
}

namespace {

// The text before an element (or, for slot n, before "]") as the writer
// writes it: an absent prefix is the separator it defaults to.
Text text_before(const Array& a, std::size_t slot) {
    const Elements& v = a.items();
    if (slot == v.size()) return a.trailing.view();
    const RawText& p = v[slot].decor().prefix;
    return p.is_absent() ? Text(slot == 0 ? "" : " ") : p.view();
}

// A head without the comment of the line it ends: its line break alone.
Text bare(Text head) noexcept {
    if (!has_comment(head)) return head;
    return head.ends_with("\r\n") ? Text("\r\n") : Text("\n");
}

// Stores `text` where `place` was, leaving an absent text absent when the
// writer would write the same.
void store(RawText& place, const std::string& text, Text default_text) {
    if (place.is_absent() && text == default_text) return;
    place = owned(text);
}

// Puts the element at order[j] at position j, for every j.
void permute(Elements& v, const std::vector<std::size_t>& order) {
    Vector<TreeItem> moved;
    moved.reserve(order.size());
    for (const std::size_t k : order) moved.push_back(std::move(v[k]));
    for (std::size_t j = 0; j < order.size(); ++j) v[j] = std::move(moved[j]);
}

// The new text before each slot of an array whose elements go in `order`
// (slot n: the text before "]"), from the texts before the slots as they
// were (`before`) and their trivia. What stays with a slot: the rest of the
// line before, the free paragraphs and the indentation; what moves with an
// element: its comment block and the comment ending its line (which heads
// the next slot). Slot n keeps every comment line before "]": they close the
// list.
std::vector<std::string> reordered_prefixes(const std::vector<std::string>& before,
                                            const std::vector<Trivia>& tr,
                                            const std::vector<std::size_t>& order) {
    const std::size_t n = order.size();
    auto line_end = [&](std::size_t k) { return has_comment(tr[k + 1].head) ? tr[k + 1].head : Text(); };
    // The indentation of an element that starts a line: its own where it
    // started one, else that of the array's first element on a line of its own.
    Text line_indent;
    for (std::size_t j = 0; j < n; ++j) {
        if (has_break(before[j])) {
            line_indent = tr[j].indent;
            break;
        }
    }
    std::vector<std::string> prefix(n + 1);
    for (std::size_t j = 0; j <= n; ++j) {
        Text head = tr[j].head;
        if (j > 0) {
            const Text moved = line_end(order[j - 1]);
            head = moved.empty() ? bare(head) : moved;
        }
        const Text comments = j == n ? Text() : tr[order[j]].block;
        std::string text(head);
        // Comment lines open a line of their own.
        if (!comments.empty() && !has_break(text)) text += comments.ends_with("\r\n") ? "\r\n" : "\n";
        // An element that now starts a line where its place did not is
        // indented as an element on a line of its own.
        const std::size_t k = j < n ? order[j] : n;
        const Text indent = j < n && has_break(text) && !has_break(before[j])
                                ? (has_break(before[k]) ? tr[k].indent : line_indent)
                                : tr[j].indent;
        text.append(j == n ? tr[j].lines() : tr[j].free).append(comments).append(indent);
        prefix[j] = std::move(text);
    }
    return prefix;
}

// The suffixes of the elements in `order`: a comment in a suffix (a comma
// written first on the next line) is the element's; any other suffix stays
// with its place.
std::vector<RawText> reordered_suffixes(const Elements& v, const std::vector<std::size_t>& order) {
    const std::size_t n = order.size();
    std::vector<RawText> suffixes(n);
    for (std::size_t j = 0; j < n; ++j) {
        const std::size_t k = order[j];
        suffixes[j] = has_comment(v[k].decor().suffix.view())   ? v[k].decor().suffix
                      : has_comment(v[j].decor().suffix.view()) ? RawText()
                                                                : v[j].decor().suffix;
    }
    return suffixes;
}

}  // namespace

void reorder_elements(Array& a, const std::vector<std::size_t>& order) {
    Elements& v = a.items();
    const std::size_t n = v.size();
    if (n < 2) return;
    // Without a comma after the last element, the rest of its line and the
    // lines up to "]" are its suffix: moved before "]", where the writer puts
    // them all the same, they are laid out as after a comma.
    if (!a.trailing_comma && has_break(v[n - 1].decor().suffix.view())) {
        a.trailing = owned(std::string(v[n - 1].decor().suffix.view()) + std::string(a.trailing.view()));
        v[n - 1].decor().suffix = RawText();
    }
    std::vector<std::string> before(n + 1);
    std::vector<Trivia> tr(n + 1);
    for (std::size_t j = 0; j <= n; ++j) {
        before[j] = std::string(text_before(a, j));
        tr[j] = trivia_of(before[j]);
    }
    const std::vector<std::string> prefix = reordered_prefixes(before, tr, order);
    std::vector<RawText> suffixes = reordered_suffixes(v, order);
    std::vector<RawText> prefixes(n);
    for (std::size_t j = 0; j < n; ++j) prefixes[j] = v[j].decor().prefix;
    permute(v, order);
    for (std::size_t j = 0; j < n; ++j) {
        v[j].decor().prefix = std::move(prefixes[j]);
        store(v[j].decor().prefix, prefix[j], j == 0 ? "" : " ");
        v[j].decor().suffix = std::move(suffixes[j]);
    }
    store(a.trailing, prefix[n], "");
    if (!a.trailing_comma && !a.trailing.view().empty()) {
        // Without a comma after the last element, the text up to "]" is its
        // suffix, as the parser reads it (the writer writes the same).
        TreeItem& last = v[n - 1];
        last.decor().suffix = owned(std::string(last.decor().suffix.view()) + std::string(a.trailing.view()));
        a.trailing = RawText();
    }
}

namespace {

// The sections of each member of an array of tables placed in the document,
// in their order there, and the places they hold, one run in member order;
// nothing when they do not form such a run (another table's header stands
// among them, or some members have places and others not). No places at all
// when no member has one.
struct MemberSections {
    std::vector<std::vector<Table*>> sections;
    std::vector<std::int32_t> places;
};

std::optional<MemberSections> member_sections(const DocumentRoot& doc, Elements& members) {
    const std::size_t n = members.size();
    MemberSections m{std::vector<std::vector<Table*>>(n), {}};
    std::vector<const TreeItem*> mine;
    std::size_t placed = 0;
    for (std::size_t k = 0; k < n; ++k) {
        for (const TreeItem* t : tables_in(members[k])) {
            mine.push_back(t);
            Table& table = const_cast<TreeItem*>(t)->as_table();
            if (table.doc_position) m.sections[k].push_back(&table);
        }
        std::sort(m.sections[k].begin(), m.sections[k].end(),
                  [](const Table* x, const Table* y) { return *x->doc_position < *y->doc_position; });
        if (members[k].as_table().doc_position) ++placed;
    }
    if (placed == 0) return m;
    if (placed != n) return std::nullopt;
    for (std::size_t k = 0; k < n; ++k)
        for (const Table* t : m.sections[k]) {
            if (!m.places.empty() && *t->doc_position < m.places.back()) return std::nullopt;
            m.places.push_back(*t->doc_position);
        }
    std::sort(mine.begin(), mine.end());
    for (const TreeItem* t : tables_in(doc.root())) {
        const auto& p = t->as_table().doc_position;
        if (p && *p > m.places.front() && *p < m.places.back() &&
            !std::binary_search(mine.begin(), mine.end(), t))
            return std::nullopt;
    }
    return m;
}

// Whether the comments above the first member's header open the document:
// no key line and no header is written before it.
bool members_open_document(const DocumentRoot& doc, const std::vector<std::int32_t>& places) {
    if (places.empty()) return false;
    for (const Entry& e : doc.table().entries)
        if (!e.item.is_none() && !is_section(e.item)) return false;
    for (const TreeItem* t : tables_in(doc.root()))
        if (t->as_table().doc_position && *t->as_table().doc_position < places.front()) return false;
    return true;
}

}  // namespace

bool reorder_members(DocumentRoot& doc, TreeItem& list, const std::vector<std::size_t>& order) {
    Elements& members = list.as_array_of_tables().values;
    const std::size_t n = members.size();
    if (n < 2) return true;
    std::optional<MemberSections> m = member_sections(doc, members);
    if (!m) return false;
    // The text above each header: what stays (the rest of the line before,
    // blank lines, paragraphs set off, indentation) and the comment block,
    // which moves; comments that open the document stay first.
    std::vector<std::string> above(n);
    std::vector<Trivia> tr(n);
    for (std::size_t j = 0; j < n; ++j) {
        above[j] = std::string(members[j].decor().prefix.view());
        tr[j] = trivia_of(above[j]);
    }
    if (members_open_document(doc, m->places)) {
        tr[0].free = tr[0].lines();
        tr[0].block = Text();
    }
    std::vector<RawText> prefixes(n);
    for (std::size_t j = 0; j < n; ++j) {
        std::string text(tr[j].head);
        text.append(tr[j].free).append(tr[order[j]].block).append(tr[j].indent);
        prefixes[j] = members[j].decor().prefix.is_absent() && text.empty() ? RawText() : owned(text);
    }
    std::size_t next = 0;
    for (std::size_t j = 0; j < n; ++j)
        for (Table* t : m->sections[order[j]]) t->doc_position = HeaderPosition(m->places[next++]);
    permute(members, order);
    for (std::size_t j = 0; j < n; ++j) members[j].decor().prefix = std::move(prefixes[j]);
    return true;
}

void set_multiline(Array& a, std::size_t indent) {
    Elements& v = a.items();
    if (v.empty()) return;
    const RawText prefix = owned("\n" + std::string(indent, ' '));
    for (TreeItem& e : v) {
        e.decor().prefix = prefix;
        e.decor().suffix = RawText();
    }
    a.trailing_comma = true;
    a.trailing = owned("\n");
}

}  // namespace morvelan
