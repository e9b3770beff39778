#include "nesting.hpp"

#include "array.hpp"
#include "array_of_tables.hpp"
#include "parser.hpp"
#include "table.hpp"
#include "walk_stack.hpp"

namespace morvelan {

namespace {

constexpr const char* kTooManyLevels =
    "too deeply nested for TOML: arrays and inline tables may nest at most 80 levels in a value";
constexpr const char* kTooManyKeys =
    "too deeply nested for TOML: a table header or dotted key may have at most 80 keys";
static_assert(kMaxNesting == 80 && kMaxKeyPath == 80, "the messages name the limits");

// A table written as dotted keys of the one around it (not where it is
// stored: a stored table is a table of its own).
bool dotted_here(const TreeItem& item, bool stored) noexcept {
    return !stored && item.is_table_like() && item.as_table().dotted;
}

Scope below(const Scope& outer, const TreeItem& c, bool stored) noexcept {
    Scope s;
    switch (outer.kind) {
        case Scope::Kind::Value:
            s.kind = Scope::Kind::Value;
            // A dotted inline table with entries opens no level: its entries
            // are dotted keys of the inline table around it.
            if (outer.keyed && c.is_inline_table() && dotted_here(c, stored) &&
                c.as_table().visible_size() > 0) {
                s.levels = outer.levels;
                s.dotted_keys = outer.dotted_keys + 1;
                s.keyed = true;
                return s;
            }
            // Anything else opens one: a table or an array of tables stored
            // in a value becomes an inline table or an array of them.
            s.levels = outer.levels + 1;
            s.keyed = c.is_table_like();
            return s;
        case Scope::Kind::ArrayOfTables:  // `c` is a member
            s.kind = Scope::Kind::Table;
            s.keys = outer.keys;
            s.header_keys = outer.keys;
            return s;
        case Scope::Kind::Table: break;
    }
    const std::uint32_t keys = outer.keys + 1;
    if (c.is_table()) {
        s.keys = keys;
        s.header_keys = dotted_here(c, stored) ? outer.header_keys : keys;
    } else if (c.is_array_of_tables()) {
        s.kind = Scope::Kind::ArrayOfTables;
        s.keys = keys;
    } else {  // a value on a line of its own
        s.kind = Scope::Kind::Value;
        s.levels = 1;
        s.keyed = c.is_inline_table();
    }
    return s;
}

bool has_members(const TreeItem& aot) noexcept {
    for (const TreeItem& m : aot.as_array_of_tables().values)
        if (m.is_table()) return true;
    return false;
}

// The refusal for `c`, a child written in `s`, not counting its own children.
const char* check(const Scope& s, const TreeItem& c, bool stored) {
    switch (s.kind) {
        case Scope::Kind::Table: {
            // A line: the dotted tables between the header and it, and its key.
            const bool line = (c.is_value()) ||
                              (dotted_here(c, stored) && c.as_table().visible_size() == 0) ||
                              (c.is_array_of_tables() && !has_members(c));
            if (line) return s.keys - s.header_keys + 1 > kMaxKeyPath ? kTooManyKeys : nullptr;
            // A header, of the table or of each member.
            if (c.is_table() && !dotted_here(c, stored))
                return s.keys + 1 > kMaxKeyPath ? kTooManyKeys : nullptr;
            if (c.is_array_of_tables()) return s.keys + 1 > kMaxKeyPath ? kTooManyKeys : nullptr;
            return nullptr;
        }
        case Scope::Kind::ArrayOfTables: return nullptr;  // the headers were checked at the array
        case Scope::Kind::Value:
            if (s.keyed && s.dotted_keys + 1 > kMaxKeyPath) return kTooManyKeys;
            if (c.is_container() && below(s, c, stored).levels > kMaxNesting) return kTooManyLevels;
            return nullptr;
    }
    return nullptr;
}

// The `i`th child of a container, or null past the last (a packed array
// holds scalars only: nothing below it nests).
const TreeItem* child(const TreeItem& c, std::size_t i) noexcept {
    if (c.is_table_like()) {
        const auto& entries = c.as_table().entries;
        return i < entries.size() ? &entries.at(i).item : nullptr;
    }
    if (c.is_array()) {
        if (c.as_array().packed()) return nullptr;
        const auto& items = c.as_array().items();
        return i < items.size() ? &items[i] : nullptr;
    }
    const auto& members = c.as_array_of_tables().values;
    return i < members.size() ? &members[i] : nullptr;
}

// Checks every child below `top`, whose children are written in `scope`.
const char* check_below(const TreeItem& top, const Scope& scope) {
    struct Frame {
        const TreeItem* container;
        Scope scope;
        std::size_t next;
    };
    WalkStack<Frame, 16> stack;
    stack.push(Frame{&top, scope, 0});
    while (!stack.empty()) {
        Frame& f = stack.top();
        const TreeItem* c = child(*f.container, f.next++);
        if (!c) {
            stack.pop();
            continue;
        }
        if (c->is_none()) continue;
        if (const char* refusal = check(f.scope, *c, false)) return refusal;
        if (c->is_container()) stack.push(Frame{c, below(f.scope, *c, false), 0});  // f is stale from here
    }
    return nullptr;
}

}  // namespace

Scope scope_below(const Scope& outer, const TreeItem& container) noexcept {
    return below(outer, container, false);
}

const char* unreadable_nesting(const Scope& scope, const TreeItem& item) {
    if (const char* refusal = check(scope, item, true)) return refusal;
    return item.is_container() ? check_below(item, below(scope, item, true)) : nullptr;
}

const char* unreadable_nesting(const TreeItem& root) { return check_below(root, Scope::root()); }

}  // namespace morvelan
