// The direct decoder: parse_document's rules without its tree.
//
// The reading follows parser.cpp step for step, with the same scanners
// (lexer.hpp) and scalar decoders (decoder.hpp); where the parser reports a
// problem, this reader stops. The table rules need to know, for each table,
// how it was defined:
//
//   Defined   the root, a table opened by a header (also one taken over),
//             a member of an array of tables, an inline table: no header
//             may open it again and no dotted key may extend it
//   Implicit  made by the path of a header ([a] for [a.b]): a header may
//             take it over, a dotted key may extend it (it is then Dotted)
//   Dotted    made or extended by dotted keys: only dotted keys extend it
//
// and for arrays of tables, their last member. Records exist for tables
// only; a key that names a value is found by the sink, which refuses to store
// a key twice in one table (a header or dotted key through a value tries to
// store a new table under its key, and fails the same way).
#include "direct.hpp"

#include <algorithm>
#include <cstring>
#include <new>

#include "alloc.hpp"
#include "decoder.hpp"
#include "error.hpp"
#include "lexer.hpp"
#include "parser.hpp"
#include "table.hpp"
#include "thread_stack.hpp"

namespace morvelan {

namespace {

constexpr std::uint32_t kNone = UINT32_MAX;

// What one level of nesting in a value must leave on the stack for the
// levels inside it and for the sink's work (which allocates, and may reach
// the allocator's slow paths). Much more than the reader's own frames need:
// a thread short of it reads the text with the parser instead.
constexpr std::size_t kStackReserve = kLargeFrames ? 64 * 1024 : 16 * 1024;

enum class TableKind : std::uint8_t { Defined, Implicit, Dotted, ArrayOfTables };

struct Record {
    ValueSink::Value value;  // the sink's table (or array), held by its parent
    std::uint32_t member;    // an array of tables: the record of its last member
    int depth;               // its level of nesting (the root is 1)
    TableKind kind;
};

// The child tables of each table by key: (parent record, key) -> record.
// Open addressing; the keys are views that stay valid while decoding.
class ChildMap {
public:
    std::uint32_t find(std::uint32_t parent, std::string_view key) const noexcept {
        if (slots_.empty()) return kNone;
        const std::uint64_t h = hash(parent, key);
        for (std::size_t i = h & mask_;; i = (i + 1) & mask_) {
            const Slot& s = slots_[i];
            if (s.child == kNone) return kNone;
            if (s.hash == h && s.parent == parent && s.size == key.size() &&
                (key.empty() || std::memcmp(s.key, key.data(), key.size()) == 0))
                return s.child;
        }
    }

    void insert(std::uint32_t parent, std::string_view key, std::uint32_t child) {
        if ((used_ + 1) * 2 > slots_.size()) grow();
        place(Slot{hash(parent, key), key.data(), key.size(), parent, child});
        ++used_;
    }

private:
    struct Slot {
        std::uint64_t hash = 0;
        const char* key = nullptr;
        std::size_t size = 0;
        std::uint32_t parent = 0;
        std::uint32_t child = kNone;  // kNone: an empty slot
    };

    // The key's hash (the tables' own), mixed with its parent's record and
    // multiplied again: hash_key's last step folds its high bits into the low
    // ones, and folding the same way twice would take them out again, leaving
    // the low bits (the slot) to a few bytes of the key.
    static std::uint64_t hash(std::uint32_t parent, std::string_view key) noexcept {
        const std::uint64_t h =
            (hash_key(key) ^ (std::uint64_t{parent} + 1) * 0x9E3779B97F4A7C15ull) * 0xFF51AFD7ED558CCDull;
        return h ^ (h >> 32);
    }

    void place(const Slot& s) noexcept {
        std::size_t i = s.hash & mask_;
        while (slots_[i].child != kNone) i = (i + 1) & mask_;
        slots_[i] = s;
    }

    void grow() {
        Vector<Slot> old(slots_.empty() ? 64 : slots_.size() * 2);
        old.swap(slots_);
        mask_ = slots_.size() - 1;
        for (const Slot& s : old)
            if (s.child != kNone) place(s);
    }

    Vector<Slot> slots_;
    std::size_t mask_ = 0;
    std::size_t used_ = 0;
};

// A value of the sink not yet stored anywhere: discarded unless released.
class Held {
public:
    Held(ValueSink& sink, ValueSink::Value v) noexcept : sink_(sink), v_(v) {}
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;
    ~Held() {
        if (v_) sink_.discard(v_);
    }
    explicit operator bool() const noexcept { return v_ != nullptr; }
    ValueSink::Value get() const noexcept { return v_; }
    ValueSink::Value release() noexcept {
        ValueSink::Value v = v_;
        v_ = nullptr;
        return v;
    }

private:
    ValueSink& sink_;
    ValueSink::Value v_;
};

bool is_ws(char c) noexcept { return c == ' ' || c == '\t'; }

class Decoder {
public:
    Decoder(std::string_view in, ValueSink& sink) : in_(in), n_(in.size()), sink_(sink) {
        key_bufs_.reserve(kMaxNesting + 2);
    }

    DirectResult run();

private:
    using Value = ValueSink::Value;
    using Keys = Vector<std::string_view>;

    char peek(std::size_t at) const noexcept { return at < n_ ? in_[at] : '\0'; }
    void skip_ws() noexcept {
        while (pos_ < n_ && is_ws(in_[pos_])) ++pos_;
    }
    // Spaces, tabs, comments and line endings; false after a problem.
    bool skip_layout() {
        while (pos_ < n_) {
            const char c = in_[pos_];
            if (is_ws(c) || c == '\n')
                ++pos_;
            else if (c == '\r')
                pos_ = scan_newline(in_, pos_, errors_);
            else if (c == '#')
                pos_ = scan_comment(in_, pos_, errors_);
            else
                break;
        }
        return !errors_.has_error();
    }
    // Spaces, tabs and a comment, then a line ending or the end of input.
    bool end_line() {
        skip_ws();
        if (pos_ < n_ && in_[pos_] == '#') pos_ = scan_comment(in_, pos_, errors_);
        if (errors_.has_error()) return false;
        if (pos_ >= n_) return true;
        if (in_[pos_] == '\n') {
            ++pos_;
            return true;
        }
        if (in_[pos_] != '\r') return false;
        pos_ = scan_newline(in_, pos_, errors_);
        return !errors_.has_error();
    }
    bool enter() {
        if (depth_ >= kMaxNesting) return false;
        if (!stack_) stack_ = &this_thread_stack();
        if (stack_left(*stack_) < kStackReserve) return false;
        ++depth_;
        return true;
    }
    // The key buffer of the current depth, emptied (buffers of outer depths
    // are held while a value inside is read).
    Keys& key_buffer() {
        if (key_bufs_.size() <= depth_) key_bufs_.resize(depth_ + 1);
        Keys& k = key_bufs_[depth_];
        k.clear();
        return k;
    }
    // A decoded key that is no view of the input, copied to stay valid.
    std::string_view keep(std::string_view text) {
        if (text.empty()) return std::string_view("");
        copies_.emplace_back(text.begin(), text.end());
        return std::string_view(copies_.back().data(), text.size());
    }

    bool key(std::string_view& out);
    bool key_path(Keys& keys);
    Value value(int& nesting);
    Value scalar();
    Value array(int& nesting);
    Value inline_table(int& nesting);

    std::uint32_t new_record(Value v, TableKind kind, int depth) {
        records_.push_back(Record{v, kNone, depth, kind});
        deepest_ = std::max(deepest_, depth);
        return static_cast<std::uint32_t>(records_.size() - 1);
    }
    std::uint32_t new_child(std::uint32_t parent, std::string_view key, TableKind kind);
    std::uint32_t walk_dotted(std::uint32_t from, const Keys& keys);
    bool key_value_line();
    bool header();

    std::string_view in_;
    std::size_t n_;
    std::size_t pos_ = 0;
    std::size_t depth_ = 0;
    ValueSink& sink_;
    ErrorCollector errors_;
    String scratch_;
    const ThreadStack* stack_ = nullptr;
    Vector<Keys> key_bufs_;
    Vector<Vector<char>> copies_;
    Vector<Record> records_;
    ChildMap children_;
    std::uint32_t current_ = 0;  // receives key/value lines
    int deepest_ = 0;
};

bool Decoder::key(std::string_view& out) {
    const char c = peek(pos_);
    if (c == '"' || c == '\'') {
        DecodedString ds;
        const std::size_t end = scan_string(in_, pos_, errors_, scratch_, ds);
        if (errors_.has_error() || ds.style == StringStyle::MultiLineBasic ||
            ds.style == StringStyle::MultiLineLiteral)
            return false;
        out = ds.rewritten ? keep(ds.text) : ds.text;
        pos_ = end;
        return true;
    }
    const std::size_t p = scan_bare_key(in_, pos_);
    if (p == pos_) return false;
    out = in_.substr(pos_, p - pos_);
    pos_ = p;
    return true;
}

bool Decoder::key_path(Keys& keys) {
    keys.emplace_back();
    if (!key(keys.back())) return false;
    for (;;) {
        const std::size_t before = pos_;
        skip_ws();
        if (peek(pos_) != '.') {
            pos_ = before;
            return true;
        }
        if (keys.size() >= kMaxKeyPath) return false;
        ++pos_;
        skip_ws();
        keys.emplace_back();
        if (!key(keys.back())) return false;
    }
}

ValueSink::Value Decoder::value(int& nesting) {
    const char c = peek(pos_);
    if (c == '[') return array(nesting);
    if (c == '{') return inline_table(nesting);
    nesting = 0;
    return scalar();
}

ValueSink::Value Decoder::scalar() {
    const char c = peek(pos_);
    if (c == '"' || c == '\'') {
        DecodedString ds;
        const std::size_t end = scan_string(in_, pos_, errors_, scratch_, ds);
        if (errors_.has_error()) return nullptr;
        pos_ = end;
        return sink_.string(ds.text);
    }
    const std::size_t start = pos_;
    const std::size_t end = scan_bare_value(in_, start);
    if (end == start) return nullptr;
    BareScalar bs;
    decode_bare_scalar(in_, Span{start, end}, errors_, bs);
    if (errors_.has_error()) return nullptr;
    pos_ = end;
    switch (bs.kind) {
        case ScalarKind::Integer: return sink_.integer(bs.integer);
        case ScalarKind::Float: return sink_.floating(bs.floating);
        case ScalarKind::Boolean: return sink_.boolean(bs.boolean);
        case ScalarKind::Datetime: return sink_.datetime(bs.datetime);
    }
    return nullptr;
}

ValueSink::Value Decoder::array(int& nesting) {
    if (!enter()) return nullptr;
    Held arr(sink_, sink_.array());
    if (!arr) return nullptr;
    ++pos_;
    int inner = 0;
    for (;;) {
        if (!skip_layout() || pos_ >= n_) return nullptr;
        const char c = in_[pos_];
        if (c == ']') {
            ++pos_;
            break;
        }
        if (c == ',' || c == '=') return nullptr;
        int m = 0;
        const Value v = value(m);
        if (!v || !sink_.append(arr.get(), v)) return nullptr;
        inner = std::max(inner, m);
        if (!skip_layout() || pos_ >= n_) return nullptr;
        const char d = in_[pos_];
        ++pos_;
        if (d == ',') continue;
        if (d == ']') break;
        return nullptr;
    }
    --depth_;
    nesting = 1 + inner;
    return arr.release();
}

ValueSink::Value Decoder::inline_table(int& nesting) {
    if (!enter()) return nullptr;
    Held table(sink_, sink_.table());
    if (!table) return nullptr;
    std::uint32_t record = kNone;  // made for the first dotted key
    ++pos_;
    int inner = 0;
    for (;;) {
        if (!skip_layout() || pos_ >= n_) return nullptr;
        const char c = in_[pos_];
        if (c == '}') {
            ++pos_;
            break;
        }
        if (c == ',') return nullptr;
        Keys& keys = key_buffer();
        if (!key_path(keys)) return nullptr;
        skip_ws();
        if (peek(pos_) != '=') return nullptr;
        ++pos_;
        skip_ws();
        int m = 0;
        Held v(sink_, value(m));
        if (!v || !skip_layout()) return nullptr;
        Value target = table.get();
        if (keys.size() > 1) {
            if (record == kNone) record = new_record(table.get(), TableKind::Defined, 0);
            const std::uint32_t t = walk_dotted(record, keys);
            if (t == kNone) return nullptr;
            target = records_[t].value;
        }
        if (!sink_.put(target, keys.back(), v.release())) return nullptr;
        inner = std::max(inner, static_cast<int>(keys.size()) - 1 + m);
        if (pos_ >= n_) return nullptr;
        const char d = in_[pos_];
        ++pos_;
        if (d == ',') continue;
        if (d == '}') break;
        return nullptr;
    }
    --depth_;
    nesting = 1 + inner;
    return table.release();
}

std::uint32_t Decoder::new_child(std::uint32_t parent, std::string_view key, TableKind kind) {
    Held table(sink_, sink_.table());
    if (!table) return kNone;
    const Value v = table.get();
    if (!sink_.put(records_[parent].value, key, table.release())) return kNone;
    const std::uint32_t r = new_record(v, kind, records_[parent].depth + 1);
    children_.insert(parent, key, r);
    return r;
}

std::uint32_t Decoder::walk_dotted(std::uint32_t from, const Keys& keys) {
    std::uint32_t t = from;
    for (std::size_t i = 0; i + 1 < keys.size(); ++i) {
        std::uint32_t c = children_.find(t, keys[i]);
        if (c == kNone) {
            c = new_child(t, keys[i], TableKind::Dotted);
            if (c == kNone) return kNone;
        } else if (records_[c].kind == TableKind::Implicit) {
            records_[c].kind = TableKind::Dotted;
        } else if (records_[c].kind != TableKind::Dotted) {
            return kNone;
        }
        t = c;
    }
    return t;
}

bool Decoder::key_value_line() {
    Keys& keys = key_buffer();
    if (!key_path(keys)) return false;
    skip_ws();
    if (peek(pos_) != '=') return false;
    ++pos_;
    skip_ws();
    int nesting = 0;
    Held v(sink_, value(nesting));
    if (!v || !end_line()) return false;
    const std::uint32_t target = walk_dotted(current_, keys);
    if (target == kNone) return false;
    deepest_ = std::max(deepest_, records_[target].depth + nesting);
    return sink_.put(records_[target].value, keys.back(), v.release());
}

bool Decoder::header() {
    const bool of_array = peek(pos_ + 1) == '[';
    pos_ += of_array ? 2 : 1;
    skip_ws();
    Keys& keys = key_buffer();
    if (!key_path(keys)) return false;
    skip_ws();
    if (peek(pos_) != ']' || (of_array && peek(pos_ + 1) != ']')) return false;
    pos_ += of_array ? 2 : 1;
    if (!end_line()) return false;

    std::uint32_t parent = 0;
    for (std::size_t i = 0; i + 1 < keys.size(); ++i) {
        std::uint32_t c = children_.find(parent, keys[i]);
        if (c == kNone) {
            c = new_child(parent, keys[i], TableKind::Implicit);
            if (c == kNone) return false;
        } else if (records_[c].kind == TableKind::ArrayOfTables) {
            c = records_[c].member;
        }
        parent = c;
    }
    const std::string_view leaf = keys.back();
    std::uint32_t c = children_.find(parent, leaf);
    if (of_array) {
        if (c == kNone) {
            Held list(sink_, sink_.array());
            if (!list) return false;
            const Value v = list.get();
            if (!sink_.put(records_[parent].value, leaf, list.release())) return false;
            c = new_record(v, TableKind::ArrayOfTables, records_[parent].depth + 1);
            children_.insert(parent, leaf, c);
        } else if (records_[c].kind != TableKind::ArrayOfTables) {
            return false;
        }
        Held member(sink_, sink_.table());
        if (!member) return false;
        const Value v = member.get();
        if (!sink_.append(records_[c].value, member.release())) return false;
        const std::uint32_t m = new_record(v, TableKind::Defined, records_[c].depth + 1);
        records_[c].member = m;
        current_ = m;
        return true;
    }
    if (c == kNone) {
        c = new_child(parent, leaf, TableKind::Defined);
        if (c == kNone) return false;
    } else {
        // Only a table that headers made on their way may be opened again.
        if (records_[c].kind != TableKind::Implicit) return false;
        if (!sink_.move_to_end(records_[parent].value, leaf)) return false;
        records_[c].kind = TableKind::Defined;
    }
    current_ = c;
    return true;
}

DirectResult Decoder::run() {
    Held root(sink_, sink_.table());
    if (!root) return {};
    current_ = new_record(root.get(), TableKind::Defined, 1);
    if (n_ >= 3 && std::memcmp(in_.data(), "\xEF\xBB\xBF", 3) == 0) pos_ = 3;
    for (;;) {
        if (!skip_layout()) return {};
        if (pos_ >= n_) break;
        const char c = in_[pos_];
        if (c == ']') return {};
        if (!(c == '[' ? header() : key_value_line())) return {};
    }
    return DirectResult{root.release(), deepest_};
}

}  // namespace

DirectResult decode_direct(std::string_view text, ValueSink& sink) noexcept {
    try {
        Decoder decoder(text, sink);
        return decoder.run();
    } catch (...) {
        // Memory ran out: what was made is discarded by the holders.
        return {};
    }
}

}  // namespace morvelan
