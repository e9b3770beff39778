#include "comments.hpp"

namespace morvelan {

bool has_break(Text s) noexcept { return s.find('\n') != Text::npos; }
bool has_comment(Text s) noexcept { return s.find('#') != Text::npos; }

Layout split_layout(Text s) noexcept {
    const std::size_t first = s.find('\n');
    if (first == Text::npos) return Layout{Text(), Text(), s};
    const std::size_t last = s.rfind('\n');
    return Layout{s.substr(0, first + 1), s.substr(first + 1, last - first), s.substr(last + 1)};
}

namespace {

// The first line of `text` with its line break (all of it when it has none).
Text first_line(Text text) noexcept {
    const std::size_t n = text.find('\n');
    return n == Text::npos ? text : text.substr(0, n + 1);
}

// A line of spaces and tabs only (its line break included).
bool is_blank(Text line) noexcept { return line.find_first_not_of(" \t\r\n") == Text::npos; }

bool is_comment(Text line) noexcept {
    const std::size_t b = line.find_first_not_of(" \t");
    return b != Text::npos && line[b] == '#';
}

}  // namespace

Block split_block(Text middle) noexcept {
    // Back from the end, one whole line at a time, while the lines are comments.
    std::size_t own = middle.size();
    while (own > 0) {
        const std::size_t prev = own >= 2 ? middle.rfind('\n', own - 2) : Text::npos;
        const std::size_t start = prev == Text::npos ? 0 : prev + 1;
        const Text line = middle.substr(start, own - start);
        const std::size_t b = line.find_first_not_of(" \t");
        if (b == Text::npos || line[b] != '#') break;
        own = start;
    }
    return Block{middle.substr(0, own), middle.substr(own)};
}

std::string join_lines(Text a, Text b) {
    std::string out(a);
    if (a.size() >= 2 && a.back() == '\n') {
        // The last whole line of `a` (the text after a first line break is the
        // end of a line that holds more).
        const std::size_t prev = a.rfind('\n', a.size() - 2);
        if (prev != Text::npos && is_blank(a.substr(prev + 1)) && starts_blank(b))
            b.remove_prefix(first_line(b).size());
    }
    out.append(b);
    return out;
}

Text leading_breaks(Text s) noexcept {
    const std::size_t n = s.find_first_not_of("\r\n");
    return s.substr(0, n == Text::npos ? s.size() : n);
}

void ensure_leading_break(RawText& prefix) {
    if (prefix.is_absent()) {
        prefix = RawText::owned("\n");
        return;
    }
    const Text p = prefix.view();
    if (p.starts_with('\n') || p.starts_with("\r\n")) return;
    std::string text(1, '\n');
    text.append(p);
    prefix = RawText::owned(text);
}

Text free_comments(Text prefix) noexcept {
    std::size_t end = 0;
    bool comment = false, free = false;
    for (std::size_t at = 0; at < prefix.size() && has_break(prefix.substr(at));) {
        const Text line = first_line(prefix.substr(at));
        at += line.size();
        if (is_blank(line)) {
            end = at;
            free = comment;
        } else {
            comment = comment || is_comment(line);
        }
    }
    return free ? prefix.substr(0, end) : Text();
}

Text leading_comments(Text text) noexcept {
    std::size_t at = 0;
    while (at < text.size()) {
        const Text line = first_line(text.substr(at));
        if (!is_comment(line)) break;
        at += line.size();
    }
    return text.substr(0, at);
}

bool starts_blank(Text text) noexcept { return has_break(first_line(text)) && is_blank(first_line(text)); }

std::string join_paragraphs(Text above, Text below) {
    while (starts_blank(below)) below.remove_prefix(first_line(below).size());
    std::string out(above);
    out.append(below);
    return out;
}

Text line_comment(Text text) noexcept {
    text = text.substr(0, text.find('\n'));
    const std::size_t b = text.find_first_not_of(" \t\r");
    if (b == Text::npos || text[b] != '#') return {};
    const std::size_t e = text.find_last_not_of(" \t\r");
    return text.substr(b, e - b + 1);
}

std::vector<std::string> comment_lines(Text text) {
    std::vector<std::string> lines;
    std::size_t blank = 0;
    while (!text.empty()) {
        std::size_t end = text.find('\n');
        Text line = text.substr(0, end);
        text = end == Text::npos ? Text() : text.substr(end + 1);
        std::size_t b = line.find_first_not_of(" \t\r");
        std::size_t e = line.find_last_not_of(" \t\r");
        if (b == Text::npos) {
            blank += !lines.empty();
            continue;
        }
        line = line.substr(b, e - b + 1);
        if (line[0] != '#') continue;
        lines.insert(lines.end(), blank, std::string());
        blank = 0;
        lines.emplace_back(line);
    }
    return lines;
}

std::vector<std::string> comment_lines_kept(Text text) {
    std::vector<std::string> lines = comment_lines(text);
    const Text free = free_comments(text);
    if (!free.empty() && !has_comment(text.substr(free.size()))) lines.emplace_back();
    return lines;
}

RawText with_block(Text base, const std::vector<std::string>& block) {
    std::size_t lead = base.find_first_not_of("\r\n");
    if (lead == Text::npos) lead = base.size();
    Text indent = tail_of(base.substr(lead));
    std::string out(base.substr(0, lead));
    for (const std::string& line : block) {
        if (!line.empty()) {
            out.append(indent);
            out.append(line);
        }
        out.push_back('\n');
    }
    out.append(indent);
    return RawText::owned(out);
}

const RawText* after_comma(const Array& a, std::size_t i) {
    const Vector<TreeItem>& values = a.items();
    if (i + 1 < values.size()) return &values[i + 1].decor().prefix;
    return a.trailing_comma ? &a.trailing : nullptr;
}

Text inline_comment(const Array& a, std::size_t index) {
    if (index >= a.items().size()) return {};
    const RawText* after = after_comma(a, index);
    Text c = after ? line_comment(after->view()) : Text();
    return c.empty() ? line_comment(a.items()[index].decor().suffix.view()) : c;
}

Text inline_comment(const Table& t, std::string_view key) {
    const std::ptrdiff_t i = t.entries.find(key);
    if (i < 0) return {};
    const Entry& e = t.entries.at(static_cast<std::size_t>(i));
    Text c = line_comment(e.item.decor().suffix.view());
    if (!c.empty()) return c;
    std::size_t next = static_cast<std::size_t>(i) + 1;
    while (next < t.entries.size() && t.entries.at(next).item.is_none()) ++next;
    return line_comment(next < t.entries.size() ? t.entries.at(next).key.leaf_decor.prefix.view()
                                                : (t.trailing_comma ? t.trailing.view() : Text()));
}

}  // namespace morvelan
