#include "layout_rules.hpp"

#include <algorithm>
#include <vector>

#include "written_order.hpp"

namespace morvelan {

namespace {

// The headers read from the text (but the first), in the order read, each
// with the header read before it.
template <class F>
void for_each_read_header(const DocumentRoot& doc, F&& f) {
    std::vector<const TreeItem*> headers;
    for (const TreeItem* x : tables_in(doc.root()))
        if (x->as_table().doc_position && has_header_line(*x)) headers.push_back(x);
    std::sort(headers.begin(), headers.end(), [](const TreeItem* a, const TreeItem* b) {
        return *a->as_table().doc_position < *b->as_table().doc_position;
    });
    for (std::size_t i = 1; i < headers.size(); ++i) f(*headers[i], *headers[i - 1]);
}

}  // namespace

const Key* first_line_key(const Table& t) noexcept {
    for (const Entry& e : t.entries) {
        if (is_dotted(e.item)) {
            if (const Key* k = first_line_key(e.item.as_table())) return k;
        } else if (e.item.is_value()) {
            return &e.key;
        }
    }
    return nullptr;
}

Text body_indent(const Table& t) noexcept {
    const Key* k = first_line_key(t);
    return k ? tail_of(k->leaf_decor.prefix.view()) : Text();
}

std::string line_step(const DocumentRoot& doc) {
    std::string step;
    bool found = false;
    for_each_read_header(doc, [&](const TreeItem& x, const TreeItem&) {
        const Key* k = first_line_key(x.as_table());
        if (found || !k) return;
        const Text header = tail_of(x.decor().prefix.view());
        const Text line = tail_of(k->leaf_decor.prefix.view());
        if (line.starts_with(header)) step = std::string(line.substr(header.size()));
        found = true;
    });
    return step;
}

bool headers_set_off(const DocumentRoot& doc) {
    std::size_t counts[2][2] = {};  // [after lines][set off]
    for_each_read_header(doc, [&](const TreeItem& x, const TreeItem& before) {
        ++counts[first_line_key(before.as_table()) != nullptr][starts_blank(x.decor().prefix.view())];
    });
    const std::size_t* c = counts[1][0] + counts[1][1] != 0 ? counts[1] : counts[0];
    return c[1] >= c[0];
}

std::string new_line_indent(const DocumentRoot& doc, TreeItem& target) {
    const Table& t = target.as_table();
    if (first_line_key(t) || &target == &doc.root() || is_dotted(target)) return std::string(body_indent(t));
    const RawText* header = has_header_line(target) ? &target.decor().prefix : written_prefix(target);
    return std::string(header ? tail_of(header->view()) : Text()) + line_step(doc);
}

std::string inline_entry_indent(Text first_prefix, Text last_prefix) {
    for (const Text p : {first_prefix, last_prefix})
        if (has_break(p)) return std::string(tail_of(p));
    return " ";
}

NewDecor new_element_decor(const Decor& first, const Decor* second_decor) {
    NewDecor d;
    if (!second_decor) {
        const Text p = first.prefix.view();  // absent: nothing before the first
        d.prefix = has_break(p) ? "\n" + std::string(tail_of(p)) : " ";
        return d;
    }
    const Text first_suffix = first.suffix.view();
    const RawText& second = second_decor->prefix;
    if (has_break(first_suffix)) {
        const Text p = second.view();
        d.prefix = p.substr(0, p.find_first_not_of(" \t"));
        d.suffix = "\n" + std::string(tail_of(first_suffix));
        d.commas_first = true;
    } else if (second.is_absent()) {
        d.prefix = " ";
    } else if (has_break(second.view())) {
        d.prefix = "\n" + std::string(tail_of(second.view()));
    } else {
        d.prefix = second.view();
    }
    return d;
}

void set_off(RawText& header_prefix) {
    if (header_prefix.is_absent()) {
        header_prefix = RawText::owned("\n");
        return;
    }
    const Text p = header_prefix.view();
    if (p.starts_with('\n') || p.starts_with("\r\n")) return;
    std::string text(1, '\n');
    text.append(p);
    header_prefix = RawText::owned(text);
}

void not_set_off(RawText& header_prefix) {
    const Text p = header_prefix.view();
    if (p.starts_with('\n'))
        header_prefix = RawText::owned(p.substr(1));
    else if (p.starts_with("\r\n"))
        header_prefix = RawText::owned(p.substr(2));
}

void starts_document(RawText& header_prefix) {
    const Text p = header_prefix.view();
    header_prefix = part_of(header_prefix, p.substr(leading_breaks(p).size()));
}

bool sets_off_new_section(const Table& t) noexcept { return first_visible(t) != kNoEntry; }

void leave_place_behind(TreeItem& copy, const TreeItem& parent, const EntrySlot& slot) {
    if (!parent.is_array() && !parent.is_inline_table()) return;
    Text comment;
    if (parent.is_array() && !slot.by_key)
        comment = inline_comment(parent.as_array(), slot.index);
    else if (parent.is_inline_table() && slot.by_key)
        comment = inline_comment(parent.as_table(), slot.key);
    copy.decor().clear();
    if (!comment.empty()) copy.decor().suffix = RawText::owned(" " + std::string(comment));
}

}  // namespace morvelan
