#include "comments.hpp"

#include <algorithm>

#include "engine/array_of_tables.hpp"
#include "engine/lexer.hpp"

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

RawText part_of(const RawText& whole, Text part) {
    return whole.is_owned() || whole.is_absent() ? RawText::owned(part) : RawText::piece(part);
}

Trivia trivia_of(Text before) noexcept {
    const Layout l = split_layout(before);
    const Block b = split_block(l.middle);
    return Trivia{l.head, b.free, b.own, l.tail};
}

Trivia line_trivia(Text before) noexcept {
    const std::size_t lf = before.rfind('\n');
    const std::size_t cut = lf == Text::npos ? 0 : lf + 1;
    const Block b = split_block(before.substr(0, cut));
    return Trivia{Text(), b.free, b.own, before.substr(cut)};
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

// Read with peek(): reading a comment unpacks nothing.
const RawText* after_comma(const Array& a, std::size_t i) {
    if (i + 1 < a.size()) return &a.peek(i + 1).decor().prefix;
    return &a.trailing;
}

Text inline_comment(const Array& a, std::size_t index) {
    if (index >= a.size()) return {};
    Text c = line_comment(after_comma(a, index)->view());
    return c.empty() ? line_comment(a.peek(index).decor().suffix.view()) : c;
}

std::optional<LineEnd> line_end(Table& t, std::string_view key) {
    Entry* e = t.entries.get(key);
    if (!e || e->item.is_none()) return std::nullopt;
    std::vector<Line> lines;
    collect_lines(t, kNoEntry, lines);
    // The entry's line, or the last line of a dotted entry's.
    std::vector<Line> mine;
    if (is_dotted(e->item)) collect_lines(e->item.as_table(), kNoEntry, mine);
    const TreeItem* last_value = mine.empty() ? &e->item : mine.back().value;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].value != last_value) continue;
        const bool next = i + 1 < lines.size();
        return LineEnd{&lines[i].value->decor().suffix,
                       next ? &lines[i + 1].key->leaf_decor.prefix : &t.trailing, next};
    }
    return std::nullopt;
}

Text inline_comment(const Table& t, std::string_view key) {
    const std::optional<LineEnd> end = line_end(const_cast<Table&>(t), key);  // read only
    if (!end) return {};
    // A value suffix that ends the line holds all of the line's end: text
    // after the comma is on a line of its own.
    const Text own = end->own->view();
    const Text c = line_comment(own);
    return c.empty() && !has_break(own) ? line_comment(end->after->view()) : c;
}

// ---------------------------------------------------------------------------
// Where the text of a table entry lives

bool is_dotted(const TreeItem& item) noexcept { return item.is_table_like() && item.as_table().dotted; }
bool is_section(const TreeItem& item) noexcept {
    // An array of tables without members is written `key = []`: a line.
    return (item.is_table() && !item.as_table().dotted) ||
           (item.is_array_of_tables() && header_prefix(const_cast<TreeItem&>(item)));
}

void collect_lines(Table& t, std::size_t entry, std::vector<Line>& out) {
    for (std::size_t i = 0; i < t.entries.size(); ++i) {
        Entry& e = t.entries.at(i);
        const std::size_t top = entry == kNoEntry ? i : entry;
        if (is_dotted(e.item)) {
            collect_lines(e.item.as_table(), top, out);
        } else if (e.item.is_value()) {
            out.push_back(Line{&e.key, &e.item, top});
        }
    }
}

std::vector<const TreeItem*> tables_in(const TreeItem& item) {
    std::vector<const TreeItem*> out;
    std::vector<const TreeItem*> stack{&item};
    while (!stack.empty()) {
        const TreeItem* it = stack.back();
        stack.pop_back();
        if (it->is_table()) {
            out.push_back(it);
            for (const Entry& e : it->as_table().entries) stack.push_back(&e.item);
        } else if (it->is_array_of_tables()) {
            for (const TreeItem& m : it->as_array_of_tables().values) stack.push_back(&m);
        }
    }
    std::sort(out.begin(), out.end());
    return out;
}

RawText* header_prefix(TreeItem& item) noexcept {
    if (item.is_table()) return &item.decor().prefix;
    if (item.is_array_of_tables()) {
        for (TreeItem& m : item.as_array_of_tables().values)
            if (m.is_table()) return &m.decor().prefix;
    }
    return nullptr;
}

namespace {

// An implicit table with sub-tables only writes no header of its own.
bool header_hidden(const TreeItem& item) noexcept {
    if (!item.is_table() || !item.as_table().implicit) return false;
    bool any = false;
    for (const Entry& e : item.as_table().entries) {
        if (e.item.is_none()) continue;
        if (!is_section(e.item) ||
            (e.item.is_array_of_tables() && !header_prefix(const_cast<TreeItem&>(e.item))))
            return false;
        any = true;
    }
    return any;
}

}  // namespace

bool has_header_line(const TreeItem& item) noexcept {
    return item.is_table() && !item.as_table().dotted && !header_hidden(item);
}

namespace {

// The prefix of the header a section writes first: its own, or that of its
// first sub-section when its own is not written.
RawText* first_written_header(TreeItem& item) noexcept {
    TreeItem* t = &item;
    while (header_hidden(*t)) {
        for (Entry& e : t->as_table().entries) {
            if (e.item.is_none()) continue;
            t = &e.item;
            break;
        }
    }
    return header_prefix(*t);
}

}  // namespace

namespace {

// The table of `item` (itself, the members of an array of tables, the tables
// below them) the writer meets first. A table without a position is written
// right after the table before it in a walk: those before the first table
// with a position in `item`'s walk follow what comes before `item`, and a
// header among them is taken to come first (tables added by edits, ahead of
// those read from the text). Otherwise the table with the lowest position,
// the first in the walk among equal ones (the writer puts a table before the
// tables in it at equal places). Null when there is neither. The walk keeps
// its own stack: tables nest deep.
TreeItem* first_written(TreeItem& item) {
    TreeItem* placed = nullptr;
    TreeItem* leading = nullptr;
    std::vector<TreeItem*> stack{&item};
    while (!stack.empty()) {
        TreeItem* it = stack.back();
        stack.pop_back();
        if (it->is_array_of_tables()) {
            Elements& v = it->as_array_of_tables().values;
            for (std::size_t i = v.size(); i-- > 0;) stack.push_back(&v[i]);
        } else if (it->is_table()) {
            const auto& p = it->as_table().doc_position;
            if (p && (!placed || *p < *placed->as_table().doc_position))
                placed = it;
            else if (!p && !placed && !leading && has_header_line(*it))
                leading = it;
            EntryMap& entries = it->as_table().entries;
            for (std::size_t i = entries.size(); i-- > 0;) stack.push_back(&entries.at(i).item);
        }
    }
    return leading ? leading : placed;
}

}  // namespace

RawText* written_prefix(TreeItem& item) {
    TreeItem* first = first_written(item);
    return first_written_header(first ? *first : item);
}

namespace {

// The first section in a dotted table, looked for through the dotted tables
// in it; null when there is none.
TreeItem* first_section_in(TreeItem& dotted) {
    for (Entry& c : dotted.as_table().entries) {
        if (is_section(c.item)) return &c.item;
        if (is_dotted(c.item))
            if (TreeItem* s = first_section_in(c.item)) return s;
    }
    return nullptr;
}

// The key of the first dotted table in a dotted table that holds nothing,
// looked for through the dotted tables in it: it is written as a line of its
// own, `key = {}`, on that key's text. Null when there is none.
Key* empty_dotted_in(TreeItem& dotted) {
    for (Entry& c : dotted.as_table().entries) {
        if (!is_dotted(c.item)) continue;
        if (c.item.as_table().visible_size() == 0) return &c.key;
        if (Key* k = empty_dotted_in(c.item)) return k;
    }
    return nullptr;
}

}  // namespace

RawText* block_place(Entry& e, bool in_inline) {
    TreeItem& item = e.item;
    if (is_dotted(item)) {
        std::vector<Line> lines;
        collect_lines(item.as_table(), kNoEntry, lines);
        if (!lines.empty()) return &lines.front().key->leaf_decor.prefix;
        if (Key* k = empty_dotted_in(item)) return &k->leaf_decor.prefix;
        // A dotted table that edits left with sections only (perhaps below
        // dotted tables of its own) writes no line: its first section's header
        // is the first thing written for it.
        if (TreeItem* s = first_section_in(item)) return written_prefix(*s);
        return &e.key.leaf_decor.prefix;
    }
    if (in_inline || item.is_value()) return &e.key.leaf_decor.prefix;
    return is_section(item) ? written_prefix(item) : nullptr;
}

Text hoisted(const Entry& e) noexcept {
    const Text p = e.key.leaf_decor.prefix.view();
    return e.item.is_table() && !is_dotted(e.item) && has_break(p) ? p : Text();
}

RawText block_text(Entry& e) {
    const RawText* p = block_place(e, false);
    if (!p) return RawText::absent();
    if (const Text h = hoisted(e); !h.empty()) return RawText::owned(std::string(h) + std::string(p->view()));
    return *p;
}

// ---------------------------------------------------------------------------
// The comments of an entry

namespace {

// The visible entry of a table under a key, or null.
Entry* entry_of(Table& t, std::string_view key) noexcept {
    Entry* e = t.entries.get(key);
    return e && !e->item.is_none() ? e : nullptr;
}

// A text with an absent part read as the writer's default for its place.
Text text_or(const RawText& t, Text fallback) noexcept { return t.is_present() ? t.view() : fallback; }

// The block of comment lines given to a setter, each line indented by
// `indent`; empty pieces give blank lines.
std::string comment_block(std::optional<Text> comment, Text indent) {
    std::string out;
    if (!comment) return out;
    Text rest = *comment;
    for (;;) {
        const std::size_t n = rest.find('\n');
        const Text piece = rest.substr(0, n);
        if (!piece.empty()) {
            out.append(indent);
            out.append(piece);
        }
        out.push_back('\n');
        if (n == Text::npos) break;
        rest.remove_prefix(n + 1);
    }
    return out;
}

// A key's or header's prefix with a new block: its leading line breaks (the
// blank lines before the entry), the block, its indentation.
std::string with_block_at(Text old, std::optional<Text> comment) {
    const Text lead = leading_breaks(old);
    const Text indent = tail_of(old);
    return std::string(lead) + comment_block(comment, indent) + std::string(indent);
}

// The prefix of an element (or of a member's header) with a new block: the
// rest of the line before stays; the block goes on lines of its own.
std::string with_block_below(Text old, std::optional<Text> comment, Text indent) {
    const Layout l = split_layout(old);
    const std::string block = comment_block(comment, indent);
    std::string head(l.head);
    if (!block.empty() && head.empty()) head = "\n";
    return head + block + std::string(indent);
}

// The text after an entry's comma with `comment` ending the entry's line
// (or without a comment there); nothing when it stays as it is.
std::optional<std::string> with_line_comment(Text text, std::optional<Text> comment) {
    const Layout l = split_layout(text);
    if (comment) {
        if (line_comment(text) == *comment) return std::nullopt;
        return " " + std::string(*comment) + "\n" + std::string(l.middle) + std::string(l.tail);
    }
    if (l.head.empty()) return std::nullopt;
    return "\n" + std::string(l.middle) + std::string(l.tail);
}

void set_text(RawText& place, std::optional<std::string> text) {
    if (text) place = RawText::owned(*text);
}

bool bad_character(Text s, std::string& message) {
    for (std::size_t i = 0; i < s.size();) {
        const Utf8Char u = read_utf8(s, i);
        const char32_t c = u.valid ? u.code : static_cast<unsigned char>(s[i]);
        if (c != '\t' && (c < 0x20 || c == 0x7F)) {
            static const char digits[] = "0123456789ABCDEF";
            std::string code;
            for (char32_t v = c; v != 0 || code.size() < 4; v >>= 4)
                code.insert(code.begin(), digits[v & 0xF]);
            message = "comment contains invalid character U+" + code;
            return true;
        }
        i += u.valid ? u.length : 1;
    }
    return false;
}

}  // namespace

std::optional<std::string> comment_text(Text text) {
    std::vector<std::string> lines;
    while (!text.empty()) {
        const std::size_t n = text.find('\n');
        Text line = text.substr(0, n);
        text = n == Text::npos ? Text() : text.substr(n + 1);
        const std::size_t b = line.find_first_not_of(" \t\r");
        if (b == Text::npos) {
            lines.emplace_back();
            continue;
        }
        const std::size_t e = line.find_last_not_of(" \t\r");
        if (line[b] == '#') lines.emplace_back(line.substr(b, e - b + 1));
    }
    while (!lines.empty() && lines.back().empty()) lines.pop_back();
    if (lines.empty()) return std::nullopt;
    std::string out;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i) out.push_back('\n');
        out.append(lines[i]);
    }
    return out;
}

std::optional<std::string> block_comment(const TreeItem& parent, const EntrySlot& slot) {
    TreeItem& p = const_cast<TreeItem&>(parent);  // read only: the places are not written
    if (slot.by_key) {
        if (!p.is_table_like()) return std::nullopt;
        Entry* e = entry_of(p.as_table(), slot.key);
        if (!e) return std::nullopt;
        const RawText* place = block_place(*e, p.is_inline_table());
        if (!place) return std::nullopt;
        // In an inline table the key's prefix begins on the line before (after
        // "{" or the previous comma): that first line is not this entry's.
        if (p.is_inline_table()) return comment_text(split_layout(place->view()).middle);
        return comment_text(std::string(hoisted(*e)) + std::string(place->view()));
    }
    if (p.is_array()) {
        const Array& a = p.as_array();
        if (slot.index >= a.size()) return std::nullopt;
        // The element's prefix begins on the line of the comma before it (or of
        // "["): only the whole lines after that one are this element's.
        return comment_text(split_layout(a.peek(slot.index).decor().prefix.view()).middle);
    }
    if (p.is_array_of_tables()) {
        // A header's prefix starts a line: all of it is the member's.
        const Elements& v = p.as_array_of_tables().values;
        if (slot.index >= v.size()) return std::nullopt;
        return comment_text(v[slot.index].decor().prefix.view());
    }
    return std::nullopt;
}

std::optional<std::string> line_comment_of(const TreeItem& parent, const EntrySlot& slot) {
    Text c;
    if (slot.by_key && parent.is_inline_table()) {
        c = inline_comment(parent.as_table(), slot.key);
    } else if (slot.by_key && parent.is_table()) {
        Entry* e = entry_of(const_cast<TreeItem&>(parent).as_table(), slot.key);
        if (e && ((e->item.is_value() && !is_dotted(e->item)) || has_header_line(e->item)))
            c = line_comment(e->item.decor().suffix.view());
    } else if (!slot.by_key && parent.is_array()) {
        c = inline_comment(parent.as_array(), slot.index);
    } else if (!slot.by_key && parent.is_array_of_tables()) {
        const Elements& v = parent.as_array_of_tables().values;
        if (slot.index < v.size()) c = line_comment(v[slot.index].decor().suffix.view());
    }
    if (c.empty()) return std::nullopt;
    return std::string(c);
}

std::optional<std::string> block_comment_error(Text comment) {
    std::string message;
    for (Text rest = comment;;) {
        const std::size_t n = rest.find('\n');
        const Text piece = rest.substr(0, n);
        if (!piece.empty() && piece[0] != '#') return std::string("comment lines must start with '#'");
        if (bad_character(piece, message)) return message;
        if (n == Text::npos) break;
        rest.remove_prefix(n + 1);
    }
    return std::nullopt;
}

std::optional<std::string> inline_comment_error(Text comment) {
    if (comment.empty()) return std::string("comment must start with '#'");
    if (has_break(comment)) return std::string("inline comment must not contain newlines");
    if (comment[0] != '#') return std::string("comment must start with '#'");
    std::string message;
    if (bad_character(comment, message)) return message;
    return std::nullopt;
}

CommentEdit set_block_comment(TreeItem& parent, const EntrySlot& slot, std::optional<Text> comment) {
    if (slot.by_key) {
        if (!parent.is_table_like()) return CommentEdit::NoEntry;
        Table& t = parent.as_table();
        Entry* e = entry_of(t, slot.key);
        if (!e) return CommentEdit::NoEntry;
        RawText* place = block_place(*e, parent.is_inline_table());
        if (!place) return CommentEdit::Unsupported;
        if (!parent.is_inline_table()) {
            // A key/value line or a header: after the blank lines before it.
            const bool header = place != &e->key.leaf_decor.prefix;
            std::string old(hoisted(*e));
            old.append(text_or(*place, header ? Text("\n") : Text()));
            *place = RawText::owned(with_block_at(old, comment));
            if (!hoisted(*e).empty()) e->key.leaf_decor.prefix = RawText::absent();
            return CommentEdit::Done;
        }
        // An entry of an inline table goes on a line of its own, indented like
        // the table's entries that stand on lines of their own.
        const Text own = tail_of(text_or(*place, " "));
        Text indent = own;
        if (comment) {
            std::vector<Line> lines;
            collect_lines(t, kNoEntry, lines);
            Text shared = " ";
            for (const Line& l : lines) {
                const Text p = l.key->leaf_decor.prefix.view();
                if (has_break(p)) {
                    shared = tail_of(p);
                    break;
                }
            }
            const bool first = !lines.empty() && &lines.front().key->leaf_decor.prefix == place;
            if (first || own.empty()) indent = shared;
        }
        const std::string old(text_or(*place, " "));
        *place = RawText::owned(with_block_below(old, comment, indent));
        return CommentEdit::Done;
    }
    if (parent.is_array_of_tables()) {
        // A member's header: as any header, after the blank lines before it.
        Elements& v = parent.as_array_of_tables().values;
        if (slot.index >= v.size()) return CommentEdit::NoEntry;
        RawText& place = v[slot.index].decor().prefix;
        place = RawText::owned(with_block_at(text_or(place, "\n"), comment));
        return CommentEdit::Done;
    }
    if (!parent.is_array()) return CommentEdit::NoEntry;
    Elements& v = parent.as_array().items();
    if (slot.index >= v.size()) return CommentEdit::NoEntry;
    RawText& place = v[slot.index].decor().prefix;
    const std::string old(text_or(place, slot.index ? Text(" ") : Text()));
    place = RawText::owned(with_block_below(old, comment, tail_of(old)));
    return CommentEdit::Done;
}

namespace {

// The inline comment (`stored`, with its space) of an entry of a standard
// table: the suffix of its value or of its header.
CommentEdit set_line_end(Table& t, std::string_view key, const std::string& stored) {
    Entry* e = entry_of(t, key);
    if (!e) return CommentEdit::NoEntry;
    // Dotted keys (of a table, or of an inline table whose entries went into
    // a table) write no line of their own.
    if ((e->item.is_table() && !has_header_line(e->item)) || is_dotted(e->item)) return CommentEdit::NoLine;
    if (!e->item.is_value() && !e->item.is_table()) return CommentEdit::Unsupported;
    e->item.decor().suffix = RawText::owned(stored);
    return CommentEdit::Done;
}

}  // namespace

CommentEdit set_inline_comment(TreeItem& parent, const EntrySlot& slot, std::optional<Text> comment) {
    const std::string stored = comment ? " " + std::string(*comment) : std::string();
    if (!slot.by_key && parent.is_array_of_tables()) {
        Elements& v = parent.as_array_of_tables().values;
        if (slot.index >= v.size()) return CommentEdit::NoEntry;
        v[slot.index].decor().suffix = RawText::owned(stored);
        return CommentEdit::Done;
    }
    if (slot.by_key && parent.is_table()) return set_line_end(parent.as_table(), slot.key, stored);
    // An element of an array or an entry of an inline table: the comment ends
    // its line, after its comma (or where the element's own suffix already
    // holds one).
    RawText* own = nullptr;    // the entry's value suffix
    RawText* after = nullptr;  // the text after its comma
    bool next_prefix = false;  // `after` is the prefix of the next entry (absent: one space)
    if (slot.by_key && parent.is_inline_table()) {
        Table& t = parent.as_table();
        if (!entry_of(t, slot.key)) return CommentEdit::NoEntry;
        const std::optional<LineEnd> end = line_end(t, slot.key);
        if (!end) return CommentEdit::Unsupported;
        own = end->own;
        // The lines of a dotted table end in text of the inline table that
        // holds it, not in this table's `trailing`, which is never written:
        // the comment goes before the comma.
        after = t.dotted ? nullptr : end->after;
        next_prefix = end->next_prefix;
    } else if (!slot.by_key && parent.is_array()) {
        Array& a = parent.as_array();
        Elements& v = a.items();
        if (slot.index >= v.size()) return CommentEdit::NoEntry;
        own = &v[slot.index].decor().suffix;
        next_prefix = slot.index + 1 < v.size();
        // With no comma after the last element, the text up to "]" is its
        // own suffix: an append moves it on to the new last element.
        if (next_prefix)
            after = &v[slot.index + 1].decor().prefix;
        else if (a.trailing_comma)
            after = &a.trailing;
    } else {
        return CommentEdit::NoEntry;
    }
    RawText* target = after;
    Text text = after ? text_or(*after, next_prefix ? Text(" ") : Text()) : Text();
    // Where the getter reads first: after the comma for an array element, in
    // the value's own suffix for an inline-table entry. The own suffix takes
    // the comment when it holds one, and when it holds a line break: the
    // entry's line ends there, and text after it is on the next line.
    const bool own_first = parent.is_inline_table() || line_comment(text).empty();
    const Text own_text = own->view();
    if (!after || (own_first && (!line_comment(own_text).empty() || has_break(own_text)))) {
        target = own;
        text = own->view();
    }
    set_text(*target, with_line_comment(text, comment));
    // The getter falls back on the value's own line: clearing the comment
    // after the comma clears one there too (an element whose closing line and
    // comma line both end in a comment), or it would still read.
    if (!comment && target != own && !line_comment(own->view()).empty())
        set_text(*own, with_line_comment(own->view(), comment));
    return CommentEdit::Done;
}

}  // namespace morvelan
