#include "tree_item.hpp"

#include <cmath>
#include <cstring>
#include <new>

#include "array.hpp"
#include "array_of_tables.hpp"
#include "table.hpp"

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

void TreeItem::destroy() noexcept {
    switch (kind_) {
        case ItemKind::String: u_.str.~RawText(); break;
        case ItemKind::Array: delete u_.array; break;
        case ItemKind::InlineTable:
        case ItemKind::Table: delete u_.table; break;
        case ItemKind::ArrayOfTables: delete u_.aot; break;
        case ItemKind::Datetime: delete u_.dt; break;
        default: break;
    }
    kind_ = ItemKind::None;
    u_.i = 0;
}

TreeItem::TreeItem(const TreeItem& o) : kind_(ItemKind::None), decor_(o.decor_), repr_(o.repr_) {
    switch (o.kind_) {
        case ItemKind::String: new (&u_.str) RawText(o.u_.str); break;
        case ItemKind::Array: u_.array = new Array(*o.u_.array); break;
        case ItemKind::InlineTable:
        case ItemKind::Table: u_.table = new Table(*o.u_.table); break;
        case ItemKind::ArrayOfTables: u_.aot = new ArrayOfTables(*o.u_.aot); break;
        case ItemKind::Datetime: u_.dt = new BoxedDatetime(*o.u_.dt); break;
        default: u_.i = o.u_.i; break;
    }
    kind_ = o.kind_;
}

TreeItem& TreeItem::operator=(const TreeItem& o) {
    if (this != &o) {
        TreeItem tmp(o);
        *this = std::move(tmp);
    }
    return *this;
}

// Every member of an item (raw pointers, texts that are a pointer and a
// length, the union) can be moved by copying its bytes, after which the
// source is reset to an empty None that owns nothing. Vectors of items move
// their elements this way when they grow.
TreeItem::TreeItem(TreeItem&& o) noexcept {
    std::memcpy(static_cast<void*>(this), static_cast<const void*>(&o), sizeof(TreeItem));
    new (&o) TreeItem();
}

TreeItem& TreeItem::operator=(TreeItem&& o) noexcept {
    if (this != &o) {
        this->~TreeItem();
        new (this) TreeItem(std::move(o));
    }
    return *this;
}

TreeItem TreeItem::string(RawText decoded, SourceRepr repr) {
    TreeItem t;
    new (&t.u_.str) RawText(std::move(decoded));
    t.kind_ = ItemKind::String;
    t.repr_ = std::move(repr);
    return t;
}

TreeItem TreeItem::integer(std::int64_t v, SourceRepr repr) {
    TreeItem t;
    t.kind_ = ItemKind::Integer;
    t.u_.i = v;
    t.repr_ = std::move(repr);
    return t;
}

TreeItem TreeItem::floating(double v, SourceRepr repr) {
    TreeItem t;
    t.kind_ = ItemKind::Float;
    t.u_.f = v;
    t.repr_ = std::move(repr);
    return t;
}

TreeItem TreeItem::boolean(bool v, SourceRepr repr) {
    TreeItem t;
    t.kind_ = ItemKind::Boolean;
    t.u_.b = v;
    t.repr_ = std::move(repr);
    return t;
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

void TreeItem::detach() {
    decor_.detach();
    repr_.detach();
    switch (kind_) {
        case ItemKind::String: u_.str.detach(); break;
        case ItemKind::Array: u_.array->detach(); break;
        case ItemKind::InlineTable:
        case ItemKind::Table: u_.table->detach(); break;
        case ItemKind::ArrayOfTables: u_.aot->detach(); break;
        default: break;
    }
}

void TreeItem::convert_to_value() {
    if (kind_ == ItemKind::Table) {
        Table& t = *u_.table;
        for (Entry& e : t.entries) e.item.convert_to_value();
        t.trailing = RawText();
        t.trailing_comma = false;
        t.implicit = false;
        t.dotted = false;
        t.doc_position.reset();
        t.span_start = t.span_end = 0;
        t.fmt();
        kind_ = ItemKind::InlineTable;
        decor_.clear();
    } else if (kind_ == ItemKind::ArrayOfTables) {
        ArrayOfTables* aot = u_.aot;
        Array* arr = new Array();
        arr->items() = std::move(aot->values);
        delete aot;
        u_.array = arr;
        kind_ = ItemKind::Array;
        for (TreeItem& v : arr->items()) v.convert_to_value();
        decor_.clear();
        arr->fmt();
    }
}

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

bool aot_equals_array(const ArrayOfTables& aot, const Array& arr, bool strict);

bool compare(const TreeItem& a, const TreeItem& b, bool strict) {
    ItemKind ka = a.kind(), kb = b.kind();
    if (ka == ItemKind::None || kb == ItemKind::None) return false;
    bool a_num = ka == ItemKind::Integer || ka == ItemKind::Float;
    bool b_num = kb == ItemKind::Integer || kb == ItemKind::Float;
    if (strict && ka != kb) return false;
    if (a_num && b_num) {
        if (strict && ka == ItemKind::Float) {
            double x = a.as_float(), y = b.as_float();
            if (std::isnan(x) || std::isnan(y)) return std::isnan(x) && std::isnan(y);
            return std::memcmp(&x, &y, sizeof x) == 0;
        }
        return numbers_equal(a, b);
    }
    bool a_tab = a.is_table_like(), b_tab = b.is_table_like();
    if (a_tab && b_tab) {
        const Table& ta = a.as_table();
        const Table& tb = b.as_table();
        if (ta.visible_size() != tb.visible_size()) return false;
        for (const Entry& e : ta.entries) {
            if (e.item.is_none()) continue;
            const TreeItem* other = tb.get(e.key.text());
            if (!other || !compare(e.item, *other, strict)) return false;
        }
        return true;
    }
    if (!strict && ka == ItemKind::ArrayOfTables && kb == ItemKind::Array)
        return aot_equals_array(a.as_array_of_tables(), b.as_array(), strict);
    if (!strict && ka == ItemKind::Array && kb == ItemKind::ArrayOfTables)
        return aot_equals_array(b.as_array_of_tables(), a.as_array(), strict);
    if (ka != kb) return false;
    switch (ka) {
        case ItemKind::String: return a.as_string() == b.as_string();
        case ItemKind::Boolean: return a.as_bool() == b.as_bool();
        case ItemKind::Datetime: return a.as_datetime() == b.as_datetime();
        case ItemKind::Array: {
            const Array& aa = a.as_array();
            const Array& ab = b.as_array();
            if (aa.size() != ab.size()) return false;
            ElementReader ra(aa), rb(ab);
            while (const TreeItem* x = ra.next()) {
                if (!compare(*x, *rb.next(), strict)) return false;
            }
            return true;
        }
        case ItemKind::ArrayOfTables: {
            const auto& va = a.as_array_of_tables().values;
            const auto& vb = b.as_array_of_tables().values;
            if (va.size() != vb.size()) return false;
            for (std::size_t i = 0; i < va.size(); ++i)
                if (!compare(va[i], vb[i], strict)) return false;
            return true;
        }
        default: return false;
    }
}

bool aot_equals_array(const ArrayOfTables& aot, const Array& arr, bool strict) {
    if (aot.values.size() != arr.size()) return false;
    ElementReader elements(arr);
    for (const TreeItem& member : aot.values) {
        const TreeItem* e = elements.next();
        if (!e->is_inline_table() || !compare(member, *e, strict)) return false;
    }
    return true;
}

}  // namespace

bool values_equal(const TreeItem& a, const TreeItem& b) { return compare(a, b, false); }
bool same_data(const TreeItem& a, const TreeItem& b) { return compare(a, b, true); }

void clear_positions(TreeItem& item) noexcept {
    if (item.is_table()) {
        item.as_table().doc_position.reset();
        for (Entry& e : item.as_table().entries) clear_positions(e.item);
    } else if (item.is_array_of_tables()) {
        for (TreeItem& m : item.as_array_of_tables().values) clear_positions(m);
    }
}

}  // namespace morvelan
