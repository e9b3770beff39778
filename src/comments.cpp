// Reading the comments written around entries.
#include "comments.hpp"

#include "engine/array.hpp"
#include "engine/table.hpp"

namespace morvelan::py {

namespace {

// The comment at the end of a line: the first line of `text`, trimmed, when
// it starts with '#'.
std::string_view line_comment(std::string_view text) noexcept {
    text = text.substr(0, text.find('\n'));
    const std::size_t b = text.find_first_not_of(" \t\r");
    if (b == std::string_view::npos || text[b] != '#') return {};
    const std::size_t e = text.find_last_not_of(" \t\r");
    return text.substr(b, e - b + 1);
}

}  // namespace

std::string_view inline_comment(const TreeItem& parent, const PathStep& step) {
    if (parent.is_array() && !step.is_key()) {
        const Array& a = parent.as_array();
        const Vector<TreeItem>& values = a.items();
        const std::size_t i = step.index_value();
        if (i >= values.size()) return {};
        const bool last = i + 1 == values.size();
        std::string_view after = last ? (a.trailing_comma ? a.trailing.view() : std::string_view())
                                      : values[i + 1].decor().prefix.view();
        std::string_view c = line_comment(after);
        return c.empty() ? line_comment(values[i].decor().suffix.view()) : c;
    }
    if (parent.is_inline_table() && step.is_key()) {
        const Table& t = parent.as_table();
        const std::ptrdiff_t i = t.entries.find(step.key_text());
        if (i < 0) return {};
        const Entry& e = t.entries.at(static_cast<std::size_t>(i));
        std::string_view c = line_comment(e.item.decor().suffix.view());
        if (!c.empty()) return c;
        std::size_t next = static_cast<std::size_t>(i) + 1;
        while (next < t.entries.size() && t.entries.at(next).item.is_none()) ++next;
        return line_comment(next < t.entries.size()
                                ? t.entries.at(next).key.leaf_decor.prefix.view()
                                : (t.trailing_comma ? t.trailing.view() : std::string_view()));
    }
    return {};
}

}  // namespace morvelan::py
