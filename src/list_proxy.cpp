// The sequence surface of ListItem: indexing and slicing into element
// handles, length, iteration, containment, count() and index(), and the
// edits: item and slice assignment and deletion, append, insert, extend,
// pop, remove, set_multiline, +, *, += and *=. Elements of an array and
// members of an array of tables are reached by index steps.
//
// Every edit converts its Python values first, then takes the document
// exclusively, checks and resolves the handle, makes each value an element
// of the list (and fails, changing nothing, when one cannot be), and only
// then changes the tree (the layout rules are in list_ops). Edits that move
// or replace elements stamp the positions they touched and refresh the
// acting handle, so that it stays usable; appending stamps nothing.
#include "list_proxy.hpp"

#include <algorithm>

#include "arguments.hpp"
#include "conversion.hpp"
#include "edit/list_edit.hpp"
#include "edit/list_ops.hpp"
#include "edit/written_order.hpp"
#include "engine/nesting.hpp"
#include "item_proxy.hpp"
#include "types.hpp"

namespace morvelan::py {

namespace {

// The resolved place, which must be an array or an array of tables.
Result<TreeItem*> list_at(const Place& p, const char* op) {
    MV_ASSIGN(TreeItem * t, resolve(p));
    if (!t->is_array() && !t->is_array_of_tables())
        return type_error(quoted_kind(*t) + " does not support " + op);
    return t;
}

// What an index too large for the machine gives, as for a Python list:
// IndexError where it names an element (l[i], l[i] = v, del l[i]),
// OverflowError where list takes a C integer (insert, pop), and the nearest
// end where it is a bound (the start and stop of index()).
enum class Huge { IndexError, OverflowError, Clamp };

// An index argument as a Py_ssize_t: an Item stands for its value, anything
// else goes through __index__.
Result<Py_ssize_t> index_value(PyObject* index, Huge huge) {
    Ref number;
    if (PyLong_CheckExact(index)) {
        number = Ref::borrow(index);
    } else {
        Ref value = Ref::borrow(index);
        if (is_item(index)) {
            value = Ref::steal(PyObject_GetAttrString(index, "value"));
            if (!value) return Error::pending();
        }
        number = Ref::steal(PyNumber_Index(value.get()));
        if (!number) {
            if (!PyErr_ExceptionMatches(PyExc_TypeError)) return Error::pending();
            PyErr_Clear();
            return type_error("TOML array indices must be integers or slices, not " + type_name(index));
        }
    }
    if (huge == Huge::Clamp) {
        const Py_ssize_t i = PyNumber_AsSsize_t(number.get(), nullptr);  // saturates
        if (i == -1 && PyErr_Occurred()) return Error::pending();
        return i;
    }
    const Py_ssize_t i = PyLong_AsSsize_t(number.get());
    if (i == -1 && PyErr_Occurred()) {
        if (huge == Huge::IndexError && PyErr_ExceptionMatches(PyExc_OverflowError)) {
            PyErr_Clear();
            return index_error("cannot fit 'int' into an index-sized integer");
        }
        return Error::pending();
    }
    return i;
}

// An index counted from the end when negative; it must name an element.
Result<std::size_t> position(long long i, std::size_t size) {
    if (i < 0) i += static_cast<long long>(size);
    if (i < 0 || static_cast<unsigned long long>(i) >= size) return index_error("index out of range");
    return static_cast<std::size_t>(i);
}

// The positions a slice selects in a sequence of `size` elements.
struct Selection {
    Py_ssize_t start = 0;
    Py_ssize_t step = 1;
    Py_ssize_t count = 0;
    std::size_t at(Py_ssize_t k) const noexcept { return static_cast<std::size_t>(start + k * step); }
};

Result<Selection> select(PyObject* slice, std::size_t size) {
    Py_ssize_t start = 0, stop = 0, step = 1;
    if (PySlice_Unpack(slice, &start, &stop, &step) < 0) return Error::pending();
    Selection s;
    s.count = PySlice_AdjustIndices(static_cast<Py_ssize_t>(size), &start, &stop, step);
    s.start = start;
    s.step = step;
    return s;
}

// Python values converted before anything is locked. A value that is not
// iterable raises TypeError with `message`, or with Python's own when null.
Result<Vector<TreeItem>> convert_all(PyObject* iterable, const char* message = nullptr) {
    Ref it = Ref::steal(PyObject_GetIter(iterable));
    if (!it) {
        if (!message || !PyErr_ExceptionMatches(PyExc_TypeError)) return Error::pending();
        PyErr_Clear();
        return type_error(message);
    }
    MV_ASSIGN(Ref list, checked(PySequence_List(it.get())));
    const Py_ssize_t n = PyList_Size(list.get());
    Vector<TreeItem> items;
    items.reserve(static_cast<std::size_t>(n));
    for (Py_ssize_t i = 0; i < n; ++i) {
        MV_ASSIGN(TreeItem item, to_toml(PyList_GetItem(list.get(), i)));
        items.push_back(std::move(item));
    }
    return items;
}

// A value made an element of `list`.
Result<TreeItem> make_element(const TreeItem& list, TreeItem item) {
    const ItemKind kind = item.kind();
    std::optional<TreeItem> element = as_element(list, std::move(item));
    if (!element)
        return type_error("cannot append " + std::string(kind_name(kind)) +
                          " to array of tables (expected a table/dict)");
    return std::move(*element);
}

// Checks that the elements are written as text the parser reads back.
Status check_elements(const Place& p, const Vector<TreeItem>& elements) {
    for (const TreeItem& e : elements) MV_CHECK(check_readable(p, e));
    return ok();
}

// The values made elements of `list`, all or none.
Status make_elements(const TreeItem& list, Vector<TreeItem>& items) {
    Vector<TreeItem> elements;
    elements.reserve(items.size());
    for (TreeItem& item : items) {
        MV_ASSIGN(TreeItem element, make_element(list, std::move(item)));
        elements.push_back(std::move(element));
    }
    items = std::move(elements);
    return ok();
}

// Stamps the positions [first, last) of the list and refreshes the acting
// handle: it stays usable, while older handles at those positions go stale.
void stamp_positions(const Place& p, std::size_t first, std::size_t last) {
    if (first >= last) return;
    const std::uint64_t c = p.doc().registry.stamp_range(*p.path, first, last);
    p.state->version.store(c, std::memory_order_release);
}

// Stamps every position from `first` on (the elements an insertion or a
// removal moves) and refreshes the acting handle.
void stamp_from(const Place& p, std::size_t first) {
    const std::uint64_t c = p.doc().registry.stamp_from(*p.path, first);
    p.state->version.store(c, std::memory_order_release);
}

// Stamps the list itself (every handle below it) and refreshes the acting handle.
void stamp_list(const Place& p) {
    const std::uint64_t c = stamp(p, nullptr);
    p.state->version.store(c, std::memory_order_release);
}

// An exclusive hold of the document with the list of the acting handle, and
// the edit of that list (see edit/list_edit.hpp).
struct Editing {
    Place place;
    LockGuard guard;
    ListEdit list;
};

Result<Editing> edit(PyObject* self, const char* op) {
    Place p = Place::of_record(self);
    MV_ASSIGN(LockGuard guard, LockGuard::exclusive(p.doc().lock));
    MV_ASSIGN(TreeItem * list, list_at(p, op));
    return Editing{p, std::move(guard), edit_list(self, *list)};
}

// ---- reading ---------------------------------------------------------------

Result<Ref> element_handle(PyObject* self, long long i) {
    Place p = Place::of_record(self);
    MV_ASSIGN(LockGuard guard, LockGuard::glance(p.doc().lock));
    MV_ASSIGN(TreeItem * list, list_at(p, "indexing"));
    MV_ASSIGN(std::size_t at, position(i, length_of(*list)));
    return new_handle(p.document, *p.path, PathStep::index(at), read_element(*list, at));
}

PyObject* list_subscript(PyObject* self, PyObject* index) {
    return frame([&]() -> Result<Ref> {
        if (!PySlice_Check(index)) {
            MV_ASSIGN(const Py_ssize_t i, index_value(index, Huge::IndexError));
            return element_handle(self, i);
        }
        Place p = Place::of_record(self);
        MV_ASSIGN(LockGuard guard, LockGuard::shared(p.doc().lock));
        MV_ASSIGN(TreeItem * list, list_at(p, "slicing"));
        Elements& elements = elements_of(*list);
        MV_ASSIGN(const Selection s, select(index, elements.size()));
        MV_ASSIGN(Ref out, checked(PyList_New(0)));
        for (Py_ssize_t k = 0; k < s.count; ++k) {
            MV_ASSIGN(Ref h, new_handle(p.document, *p.path, PathStep::index(s.at(k)), elements[s.at(k)]));
            if (PyList_Append(out.get(), h.get()) < 0) return Error::pending();
        }
        return out;
    });
}

// The sequence item slot: the interpreter has already counted a negative
// index from the end.
PyObject* list_item(PyObject* self, Py_ssize_t i) {
    return frame([&]() -> Result<Ref> { return element_handle(self, i); });
}

Py_ssize_t list_len(PyObject* self) {
    return frame_ssize([&]() -> Result<Py_ssize_t> {
        Place p = Place::of_record(self);
        MV_ASSIGN(LockGuard guard, LockGuard::glance(p.doc().lock));
        MV_ASSIGN(TreeItem * list, list_at(p, "__len__"));
        // A packed array knows its length without being unpacked.
        return static_cast<Py_ssize_t>(length_of(*list));
    });
}

// Handles for every element, in order or reversed, as a list.
Result<Ref> element_handles(PyObject* self, bool reversed) {
    Place p = Place::of_record(self);
    MV_ASSIGN(LockGuard guard, LockGuard::shared(p.doc().lock));
    MV_ASSIGN(TreeItem * list, list_at(p, "__iter__"));
    Elements& elements = elements_of(*list);
    const std::size_t n = elements.size();
    MV_ASSIGN(Ref out, checked(PyList_New(0)));
    for (std::size_t k = 0; k < n; ++k) {
        const std::size_t at = reversed ? n - 1 - k : k;
        MV_ASSIGN(Ref h, new_handle(p.document, *p.path, PathStep::index(at), elements[at]));
        if (PyList_Append(out.get(), h.get()) < 0) return Error::pending();
    }
    return out;
}

PyObject* list_iter(PyObject* self) {
    return frame([&]() -> Result<Ref> {
        MV_ASSIGN(Ref handles, element_handles(self, false));
        return checked(PyObject_GetIter(handles.get()));
    });
}

PyObject* list_reversed(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return frame([&]() -> Result<Ref> {
        MV_CHECK(no_arguments("__reversed__()", args, nargs, kwnames, self));
        MV_ASSIGN(Ref handles, element_handles(self, true));
        return checked(PyObject_GetIter(handles.get()));
    });
}

// Positions [start, stop) of the elements equal to `c` (all of them, or the
// first only). A packed array is read without being unpacked.
Result<std::vector<std::size_t>> positions_equal(const TreeItem& list, const Comparand& c, Py_ssize_t start,
                                                 Py_ssize_t stop, bool first_only) {
    const auto n = static_cast<Py_ssize_t>(length_of(list));
    if (start < 0) start = std::max<Py_ssize_t>(start + n, 0);
    if (stop < 0) stop = std::max<Py_ssize_t>(stop + n, 0);
    stop = std::min(stop, n);
    std::vector<std::size_t> found;
    auto consider = [&](std::size_t i, const TreeItem& element) -> Result<bool> {
        MV_ASSIGN(const bool equal, c.equals(element));
        if (equal) found.push_back(i);
        return first_only && !found.empty();
    };
    if (list.is_array()) {
        ElementReader reader(list.as_array());
        for (Py_ssize_t i = 0; i < stop; ++i) {
            const TreeItem* element = reader.next();
            if (i < start) continue;
            MV_ASSIGN(const bool done, consider(static_cast<std::size_t>(i), *element));
            if (done) break;
        }
    } else {
        const Elements& members = list.as_array_of_tables().values;
        for (Py_ssize_t i = start; i < stop; ++i) {
            MV_ASSIGN(const bool done,
                      consider(static_cast<std::size_t>(i), members[static_cast<std::size_t>(i)]));
            if (done) break;
        }
    }
    return found;
}

Result<std::vector<std::size_t>> find_equal(PyObject* self, PyObject* value, const char* op, Py_ssize_t start,
                                            Py_ssize_t stop, bool first_only) {
    MV_ASSIGN(Comparand c, Comparand::from(value));
    Place p = Place::of_record(self);
    MV_ASSIGN(LockGuard guard, LockGuard::shared(p.doc().lock));
    MV_ASSIGN(TreeItem * list, list_at(p, op));
    return positions_equal(*list, c, start, stop, first_only);
}

int list_contains(PyObject* self, PyObject* value) {
    return frame_int([&]() -> Result<int> {
        MV_ASSIGN(auto found, find_equal(self, value, "'in'", 0, PY_SSIZE_T_MAX, true));
        return found.empty() ? 0 : 1;
    });
}

PyObject* list_count(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return frame([&]() -> Result<Ref> {
        static const char* const names[] = {"value"};
        static const Signature sig{"count()", names, 1, 1, 1, 1, false, false};
        MV_ASSIGN(Args a, parse_args(sig, args, nargs, kwnames, self));
        MV_ASSIGN(auto found, find_equal(self, a.values[0], "count()", 0, PY_SSIZE_T_MAX, false));
        return checked(PyLong_FromSize_t(found.size()));
    });
}

// A start or stop bound of index(): None for the default, else an index
// (one beyond the machine's range is the nearest end, as for list.index).
Result<Py_ssize_t> bound(PyObject* o, Py_ssize_t fallback) {
    if (!o || o == Py_None) return fallback;
    MV_ASSIGN(const Py_ssize_t v, index_value(o, Huge::Clamp));
    return std::max(v, -PY_SSIZE_T_MAX);
}

PyObject* list_index(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return frame([&]() -> Result<Ref> {
        static const char* const names[] = {"value", "start", "stop"};
        static const Signature sig{"index()", names, 3, 3, 3, 1, false, false};
        MV_ASSIGN(Args a, parse_args(sig, args, nargs, kwnames, self));
        MV_ASSIGN(Py_ssize_t start, bound(a.values[1], 0));
        MV_ASSIGN(Py_ssize_t stop, bound(a.values[2], PY_SSIZE_T_MAX));
        MV_ASSIGN(auto found, find_equal(self, a.values[0], "index()", start, stop, true));
        if (found.empty()) return value_error("value not in array");
        return checked(PyLong_FromSize_t(found.front()));
    });
}

// ---- editing ---------------------------------------------------------------

// Appends the elements (made by make_elements) at the end.
void append_all(TreeItem& list, Vector<TreeItem>&& elements) {
    reserve_elements(list, elements.size());
    for (TreeItem& e : elements) insert_element(list, length_of(list), std::move(e));
}

Status set_at(PyObject* self, long long i, PyObject* value) {
    MV_ASSIGN(TreeItem item, to_toml(value));
    MV_ASSIGN(Editing e, edit(self, "__setitem__"));
    MV_ASSIGN(const std::size_t at, position(i, length_of(e.list.list())));
    MV_ASSIGN(TreeItem element, make_element(e.list.list(), std::move(item)));
    MV_CHECK(check_readable(e.place, element));
    e.list.replace(at, std::move(element));
    stamp_positions(e.place, at, at + 1);
    return ok();
}

Status delete_at(PyObject* self, long long i) {
    MV_ASSIGN(Editing e, edit(self, "__delitem__"));
    MV_ASSIGN(const std::size_t at, position(i, length_of(e.list.list())));
    e.list.remove(at);
    stamp_from(e.place, at);
    return ok();
}

Status set_slice(PyObject* self, PyObject* slice, PyObject* values) {
    MV_ASSIGN(Vector<TreeItem> items, convert_all(values, "can only assign an iterable"));
    MV_ASSIGN(Editing e, edit(self, "slice assignment"));
    TreeItem& list = e.list.list();
    const std::size_t n = length_of(list);
    MV_ASSIGN(const Selection s, select(slice, n));
    const auto given = static_cast<Py_ssize_t>(items.size());
    if (s.step != 1 && given != s.count)
        return value_error("attempt to assign sequence of size " + std::to_string(given) +
                           " to extended slice of size " + std::to_string(s.count));
    MV_CHECK(make_elements(list, items));
    MV_CHECK(check_elements(e.place, items));
    if (s.step != 1) {
        // Only the replaced positions are stamped: those between them keep
        // their elements and their handles.
        for (Py_ssize_t k = 0; k < s.count; ++k) {
            e.list.replace(s.at(k), std::move(items[static_cast<std::size_t>(k)]));
            stamp_positions(e.place, s.at(k), s.at(k) + 1);
        }
        return ok();
    }
    // The run [start, start + count) becomes the given elements: positions
    // both have are replaced in place (keeping their layout), the rest of
    // the run goes or the rest of the elements are inserted after it.
    const auto start = static_cast<std::size_t>(s.start);
    const auto count = static_cast<std::size_t>(s.count);
    const std::size_t common = std::min(count, items.size());
    for (std::size_t k = 0; k < common; ++k) e.list.replace(start + k, std::move(items[k]));
    for (std::size_t k = count; k > common; --k) e.list.remove(start + k - 1);
    for (std::size_t k = common; k < items.size(); ++k) e.list.insert(start + k, std::move(items[k]));
    if (count == items.size())
        stamp_positions(e.place, start, start + count);
    else
        stamp_from(e.place, start);
    return ok();
}

Status delete_slice(PyObject* self, PyObject* slice) {
    MV_ASSIGN(Editing e, edit(self, "slice deletion"));
    MV_ASSIGN(const Selection s, select(slice, length_of(e.list.list())));
    if (s.count == 0) return ok();
    std::vector<std::size_t> at;
    for (Py_ssize_t k = 0; k < s.count; ++k) at.push_back(s.at(k));
    std::sort(at.begin(), at.end());
    for (std::size_t k = at.size(); k-- > 0;) e.list.remove(at[k]);
    stamp_from(e.place, at.front());
    return ok();
}

int list_ass_subscript(PyObject* self, PyObject* index, PyObject* value) {
    return frame_int([&]() -> Result<int> {
        if (PySlice_Check(index)) {
            MV_CHECK(value ? set_slice(self, index, value) : delete_slice(self, index));
        } else {
            MV_ASSIGN(const Py_ssize_t i, index_value(index, Huge::IndexError));
            MV_CHECK(value ? set_at(self, i, value) : delete_at(self, i));
        }
        return 0;
    });
}

int list_ass_item(PyObject* self, Py_ssize_t i, PyObject* value) {
    return frame_int([&]() -> Result<int> {
        MV_CHECK(value ? set_at(self, i, value) : delete_at(self, i));
        return 0;
    });
}

PyObject* list_append(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return frame([&]() -> Result<Ref> {
        static const char* const names[] = {"value"};
        static const Signature sig{"append()", names, 1, 1, 1, 1, false, false};
        MV_ASSIGN(Args a, parse_args(sig, args, nargs, kwnames, self));
        MV_ASSIGN(TreeItem item, to_toml(a.values[0]));
        MV_ASSIGN(Editing e, edit(self, "append()"));
        MV_ASSIGN(TreeItem element, make_element(e.list.list(), std::move(item)));
        MV_CHECK(check_readable(e.place, element));
        e.list.insert(length_of(e.list.list()), std::move(element));
        return Ref::borrow(Py_None);
    });
}

PyObject* list_insert(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return frame([&]() -> Result<Ref> {
        static const char* const names[] = {"index", "value"};
        static const Signature sig{"insert()", names, 2, 2, 2, 2, false, false};
        MV_ASSIGN(Args a, parse_args(sig, args, nargs, kwnames, self));
        MV_ASSIGN(long long i, index_value(a.values[0], Huge::OverflowError));
        MV_ASSIGN(TreeItem item, to_toml(a.values[1]));
        MV_ASSIGN(Editing e, edit(self, "insert()"));
        const auto n = static_cast<long long>(length_of(e.list.list()));
        // As list.insert: counted from the end when negative, clamped to the list.
        if (i < 0) i = std::max(i + n, 0LL);
        const auto at = static_cast<std::size_t>(std::min(i, n));
        MV_ASSIGN(TreeItem element, make_element(e.list.list(), std::move(item)));
        MV_CHECK(check_readable(e.place, element));
        e.list.insert(at, std::move(element));
        stamp_from(e.place, at);
        return Ref::borrow(Py_None);
    });
}

Status extend_with(PyObject* self, PyObject* values, const char* op) {
    MV_ASSIGN(Vector<TreeItem> items, convert_all(values));
    MV_ASSIGN(Editing e, edit(self, op));
    MV_CHECK(make_elements(e.list.list(), items));
    MV_CHECK(check_elements(e.place, items));
    e.list.append_all(std::move(items));
    return ok();
}

PyObject* list_extend(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return frame([&]() -> Result<Ref> {
        static const char* const names[] = {"values"};
        static const Signature sig{"extend()", names, 1, 1, 1, 1, false, false};
        MV_ASSIGN(Args a, parse_args(sig, args, nargs, kwnames, self));
        MV_CHECK(extend_with(self, a.values[0], "extend()"));
        return Ref::borrow(Py_None);
    });
}

PyObject* list_pop(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return frame([&]() -> Result<Ref> {
        static const char* const names[] = {"index"};
        static const Signature sig{"pop()", names, 1, 1, 1, 0, false, false};
        MV_ASSIGN(Args a, parse_args(sig, args, nargs, kwnames, self));
        std::optional<long long> i;
        if (a.values[0] && a.values[0] != Py_None) {
            MV_ASSIGN(i, index_value(a.values[0], Huge::OverflowError));
        }
        MV_ASSIGN(Editing e, edit(self, "pop()"));
        const std::size_t n = length_of(e.list.list());
        if (!i && n == 0) return index_error("pop from empty array");
        std::size_t at = n - 1;
        if (i) {
            MV_ASSIGN(at, position(*i, n));
        }
        // Converted before it is removed: an element Python cannot hold (or
        // one nested too deeply) raises, and the element stays.
        MV_ASSIGN(Ref value, to_python(element_at(e.list.list(), at), where_of(e.place, at)));
        e.list.remove(at);
        stamp_from(e.place, at);
        return value;
    });
}

PyObject* list_remove(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return frame([&]() -> Result<Ref> {
        static const char* const names[] = {"value"};
        static const Signature sig{"remove()", names, 1, 1, 1, 1, false, false};
        MV_ASSIGN(Args a, parse_args(sig, args, nargs, kwnames, self));
        MV_ASSIGN(Comparand c, Comparand::from(a.values[0]));
        MV_ASSIGN(Editing e, edit(self, "remove()"));
        MV_ASSIGN(auto found, positions_equal(e.list.list(), c, 0, PY_SSIZE_T_MAX, true));
        if (found.empty()) return value_error("value not in array");
        e.list.remove(found.front());
        stamp_from(e.place, found.front());
        return Ref::borrow(Py_None);
    });
}

// The indent argument of set_multiline(): a non-negative int.
Result<std::size_t> indent_of(PyObject* o) {
    if (!PyLong_Check(o)) return wrong_type(o, "int");
    const long long v = PyLong_AsLongLong(o);
    if (v == -1 && PyErr_Occurred()) return Error::pending();
    if (v < 0) return value_error("indent must be a non-negative integer");
    return static_cast<std::size_t>(v);
}

PyObject* list_set_multiline(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return frame([&]() -> Result<Ref> {
        static const char* const names[] = {"indent"};
        static const Signature sig{"set_multiline()", names, 1, 0, 0, 0, false, false};
        MV_ASSIGN(Args a, parse_args(sig, args, nargs, kwnames, self));
        std::size_t indent = 4;
        if (a.values[0]) {
            MV_ASSIGN(indent, for_argument("indent", indent_of(a.values[0])));
        }
        MV_ASSIGN(Editing e, edit(self, "set_multiline()"));
        e.list.set_multiline(indent);
        return Ref::borrow(Py_None);
    });
}

// ---- reordering ----------------------------------------------------------------

// The elements of an array put in `order` (see reorder_elements) in one edit;
// `counter`, when given, is the modification counter the order was worked out
// at: an edit since then (by a key function, or by another thread) leaves
// the array as it is.
Status apply_order(PyObject* self, const char* op, const std::vector<std::size_t>& order,
                   std::optional<std::uint64_t> counter) {
    MV_ASSIGN(Editing e, edit(self, op));
    if (counter && e.place.doc().registry.counter() != *counter)
        return value_error(std::string("array modified during ") + op);
    if (!e.list.reorder(order))
        return value_error(std::string(op) +
                           " cannot move the members of this array of tables: other tables' headers stand "
                           "among them, or some were added by edits and others read from the text");
    stamp_from(e.place, 0);
    return ok();
}

PyObject* list_reverse(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return frame([&]() -> Result<Ref> {
        MV_CHECK(no_arguments("reverse()", args, nargs, kwnames, self));
        std::size_t n = 0;
        {
            Place p = Place::of_record(self);
            MV_ASSIGN(LockGuard guard, LockGuard::glance(p.doc().lock));
            MV_ASSIGN(TreeItem * list, list_at(p, "reverse()"));
            n = length_of(*list);
        }
        std::vector<std::size_t> order(n);
        for (std::size_t j = 0; j < n; ++j) order[j] = n - 1 - j;
        MV_CHECK(apply_order(self, "reverse()", order, std::nullopt));
        return Ref::borrow(Py_None);
    });
}

// sort(*, key=None, reverse=False): the plain values are read, keyed and
// sorted (stable, as list.sort()) with no lock held, since key runs Python
// code; the order found is then applied.
PyObject* list_sort(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return frame([&]() -> Result<Ref> {
        static const char* const names[] = {"key", "reverse"};
        static const Signature sig{"sort()", names, 2, 0, 0, 0, false, false};
        MV_ASSIGN(Args a, parse_args(sig, args, nargs, kwnames, self));
        MV_ASSIGN(const SortOptions options, sort_options(a.values[0], a.values[1]));
        Ref values;
        std::uint64_t counter = 0;
        {
            Place p = Place::of_record(self);
            MV_ASSIGN(LockGuard guard, LockGuard::shared(p.doc().lock));
            MV_ASSIGN(TreeItem * list, list_at(p, "sort()"));
            counter = p.doc().registry.counter();
            MV_ASSIGN(values, to_python(*list));
        }
        MV_ASSIGN(const std::vector<std::size_t> order, sorted_positions(values.get(), options));
        MV_CHECK(apply_order(self, "sort()", order, counter));
        return Ref::borrow(Py_None);
    });
}

// ---- concatenation and repetition -------------------------------------------

bool is_list_item(PyObject* o) noexcept {
    PyObject* type = list_item_type();
    return type && PyObject_TypeCheck(o, reinterpret_cast<PyTypeObject*>(type));
}

// The operand of + that may be added: a list, a tuple or a ListItem (+=
// takes any iterable, as extend() does).
bool addable(PyObject* o) noexcept { return PyList_Check(o) || PyTuple_Check(o) || is_list_item(o); }

// A copy of the list at the handle, with its layout.
Result<TreeItem> copy_list(PyObject* self, const char* op) {
    Place p = Place::of_record(self);
    MV_ASSIGN(LockGuard guard, LockGuard::shared(p.doc().lock));
    MV_ASSIGN(TreeItem * list, list_at(p, op));
    MV_CHECK(check_copy_nesting(*list));
    TreeItem copy = *list;
    guard.unlock();
    copy.detach();
    copy.decor().clear();
    return copy;
}

// `list` with the elements of `values` added as append() adds them.
Result<Ref> added(TreeItem list, Vector<TreeItem> values) {
    MV_CHECK(make_elements(list, values));
    // The list is the value of a private document (see private_handle).
    const Scope scope = scope_below(Scope::root(), list);
    for (const TreeItem& v : values)
        if (const char* refusal = unreadable_nesting(scope, v)) return value_error(refusal);
    append_all(list, std::move(values));
    return private_handle(std::move(list));
}

PyObject* list_add(PyObject* a, PyObject* b) {
    const bool left = is_list_item(a);
    if (!addable(left ? b : a)) Py_RETURN_NOTIMPLEMENTED;
    return frame([&]() -> Result<Ref> {
        if (left) {
            MV_ASSIGN(Vector<TreeItem> values, convert_all(b));
            MV_ASSIGN(TreeItem copy, copy_list(a, "__add__()"));
            return added(std::move(copy), std::move(values));
        }
        // other + item: the other's elements, then the item's added after them.
        MV_ASSIGN(Ref elements, checked(PySequence_List(a)));
        MV_ASSIGN(TreeItem first, to_toml(elements.get()));
        MV_ASSIGN(TreeItem copy, copy_list(b, "__radd__()"));
        if (copy.is_array_of_tables() && first.is_array() && first.as_array().empty())
            first = TreeItem::array_of_tables();
        Vector<TreeItem> values;
        values.reserve(length_of(copy));
        for (TreeItem& element : elements_of(copy)) values.push_back(std::move(element));
        return added(std::move(first), std::move(values));
    });
}

// Whether `count` may be a count of copies: an integer, or an object with
// __index__ (a handle on an integer among them), as for a list.
bool countable(PyObject* count) noexcept { return PyIndex_Check(count); }

// The number of copies of `count` (a handle stands for its value); as for a
// list, one beyond the machine's range is an OverflowError.
Result<long long> repeat_count(PyObject* count) {
    Ref value = Ref::borrow(count);
    if (is_item(count)) {
        value = Ref::steal(PyObject_GetAttrString(count, "value"));
        if (!value) return Error::pending();
    }
    MV_ASSIGN(Ref number, checked(PyNumber_Index(value.get())));
    const Py_ssize_t n = PyNumber_AsSsize_t(number.get(), PyExc_OverflowError);
    if (n == -1 && PyErr_Occurred()) return Error::pending();
    return n;
}

// `times` copies of the elements of `list` in a vector, or MemoryError.
Result<Vector<TreeItem>> repeated(const TreeItem& list, long long times) {
    const Elements& elements = list.is_array() ? list.as_array().items() : list.as_array_of_tables().values;
    Vector<TreeItem> out;
    if (times <= 0 || elements.empty()) return out;
    // A repetition that would need more than a terabyte of elements is
    // refused without trying (some allocators abort on such requests).
    constexpr unsigned long long kMaxBytes = 1ULL << 40;
    const auto max_copies = kMaxBytes / sizeof(TreeItem) / elements.size();
    if (static_cast<unsigned long long>(times) > max_copies) {
        PyErr_NoMemory();
        return Error::pending();
    }
    out.reserve(elements.size() * static_cast<std::size_t>(times));
    for (long long t = 0; t < times; ++t)
        for (const TreeItem& e : elements) out.push_back(e);
    return out;
}

PyObject* list_multiply(PyObject* a, PyObject* b) {
    PyObject* item = is_list_item(a) ? a : b;
    PyObject* count = item == a ? b : a;
    if (!countable(count)) Py_RETURN_NOTIMPLEMENTED;
    return frame([&]() -> Result<Ref> {
        MV_ASSIGN(const long long n, repeat_count(count));
        MV_ASSIGN(TreeItem copy, copy_list(item, "__mul__()"));
        MV_ASSIGN(Vector<TreeItem> more, repeated(copy, n - 1));
        if (n <= 0) clear_elements(copy);
        return added(std::move(copy), std::move(more));
    });
}

// item += values: extend() with any iterable, as list's += takes.
PyObject* list_inplace_add(PyObject* self, PyObject* other) {
    return frame([&]() -> Result<Ref> {
        MV_CHECK(extend_with(self, other, "extend()"));
        return Ref::borrow(self);
    });
}

PyObject* list_inplace_multiply(PyObject* self, PyObject* count) {
    if (!countable(count)) Py_RETURN_NOTIMPLEMENTED;
    return frame([&]() -> Result<Ref> {
        MV_ASSIGN(const long long n, repeat_count(count));
        MV_ASSIGN(Editing e, edit(self, "__imul__()"));
        if (n <= 0) {
            e.list.clear();
        } else {
            MV_ASSIGN(Vector<TreeItem> more, repeated(e.list.list(), n - 1));
            MV_CHECK(make_elements(e.list.list(), more));
            e.list.append_all(std::move(more));
        }
        stamp_list(e.place);
        return Ref::borrow(self);
    });
}

const PyMethodDef kMethods[] = {
    {"pop", fastcall(list_pop), kFastcall,
     "pop($self, index=None, /)\n--\n\nRemove and return the element at index (default last), as a Python "
     "value."},
    {"append", fastcall(list_append), kFastcall, "append($self, value, /)\n--\n\nAppend value to the end."},
    {"insert", fastcall(list_insert), kFastcall,
     "insert($self, index, value, /)\n--\n\nInsert value before index."},
    {"remove", fastcall(list_remove), kFastcall,
     "remove($self, value, /)\n--\n\nRemove the first element equal to value."},
    {"extend", fastcall(list_extend), kFastcall,
     "extend($self, values, /)\n--\n\nAppend the elements of an iterable."},
    {"count", fastcall(list_count), kFastcall,
     "count($self, value, /)\n--\n\nReturn the number of elements equal to value."},
    {"index", fastcall(list_index), kFastcall,
     "index($self, value, start=None, stop=None, /)\n--\n\nReturn the position of the first element equal to "
     "value."},
    {"set_multiline", fastcall(list_set_multiline), kFastcall,
     "set_multiline($self, *, indent=4)\n--\n\n"
     "Format the array as multiline.\n\n"
     "Each element goes on its own line, indented by *indent* spaces, with a trailing comma\n"
     "after the last element. `.fmt()` collapses the array back to a single line.\n\n"
     "No-op on empty arrays.  Any comments on the array elements will be removed."},
    {"reverse", fastcall(list_reverse), kFastcall,
     "reverse($self, /)\n--\n\nReverse the elements in place; each keeps its comments."},
    {"sort", fastcall(list_sort), kFastcall,
     "sort($self, /, *, key=None, reverse=False)\n--\n\n"
     "Sort the elements in place, stably, by their plain values (or by key(value)).\n\n"
     "Each element moves with its comment lines and the comment at the end of its line\n"
     "(a member of an array of tables with its sections); the layout (line breaks,\n"
     "indentation, blank lines) stays. Values that cannot be compared raise TypeError and\n"
     "leave the array as it was."},
    {"__reversed__", fastcall(list_reversed), kFastcall,
     "__reversed__($self)\n--\n\nReturn a reverse iterator over the elements."},
};

}  // namespace

const PyMethodDef* list_methods() { return kMethods; }
std::size_t list_method_count() { return sizeof(kMethods) / sizeof(kMethods[0]); }

void add_list_slots(std::vector<PyType_Slot>& slots) {
    slots.push_back({Py_mp_subscript, reinterpret_cast<void*>(list_subscript)});
    slots.push_back({Py_mp_ass_subscript, reinterpret_cast<void*>(list_ass_subscript)});
    slots.push_back({Py_mp_length, reinterpret_cast<void*>(list_len)});
    slots.push_back({Py_sq_length, reinterpret_cast<void*>(list_len)});
    slots.push_back({Py_sq_item, reinterpret_cast<void*>(list_item)});
    slots.push_back({Py_sq_ass_item, reinterpret_cast<void*>(list_ass_item)});
    slots.push_back({Py_sq_contains, reinterpret_cast<void*>(list_contains)});
    slots.push_back({Py_tp_iter, reinterpret_cast<void*>(list_iter)});
    slots.push_back({Py_nb_add, reinterpret_cast<void*>(list_add)});
    slots.push_back({Py_nb_multiply, reinterpret_cast<void*>(list_multiply)});
    slots.push_back({Py_nb_inplace_add, reinterpret_cast<void*>(list_inplace_add)});
    slots.push_back({Py_nb_inplace_multiply, reinterpret_cast<void*>(list_inplace_multiply)});
}

}  // namespace morvelan::py
