// Writing TOML text from a document tree.
//
// A document is written in one pass over its tables in header order. The
// tables are first collected by a depth-first walk (pointers into the tree
// and their header paths, each its last key linked to the key before it),
// then ordered by recorded position. Each table writes its header, when it needs
// one, and then its key/value lines; entries of dotted tables are written in
// their parent's body as dotted keys.
//
// Key paths of the entry being written are kept on one reusable stack, so
// writing an entry allocates nothing once the buffers have grown.
//
// Trees may nest to any depth, so no walk here recurses. The tables are
// collected with a stack of open tables; the lines of a table are read
// through a resumable cursor (LineCursor) that keeps the dotted tables it has
// entered on a stack; values are written with a stack of the arrays and
// inline tables open around the value being written. All these stacks are
// vectors of the writer, reused from one walk to the next.
#include "encode.hpp"

#include <algorithm>
#include <cassert>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string_view>
#include <utility>

#include "packed.hpp"
#include "string.hpp"

namespace morvelan {

namespace {

// Defaults of a decor's two parts for the place where it is written.
struct Defaults {
    std::string_view prefix;
    std::string_view suffix;
};

constexpr Defaults kEmpty{"", ""};
constexpr Defaults kBodyKey{"", " "};
constexpr Defaults kBodyValue{" ", ""};
constexpr Defaults kLaterElement{" ", ""};
constexpr Defaults kInlineKey{" ", " "};
constexpr Defaults kInlineValue{" ", ""};

bool contains_line_feed(std::string_view s) noexcept {
    return !s.empty() && std::memchr(s.data(), '\n', s.size()) != nullptr;
}

// A dotted table or dotted inline table: written as dotted keys of its parent.
bool is_dotted(const TreeItem& item) noexcept { return item.is_table_like() && item.as_table().dotted; }

bool has_visible(const Table& t) noexcept {
    for (const Entry& e : t.entries)
        if (!e.item.is_none()) return true;
    return false;
}

// An array of tables without members has no header to write.
bool is_empty_array_of_tables(const TreeItem& item) noexcept {
    if (!item.is_array_of_tables()) return false;
    for (const TreeItem& m : item.as_array_of_tables().values)
        if (m.is_table()) return false;
    return true;
}

// The lines of a table (see Writer::next_line): where a cursor stands.
struct LineCursor {
    // Reading the entries: the next entry of the table being read, which is
    // the cursor's table or the innermost of the `depth` dotted tables
    // entered from it (where the ones around it stand is on Writer::dots_).
    const Entry* next;
    const Entry* end;
    std::uint32_t depth;
    std::uint32_t keys_base;  // Writer::keys_ size before the table's lines
    // Reading lines sorted into source order: Writer::lines_[next_line,
    // lines_end), which the cursor took from lines_begin on.
    std::uint32_t lines_begin;
    std::uint32_t lines_end;
    std::uint32_t next_line;
    bool sorted;
    bool yielded;  // keys_ ends with the key of the line given last
};

// Where a LineCursor stands in a table while it reads a dotted table of it.
struct DotFrame {
    const Entry* next;
    const Entry* end;
};

// A line sorted into source order.
struct SortedLine {
    std::size_t position;
    std::uint32_t keys_start;
    std::uint32_t keys_size;
    const TreeItem* item;
};

// An array or inline table being written.
struct OpenValue {
    const TreeItem* item;
    const Defaults* defaults;
    LineCursor lines;    // inline tables
    std::uint32_t next;  // arrays: the next element
    bool first;          // arrays: no element written yet
    bool any;            // inline tables: an entry written
    bool last_suffix_absent;
};

// A table whose sub-tables are being collected.
struct CollectFrame {
    const Table* table;
    std::uint32_t entry;   // the entry being looked at
    std::uint32_t member;  // its next member, when it is an array of tables
};

// A key of a header path, and the one before it (kNoPath for the first);
// `member` is the index of the table in the array of tables under that key
// (kNoPath for a table).
struct PathNode {
    const Key* key;
    std::uint32_t parent;
    std::uint32_t member;
};
constexpr std::uint32_t kNoPath = 0xFFFFFFFF;

// A table collected for writing.
struct Section {
    const TreeItem* item;   // the Table item: its decor is the header decor
    std::int64_t sort_key;  // recorded position, or that of the section before it
    std::uint32_t walk_index;
    std::uint32_t path_node;  // its last key in Writer::path_nodes_
    std::uint32_t path_size;  // 0 for the root only
    bool array_element;       // written as [[path]]
};

// Records a WrittenLayout while a Writer writes (see encode.hpp). The writer
// tells it the path steps of each value before the value, where each value's
// text begins (after its decor prefix) and ends (before its suffix), where the
// key of each line begins, and the decor text it wrote.
class LayoutRecorder {
public:
    enum class Kind : std::uint8_t { Scalar, Array, InlineTable };

    explicit LayoutRecorder(WrittenLayout& out) : out_(out) {}

    // The table whose lines follow: its path.
    void table(const Vector<WrittenLayout::Step>& path) {
        path_ = path;
        table_size_ = static_cast<std::uint32_t>(path.size());
    }

    // Steps of the next value's path.
    void key(const Key& k) {
        mark();
        path_.push_back(WrittenLayout::Step{k.text(), 0, false});
    }
    void index(std::size_t i) {
        mark();
        path_.push_back(WrittenLayout::Step{{}, i, true});
    }
    // The next value begun is the value of a table's key/value line.
    void line() { line_ = true; }
    void key_start(std::size_t at) { key_start_ = at; }

    void begin(std::size_t at, Kind kind) {
        Frame f;
        f.start = at;
        f.key_start = key_start_;
        f.path_base = base_ != kUnmarked ? base_ : path_.size();
        f.elements_base = pending_.size();
        f.kind = kind;
        f.line = line_;
        base_ = kUnmarked;
        line_ = false;
        if (kind == Kind::InlineTable) ++inline_depth_;
        frames_.push_back(f);
    }

    void end(std::size_t at) {
        const Frame f = frames_.back();
        frames_.pop_back();
        if (f.kind == Kind::InlineTable) --inline_depth_;
        if (f.kind == Kind::Array) {
            const auto first = static_cast<std::uint32_t>(out_.elements.size());
            out_.elements.insert(out_.elements.end(),
                                 pending_.begin() + static_cast<std::ptrdiff_t>(f.elements_base),
                                 pending_.end());
            pending_.resize(f.elements_base);
            out_.arrays.push_back(
                WrittenLayout::ArrayPlace{path(),
                                          {f.start, at},
                                          first,
                                          static_cast<std::uint32_t>(out_.elements.size() - first),
                                          inline_depth_ != 0});
        }
        if (!frames_.empty() && frames_.back().kind == Kind::Array) pending_.push_back({f.start, at});
        if (f.line) out_.lines.push_back(WrittenLayout::Line{path(), table_size_, {f.key_start, at}});
        if (frames_.empty()) out_.value = {f.start, at};
        path_.resize(f.path_base);
    }

    // The elements of a packed run, written as text[from, end): each one's
    // span, and the comments around them.
    void packed_run(std::string_view text, std::size_t from) {
        const std::string_view run = text.substr(from);
        PackedElements reader(run);
        TreeItem element;
        while (reader.next(element)) {
            const std::string_view prefix = element.decor().prefix.view();
            const std::string_view suffix = element.decor().suffix.view();
            const auto at = [&](const char* p) { return from + static_cast<std::size_t>(p - run.data()); };
            comments(text, at(prefix.data()), at(prefix.data() + prefix.size()));
            pending_.push_back({at(prefix.data() + prefix.size()), at(suffix.data())});
            comments(text, at(suffix.data()), at(suffix.data() + suffix.size()));
        }
    }

    // The comments in text[from, to), which is decor: white space, line
    // breaks and comments only.
    void comments(std::string_view text, std::size_t from, std::size_t to) {
        for (std::size_t i = from; i < to; ++i) {
            if (text[i] != '#') continue;
            std::size_t end = i;
            while (end < to && text[end] != '\n') ++end;
            const std::size_t next = end;
            if (end > i && text[end - 1] == '\r') --end;
            out_.comments.push_back({i, end});
            i = next;
        }
    }

private:
    static constexpr std::size_t kUnmarked = static_cast<std::size_t>(-1);

    struct Frame {
        std::size_t start;
        std::size_t key_start;
        std::size_t path_base;
        std::size_t elements_base;
        Kind kind;
        bool line;
    };

    void mark() {
        if (base_ == kUnmarked) base_ = path_.size();
    }

    WrittenLayout::Path path() {
        const auto first = static_cast<std::uint32_t>(out_.steps.size());
        out_.steps.insert(out_.steps.end(), path_.begin(), path_.end());
        return {first, static_cast<std::uint32_t>(path_.size())};
    }

    WrittenLayout& out_;
    Vector<WrittenLayout::Step> path_;     // of the value being written
    Vector<Frame> frames_;                 // values begun and not ended
    Vector<WrittenLayout::Span> pending_;  // elements of the open arrays
    std::size_t base_ = kUnmarked;         // path_ size before the next value's steps
    std::size_t key_start_ = 0;
    std::uint32_t table_size_ = 0;
    std::uint32_t inline_depth_ = 0;
    bool line_ = false;
};

class Writer {
public:
    explicit Writer(String& out, LayoutRecorder* recorder = nullptr) : out_(out), rec_(recorder) {}

    void document(const DocumentRoot& doc) {
        const TreeItem& root = doc.root();
        if (!root.is_table()) {
            assert(!"root should always be a table");
            return;
        }
        if (doc.source()) source_ = doc.source()->view();
        crlf_ = doc.crlf;
        if (doc.bom) out_.append("\xEF\xBB\xBF");
        part(root.decor().prefix, "");

        collect(root);
        sort_sections();
        bool first_header = true;
        for (const Section& s : sections_) {
            const Table& t = s.item->as_table();
            if (s.path_size == 0) {
                if (has_body(t)) first_header = false;
            } else if (writes_header(s)) {
                header(s, first_header);
                first_header = false;
            }
            if (rec_) record_table(s);
            body(t);
        }

        // The source ended without a line feed: leave out the one written
        // after the last line, as long as nothing follows it.
        const RawText& root_suffix = root.decor().suffix;
        if (doc.no_final_newline && doc.trailing.empty() && root_suffix.empty() && line_end_ != 0 &&
            line_end_ == out_.size()) {
            out_.resize(out_.size() - line_break_);
        }
        part(root_suffix, "");
        part(doc.trailing, "");
    }

    // Whether the table (not dotted; `member` of an array of tables) writes
    // a header.
    bool header_written(const TreeItem& table, bool member) { return writes_header(table, member); }

    Vector<WrittenTable> tables(const DocumentRoot& doc) {
        collect(doc.root());
        sort_sections();
        Vector<WrittenTable> out;
        out.reserve(sections_.size());
        for (const Section& s : sections_)
            out.push_back(WrittenTable{s.item, s.path_size != 0 && writes_header(s)});
        return out;
    }

    // Key/value lines of a table, without header or sub-tables.
    void body(const Table& t) {
        const std::size_t base = keys_.size();
        LineCursor lines;
        open_lines(t, lines);
        while (const TreeItem* v = next_line(lines)) {
            // The key of an array of tables carries the spacing of its header
            // brackets: not that of a key/value line. Text above the header
            // recorded on it (a comment, blank lines) stays above the line.
            const bool empty_array = v == &empty_array_;
            if (const RawText& above = keys_.back()->leaf_decor.prefix;
                empty_array && above.is_present() && contains_line_feed(above.view()))
                part(above, "");
            if (rec_) {
                for (std::size_t i = base; i < keys_.size(); ++i) rec_->key(*keys_[i]);
                rec_->line();
            }
            line_key_path(base, kBodyKey, empty_array);
            out_.push_back('=');
            value(*v, kBodyValue);
            end_line(v->decor().suffix);
        }
    }

    // A value with its decor; arrays and inline tables with everything in
    // them, depth first.
    void value(const TreeItem& v, const Defaults& d) {
        const std::size_t bottom = open_.size();
        begin_value(v, d);
        while (open_.size() > bottom) {
            OpenValue& f = open_.back();
            if (f.item->is_array()) {
                const Array& a = f.item->as_array();
                const Elements& values = a.stored_items();
                while (f.next < values.size() && values[f.next].is_none()) ++f.next;
                if (f.next < values.size()) {
                    if (!f.first) out_.push_back(',');
                    const Defaults& element = f.first ? kEmpty : kLaterElement;
                    f.first = false;
                    if (rec_) rec_->index(a.packed_size() + f.next);
                    begin_value(values[f.next++], element);  // f is stale from here
                    continue;
                }
                if (a.trailing_comma && !f.first) out_.push_back(',');
                part(a.trailing, "");
                out_.push_back(']');
            } else {
                if (const TreeItem* entry = next_line(f.lines)) {
                    if (f.any) out_.push_back(',');
                    f.any = true;
                    if (rec_)
                        for (std::size_t i = f.lines.keys_base; i < keys_.size(); ++i) rec_->key(*keys_[i]);
                    line_key_path(f.lines.keys_base, kInlineKey);
                    out_.push_back('=');
                    f.last_suffix_absent = entry->decor().suffix.is_absent();
                    begin_value(*entry, kInlineValue);  // f is stale from here
                    continue;
                }
                const Table& t = f.item->as_table();
                // The last value's default suffix is one space rather than
                // none; it is added here, where the value's suffix ends, so
                // that the entries need not be counted first.
                if (f.last_suffix_absent) out_.push_back(' ');
                if (t.trailing_comma && f.any) out_.push_back(',');
                part(t.trailing, "");
                out_.push_back('}');
            }
            if (rec_) rec_->end(out_.size());
            part(f.item->decor().suffix, f.defaults->suffix);
            open_.pop_back();
        }
    }

private:
    // Writes a value whole, or the start of an array or inline table, which
    // it leaves open on open_ for value() to go on with.
    void begin_value(const TreeItem& v, const Defaults& d) {
        part(v.decor().prefix, d.prefix);
        if (rec_)
            rec_->begin(out_.size(), v.is_array()          ? LayoutRecorder::Kind::Array
                                     : v.is_inline_table() ? LayoutRecorder::Kind::InlineTable
                                                           : LayoutRecorder::Kind::Scalar);
        const SourceRepr& repr = v.repr();
        if (v.is_scalar() && repr.is_present()) {
            spelling(repr);
            if (rec_) rec_->end(out_.size());
            part(v.decor().suffix, d.suffix);
            return;
        }
        switch (v.kind()) {
            case ItemKind::String:
                if (crlf_) {
                    // A multi-line string's line feeds are line breaks of the
                    // document too (a "\r\n" in one reads as "\n").
                    scratch_.clear();
                    append_string_text(scratch_, v.as_string());
                    new_text(scratch_);
                } else {
                    append_string_text(out_, v.as_string());
                }
                break;
            case ItemKind::Integer: append_integer_text(out_, v.as_integer()); break;
            case ItemKind::Float: append_float_text(out_, v.as_float()); break;
            case ItemKind::Boolean: append_bool_text(out_, v.as_bool()); break;
            case ItemKind::Datetime: append_datetime(out_, v.as_datetime()); break;
            case ItemKind::Array:
                if (v.as_array().packed() && v.as_array().stored_items().empty()) {
                    // The elements as they were read.
                    const Array& a = v.as_array();
                    out_.push_back('[');
                    packed_run(a.packed_text_raw());
                    if (a.trailing_comma) out_.push_back(',');
                    part(a.trailing, "");
                    out_.push_back(']');
                    break;
                }
                [[fallthrough]];
            case ItemKind::InlineTable: {
                // Built in place, field by field: the frame is read back at
                // once, and a copy of a whole struct just written stalls.
                OpenValue& f = open_.emplace_back();
                f.item = &v;
                f.defaults = &d;
                f.first = true;
                if (v.is_array()) {
                    out_.push_back('[');
                    if (v.as_array().packed()) {
                        // The packed run as it was read; the items follow.
                        packed_run(v.as_array().packed_text_raw());
                        f.first = false;
                    }
                } else {
                    out_.push_back('{');
                    open_lines(v.as_table(), f.lines);
                }
                return;
            }
            case ItemKind::None:
            case ItemKind::Table:
            case ItemKind::ArrayOfTables: break;
        }
        if (rec_) rec_->end(out_.size());
        part(v.decor().suffix, d.suffix);
    }

    // An implicit table left with nothing in it still exists: without its
    // header it would vanish from the text.
    bool writes_header(const Section& s) { return writes_header(*s.item, s.array_element); }
    bool writes_header(const TreeItem& item, bool member) {
        const Table& t = item.as_table();
        return member || !t.implicit || has_body(t) || !has_visible(t);
    }

    // Walks depth first from the root (a Table), collecting with its header
    // path every table that is not dotted. Members of an array of tables
    // always get a header: their entries have nowhere else to go. A path is
    // kept as its last key in path_nodes_, linked to the key before it, so
    // that the paths take room in proportion to the tables, at any depth.
    void collect(const TreeItem& root) {
        std::uint32_t path = kNoPath;
        std::uint32_t depth = 0;
        add_section(root, false, path, depth);
        collecting_.clear();
        collecting_.push_back(CollectFrame{&root.as_table(), 0, 0});
        while (!collecting_.empty()) {
            CollectFrame& f = collecting_.back();
            if (f.entry == f.table->entries.size()) {
                collecting_.pop_back();
                // Every table but the root was entered under its key.
                if (!collecting_.empty()) {
                    path = path_nodes_[path].parent;
                    --depth;
                }
                continue;
            }
            const Entry& e = f.table->entries.at(f.entry);
            const TreeItem* child = nullptr;
            bool array_element = false;
            if (e.item.is_array_of_tables()) {
                const Elements& members = e.item.as_array_of_tables().values;
                while (f.member < members.size() && !members[f.member].is_table()) ++f.member;
                if (f.member < members.size()) {
                    child = &members[f.member++];
                    array_element = true;
                } else {
                    f.member = 0;
                    ++f.entry;
                }
            } else {
                if (e.item.is_table()) child = &e.item;
                ++f.entry;
            }
            if (child) {
                path_nodes_.push_back(PathNode{&e.key, path, array_element ? f.member - 1 : kNoPath});
                path = static_cast<std::uint32_t>(path_nodes_.size() - 1);
                ++depth;
                add_section(*child, array_element, path, depth);
                collecting_.push_back(CollectFrame{&child->as_table(), 0, 0});  // f is stale from here
            }
        }
    }

    void add_section(const TreeItem& item, bool array_element, std::uint32_t path, std::uint32_t depth) {
        const Table& t = item.as_table();
        if (t.dotted && !array_element) return;
        const std::int64_t key = t.doc_position ? *t.doc_position : last_sort_key_;
        last_sort_key_ = key;
        sections_.push_back(
            Section{&item, key, static_cast<std::uint32_t>(sections_.size()), path, depth, array_element});
    }

    // The header path of a section, first key first, in header_path_.
    const Key* const* header_path(const Section& s) {
        header_path_.resize(s.path_size);
        std::uint32_t node = s.path_node;
        for (std::size_t i = s.path_size; i-- > 0;) {
            header_path_[i] = path_nodes_[node].key;
            node = path_nodes_[node].parent;
        }
        return header_path_.data();
    }

    // Stable order by sort key: walk order breaks ties.
    void sort_sections() {
        auto less = [](const Section& a, const Section& b) {
            return a.sort_key != b.sort_key ? a.sort_key < b.sort_key : a.walk_index < b.walk_index;
        };
        if (!std::is_sorted(sections_.begin(), sections_.end(), less))
            std::sort(sections_.begin(), sections_.end(), less);
    }

    void header(const Section& s, bool first_header) {
        const Key* const* path = header_path(s);
        // A header that spelled its path differently from the keys stored
        // with the tables on the way keeps its own spelling.
        if (const auto& own = s.item->as_table().header_keys;
            own && own->keys.size() == s.path_size && same_texts(own->keys, path)) {
            spelled_.clear();
            for (const Key& k : own->keys) spelled_.push_back(&k);
            path = spelled_.data();
        }
        const RawText& leaf_prefix = path[s.path_size - 1]->leaf_decor.prefix;
        // Text above the header recorded on its last key (a comment or blank
        // line) goes before the header, not inside the brackets.
        const bool hoist = leaf_prefix.is_present() && contains_line_feed(leaf_prefix.view());
        if (hoist) part(leaf_prefix, "");
        const Decor& decor = s.item->decor();
        part(decor.prefix, first_header ? "" : "\n");
        out_.append(s.array_element ? "[[" : "[");
        key_path(path, s.path_size, kEmpty, hoist);
        out_.append(s.array_element ? "]]" : "]");
        part(decor.suffix, "");
        end_line(decor.suffix);
    }

    // The lines of a table are its entries that are written as key/value
    // pairs, with keys_ ending in the line's key path while the line is
    // written; dotted tables are entered. A dotted table with no entries is
    // written `a = {}` and an array of tables with no members `a = []`: with
    // no line at all, the key itself would be lost.
    //
    // When dotted tables are flattened into the lines, lines parsed from the
    // source come in source order, as they were written (`a.x = 1`, `b = 2`,
    // `a.y = 3`). The position of a parsed line is where its key stands in the
    // source buffer; a line without one (made in memory) follows the line
    // before it.
    //
    // A cursor is read to its end by next_line before the cursor opened
    // before it is read again: the cursors share dots_, lines_ and
    // line_keys_ as stacks.
    void open_lines(const Table& t, LineCursor& c) {
        c.next = t.entries.begin();
        c.end = t.entries.end();
        c.depth = 0;
        c.keys_base = static_cast<std::uint32_t>(keys_.size());
        c.sorted = false;
        c.yielded = false;
        bool flattened = false;
        for (const Entry& e : t.entries) flattened |= is_dotted(e.item);
        if (!flattened || source_.empty()) return;
        const std::uint32_t lines_begin = static_cast<std::uint32_t>(lines_.size());
        const std::size_t base = keys_.size();
        std::size_t last = 0;
        while (const TreeItem* v = next_entry(c)) {
            std::string_view spelled = keys_.back()->repr().view();
            if (spelled.data() >= source_.data() && spelled.data() < source_.data() + source_.size())
                last = static_cast<std::size_t>(spelled.data() - source_.data());
            lines_.push_back(SortedLine{last, static_cast<std::uint32_t>(line_keys_.size()),
                                        static_cast<std::uint32_t>(keys_.size() - base), v});
            line_keys_.insert(line_keys_.end(), keys_.begin() + static_cast<std::ptrdiff_t>(base),
                              keys_.end());
        }
        std::stable_sort(lines_.begin() + lines_begin, lines_.end(),
                         [](const SortedLine& a, const SortedLine& b) { return a.position < b.position; });
        c.sorted = true;
        c.lines_begin = c.next_line = lines_begin;
        c.lines_end = static_cast<std::uint32_t>(lines_.size());
    }

    // The item of the cursor's next line (keys_ then ends with its key path),
    // or null at the end, with keys_ as it was when the cursor was opened.
    const TreeItem* next_line(LineCursor& c) {
        if (!c.sorted) return next_entry(c);
        keys_.resize(c.keys_base);
        if (c.next_line == c.lines_end) {
            // The keys are dropped with the lines of the outermost cursor.
            lines_.resize(c.lines_begin);
            if (lines_.empty()) line_keys_.clear();
            return nullptr;
        }
        const SortedLine& line = lines_[c.next_line++];
        keys_.insert(keys_.end(), line_keys_.begin() + line.keys_start,
                     line_keys_.begin() + line.keys_start + line.keys_size);
        return line.item;
    }

    // next_line in entry order.
    const TreeItem* next_entry(LineCursor& c) {
        if (c.yielded) {
            keys_.pop_back();
            c.yielded = false;
        }
        for (;;) {
            if (c.next == c.end) {
                if (c.depth == 0) return nullptr;
                c.next = dots_.back().next;
                c.end = dots_.back().end;
                dots_.pop_back();
                --c.depth;
                keys_.pop_back();
                continue;
            }
            const Entry& e = *c.next++;
            const TreeItem& item = e.item;
            const TreeItem* line;
            if (is_dotted(item)) {
                keys_.push_back(&e.key);
                const Table& t = item.as_table();
                if (has_visible(t)) {
                    dots_.push_back(DotFrame{c.next, c.end});
                    c.next = t.entries.begin();
                    c.end = t.entries.end();
                    ++c.depth;
                    continue;
                }
                if (empty_table_.is_none()) empty_table_ = TreeItem::inline_table();
                line = &empty_table_;
            } else if (is_empty_array_of_tables(item)) {
                keys_.push_back(&e.key);
                if (empty_array_.is_none()) empty_array_ = TreeItem::array();
                line = &empty_array_;
            } else if (item.is_value()) {
                keys_.push_back(&e.key);
                line = &item;
            } else {
                continue;
            }
            c.yielded = true;
            return line;
        }
    }

    // The key path of the line being written (keys_ from `base`), spelled as
    // the line itself spelled its dotted keys when it recorded that.
    void line_key_path(std::size_t base, Defaults d, bool ignore_leaf = false) {
        const std::size_t n = keys_.size() - base;
        const Key* leaf = keys_.back();
        const Vector<Key>* written = leaf->written_path();
        if (written && written->size() + 1 == n && same_texts(*written, keys_.data() + base)) {
            spelled_.clear();
            for (const Key& k : *written) spelled_.push_back(&k);
            spelled_.push_back(leaf);
            key_path(spelled_.data(), n, d, ignore_leaf);
            return;
        }
        key_path(keys_.data() + base, n, d, ignore_leaf);
    }

    static bool same_texts(const Vector<Key>& written, const Key* const* path) noexcept {
        for (std::size_t i = 0; i < written.size(); ++i)
            if (written[i].text() != path[i]->text()) return false;
        return true;
    }

    // Whether the table writes a key/value line (see open_lines): a search
    // through the dotted tables, in any order.
    bool has_body(const Table& t) {
        dotted_.clear();
        dotted_.push_back(&t);
        while (!dotted_.empty()) {
            const Table* cur = dotted_.back();
            dotted_.pop_back();
            for (const Entry& e : cur->entries) {
                const TreeItem& item = e.item;
                if (is_dotted(item)) {
                    if (!has_visible(item.as_table())) return true;
                    dotted_.push_back(&item.as_table());
                } else if (item.is_value() || is_empty_array_of_tables(item)) {
                    return true;
                }
            }
        }
        return false;
    }

    // A key path; `ignore_leaf` writes the leaf decor's defaults instead of
    // its recorded text.
    void key_path(const Key* const* keys, std::size_t n, Defaults d, bool ignore_leaf) {
        if (n == 0) {
            assert(!"always at least one key");
            return;
        }
        const Decor& leaf = keys[n - 1]->leaf_decor;
        if (ignore_leaf) {
            out_.append(d.prefix);
        } else {
            part(leaf.prefix, d.prefix);
        }
        if (rec_) rec_->key_start(out_.size());
        for (std::size_t i = 0; i < n; ++i) {
            const Key& k = *keys[i];
            if (i != 0) {
                out_.push_back('.');
                part(k.dotted_decor().prefix, "");
            }
            if (k.repr().is_present()) {
                out_.append(k.repr().view());
            } else {
                append_key_text(out_, k.text());
            }
            if (i + 1 != n) part(k.dotted_decor().suffix, "");
        }
        if (ignore_leaf) {
            out_.append(d.suffix);
        } else {
            part(leaf.suffix, d.suffix);
        }
    }

    // Line endings. Text read from the source is written as it was read,
    // carriage returns and all; this is the one place where the text that
    // has none recorded gets its line breaks. A line read from the source
    // ends as it ended there (its suffix, also when a new value took it
    // over, is followed in the source by the line's break); every other line
    // break is the document's: the line feed after a new line, the defaults
    // (the blank line before a new header) and the "\n" in text made by an
    // edit (owned decor: edits write bare line feeds and leave the rest to
    // this writer) are written "\r\n" in a document whose line breaks are
    // mostly "\r\n" (DocumentRoot::crlf, counted by the parser). So are the
    // line breaks of values an edit brought in (see spelling). In a document
    // of mixed line breaks each recorded text thus keeps its own, and new
    // ones take the majority's; text is only ever given "\r\n" for "\n",
    // never the reverse.
    bool from_source(std::string_view text) const noexcept {
        return text.data() && !source_.empty() && text.data() >= source_.data() &&
               text.data() + text.size() <= source_.data() + source_.size();
    }

    void new_text(std::string_view text) {
        if (!crlf_) {
            out_.append(text);
            return;
        }
        std::size_t from = 0;
        for (std::size_t i = text.find('\n'); i != std::string_view::npos; i = text.find('\n', i + 1)) {
            if (i != 0 && text[i - 1] == '\r') continue;
            out_.append(text.substr(from, i - from));
            out_.append("\r\n");
            from = i + 1;
        }
        out_.append(text.substr(from));
    }

    // A decor part: the recorded text, or the default when absent.
    void part(const RawText& p, std::string_view fallback) {
        if (rec_) {
            const std::size_t from = out_.size();
            write_part(p, fallback);
            rec_->comments(std::string_view(out_.data(), out_.size()), from, out_.size());
            return;
        }
        write_part(p, fallback);
    }

    void write_part(const RawText& p, std::string_view fallback) {
        if (p.is_absent()) {
            new_text(fallback);
        } else if (p.is_owned()) {
            new_text(p.view());
        } else {
            out_.append(p.view());
        }
    }

    // A value's spelling: as it was read, or, when an edit brought it in
    // (owned), with the document's line breaks; the line breaks of a value
    // (in a multi-line string, between the elements of a packed array) read
    // the same either way.
    void spelling(const RawText& text) {
        if (text.is_owned()) {
            new_text(text.view());
        } else {
            out_.append(text.view());
        }
    }

    // The packed run of an array's elements, as spelling() writes it.
    void packed_run(const RawText& text) {
        const std::size_t from = out_.size();
        spelling(text);
        if (rec_) rec_->packed_run(std::string_view(out_.data(), out_.size()), from);
    }

    // The path of a section, for the recorder.
    void record_table(const Section& s) {
        table_path_.clear();
        std::uint32_t node = s.path_node;
        for (std::uint32_t i = 0; i < s.path_size; ++i) {
            const PathNode& n = path_nodes_[node];
            if (n.member != kNoPath) table_path_.push_back(WrittenLayout::Step{{}, n.member, true});
            table_path_.push_back(WrittenLayout::Step{n.key->text(), 0, false});
            node = n.parent;
        }
        std::reverse(table_path_.begin(), table_path_.end());
        rec_->table(table_path_);
    }

    // Ends a key/value line or a header line whose suffix is `suffix`.
    void end_line(const RawText& suffix) {
        std::string_view eol = crlf_ ? "\r\n" : "\n";
        std::string_view s = suffix.view();
        if (!suffix.is_owned() && from_source(s)) {
            const std::size_t at = static_cast<std::size_t>(s.data() - source_.data()) + s.size();
            if (at < source_.size() && source_[at] == '\r') eol = "\r\n";
            if (at < source_.size() && source_[at] == '\n') eol = "\n";
        }
        out_.append(eol);
        line_end_ = out_.size();
        line_break_ = eol.size();
    }

    String& out_;
    LayoutRecorder* rec_;                     // records the layout when not null
    Vector<WrittenLayout::Step> table_path_;  // for rec_
    std::string_view source_;                 // the document's source buffer, if any
    Vector<const Key*> keys_;                 // key path of the entry being written
    Vector<const Key*> spelled_;              // a path spelled by its line or header
    Vector<Section> sections_;
    Vector<PathNode> path_nodes_;      // header paths of sections_, see collect
    Vector<const Key*> header_path_;   // the path of the header being written
    Vector<CollectFrame> collecting_;  // tables entered by collect
    Vector<const Table*> dotted_;      // tables left to search by has_body
    Vector<DotFrame> dots_;            // dotted tables entered by the line cursors
    Vector<SortedLine> lines_;         // lines of sorted cursors, cursor after cursor
    Vector<const Key*> line_keys_;     // their key paths, back to back
    Vector<OpenValue> open_;           // arrays and inline tables being written
    TreeItem empty_table_;             // `{}` and `[]` for empty dotted tables and
    TreeItem empty_array_;             // arrays of tables, made when first needed
    std::int64_t last_sort_key_ = 0;
    std::size_t line_end_ = 0;    // output size after the last line break ending a line
    std::size_t line_break_ = 0;  // the size of that line break
    bool crlf_ = false;           // the document's line breaks are "\r\n"
    String scratch_;              // the canonical text of a string, for new_text
};

}  // namespace

String write_document(const DocumentRoot& doc, WrittenLayout* layout) {
    String out;
    out.reserve(doc.source() ? doc.source()->view().size() + 256 : 256);
    if (layout) {
        LayoutRecorder recorder(*layout);
        Writer(out, &recorder).document(doc);
    } else {
        Writer(out).document(doc);
    }
    return out;
}

bool writes_header(const TreeItem& table, bool member) {
    String unused;
    return Writer(unused).header_written(table, member);
}

Vector<WrittenTable> written_tables(const DocumentRoot& doc) {
    String unused;
    if (!doc.root().is_table()) return {};
    return Writer(unused).tables(doc);
}

String write_item(const TreeItem& item, WrittenLayout* layout) {
    String out;
    std::optional<LayoutRecorder> recorder;
    if (layout) recorder.emplace(*layout);
    Writer w(out, recorder ? &*recorder : nullptr);
    switch (item.kind()) {
        case ItemKind::None: break;
        case ItemKind::Table: w.body(item.as_table()); break;
        case ItemKind::ArrayOfTables: {
            TreeItem array = item;
            array.convert_to_value();
            w.value(array, kEmpty);
            break;
        }
        default: w.value(item, kEmpty); break;
    }
    return out;
}

void count_code_points(std::string_view text, WrittenLayout& layout) {
    const auto multibyte = [](char c) { return (static_cast<unsigned char>(c) & 0x80) != 0; };
    if (std::none_of(text.begin(), text.end(), multibyte)) return;
    Vector<std::size_t*> offsets;
    const auto add = [&](WrittenLayout::Span& span) {
        offsets.push_back(&span.begin);
        offsets.push_back(&span.end);
    };
    for (WrittenLayout::Line& line : layout.lines) add(line.text);
    for (WrittenLayout::ArrayPlace& array : layout.arrays) add(array.text);
    for (WrittenLayout::Span& span : layout.elements) add(span);
    for (WrittenLayout::Span& span : layout.comments) add(span);
    add(layout.value);
    std::sort(offsets.begin(), offsets.end(),
              [](const std::size_t* a, const std::size_t* b) { return *a < *b; });
    // One pass over the text: a code point starts at every byte that is not
    // a continuation byte (10xxxxxx).
    std::size_t byte = 0;
    std::size_t points = 0;
    for (std::size_t* offset : offsets) {
        for (; byte < *offset && byte < text.size(); ++byte)
            if ((static_cast<unsigned char>(text[byte]) & 0xC0) != 0x80) ++points;
        *offset = points;
    }
}

}  // namespace morvelan
