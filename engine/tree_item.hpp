// TreeItem: the node of a document tree.
//
// One type holds every variant: the empty slot (None), the values (String,
// Integer, Float, Boolean, Datetime, Array, InlineTable), standard tables and
// arrays of tables. Scalars are stored inline; arrays and tables live on the
// heap and the item owns them.
//
// Every item but None and ArrayOfTables carries a Decor: for values the text
// around the value, for a Table the text around its header line. Scalars also
// carry their source spelling (absent for values created in memory).
//
// A tree may be nested to any depth (handles can put a table into a table
// without end), so nothing that walks a whole subtree recurses: freeing,
// copying, comparing, detaching and converting keep their own stack on the
// heap, or chain the nodes still to visit through the nodes themselves.
#pragma once

#include <cstdint>
#include <cstring>
#include <new>
#include <string_view>

#include "datetime.hpp"
#include "repr.hpp"

namespace morvelan {

class Table;
class Array;
class ArrayOfTables;
using InlineTable = Table;
class NodeChain;

enum class ItemKind : std::uint8_t {
    None,
    String,
    Integer,
    Float,
    Boolean,
    Datetime,
    Array,
    InlineTable,
    Table,
    ArrayOfTables,
};

// "none", "table", "array of tables", "string", "integer", "float",
// "boolean", "datetime", "array", "inline table".
std::string_view kind_name(ItemKind kind) noexcept;

struct BoxedDatetime : EngineAllocated {
    Datetime value;
};

class TreeItem {
public:
    TreeItem() noexcept {}
    // Frees the subtree, at any depth, without allocating.
    ~TreeItem() {
        // Numbers, booleans and None own nothing.
        if (kind_ == ItemKind::String || kind_ >= ItemKind::Datetime) destroy();
    }
    // A deep copy. May throw std::bad_alloc; nothing is left allocated then.
    TreeItem(const TreeItem& o);
    TreeItem& operator=(const TreeItem& o);
    TreeItem(TreeItem&& o) noexcept;
    TreeItem& operator=(TreeItem&& o) noexcept;

    // Values created in memory: no source spelling, absent decor.
    static TreeItem string(std::string_view s) { return string(RawText::owned(s), RawText::absent()); }
    static TreeItem string(RawText decoded, SourceRepr repr);
    static TreeItem integer(std::int64_t v, SourceRepr repr = RawText::absent());
    static TreeItem floating(double v, SourceRepr repr = RawText::absent());
    static TreeItem boolean(bool v, SourceRepr repr = RawText::absent());
    static TreeItem datetime(const Datetime& v, SourceRepr repr = RawText::absent());
    static TreeItem array();            // empty Array
    static TreeItem inline_table();     // empty InlineTable
    static TreeItem table();            // empty Table
    static TreeItem array_of_tables();  // empty ArrayOfTables

    ItemKind kind() const noexcept { return kind_; }
    bool is_none() const noexcept { return kind_ == ItemKind::None; }
    bool is_value() const noexcept { return kind_ != ItemKind::None && kind_ < ItemKind::Table; }
    bool is_scalar() const noexcept { return kind_ >= ItemKind::String && kind_ <= ItemKind::Datetime; }
    bool is_table() const noexcept { return kind_ == ItemKind::Table; }
    bool is_inline_table() const noexcept { return kind_ == ItemKind::InlineTable; }
    // A Table or an InlineTable.
    bool is_table_like() const noexcept { return kind_ == ItemKind::Table || kind_ == ItemKind::InlineTable; }
    bool is_array() const noexcept { return kind_ == ItemKind::Array; }
    bool is_array_of_tables() const noexcept { return kind_ == ItemKind::ArrayOfTables; }
    // An Array, InlineTable, Table or ArrayOfTables: a node that has children.
    bool is_container() const noexcept { return kind_ >= ItemKind::Array; }

    // Scalar accessors; the kind must match.
    std::string_view as_string() const noexcept { return u_.str.view(); }
    std::int64_t as_integer() const noexcept { return u_.i; }
    double as_float() const noexcept { return u_.f; }
    bool as_bool() const noexcept { return u_.b; }
    const Datetime& as_datetime() const noexcept { return u_.dt->value; }
    // Container accessors; the kind must match (as_table: Table or InlineTable).
    Table& as_table() noexcept { return *u_.table; }
    const Table& as_table() const noexcept { return *u_.table; }
    Array& as_array() noexcept { return *u_.array; }
    const Array& as_array() const noexcept { return *u_.array; }
    ArrayOfTables& as_array_of_tables() noexcept { return *u_.aot; }
    const ArrayOfTables& as_array_of_tables() const noexcept { return *u_.aot; }

    // The decor of a value, or of a table's header line.
    Decor& decor() noexcept { return decor_; }
    const Decor& decor() const noexcept { return decor_; }
    // The source spelling of a scalar (absent when none was recorded).
    const SourceRepr& repr() const noexcept { return repr_; }
    void set_repr(SourceRepr r) noexcept { repr_ = std::move(r); }

    // Turns every piece of source text in this subtree into owned text, so
    // the item no longer depends on its document's buffer.
    void detach();

    // Turns a Table into an InlineTable and an ArrayOfTables into an Array,
    // recursively, with normalised formatting; values and None stay. The
    // children are converted before their parent's formatting is normalised,
    // so that the parent treats them as the values they have become.
    void convert_to_value();

private:
    struct Shallow {};

public:
    // The building block of the tree copy: a scalar whole, a container as a
    // None item with the container's decor, for the copy to fill in. Public
    // only so that a vector can construct it in place; the tag type is
    // private, so no other code is meant to call it.
    TreeItem(const TreeItem& o, Shallow) : decor_(o.decor_), repr_(o.repr_) {
        if (!o.is_container()) copy_scalar(o);
    }

private:
    friend class NodeChain;
    inline void copy_scalar(const TreeItem& o);
    bool copy_node(const TreeItem& o);
    void copy_children(const TreeItem& o);
    void destroy() noexcept;
    void free_nodes() noexcept;
    static void free_subtree(TreeItem& root, NodeChain& chain) noexcept;
    // The decor, spelling and string of this item, not of its children.
    void detach_own();
    // Converts this Table or ArrayOfTables alone; its children are done.
    void convert_node();

    ItemKind kind_ = ItemKind::None;
    Decor decor_;
    SourceRepr repr_ = RawText::absent();
    union U {
        U() noexcept : i(0) {}
        ~U() {}
        RawText str;
        std::int64_t i;
        double f;
        bool b;
        BoxedDatetime* dt;  // out of line: keeps every item small
        Table* table;
        Array* array;
        ArrayOfTables* aot;
        void set(Table* t) noexcept { table = t; }
        void set(Array* a) noexcept { array = a; }
        void set(ArrayOfTables* a) noexcept { aot = a; }
    } u_;
};

// Sets the payload of this None item from the scalar `o`.
inline void TreeItem::copy_scalar(const TreeItem& o) {
    switch (o.kind_) {
        case ItemKind::String: new (&u_.str) RawText(o.u_.str); break;
        case ItemKind::Datetime: u_.dt = new BoxedDatetime(*o.u_.dt); break;
        default: u_.i = o.u_.i; break;
    }
    kind_ = o.kind_;
}

// Every member of an item (raw pointers, texts that are a pointer and a
// length, the union) can be moved by copying its bytes, after which the
// source is reset to an empty None that owns nothing. Vectors of items move
// their elements this way when they grow.
inline TreeItem::TreeItem(TreeItem&& o) noexcept {
    std::memcpy(static_cast<void*>(this), static_cast<const void*>(&o), sizeof(TreeItem));
    new (&o) TreeItem();
}

inline TreeItem& TreeItem::operator=(TreeItem&& o) noexcept {
    if (this != &o) {
        this->~TreeItem();
        new (this) TreeItem(std::move(o));
    }
    return *this;
}

inline TreeItem TreeItem::string(RawText decoded, SourceRepr repr) {
    TreeItem t;
    new (&t.u_.str) RawText(std::move(decoded));
    t.kind_ = ItemKind::String;
    t.repr_ = std::move(repr);
    return t;
}

inline TreeItem TreeItem::integer(std::int64_t v, SourceRepr repr) {
    TreeItem t;
    t.kind_ = ItemKind::Integer;
    t.u_.i = v;
    t.repr_ = std::move(repr);
    return t;
}

inline TreeItem TreeItem::floating(double v, SourceRepr repr) {
    TreeItem t;
    t.kind_ = ItemKind::Float;
    t.u_.f = v;
    t.repr_ = std::move(repr);
    return t;
}

inline TreeItem TreeItem::boolean(bool v, SourceRepr repr) {
    TreeItem t;
    t.kind_ = ItemKind::Boolean;
    t.u_.b = v;
    t.repr_ = std::move(repr);
    return t;
}

// Compares two items as TOML data; spelling, decor and entry order never
// matter. Numbers compare mathematically (an integer equals a float with the
// same exact value; NaN equals nothing); tables and inline tables compare by
// their visible entries; an array of tables equals an array of inline tables
// with equal members. None is never equal to anything. May throw
// std::bad_alloc (for the stack of a deep comparison).
bool values_equal(const TreeItem& a, const TreeItem& b);

// Forgets the recorded header position of every table at or below `item`.
// A subtree moved to a new place is then written where the walk meets it,
// all of it together (each member of an array of tables with its
// sub-tables), instead of by positions that belonged to its old place.
void clear_positions(TreeItem& item) noexcept;

// Stricter: the same kinds (a table and an inline table differ) and the same
// values, floats bit for bit except that every NaN equals every NaN. Used to
// check that writing and reading back keeps the data. May throw
// std::bad_alloc, as values_equal.
bool same_data(const TreeItem& a, const TreeItem& b);

}  // namespace morvelan
