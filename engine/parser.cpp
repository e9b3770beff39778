#include "parser.hpp"

#include <cstring>
#include <limits>

#include "decoder.hpp"
#include "lexer.hpp"
#include "thread_stack.hpp"

// Marks a function the compiler must not inline into its callers.
#if defined(__GNUC__)
#define MORVELAN_OUT_OF_LINE [[gnu::noinline]]
#elif defined(_MSC_VER)
#define MORVELAN_OUT_OF_LINE __declspec(noinline)
#else
#define MORVELAN_OUT_OF_LINE
#endif

namespace morvelan {

namespace {

// Calibration of the stack check. A level of nesting takes about 430 bytes
// of stack in release builds for an array (parse_value and read_array; the
// scalars and the error reports are kept out of these frames) and 230 for an
// inline table, 2,240 and 1,340 with the sanitizers: the deepest document
// (80 arrays) needs about 34 KiB of stack below the parse, 180 KiB with the
// sanitizers. The reserve is what the innermost level needs below its check:
// its own frames and the work on a scalar, a key path, an insert or an error
// report, with the allocator's first call on a thread; at most 4.2 KiB was
// seen in release builds and 10.1 KiB with the sanitizers, reserved about
// twice over.
constexpr std::size_t kStackReserve = kLargeFrames ? 24 * 1024 : 8 * 1024;

Expected lit(std::string_view t) { return Expected::literal(t); }
Expected desc(std::string_view t) { return Expected::description(t); }

bool is_ws(char c) noexcept { return c == ' ' || c == '\t'; }

// Reads TOML text and builds the tree. Errors go to the collector; after the
// first one the parser unwinds without building further.
class Parser {
public:
    explicit Parser(std::string_view in) : in_(in), n_(in.size()) {}

    ErrorCollector errors;

    void parse_document(DocumentRoot& doc);
    bool parse_single_value(TreeItem& out);
    bool next_packed_element(TreeItem& out);
    std::size_t position() const noexcept { return pos_; }

private:
    // ---- low-level reading ----
    char peek(std::size_t at) const noexcept { return at < n_ ? in_[at] : '\0'; }
    bool at_end() const noexcept { return pos_ >= n_; }
    RawText piece(std::size_t start, std::size_t end) const noexcept {
        return RawText::piece(in_.substr(start, end - start));
    }
    Span span_at(std::size_t at) const noexcept { return {at, at < n_ ? at + 1 : at}; }
    // Where a parsed key stands in the input (its spelling is a piece of it).
    Span key_span(const Key& k) const noexcept {
        std::size_t s = static_cast<std::size_t>(k.repr().view().data() - in_.data());
        return {s, s + k.repr().size()};
    }
    void skip_ws() noexcept {
        while (pos_ < n_ && is_ws(in_[pos_])) ++pos_;
    }
    // Spaces, tabs, comments and line endings.
    void skip_layout() {
        while (pos_ < n_) {
            char c = in_[pos_];
            if (is_ws(c) || c == '\n') {
                ++pos_;
            } else if (c == '\r') {
                pos_ = scan_newline(in_, pos_, errors);
            } else if (c == '#') {
                pos_ = scan_comment(in_, pos_, errors);
            } else {
                break;
            }
        }
    }
    // Spaces, tabs and an optional comment, up to the line ending.
    void skip_line_rest() {
        skip_ws();
        if (pos_ < n_ && in_[pos_] == '#') pos_ = scan_comment(in_, pos_, errors);
    }
    // At the end of a statement: a line ending or the end of input.
    bool expect_line_end() {
        if (pos_ >= n_) return true;
        char c = in_[pos_];
        if (c == '\n') {
            ++pos_;
            return true;
        }
        if (c == '\r') {
            pos_ = scan_newline(in_, pos_, errors);
            return !errors.has_error();
        }
        errors.report("unexpected key or value", {Expected::literal("\n"), lit("#")}, span_at(pos_));
        return false;
    }

    // ---- keys ----
    enum class KeyContext { Statement, Header, Inline };
    bool parse_key(Key& out, KeyContext ctx);
    bool parse_key_path(Vector<Key>& keys, KeyContext ctx);

    // ---- values ----
    bool parse_value(TreeItem& out, KeyContext ctx);
    bool parse_array(TreeItem& out);
    // Reads an array's elements and closing bracket. With `pack` set the
    // elements are checked but not kept, and the array is packed; Retry
    // says that it cannot be (pos_ is then somewhere inside it).
    enum class ArrayRead { Done, Retry, Failed };
    ArrayRead read_array(Array& arr, bool pack);
    // The element buffer of the array being read at this depth, emptied.
    MORVELAN_OUT_OF_LINE Vector<TreeItem>& item_buffer();
    // Reports what is wrong at pos_ inside an array: at the end of the
    // input, or a token that cannot come after an element (`after_element`)
    // or before one.
    MORVELAN_OUT_OF_LINE void array_problem(bool after_element);
    // What a read array ends with: its elements' text packed, or the kept
    // elements moved into it.
    MORVELAN_OUT_OF_LINE void pack_array(Array& arr, std::size_t start, std::size_t end, std::size_t count);
    MORVELAN_OUT_OF_LINE void keep_elements(Array& arr, Vector<TreeItem>& values);
    MORVELAN_OUT_OF_LINE TreeItem& new_element(Vector<TreeItem>& values) { return values.emplace_back(); }
    bool parse_inline_table(TreeItem& out);
    // The key path of an inline table's entry and its `=`; null after an
    // error. The keys are the buffer of this depth.
    MORVELAN_OUT_OF_LINE Vector<Key>* inline_entry_key(std::size_t text_start);
    // Reports what is wrong at pos_ inside an inline table: at the end of
    // the input, or a token that cannot come after an entry (`after_entry`)
    // or before one.
    MORVELAN_OUT_OF_LINE void inline_table_problem(bool after_entry);
    // The scalars, out of line: the functions that recurse keep small frames.
    MORVELAN_OUT_OF_LINE bool parse_string_value(TreeItem& out);
    MORVELAN_OUT_OF_LINE bool parse_bare_value(TreeItem& out, KeyContext ctx);
    bool enter_nesting(std::size_t at) {
        if (depth_ >= kMaxNesting) {
            errors.report("recursion limit", span_at(at));
            return false;
        }
        // The thread's stack must hold this level and what the levels
        // inside it do; a larger stack reads the text.
        if (!stack_) stack_ = &this_thread_stack();
        if (stack_left(*stack_) < kStackReserve) {
            errors.report_out_of_stack(span_at(at));
            return false;
        }
        ++depth_;
        return true;
    }

    // ---- statements ----
    void parse_key_value_line(std::size_t prefix_start);
    void parse_header(std::size_t prefix_start);
    void finish_open_table();
    void pin_header_spelling(Table& table, Vector<const Key*>& path);
    // Walks a dotted key path from `table` down to the table that receives
    // the last key; null after an error.
    Table* walk_dotted(Table* table, Vector<Key>& keys, bool is_inline);
    // Inserts the last key of `keys` with `value` into `target`.
    bool insert_leaf(Table* target, Vector<Key>& keys, TreeItem&& value);

    // The buffers of each depth stay where they are while deeper ones are
    // added: references to them are held across the nested calls.
    Vector<Key>& key_buffer() {
        if (key_bufs_.capacity() == 0) key_bufs_.reserve(kMaxNesting + 2);
        if (key_bufs_.size() <= depth_) key_bufs_.resize(depth_ + 1);
        Vector<Key>& v = key_bufs_[depth_];
        v.clear();
        return v;
    }

    std::string_view in_;
    std::size_t n_;
    std::size_t pos_ = 0;
    std::size_t depth_ = 0;
    const ThreadStack* stack_ = nullptr;  // the thread's, once a level is opened
    String scratch_;
    TreeItem scalar_;  // the element being checked while an array is packed
    Vector<Vector<Key>> key_bufs_;
    Vector<Vector<TreeItem>> item_bufs_;
    Vector<std::uint32_t> marks_;  // of the packed array being read

    // Document state.
    DocumentRoot* doc_ = nullptr;
    Table* current_ = nullptr;   // receives key/value lines
    std::int32_t position_ = 0;  // header counter
    // A standard table opened by a header, inserted into its parent when the
    // next header or the end of input finishes it.
    TreeItem open_table_;
    Table* open_parent_ = nullptr;
    Key open_key_;
};

// ----------------------------------------------------------------------------
// Keys

bool Parser::parse_key(Key& out, KeyContext ctx) {
    std::size_t start = pos_;
    char c = peek(pos_);
    if (c == '"' || c == '\'') {
        DecodedString ds;
        std::size_t end = scan_string(in_, pos_, errors, scratch_, ds);
        if (errors.has_error()) return false;
        if (ds.style == StringStyle::MultiLineBasic || ds.style == StringStyle::MultiLineLiteral) {
            errors.report(ds.style == StringStyle::MultiLineBasic
                              ? "keys cannot be multi-line basic strings"
                              : "keys cannot be multi-line literal strings",
                          {desc("basic string"), desc("literal string")}, Span{start, end});
            return false;
        }
        RawText text = ds.rewritten ? RawText::owned(ds.text) : RawText::piece(ds.text);
        out = Key(std::move(text), piece(start, end));
        pos_ = end;
        return true;
    }
    const std::size_t p = scan_bare_key(in_, pos_);
    if (p == start) {
        // Nothing that can start a key.
        switch (ctx) {
            case KeyContext::Header: errors.report("invalid table", {desc("key")}, span_at(start)); break;
            case KeyContext::Inline:
                errors.report("missing key for inline table element", {desc("key")}, span_at(start));
                break;
            case KeyContext::Statement:
                if (c == '.' || is_ws(c) || c == '=')
                    errors.report("unquoted keys cannot be empty",
                                  {desc("letters"), desc("numbers"), lit("-"), lit("_")}, span_at(start));
                else
                    errors.report("invalid key-value pair", {desc("key")}, span_at(start));
                break;
        }
        return false;
    }
    if (p < n_) {
        char d = in_[p];
        if (!(is_ws(d) || d == '.' || d == '=' || d == ']' || d == '}' || d == ',' || d == '#' || d == '\n' ||
              d == '\r')) {
            errors.report("invalid unquoted key", {desc("letters"), desc("numbers"), lit("-"), lit("_")},
                          span_at(p));
            return false;
        }
    }
    RawText text = piece(start, p);
    out = Key(text, text);
    pos_ = p;
    return true;
}

// key ( ws "." ws key )*  -- the caller has consumed the whitespace before it
// and takes the whitespace after it.
bool Parser::parse_key_path(Vector<Key>& keys, KeyContext ctx) {
    keys.emplace_back();
    if (!parse_key(keys.back(), ctx)) return false;
    for (;;) {
        std::size_t ws_start = pos_;
        skip_ws();
        if (peek(pos_) != '.') {
            pos_ = ws_start;
            return true;
        }
        if (keys.size() >= kMaxKeyPath) {
            errors.report("recursion limit", span_at(pos_));
            return false;
        }
        if (pos_ > ws_start) keys.back().dotted_decor_mut().suffix = piece(ws_start, pos_);
        ++pos_;  // '.'
        std::size_t after_dot = pos_;
        skip_ws();
        std::size_t key_start = pos_;
        char c = peek(pos_);
        if (!(c == '"' || c == '\'' || is_bare_key_char(static_cast<unsigned char>(c)))) {
            errors.report("unquoted keys cannot be empty",
                          {desc("letters"), desc("numbers"), lit("-"), lit("_")}, span_at(pos_));
            return false;
        }
        keys.emplace_back();
        if (!parse_key(keys.back(), ctx)) return false;
        if (key_start > after_dot) keys.back().dotted_decor_mut().prefix = piece(after_dot, key_start);
    }
}

// ----------------------------------------------------------------------------
// Values

bool Parser::parse_value(TreeItem& out, KeyContext ctx) {
    const char c = peek(pos_);
    if (c == '[') return parse_array(out);
    if (c == '{') return parse_inline_table(out);
    if (c == '"' || c == '\'') return parse_string_value(out);
    return parse_bare_value(out, ctx);
}

bool Parser::parse_string_value(TreeItem& out) {
    const std::size_t start = pos_;
    DecodedString ds;
    const std::size_t end = scan_string(in_, pos_, errors, scratch_, ds);
    if (errors.has_error()) return false;
    RawText text = ds.rewritten ? RawText::owned(ds.text) : RawText::piece(ds.text);
    out = TreeItem::string(std::move(text), piece(start, end));
    pos_ = end;
    return true;
}

bool Parser::parse_bare_value(TreeItem& out, KeyContext ctx) {
    const std::size_t start = pos_;
    const std::size_t p = scan_bare_value(in_, start);
    if (p == start) {
        char c = peek(start);
        if (start >= n_ || c == '\n' || c == '\r' || c == '#') {
            if (ctx == KeyContext::Inline)
                errors.report("missing value", {desc("value")}, span_at(start));
            else
                errors.report("missing value for key", span_at(start));
        } else if (c == ']') {
            errors.report("missing array opening", {lit("[")}, span_at(start));
        } else if (c == '}') {
            errors.report("missing inline table opening", {lit("{")}, span_at(start));
        } else if (c == '=') {
            if (ctx == KeyContext::Inline)
                errors.report("extra assignment between key-value pairs", {desc("value")}, span_at(start));
            else
                errors.report("extra `=`", {}, span_at(start));
        } else if (c == ',' && ctx == KeyContext::Inline) {
            errors.report("extra comma in inline table", {desc("value")}, span_at(start));
        } else {
            errors.report("missing value", {desc("value")}, span_at(start));
        }
        return false;
    }
    BareScalar bs;
    decode_bare_scalar(in_, Span{start, p}, errors, bs);
    if (errors.has_error()) return false;
    RawText repr = piece(start, p);
    switch (bs.kind) {
        case ScalarKind::Integer: out = TreeItem::integer(bs.integer, std::move(repr)); break;
        case ScalarKind::Float: out = TreeItem::floating(bs.floating, std::move(repr)); break;
        case ScalarKind::Boolean: out = TreeItem::boolean(bs.boolean, std::move(repr)); break;
        case ScalarKind::Datetime: out = TreeItem::datetime(bs.datetime, std::move(repr)); break;
    }
    pos_ = p;
    return true;
}

bool Parser::parse_array(TreeItem& out) {
    const std::size_t open = pos_;
    if (!enter_nesting(open)) return false;
    out = TreeItem::array();
    Array& arr = out.as_array();
    // An array of scalars is read without keeping its elements and packed
    // (see array.hpp). One that turns out to hold an array or an inline
    // table is read again from its start, keeping every element.
    ArrayRead r = read_array(arr, true);
    if (r == ArrayRead::Retry) {
        pos_ = open;
        r = read_array(arr, false);
    }
    if (r == ArrayRead::Failed) return false;
    --depth_;
    return true;
}

Vector<TreeItem>& Parser::item_buffer() {
    if (item_bufs_.capacity() == 0) item_bufs_.reserve(kMaxNesting + 2);
    if (item_bufs_.size() <= depth_) item_bufs_.resize(depth_ + 1);
    Vector<TreeItem>& values = item_bufs_[depth_];
    values.clear();
    return values;
}

void Parser::array_problem(bool after_element) {
    if (at_end()) {
        errors.report("unclosed array", {lit("]")}, span_at(pos_));
        return;
    }
    const char c = in_[pos_];
    if (after_element)
        errors.report("missing comma between array elements", {lit(",")}, span_at(pos_));
    else if (c == ',')
        errors.report("extra comma in array", {desc("value")}, span_at(pos_));
    else
        errors.report("unexpected `=` in array", {desc("value"), lit("]")}, span_at(pos_));
}

Parser::ArrayRead Parser::read_array(Array& arr, bool pack) {
    // Kept elements are gathered in a buffer reused across arrays of this
    // depth, then moved into a vector of exactly their number.
    Vector<TreeItem>& values = item_buffer();
    marks_.clear();
    std::size_t count = 0;
    const std::size_t elements_start = ++pos_;
    std::size_t elements_end = pos_;
    std::size_t text_start = pos_;
    bool after_comma = false;
    for (;;) {
        skip_layout();
        if (errors.has_error()) return ArrayRead::Failed;
        const char c = peek(pos_);
        if (c == ']' && !at_end()) {
            // An empty array, or text after a final comma.
            arr.trailing = piece(text_start, pos_);
            arr.trailing_comma = after_comma;
            ++pos_;
            break;
        }
        if (at_end() || c == ',' || c == '=') {
            array_problem(false);
            return ArrayRead::Failed;
        }
        if (pack && (c == '[' || c == '{')) return ArrayRead::Retry;
        if (pack && count != 0 && count % Array::kMarkEvery == 0 && text_start - elements_start < UINT32_MAX)
            marks_.push_back(static_cast<std::uint32_t>(text_start - elements_start));
        std::size_t value_start = pos_;
        // While packing, no element opens a level: one scalar serves every depth.
        TreeItem& v = pack ? scalar_ : new_element(values);
        if (!parse_value(v, KeyContext::Statement)) return ArrayRead::Failed;
        std::size_t suffix_start = pos_;
        skip_layout();
        if (errors.has_error()) return ArrayRead::Failed;
        if (pack) {
            scalar_ = TreeItem();
            ++count;
        } else {
            v.decor().prefix = piece(text_start, value_start);
            v.decor().suffix = piece(suffix_start, pos_);
        }
        elements_end = pos_;
        const char d = peek(pos_);
        if (d == ',' && !at_end()) {
            ++pos_;
            text_start = pos_;
            after_comma = true;
            continue;
        }
        if (d == ']' && !at_end()) {
            arr.trailing = RawText();
            arr.trailing_comma = false;
            ++pos_;
            break;
        }
        array_problem(true);
        return ArrayRead::Failed;
    }
    if (pack) {
        if (count > UINT32_MAX) return ArrayRead::Retry;
        pack_array(arr, elements_start, elements_end, count);
    } else {
        keep_elements(arr, values);
    }
    return ArrayRead::Done;
}

void Parser::pack_array(Array& arr, std::size_t start, std::size_t end, std::size_t count) {
    if (count > 0) arr.pack(RawText::piece(in_.substr(start, end - start)), count, std::move(marks_));
    marks_ = Vector<std::uint32_t>();
}

void Parser::keep_elements(Array& arr, Vector<TreeItem>& values) {
    Elements& items = arr.items();
    items.reserve(values.size());
    for (TreeItem& v : values) items.push_back(std::move(v));
    values.clear();
}

Vector<Key>* Parser::inline_entry_key(std::size_t text_start) {
    const std::size_t key_start = pos_;
    Vector<Key>& keys = key_buffer();
    if (!parse_key_path(keys, KeyContext::Inline)) return nullptr;
    keys.back().leaf_decor.prefix = piece(text_start, key_start);
    const std::size_t ws = pos_;
    skip_ws();
    keys.back().leaf_decor.suffix = piece(ws, pos_);
    if (peek(pos_) != '=') {
        if (peek(pos_) == ',')
            errors.report("extra comma in inline table", {lit("=")}, span_at(pos_));
        else
            errors.report("missing assignment between key-value pairs", {lit("=")}, span_at(pos_));
        return nullptr;
    }
    ++pos_;
    return &keys;
}

void Parser::inline_table_problem(bool after_entry) {
    if (at_end()) {
        errors.report("unclosed inline table", {lit("}")}, span_at(pos_));
        return;
    }
    const char c = in_[pos_];
    if (!after_entry)
        errors.report("extra comma in inline table", {desc("key")}, span_at(pos_));
    else if (c == '=')
        errors.report("extra assignment between key-value pairs", {lit(",")}, span_at(pos_));
    else
        errors.report("missing comma between key-value pairs", {lit(",")}, span_at(pos_));
}

bool Parser::parse_inline_table(TreeItem& out) {
    const std::size_t open = pos_;
    if (!enter_nesting(open)) return false;
    out = TreeItem::inline_table();
    Table& tab = out.as_table();
    ++pos_;
    std::size_t text_start = pos_;
    bool after_comma = false;
    for (;;) {
        skip_layout();
        if (errors.has_error()) return false;
        const char c = peek(pos_);
        if (c == '}' && !at_end()) {
            tab.trailing = piece(text_start, pos_);
            tab.trailing_comma = after_comma;
            ++pos_;
            break;
        }
        if (at_end() || c == ',') {
            inline_table_problem(false);
            return false;
        }
        Vector<Key>* keys = inline_entry_key(text_start);
        if (!keys) return false;
        const std::size_t value_prefix = pos_;
        skip_ws();
        const std::size_t value_start = pos_;
        TreeItem value;
        if (!parse_value(value, KeyContext::Inline)) return false;
        value.decor().prefix = piece(value_prefix, value_start);
        const std::size_t suffix_start = pos_;
        skip_layout();
        if (errors.has_error()) return false;
        value.decor().suffix = piece(suffix_start, pos_);
        Table* target = walk_dotted(&tab, *keys, true);
        if (!target || !insert_leaf(target, *keys, std::move(value))) return false;
        const char d = peek(pos_);
        if (d == ',' && !at_end()) {
            ++pos_;
            text_start = pos_;
            after_comma = true;
            continue;
        }
        if (d == '}' && !at_end()) {
            tab.trailing = RawText();
            tab.trailing_comma = false;
            ++pos_;
            break;
        }
        inline_table_problem(true);
        return false;
    }
    tab.entries.shrink_to_fit();
    --depth_;
    return true;
}

// ----------------------------------------------------------------------------
// Tables and keys

Table* Parser::walk_dotted(Table* table, Vector<Key>& keys, bool is_inline) {
    // Set when this line spells a key of an existing table differently from
    // the key stored with that table; the leaf then keeps the line's spelling.
    bool differs = false;
    Vector<Key> written;
    for (std::size_t i = 0; i + 1 < keys.size(); ++i) {
        Key& k = keys[i];
        Entry* e = table->entries.get(k.text());
        if (!e) {
            TreeItem t = is_inline ? TreeItem::inline_table() : TreeItem::table();
            Table* child = &t.as_table();
            child->implicit = true;
            child->dotted = true;
            if (differs) written.push_back(k);
            table->entries.append(std::move(k), std::move(t));
            table = child;
            continue;
        }
        TreeItem& it = e->item;
        if (is_inline ? it.is_inline_table() : it.is_table()) {
            Table& t = it.as_table();
            if (!t.implicit) {
                errors.report("duplicate key", key_span(k));
                return nullptr;
            }
            t.dotted = true;
            if (!differs && !k.same_form(e->key, false)) {
                differs = true;
                for (std::size_t j = 0; j < i; ++j) written.push_back(keys[j]);
            }
            if (differs) written.push_back(k);
            table = &t;
            continue;
        }
        if (it.is_value()) {
            String msg;
            msg.append("cannot extend value of type ");
            msg.append(kind_name(it.kind()));
            msg.append(" with a dotted key");
            errors.report(std::string_view(msg.data(), msg.size()), key_span(k));
        } else {
            errors.report("duplicate key", key_span(k));
        }
        return nullptr;
    }
    if (differs) keys.back().set_written_path(std::move(written));
    return table;
}

bool Parser::insert_leaf(Table* target, Vector<Key>& keys, TreeItem&& value) {
    Key& leaf = keys.back();
    if (target->entries.try_append(std::move(leaf), std::move(value))) return true;
    errors.report("duplicate key", key_span(leaf));
    return false;
}

// ----------------------------------------------------------------------------
// Statements

void Parser::parse_key_value_line(std::size_t prefix_start) {
    std::size_t key_start = pos_;
    Vector<Key>& keys = key_buffer();
    if (!parse_key_path(keys, KeyContext::Statement)) return;
    keys.back().leaf_decor.prefix = piece(prefix_start, key_start);
    std::size_t ws = pos_;
    skip_ws();
    keys.back().leaf_decor.suffix = piece(ws, pos_);
    if (peek(pos_) != '=') {
        errors.report("key with no value", {lit("=")}, span_at(pos_));
        return;
    }
    ++pos_;
    std::size_t value_prefix = pos_;
    skip_ws();
    std::size_t value_start = pos_;
    TreeItem value;
    if (!parse_value(value, KeyContext::Statement)) return;
    value.decor().prefix = piece(value_prefix, value_start);
    std::size_t suffix_start = pos_;
    skip_line_rest();
    if (errors.has_error()) return;
    value.decor().suffix = piece(suffix_start, pos_);
    if (!expect_line_end()) return;
    Table* target = walk_dotted(current_, keys, false);
    if (target) insert_leaf(target, keys, std::move(value));
}

// The standard table under `key` in `t`, or null.
const Table* table_at(const Table& t, std::string_view key) noexcept {
    const Entry* e = t.entries.get(key);
    return e && e->item.is_table() ? &e->item.as_table() : nullptr;
}

// Gives the standard tables and arrays of tables of a parsed document the
// room of their entries only: a table's entries come from lines anywhere in
// the document (a dotted key, a later header), so they are only known to be
// complete at the end. Inline tables do this when they close.
void shrink_tables(Table& root) {
    Vector<Table*> todo{&root};
    while (!todo.empty()) {
        Table* t = todo.back();
        todo.pop_back();
        t->entries.shrink_to_fit();
        for (Entry& e : t->entries) {
            if (e.item.is_table()) {
                todo.push_back(&e.item.as_table());
            } else if (e.item.is_array_of_tables()) {
                Elements& members = e.item.as_array_of_tables().values;
                members.shrink_to_fit();
                for (TreeItem& m : members) todo.push_back(&m.as_table());
            }
        }
    }
}

// Depth first over the tables below `table` (sub-tables and members of
// arrays of tables), with `path` their header paths.
void Parser::pin_header_spelling(Table& table, Vector<const Key*>& path) {
    struct Frame {
        Table* table;
        std::size_t entry;   // the entry being looked at
        std::size_t member;  // its next member, when it is an array of tables
    };
    const std::size_t bottom = path.size();
    Vector<Frame> stack;
    stack.push_back(Frame{&table, 0, 0});
    while (!stack.empty()) {
        Frame& f = stack.back();
        if (f.entry == f.table->entries.size()) {
            stack.pop_back();
            if (path.size() > bottom) path.pop_back();
            continue;
        }
        Entry& e = f.table->entries.at(f.entry);
        Table* child = nullptr;
        if (e.item.is_table()) {
            child = &e.item.as_table();
            ++f.entry;
        } else if (e.item.is_array_of_tables() && f.member < e.item.as_array_of_tables().size()) {
            child = &e.item.as_array_of_tables().values[f.member++].as_table();
        } else {
            f.member = 0;
            ++f.entry;
            continue;
        }
        path.push_back(&e.key);
        if (!child->header_keys && child->doc_position) {
            child->header_keys.reset(new Table::HeaderKeys());
            for (const Key* k : path) child->header_keys->keys.push_back(*k);
        }
        stack.push_back(Frame{child, 0, 0});
    }
}

void Parser::finish_open_table() {
    if (!open_parent_) return;
    open_parent_->entries.append(std::move(open_key_), std::move(open_table_));
    open_parent_ = nullptr;
}

void Parser::parse_header(std::size_t prefix_start) {
    std::size_t open = pos_;
    bool is_array = peek(pos_ + 1) == '[';
    pos_ += is_array ? 2 : 1;
    std::size_t ws = pos_;
    skip_ws();
    std::size_t key_start = pos_;
    Vector<Key>& keys = key_buffer();
    if (!parse_key_path(keys, KeyContext::Header)) return;
    keys.back().leaf_decor.prefix = piece(ws, key_start);
    std::size_t ws2 = pos_;
    skip_ws();
    keys.back().leaf_decor.suffix = piece(ws2, pos_);
    if (is_array) {
        if (peek(pos_) != ']') {
            errors.report("unclosed array table", {lit("]]")}, span_at(pos_));
            return;
        }
        if (peek(pos_ + 1) != ']') {
            errors.report("unclosed array table", {lit("]")}, span_at(pos_ + 1));
            return;
        }
        pos_ += 2;
    } else {
        if (peek(pos_) != ']') {
            errors.report("unclosed table", {lit("]")}, span_at(pos_));
            return;
        }
        ++pos_;
    }
    std::size_t close = pos_;
    skip_line_rest();
    if (errors.has_error()) return;
    RawText suffix = piece(close, pos_);
    if (!expect_line_end()) return;

    finish_open_table();
    if (position_ < std::numeric_limits<std::int32_t>::max()) ++position_;

    // The header keeps its own spelling when it differs from the keys stored
    // with the tables on its path.
    bool differs = false;
    Vector<Key> written;
    Table* parent = &doc_->table();
    Vector<const Key*> walked;  // the stored keys of the tables on the way
    // The table at the same place in the member before the last of the
    // innermost array of tables on the way: sections repeated member after
    // member (`[[package]]`, `[package.dependencies]`) mostly have as many
    // entries as the one before, so a new table starts with that room.
    const Table* shadow = nullptr;
    for (std::size_t i = 0; i + 1 < keys.size(); ++i) {
        Key& k = keys[i];
        Entry* e = parent->entries.get(k.text());
        if (e) walked.push_back(&e->key);
        if (e && !differs && !k.same_form(e->key, false)) {
            differs = true;
            written.assign(keys.begin(), keys.end());
        }
        shadow = shadow ? table_at(*shadow, k.text()) : nullptr;
        if (!e) {
            TreeItem t = TreeItem::table();
            Table* child = &t.as_table();
            child->implicit = true;
            parent->entries.append(std::move(k), std::move(t));
            parent = child;
            continue;
        }
        TreeItem& it = e->item;
        if (it.is_table()) {
            parent = &it.as_table();
            continue;
        }
        if (it.is_array_of_tables() && !it.as_array_of_tables().values.empty()) {
            Elements& members = it.as_array_of_tables().values;
            parent = &members.back().as_table();
            shadow = members.size() >= 2 ? &members[members.size() - 2].as_table() : nullptr;
            continue;
        }
        errors.report("duplicate key", key_span(k));
        return;
    }

    Key& leaf = keys.back();
    if (is_array && !differs) {
        const Entry* e = parent->entries.get(leaf.text());
        if (e && !leaf.same_form(e->key, true)) {
            differs = true;
            written.assign(keys.begin(), keys.end());
        }
    }
    TreeItem table = TreeItem::table();
    if (differs) {
        table.as_table().header_keys.reset(new Table::HeaderKeys());
        table.as_table().header_keys->keys = std::move(written);
    }
    table.decor().prefix = piece(prefix_start, open);
    table.decor().suffix = std::move(suffix);
    Table& tab = table.as_table();
    tab.doc_position = position_;

    std::ptrdiff_t at = parent->entries.find(leaf.text());
    if (is_array) {
        TreeItem* aot;
        if (at < 0) {
            aot = &parent->entries.append(std::move(leaf), TreeItem::array_of_tables()).item;
        } else {
            aot = &parent->entries.at(static_cast<std::size_t>(at)).item;
            if (!aot->is_array_of_tables()) {
                errors.report("duplicate key", key_span(leaf));
                return;
            }
        }
        auto& members = aot->as_array_of_tables().values;
        if (!members.empty()) tab.entries.reserve(members.back().as_table().entries.size());
        members.push_back(std::move(table));
        current_ = &members.back().as_table();
        return;
    }

    if (at >= 0) {
        Entry& e = parent->entries.at(static_cast<std::size_t>(at));
        if (!(e.item.is_table() && e.item.as_table().implicit && !e.item.as_table().dotted)) {
            errors.report("duplicate key", key_span(leaf));
            return;
        }
        // The header takes over a table that deeper headers created. Their
        // headers were spelled with the key being replaced: they keep that.
        Entry old = parent->entries.remove_at(static_cast<std::size_t>(at));
        walked.push_back(&old.key);
        pin_header_spelling(old.item.as_table(), walked);
        tab.entries = std::move(old.item.as_table().entries);
    }
    if (const Table* before = shadow ? table_at(*shadow, leaf.text()) : nullptr;
        before && tab.entries.empty())
        tab.entries.reserve(before->entries.size());
    open_key_ = std::move(leaf);
    open_table_ = std::move(table);
    open_parent_ = parent;
    current_ = &open_table_.as_table();
}

void Parser::parse_document(DocumentRoot& doc) {
    doc_ = &doc;
    current_ = &doc.table();
    if (n_ >= 3 && std::memcmp(in_.data(), "\xEF\xBB\xBF", 3) == 0) {
        pos_ = 3;
        doc.bom = true;
    }
    for (;;) {
        std::size_t prefix_start = pos_;
        skip_layout();
        if (errors.has_error()) return;
        if (at_end()) {
            doc.trailing = piece(prefix_start, pos_);
            break;
        }
        char c = in_[pos_];
        if (c == '[')
            parse_header(prefix_start);
        else if (c == ']')
            errors.report("missing table open", {lit("[")}, span_at(pos_));
        else
            parse_key_value_line(prefix_start);
        if (errors.has_error()) return;
    }
    finish_open_table();
    shrink_tables(doc.table());
    doc.no_final_newline = doc.trailing.empty() && n_ > 0 && in_[n_ - 1] != '\n';
    // The line ending of the majority (a lone carriage return is refused).
    std::size_t breaks = 0, crlf = 0;
    for (std::size_t i = in_.find('\n'); i != std::string_view::npos; i = in_.find('\n', i + 1)) {
        ++breaks;
        crlf += i != 0 && in_[i - 1] == '\r';
    }
    doc.crlf = crlf > breaks - crlf;
}

bool Parser::parse_single_value(TreeItem& out) {
    if (n_ >= 3 && std::memcmp(in_.data(), "\xEF\xBB\xBF", 3) == 0) pos_ = 3;
    auto skip_space = [&] {
        while (pos_ < n_ && (is_ws(in_[pos_]) || in_[pos_] == '\n' || in_[pos_] == '\r')) {
            if (in_[pos_] == '\r') {
                pos_ = scan_newline(in_, pos_, errors);
                if (errors.has_error()) return;
            } else {
                ++pos_;
            }
        }
    };
    skip_space();
    if (errors.has_error()) return false;
    if (!parse_value(out, KeyContext::Statement)) return false;
    skip_space();
    if (errors.has_error()) return false;
    if (!at_end()) {
        errors.report("unexpected content", {}, span_at(pos_));
        return false;
    }
    out.decor().clear();
    return true;
}

// The element text of a packed array was read once already: it holds
// scalars separated by commas, each with the layout around it.
bool Parser::next_packed_element(TreeItem& out) {
    if (pos_ >= n_) return false;
    const std::size_t text_start = pos_;
    skip_layout();
    const std::size_t value_start = pos_;
    if (errors.has_error() || !parse_value(out, KeyContext::Statement))
        throw InternalFault{"a packed array's text does not read as its elements"};
    out.decor().prefix = piece(text_start, value_start);
    const std::size_t suffix_start = pos_;
    skip_layout();
    out.decor().suffix = piece(suffix_start, pos_);
    if (pos_ < n_) {
        if (in_[pos_] != ',') throw InternalFault{"a packed array's text does not read as its elements"};
        ++pos_;
    }
    return true;
}

}  // namespace

ParseResult<DocumentRoot> parse_document(std::string_view text) { return parse_document(copy_source(text)); }

ParseResult<DocumentRoot> parse_document(SourceBuffer buffer) {
    Parser parser(buffer->view());
    DocumentRoot doc;
    parser.parse_document(doc);
    if (parser.errors.has_error()) return make_report(*parser.errors.first(), std::move(buffer));
    doc.set_source(std::move(buffer));
    return doc;
}

ParseResult<TreeItem> parse_value(std::string_view text) {
    Parser parser(text);
    TreeItem value;
    parser.parse_single_value(value);
    if (parser.errors.has_error()) return make_report(*parser.errors.first(), text);
    value.detach();
    return value;
}

struct PackedElements::State {
    explicit State(std::string_view text) : parser(text) {}
    Parser parser;
};

PackedElements::PackedElements(std::string_view text) : state_(new State(text)) {}
PackedElements::~PackedElements() = default;

bool PackedElements::next(TreeItem& out) { return state_->parser.next_packed_element(out); }

std::size_t PackedElements::offset() const noexcept { return state_->parser.position(); }

}  // namespace morvelan
