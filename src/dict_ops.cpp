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

#include <string>

#include "engine/array_of_tables.hpp"

namespace morvelan {

namespace {

using Text = std::string_view;
constexpr std::size_t kNone = static_cast<std::size_t>(-1);

bool has_break(Text s) noexcept { return s.find('\n') != Text::npos; }
// Decor holds only whitespace, line breaks and comments: a '#' starts a comment.
bool has_comment(Text s) noexcept { return s.find('#') != Text::npos; }

// A text split at its first line break: the rest of the line it starts on
// (line break included; empty when there is none) and what follows.
Text head_of(Text s) noexcept {
    std::size_t i = s.find('\n');
    return i == Text::npos ? Text() : s.substr(0, i + 1);
}
Text after_head(Text s) noexcept {
    std::size_t i = s.find('\n');
    return i == Text::npos ? s : s.substr(i + 1);
}
// What follows the last line break: the indentation of the line that ends
// the text (all of it when there is no line break).
Text tail_of(Text s) noexcept {
    std::size_t i = s.rfind('\n');
    return i == Text::npos ? s : s.substr(i + 1);
}

RawText owned(Text s) { return RawText::owned(s); }

// ---------------------------------------------------------------------------
// Comment blocks

// The comment lines of a prefix-like text, trimmed, with the blank lines
// between them; blank lines before the first comment and after the last are
// left out (the place the block is written to has its own).
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

// `base` with a comment block written into it: its leading line breaks, the
// block indented like the line that ends `base`, then that indentation.
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
    return owned(out);
}

// ---------------------------------------------------------------------------
// Entries and the lines they are written as

bool is_dotted(const TreeItem& item) noexcept { return item.is_table_like() && item.as_table().dotted; }
bool is_section(const TreeItem& item) noexcept {
    return (item.is_table() && !item.as_table().dotted) || item.is_array_of_tables();
}

// One key/value line of a table's body (or one entry of an inline table):
// dotted tables are flattened into the lines of their values.
struct Line {
    Key* key;  // the last key of the line's path: its leaf decor is the line's
    TreeItem* value;
    std::size_t entry;  // the top-level entry the line belongs to
};

void collect_lines(Table& t, std::size_t entry, std::vector<Line>& out) {
    for (std::size_t i = 0; i < t.entries.size(); ++i) {
        Entry& e = t.entries.at(i);
        const std::size_t top = entry == kNone ? i : entry;
        if (is_dotted(e.item)) {
            collect_lines(e.item.as_table(), top, out);
        } else if (e.item.is_value()) {
            out.push_back(Line{&e.key, &e.item, top});
        }
    }
}

std::vector<Line> lines_of(Table& t) {
    std::vector<Line> lines;
    collect_lines(t, kNone, lines);
    return lines;
}

std::size_t first_visible(const Table& t) noexcept {
    for (std::size_t i = 0; i < t.entries.size(); ++i)
        if (!t.entries.at(i).item.is_none()) return i;
    return kNone;
}

// The header decor prefix of a section: a table's, or an array of tables'
// first member's; null when there is no header.
RawText* header_prefix(TreeItem& item) noexcept {
    if (item.is_table()) return &item.decor().prefix;
    if (item.is_array_of_tables()) {
        for (TreeItem& m : item.as_array_of_tables().values)
            if (m.is_table()) return &m.decor().prefix;
    }
    return nullptr;
}

// The text that holds an entry's comment block, copied out.
RawText block_text(Entry& e) {
    if (is_dotted(e.item)) {
        std::vector<Line> lines;
        collect_lines(e.item.as_table(), 0, lines);
        return lines.empty() ? RawText::absent() : lines.front().key->leaf_decor.prefix;
    }
    if (is_section(e.item)) {
        const RawText* p = header_prefix(e.item);
        RawText text = p ? *p : RawText::absent();
        // Text above a header kept on its key is written before the header.
        Text hoisted = e.key.leaf_decor.prefix.view();
        if (e.item.is_table() && has_break(hoisted)) text = owned(std::string(hoisted) + std::string(text.view()));
        return text;
    }
    return e.key.leaf_decor.prefix;
}

// Tables stored as sections are placed by the walk that writes them: no
// recorded position anywhere below, so that the whole subtree stays together
// (and each member of an array of tables keeps its sub-tables).
void clear_positions(TreeItem& item) noexcept {
    if (item.is_table()) {
        item.as_table().doc_position.reset();
        for (Entry& e : item.as_table().entries) clear_positions(e.item);
    } else if (item.is_array_of_tables()) {
        for (TreeItem& m : item.as_array_of_tables().values) clear_positions(m);
    }
}

// A header prefix that begins with a line break, so that the section is set
// off by a blank line.
void ensure_leading_break(RawText& prefix) {
    if (prefix.is_absent()) {
        prefix = owned("\n");
        return;
    }
    Text p = prefix.view();
    if (p.starts_with('\n') || p.starts_with("\r\n")) return;
    prefix = owned("\n" + std::string(p));
}

void strip_leading_break(RawText& prefix) {
    Text p = prefix.view();
    if (p.starts_with('\n')) {
        prefix = owned(p.substr(1));
    } else if (p.starts_with("\r\n")) {
        prefix = owned(p.substr(2));
    }
}

// ---------------------------------------------------------------------------
// Standard tables

// Indentation of new keys: that of the table's first key/value line.
Text body_indent(Table& t) {
    std::vector<Line> lines = lines_of(t);
    if (lines.empty()) return Text();
    return tail_of(lines.front().key->leaf_decor.prefix.view());
}

RawText indent_prefix(Text indent) { return indent.empty() ? RawText::absent() : owned(indent); }

