#include "tree_item.hpp"

#include <cmath>
#include <cstring>
#include <new>

#include "array.hpp"
#include "array_of_tables.hpp"
#include "table.hpp"
#include "walk_stack.hpp"

namespace morvelan {

std::string_view kind_name(ItemKind kind) noexcept {
    switch (kind) {
        case ItemKind::None: return "none";
        case ItemKind::String: return "string";
        case ItemKind::Integer: return "integer";
        case ItemKind::Float: return "float";
        case ItemKind::Boolean: return "boolean";
        case ItemKind::Datetime: return "datetime";
        case ItemKind::Array: return "array";
        case ItemKind::InlineTable: return "inline table";
        case ItemKind::Table: return "table";
        case ItemKind::ArrayOfTables: return "array of tables";
    }
    return "none";
}

// ----------------------------------------------------------------------------
// NodeChain

// The heap nodes still to visit in a walk that reaches every node once, in no
// particular order: each node is linked through its own chain_next_ field, so
// the walk needs neither a stack nor an allocation at any depth. The links are
// written into the nodes, so only a walk that has the tree to itself may use
// it: one that frees the tree, or edits it (under the exclusive lock, or on
// an item no one else sees). A node is on at most one chain at a time.
class NodeChain {
public:
    // Adds the node of a container item; the item keeps it.
    void push(TreeItem& item) noexcept {
        switch (item.kind_) {
            case ItemKind::Array: link(item.u_.array, arrays_); break;
            case ItemKind::InlineTable:
            case ItemKind::Table: link(item.u_.table, tables_); break;
            case ItemKind::ArrayOfTables: link(item.u_.aot, aots_); break;
            default: break;
        }
    }
    // Adds the node of a container item and leaves None in its place: the
    // chain owns the node until it is visited.
    void take(TreeItem& item) noexcept {
        push(item);
        item.kind_ = ItemKind::None;
        item.u_.i = 0;
    }

    // Visits each node, including those that the visits push.
    template <class OnTable, class OnArray, class OnArrayOfTables>
    void drain(OnTable&& on_table, OnArray&& on_array, OnArrayOfTables&& on_aot) {
        for (;;) {
            if (tables_) {
                on_table(*unlink(tables_));
            } else if (arrays_) {
                on_array(*unlink(arrays_));
            } else if (aots_) {
                on_aot(*unlink(aots_));
            } else {
                return;
            }
        }
    }

private:
    template <class Node>
    static void link(Node* node, Node*& head) noexcept {
        node->chain_next_ = head;
        head = node;
    }
    template <class Node>
    static Node* unlink(Node*& head) noexcept {
        Node* node = head;
        head = node->chain_next_;
        node->chain_next_ = nullptr;
        return node;
    }

    Table* tables_ = nullptr;
    Array* arrays_ = nullptr;
    ArrayOfTables* aots_ = nullptr;
};

// ----------------------------------------------------------------------------
// Freeing and copying

void TreeItem::destroy() noexcept {
    switch (kind_) {
        case ItemKind::String: u_.str.~RawText(); break;
        case ItemKind::Datetime: delete u_.dt; break;
        case ItemKind::Array:
        case ItemKind::InlineTable:
        case ItemKind::Table:
        case ItemKind::ArrayOfTables: free_nodes(); break;
        default: break;
    }
    kind_ = ItemKind::None;
    u_.i = 0;
}

// Frees the subtree depth first, children in order, as a recursive walk
// would (the order in which the parser allocated it), with at most
// kFreeDepth containers entered at a time: a container met deeper waits on a
// NodeChain and is freed the same way afterwards. A node is deleted once its
// container children have been freed and left None, so deleting it frees
// only items without children. Bounded stack, no allocation.
void TreeItem::free_nodes() noexcept {
    NodeChain chain;
    free_subtree(*this, chain);
    auto resume = [&](ItemKind kind, auto& node) {
        TreeItem item;
        item.kind_ = kind;
        item.u_.set(&node);
        free_subtree(item, chain);
    };
    chain.drain([&](Table& t) { resume(ItemKind::Table, t); }, [&](Array& a) { resume(ItemKind::Array, a); },
                [&](ArrayOfTables& a) { resume(ItemKind::ArrayOfTables, a); });
}

void TreeItem::free_subtree(TreeItem& root, NodeChain& chain) noexcept {
    constexpr std::size_t kFreeDepth = 64;
    struct Frame {
        TreeItem* item;
        std::size_t next;
    };
    Frame stack[kFreeDepth];
    std::size_t depth = 0;
    stack[depth++] = Frame{&root, 0};
    while (depth != 0) {
        Frame& f = stack[depth - 1];
        TreeItem& item = *f.item;
        TreeItem* child = nullptr;
        if (item.is_table_like()) {
            EntryMap& entries = item.u_.table->entries;
            while (!child && f.next < entries.size()) {
                TreeItem& c = entries.at(f.next++).item;
                if (c.is_container()) child = &c;
            }
        } else {
            Elements& values = item.is_array() ? item.u_.array->stored_items() : item.u_.aot->values;
            while (!child && f.next < values.size()) {
                TreeItem& c = values[f.next++];
                if (c.is_container()) child = &c;
            }
        }
        if (child) {
            if (depth < kFreeDepth)
                stack[depth++] = Frame{child, 0};
            else
                chain.take(*child);
            continue;
        }
        switch (item.kind_) {
            case ItemKind::Array: delete item.u_.array; break;
            case ItemKind::ArrayOfTables: delete item.u_.aot; break;
            default: delete item.u_.table; break;
        }
        item.kind_ = ItemKind::None;
        item.u_.i = 0;
        --depth;
    }
}

TreeItem::TreeItem(const TreeItem& o) : decor_(o.decor_), repr_(o.repr_) {
    if (!o.is_container()) {
        copy_scalar(o);
        return;
    }
    if (!copy_node(o)) return;
    try {
        copy_children(o);
    } catch (...) {
        destroy();  // the part copied so far: every slot of it is a whole item
        throw;
    }
}

// Gives this None item a copy of the node of the container `o`, whose
// children are shallow copies: scalars whole, containers still None. Returns
// whether any child is a container, to be copied in turn.
bool TreeItem::copy_node(const TreeItem& o) {
    bool nested = false;
    auto shallow = [&nested](const TreeItem& i) {
        nested |= i.is_container();
        return TreeItem(i, Shallow{});
    };
    auto copy_values = [&](const Elements& from) {
        Elements to;
        to.reserve(from.size());
        for (const TreeItem& v : from) {
            nested |= v.is_container();
            to.emplace_back(v, Shallow{});
        }
        return to;
    };
    switch (o.kind_) {
        case ItemKind::Array:
            u_.array = new Array(*o.u_.array, copy_values(o.u_.array->stored_items()));
            break;
        case ItemKind::InlineTable:
        case ItemKind::Table: u_.table = new Table(*o.u_.table, shallow); break;
        case ItemKind::ArrayOfTables:
            u_.aot = new ArrayOfTables(*o.u_.aot, copy_values(o.u_.aot->values));
            break;
        default: return false;
    }
    kind_ = o.kind_;
    return nested;
}

// Copies the nodes below this copy's node, depth first. A node is copied
// with all its children at once; its container children are then put on the
// stack, last first (the first is copied next), while they are still in the
// cache. The items that the stack points to never move.
void TreeItem::copy_children(const TreeItem& o) {
    struct Pending {
        TreeItem* dst;
        const TreeItem* src;
    };
    WalkStack<Pending, 32> stack;
    auto push_children = [&](TreeItem& dst, const TreeItem& src) {
        if (src.is_table_like()) {
            const Entry* from = src.u_.table->entries.end();
            Entry* to = dst.u_.table->entries.end();
            while (from != src.u_.table->entries.begin()) {
                --from;
                --to;
                if (from->item.is_container()) stack.push(Pending{&to->item, &from->item});
            }
        } else {
            const Elements& sv = src.is_array() ? src.u_.array->stored_items() : src.u_.aot->values;
            Elements& dv = dst.is_array() ? dst.u_.array->stored_items() : dst.u_.aot->values;
            for (std::size_t i = sv.size(); i-- > 0;)
                if (sv[i].is_container()) stack.push(Pending{&dv[i], &sv[i]});
        }
    };
    push_children(*this, o);
    while (!stack.empty()) {
        const Pending p = stack.top();
        stack.pop();
        if (p.dst->copy_node(*p.src)) push_children(*p.dst, *p.src);
    }
}

TreeItem& TreeItem::operator=(const TreeItem& o) {
    if (this != &o) {
        TreeItem tmp(o);
        *this = std::move(tmp);
    }
    return *this;
}

TreeItem TreeItem::datetime(const Datetime& v, SourceRepr repr) {
    TreeItem t;
    t.kind_ = ItemKind::Datetime;
    t.u_.dt = new BoxedDatetime{{}, v};
    t.repr_ = std::move(repr);
    return t;
}

TreeItem TreeItem::array() {
    TreeItem t;
    t.u_.array = new Array();
    t.kind_ = ItemKind::Array;
    return t;
}

TreeItem TreeItem::inline_table() {
    TreeItem t;
    t.u_.table = new Table();
    t.kind_ = ItemKind::InlineTable;
    return t;
}

TreeItem TreeItem::table() {
    TreeItem t;
    t.u_.table = new Table();
    t.kind_ = ItemKind::Table;
    return t;
}

TreeItem TreeItem::array_of_tables() {
    TreeItem t;
    t.u_.aot = new ArrayOfTables();
    t.kind_ = ItemKind::ArrayOfTables;
    return t;
}

// ----------------------------------------------------------------------------
// Detaching and converting

void TreeItem::detach_own() {
    decor_.detach();
    repr_.detach();
    if (kind_ == ItemKind::String) u_.str.detach();
}

void TreeItem::detach() {
    detach_own();
    if (!is_container()) return;
    NodeChain chain;
    chain.push(*this);
    auto children = [&](Elements& values) {
        for (TreeItem& v : values) {
            v.detach_own();
            if (v.is_container()) chain.push(v);
        }
    };
    chain.drain(
        [&](Table& t) {
            t.detach_fields();
            for (Entry& e : t.entries) {
                e.item.detach_own();
                if (e.item.is_container()) chain.push(e.item);
            }
        },
        [&](Array& a) {
            a.detach_fields();
            children(a.stored_items());
        },
        [&](ArrayOfTables& a) { children(a.values); });
}

// Only tables and arrays of tables change: the walk enters nothing else.
// Post-order: a node is converted once all its children are.
void TreeItem::convert_to_value() {
    if (kind_ != ItemKind::Table && kind_ != ItemKind::ArrayOfTables) return;
    struct Frame {
        TreeItem* item;
        std::size_t next;
    };
    auto converts = [](const TreeItem& i) {
        return i.kind_ == ItemKind::Table || i.kind_ == ItemKind::ArrayOfTables;
    };
    WalkStack<Frame, 32> stack;
    stack.push(Frame{this, 0});
    while (!stack.empty()) {
        Frame& f = stack.top();
        TreeItem* child = nullptr;
        if (f.item->kind_ == ItemKind::Table) {
            EntryMap& entries = f.item->u_.table->entries;
            while (!child && f.next < entries.size()) {
                TreeItem& c = entries.at(f.next++).item;
                if (converts(c)) child = &c;
            }
        } else {
            Elements& members = f.item->u_.aot->values;
            while (!child && f.next < members.size()) {
                TreeItem& c = members[f.next++];
                if (converts(c)) child = &c;
            }
        }
        if (child) {
            stack.push(Frame{child, 0});
        } else {
            TreeItem* done = f.item;
            stack.pop();
            done->convert_node();
        }
    }
}

void TreeItem::convert_node() {
    if (kind_ == ItemKind::Table) {
        Table& t = *u_.table;
        t.trailing = RawText();
        t.trailing_comma = false;
        t.implicit = false;
        t.dotted = false;
        t.doc_position.reset();
        t.fmt();
        kind_ = ItemKind::InlineTable;
        decor_.clear();
    } else {
        ArrayOfTables* aot = u_.aot;
        Array* arr = new Array();
        arr->items() = std::move(aot->values);
        delete aot;
        u_.array = arr;
        kind_ = ItemKind::Array;
        decor_.clear();
        arr->fmt();
    }
}

// ----------------------------------------------------------------------------
// Comparing

namespace {

bool numbers_equal(const TreeItem& a, const TreeItem& b) noexcept {
    if (a.kind() == ItemKind::Integer && b.kind() == ItemKind::Integer)
        return a.as_integer() == b.as_integer();
    if (a.kind() == ItemKind::Float && b.kind() == ItemKind::Float) return a.as_float() == b.as_float();
    const TreeItem& i = a.kind() == ItemKind::Integer ? a : b;
    const TreeItem& f = a.kind() == ItemKind::Integer ? b : a;
    double d = f.as_float();
    if (!std::isfinite(d) || d != std::trunc(d)) return false;
    // Doubles at or beyond 2^63 in magnitude cannot equal an int64 (except -2^63).
    if (d >= 9223372036854775808.0 || d < -9223372036854775808.0) return false;
    return static_cast<std::int64_t>(d) == i.as_integer();
}

// How two items compare before their children are looked at.
enum class Match : std::uint8_t {
    Unequal,
    Equal,
    // Containers equal so far; their children pair up
    Entries,    // by key (tables and inline tables)
    Elements,   // by index
    ElementsA,  // by index, and each child of `a` must be an inline table
    ElementsB,  // by index, and each child of `b` must be an inline table
};

bool packed_equal(const Array& a, const Array& b, bool strict);

// Date-times as data: the same parts, equal. An offset written `Z` and one
// of +00:00 are the same offset (a date-time read back from Python has the
// latter); only the strict comparison tells the spellings apart.
bool datetimes_equal(const Datetime& a, const Datetime& b, bool strict) noexcept {
    if (strict || !a.offset || !b.offset) return a == b;
    return a.date == b.date && a.time == b.time && a.offset->minutes == b.offset->minutes;
}

Match match(const TreeItem& a, const TreeItem& b, bool strict) {
    ItemKind ka = a.kind(), kb = b.kind();
    if (ka == ItemKind::None || kb == ItemKind::None) return Match::Unequal;
    auto result = [](bool equal) { return equal ? Match::Equal : Match::Unequal; };
    bool a_num = ka == ItemKind::Integer || ka == ItemKind::Float;
    bool b_num = kb == ItemKind::Integer || kb == ItemKind::Float;
    if (strict && ka != kb) return Match::Unequal;
    if (a_num && b_num) {
        if (strict && ka == ItemKind::Float) {
            double x = a.as_float(), y = b.as_float();
            if (std::isnan(x) || std::isnan(y)) return result(std::isnan(x) && std::isnan(y));
            return result(std::memcmp(&x, &y, sizeof x) == 0);
        }
        return result(numbers_equal(a, b));
    }
    if (a.is_table_like() && b.is_table_like())
        return a.as_table().visible_size() == b.as_table().visible_size() ? Match::Entries : Match::Unequal;
    // An array of tables equals an array of inline tables.
    // (A packed array holds no inline tables: it holds scalars only.)
    if (!strict && ka == ItemKind::ArrayOfTables && kb == ItemKind::Array)
        return a.as_array_of_tables().size() == b.as_array().size() && !b.as_array().packed()
                   ? Match::ElementsB
                   : Match::Unequal;
    if (!strict && ka == ItemKind::Array && kb == ItemKind::ArrayOfTables)
        return a.as_array().size() == b.as_array_of_tables().size() && !a.as_array().packed()
                   ? Match::ElementsA
                   : Match::Unequal;
    if (ka != kb) return Match::Unequal;
    switch (ka) {
        case ItemKind::String: return result(a.as_string() == b.as_string());
        case ItemKind::Boolean: return result(a.as_bool() == b.as_bool());
        case ItemKind::Datetime: return result(datetimes_equal(a.as_datetime(), b.as_datetime(), strict));
        case ItemKind::Array:
            if (a.as_array().size() != b.as_array().size()) return Match::Unequal;
            // A packed array holds scalars only: its elements compare on the spot,
            // read from its text.
            if ((a.as_array().packed() && a.as_array().stored_items().empty()) ||
                (b.as_array().packed() && b.as_array().stored_items().empty()))
                return result(packed_equal(a.as_array(), b.as_array(), strict));
            return Match::Elements;
        case ItemKind::ArrayOfTables:
            return a.as_array_of_tables().size() == b.as_array_of_tables().size() ? Match::Elements
                                                                                  : Match::Unequal;
        default: return Match::Unequal;
    }
}

bool packed_equal(const Array& a, const Array& b, bool strict) {
    ElementReader ra(a), rb(b);
    while (const TreeItem* x = ra.next()) {
        if (match(*x, *rb.next(), strict) != Match::Equal) return false;
    }
    return true;
}

// The elements of an array (not packed) or the members of an array of tables.
const Elements& elements(const TreeItem& item) {
    return item.is_array() ? item.as_array().items() : item.as_array_of_tables().values;
}

// Depth first over pairs of containers whose children remain to compare; a
// container's children are compared in one loop, which stops only to enter a
// pair of containers.
bool compare(const TreeItem& a, const TreeItem& b, bool strict) {
    Match m = match(a, b, strict);
    if (m == Match::Unequal || m == Match::Equal) return m == Match::Equal;
    struct Frame {
        const TreeItem* a;
        const TreeItem* b;
        std::size_t next;
        Match match;
    };
    WalkStack<Frame, 32> stack;
    stack.push(Frame{&a, &b, 0, m});
    while (!stack.empty()) {
        Frame& f = stack.top();
        const TreeItem* ca = nullptr;
        const TreeItem* cb = nullptr;
        if (f.match == Match::Entries) {
            const Table& tb = f.b->as_table();
            const Entry* begin = f.a->as_table().entries.begin();
            const Entry* end = f.a->as_table().entries.end();
            for (const Entry* e = begin + f.next; e != end; ++e) {
                if (e->item.is_none()) continue;
                const TreeItem* other = tb.get(e->key.text());
                if (!other) return false;
                m = match(e->item, *other, strict);
                if (m == Match::Unequal) return false;
                if (m != Match::Equal) {
                    ca = &e->item;
                    cb = other;
                    f.next = static_cast<std::size_t>(e - begin) + 1;
                    break;
                }
            }
        } else {
            const Elements& va = elements(*f.a);
            const Elements& vb = elements(*f.b);
            for (std::size_t i = f.next; i < va.size(); ++i) {
                if ((f.match == Match::ElementsA && !va[i].is_inline_table()) ||
                    (f.match == Match::ElementsB && !vb[i].is_inline_table()))
                    return false;
                m = match(va[i], vb[i], strict);
                if (m == Match::Unequal) return false;
                if (m != Match::Equal) {
                    ca = &va[i];
                    cb = &vb[i];
                    f.next = i + 1;
                    break;
                }
            }
        }
        if (ca)
            stack.push(Frame{ca, cb, 0, m});  // f is stale from here
        else
            stack.pop();
    }
    return true;
}

}  // namespace

bool values_equal(const TreeItem& a, const TreeItem& b) { return compare(a, b, false); }
bool same_data(const TreeItem& a, const TreeItem& b) { return compare(a, b, true); }

// Positions belong to standard tables, which only tables and arrays of tables
// hold: the walk enters nothing else.
void clear_positions(TreeItem& item) noexcept {
    auto visit = [](TreeItem& i, NodeChain& chain) {
        if (i.is_table()) {
            i.as_table().doc_position.reset();
            chain.push(i);
        } else if (i.is_array_of_tables()) {
            chain.push(i);
        }
    };
    NodeChain chain;
    visit(item, chain);
    chain.drain(
        [&](Table& t) {
            for (Entry& e : t.entries) visit(e.item, chain);
        },
        [](Array&) {},
        [&](ArrayOfTables& a) {
            for (TreeItem& m : a.values) visit(m, chain);
        });
}

}  // namespace morvelan
