// Writing TOML text from a document tree.
//
// A document is written in one pass over its tables in header order. The
// tables are first collected by a depth-first walk (pointers into the tree
// and their header paths as runs of key pointers in one flat vector), then
// ordered by recorded position. Each table writes its header, when it needs
// one, and then its key/value lines; entries of dotted tables are written in
// their parent's body as dotted keys.
//
// Key paths of the entry being written are kept on one reusable stack, so
// writing an entry allocates nothing once the buffers have grown.
#include "encode.hpp"

#include <algorithm>
#include <cassert>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <utility>

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

// Recorded decor and trailing text: written without carriage returns.
void append_recorded(String& out, std::string_view text) {
    const char* p = text.data();
    std::size_t n = text.size();
    const char* cr = n ? static_cast<const char*>(std::memchr(p, '\r', n)) : nullptr;
    while (cr) {
        out.append(p, static_cast<std::size_t>(cr - p));
        n -= static_cast<std::size_t>(cr - p) + 1;
        p = cr + 1;
        cr = n ? static_cast<const char*>(std::memchr(p, '\r', n)) : nullptr;
    }
    out.append(p, n);
}

// A decor part: the recorded text, or the default when absent.
void append_part(String& out, const RawText& part, std::string_view fallback) {
    if (part.is_present()) {
        append_recorded(out, part.view());
    } else {
        out.append(fallback);
    }
}

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

// A table collected for writing.
struct Section {
    const TreeItem* item;   // the Table item: its decor is the header decor
    std::int64_t sort_key;  // recorded position, or that of the section before it
    std::uint32_t walk_index;
    std::uint32_t path_start;  // into Writer::paths_
    std::uint32_t path_size;   // 0 for the root only
    bool array_element;        // written as [[path]]
};

class Writer {
public:
    explicit Writer(String& out) : out_(out) {}

    void document(const DocumentRoot& doc) {
        const TreeItem& root = doc.root();
        if (!root.is_table()) {
            assert(!"root should always be a table");
            return;
        }
        append_part(out_, root.decor().prefix, "");
        if (doc.source()) source_ = std::string_view(doc.source()->data(), doc.source()->size());

        collect(root, false);
        sort_sections();
        bool first_header = true;
        for (const Section& s : sections_) {
            const Table& t = s.item->as_table();
            if (s.path_size == 0) {
                if (has_body(t)) first_header = false;
            } else if (s.array_element || !t.implicit || has_body(t) || !has_visible(t)) {
                // An implicit table left with nothing in it still exists: without
                // its header it would vanish from the text.
                header(s, first_header);
                first_header = false;
            }
            body(t);
        }

        // The source ended without a line feed: leave out the one written
        // after the last line, as long as nothing follows it.
        const RawText& root_suffix = root.decor().suffix;
        if (doc.no_final_newline && doc.trailing.empty() && root_suffix.empty() && line_end_ != 0 &&
            line_end_ == out_.size()) {
            out_.pop_back();
        }
        append_part(out_, root_suffix, "");
        append_part(out_, doc.trailing, "");
    }

    // Key/value lines of a table, without header or sub-tables.
    void body(const Table& t) {
        const std::size_t base = keys_.size();
        for_each_line(t, [&](const TreeItem& v) {
            // The key of an array of tables carries the spacing of its header
            // brackets: not that of a key/value line.
            line_key_path(base, kBodyKey, &v == &empty_array_);
            out_.push_back('=');
            value(v, kBodyValue);
            end_line();
        });
    }

    void value(const TreeItem& v, Defaults d) {
        append_part(out_, v.decor().prefix, d.prefix);
        const SourceRepr& repr = v.repr();
        if (v.is_scalar() && repr.is_present()) {
            out_.append(repr.view());
            append_part(out_, v.decor().suffix, d.suffix);
            return;
        }
        switch (v.kind()) {
            case ItemKind::String: append_string_text(out_, v.as_string()); break;
            case ItemKind::Integer: append_integer_text(out_, v.as_integer()); break;
            case ItemKind::Float: append_float_text(out_, v.as_float()); break;
            case ItemKind::Boolean: append_bool_text(out_, v.as_bool()); break;
            case ItemKind::Datetime: append_datetime(out_, v.as_datetime()); break;
            case ItemKind::Array: array(v.as_array()); break;
            case ItemKind::InlineTable: inline_table(v.as_table()); break;
            case ItemKind::None:
            case ItemKind::Table:
            case ItemKind::ArrayOfTables: break;
        }
        append_part(out_, v.decor().suffix, d.suffix);
    }

private:
    // Depth-first walk from `item` (a Table), collecting with its header path
    // (path_stack_) every table that is not dotted. Members of an array of
    // tables always get a header: their entries have nowhere else to go.
    void collect(const TreeItem& item, bool array_element) {
        const Table& t = item.as_table();
        if (!t.dotted || array_element) {
            const std::int64_t key = t.doc_position ? *t.doc_position : last_sort_key_;
            last_sort_key_ = key;
            sections_.push_back(Section{&item, key, static_cast<std::uint32_t>(sections_.size()),
                                        static_cast<std::uint32_t>(paths_.size()),
                                        static_cast<std::uint32_t>(path_stack_.size()), array_element});
            paths_.insert(paths_.end(), path_stack_.begin(), path_stack_.end());
        }
        for (const Entry& e : t.entries) {
            if (e.item.is_table()) {
                path_stack_.push_back(&e.key);
                collect(e.item, false);
                path_stack_.pop_back();
            } else if (e.item.is_array_of_tables()) {
                path_stack_.push_back(&e.key);
                for (const TreeItem& member : e.item.as_array_of_tables().values) {
                    if (member.is_table()) collect(member, true);
                }
                path_stack_.pop_back();
            }
        }
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
        const Key* const* path = paths_.data() + s.path_start;
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
        if (hoist) append_recorded(out_, leaf_prefix.view());
        const Decor& decor = s.item->decor();
        append_part(out_, decor.prefix, first_header ? "" : "\n");
        out_.append(s.array_element ? "[[" : "[");
        key_path(path, s.path_size, kEmpty, hoist);
        out_.append(s.array_element ? "]]" : "]");
        append_part(out_, decor.suffix, "");
        end_line();
    }

    // Calls f(item) for every entry that is written as a key/value pair,
    // with keys_ ending in the entry's key path; dotted tables are entered.
    // A dotted table with no entries is written `a = {}` and an array of
    // tables with no members `a = []`: with no line at all, the key itself
    // would be lost.
    template <class F>
    void for_each_entry(const Table& t, F&& f) {
        for (const Entry& e : t.entries) {
            const TreeItem& item = e.item;
            if (is_dotted(item)) {
                keys_.push_back(&e.key);
                if (has_visible(item.as_table())) {
                    for_each_entry(item.as_table(), f);
                } else {
                    if (empty_table_.is_none()) empty_table_ = TreeItem::inline_table();
                    f(std::as_const(empty_table_));
                }
                keys_.pop_back();
            } else if (is_empty_array_of_tables(item)) {
                keys_.push_back(&e.key);
                if (empty_array_.is_none()) empty_array_ = TreeItem::array();
                f(std::as_const(empty_array_));
                keys_.pop_back();
            } else if (item.is_value()) {
                keys_.push_back(&e.key);
                f(item);
                keys_.pop_back();
            }
        }
    }

    // Like for_each_entry, but when dotted tables are flattened into the
    // lines, lines parsed from the source come in source order, as they were
    // written (`a.x = 1`, `b = 2`, `a.y = 3`). The position of a parsed line
    // is where its key stands in the source buffer; a line without one (made
    // in memory) follows the line before it.
    template <class F>
    void for_each_line(const Table& t, F&& f) {
        bool flattened = false;
        for (const Entry& e : t.entries) flattened |= is_dotted(e.item);
        if (!flattened || source_.empty()) {
            for_each_entry(t, f);
            return;
        }
        struct Line {
            std::size_t position;
            std::size_t keys_start;
            std::size_t keys_size;
            const TreeItem* item;
        };
        Vector<Line> lines;
        Vector<const Key*> keys;
        const std::size_t base = keys_.size();
        std::size_t last = 0;
        for_each_entry(t, [&](const TreeItem& v) {
            std::string_view spelled = keys_.back()->repr().view();
            if (spelled.data() >= source_.data() && spelled.data() < source_.data() + source_.size())
                last = static_cast<std::size_t>(spelled.data() - source_.data());
            lines.push_back(Line{last, keys.size(), keys_.size() - base, &v});
            keys.insert(keys.end(), keys_.begin() + static_cast<std::ptrdiff_t>(base), keys_.end());
        });
        std::stable_sort(lines.begin(), lines.end(),
                         [](const Line& a, const Line& b) { return a.position < b.position; });
        for (const Line& line : lines) {
            keys_.insert(keys_.end(), keys.begin() + static_cast<std::ptrdiff_t>(line.keys_start),
                         keys.begin() + static_cast<std::ptrdiff_t>(line.keys_start + line.keys_size));
            f(*line.item);
            keys_.resize(base);
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

    // Whether the table writes a key/value line (see for_each_entry).
    static bool has_body(const Table& t) noexcept {
        for (const Entry& e : t.entries) {
            const TreeItem& item = e.item;
            if (is_dotted(item) ? !has_visible(item.as_table()) || has_body(item.as_table())
                                : item.is_value() || is_empty_array_of_tables(item))
                return true;
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
            append_part(out_, leaf.prefix, d.prefix);
        }
        for (std::size_t i = 0; i < n; ++i) {
            const Key& k = *keys[i];
            if (i != 0) {
                out_.push_back('.');
                append_part(out_, k.dotted_decor().prefix, "");
            }
            if (k.repr().is_present()) {
                out_.append(k.repr().view());
            } else {
                append_key_text(out_, k.text());
            }
            if (i + 1 != n) append_part(out_, k.dotted_decor().suffix, "");
        }
        if (ignore_leaf) {
            out_.append(d.suffix);
        } else {
            append_part(out_, leaf.suffix, d.suffix);
        }
    }

    void array(const Array& a) {
        out_.push_back('[');
        if (a.packed()) {
            // The elements as they were read (the text holds no carriage return).
            out_.append(a.packed_text());
            if (a.trailing_comma) out_.push_back(',');
            append_part(out_, a.trailing, "");
            out_.push_back(']');
            return;
        }
        bool first = true;
        for (const TreeItem& v : a.items()) {
            if (v.is_none()) continue;
            if (!first) out_.push_back(',');
            value(v, first ? kEmpty : kLaterElement);
            first = false;
        }
        if (a.trailing_comma && !first) out_.push_back(',');
        append_part(out_, a.trailing, "");
        out_.push_back(']');
    }

    void inline_table(const Table& t) {
        out_.push_back('{');
        const std::size_t base = keys_.size();
        bool any = false;
        bool last_suffix_absent = false;
        for_each_line(t, [&](const TreeItem& v) {
            if (any) out_.push_back(',');
            any = true;
            line_key_path(base, kInlineKey);
            out_.push_back('=');
            value(v, kInlineValue);
            last_suffix_absent = v.decor().suffix.is_absent();
        });
        // The last value's default suffix is one space rather than none; it
        // is added here, where the value's suffix ends, so that the entries
        // need not be counted first.
        if (last_suffix_absent) out_.push_back(' ');
        if (t.trailing_comma && any) out_.push_back(',');
        append_part(out_, t.trailing, "");
        out_.push_back('}');
    }

    void end_line() {
        out_.push_back('\n');
        line_end_ = out_.size();
    }

    String& out_;
    std::string_view source_;     // the document's source buffer, if any
    Vector<const Key*> keys_;     // key path of the entry being written
    Vector<const Key*> spelled_;  // a path spelled by its line or header
    Vector<Section> sections_;
    Vector<const Key*> paths_;       // header paths of sections_, back to back
    Vector<const Key*> path_stack_;  // path of the table being walked
    TreeItem empty_table_;           // `{}` and `[]` for empty dotted tables and
    TreeItem empty_array_;           // arrays of tables, made when first needed
    std::int64_t last_sort_key_ = 0;
    std::size_t line_end_ = 0;  // output size after the last line feed ending a line
};

}  // namespace

String write_document(const DocumentRoot& doc) {
    String out;
    out.reserve(doc.source() ? doc.source()->size() + 256 : 256);
    Writer(out).document(doc);
    return out;
}

String write_item(const TreeItem& item) {
    String out;
    Writer w(out);
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

}  // namespace morvelan
