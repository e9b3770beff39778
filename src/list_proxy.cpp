// The reading members of ListItem: indexing and slicing into element
// handles, length, iteration, containment, count() and index(). Elements of
// an array and members of an array of tables are reached by index steps.
#include "list_proxy.hpp"

#include <algorithm>

#include "item_proxy.hpp"
#include "types.hpp"

namespace morvelan::py {

namespace {

// The resolved place, which must be an array or an array of tables.
Result<TreeItem*> list_at(const Place& p, const char* op) {
    TreeItem* t = MV_TRY(resolve(p));
    if (!t->is_array() && !t->is_array_of_tables())
        return type_error(quoted_kind(*t) + " does not support " + op);
    return t;
}

Vector<TreeItem>& elements_of(TreeItem& list) {
    return list.is_array() ? list.as_array().items() : list.as_array_of_tables().values;
}

// An index argument as a signed 64-bit integer: an Item stands for its
// value, anything else goes through __index__.
Result<long long> index_value(PyObject* index) {
    Ref value = Ref::borrow(index);
    if (is_item(index)) {
        value = Ref::steal(PyObject_GetAttrString(index, "value"));
        if (!value) return Error::pending();
    }
    long long i = -1;
    Ref number = Ref::steal(PyNumber_Index(value.get()));
    if (number) i = PyLong_AsLongLong(number.get());
    if (!number || (i == -1 && PyErr_Occurred())) {
        PyErr_Clear();
        return type_error("TOML array indices must be integers or slices, not " + type_name(index));
    }
    return i;
}

// An index counted from the end when negative; it must name an element.
Result<std::size_t> position(long long i, std::size_t size) {
    if (i < 0) i += static_cast<long long>(size);
    if (i < 0 || static_cast<unsigned long long>(i) >= size) return index_error("index out of range");
    return static_cast<std::size_t>(i);
}

PyObject* list_subscript(PyObject* self, PyObject* index) {
    return frame([&]() -> Result<Ref> {
        const bool is_slice = PySlice_Check(index);
        long long i = 0;
        Py_ssize_t start = 0, stop = 0, step = 1;
        if (is_slice) {
            if (PySlice_Unpack(index, &start, &stop, &step) < 0) return Error::pending();
        } else {
            i = MV_TRY(index_value(index));
        }
        Place p = Place::of_record(self);
        LockGuard guard = MV_TRY(LockGuard::shared(p.doc().lock));
        TreeItem* list = MV_TRY(list_at(p, is_slice ? "slicing" : "indexing"));
        Vector<TreeItem>& elements = elements_of(*list);
        if (!is_slice) {
            std::size_t at = MV_TRY(position(i, elements.size()));
            return new_handle(p.document, *p.path, PathStep::index(at), elements[at]);
        }
        Py_ssize_t n = PySlice_AdjustIndices(static_cast<Py_ssize_t>(elements.size()), &start, &stop, step);
        Ref out = MV_TRY(checked(PyList_New(0)));
        for (Py_ssize_t k = 0, at = start; k < n; ++k, at += step) {
            const auto u = static_cast<std::size_t>(at);
            Ref h = MV_TRY(new_handle(p.document, *p.path, PathStep::index(u), elements[u]));
            if (PyList_Append(out.get(), h.get()) < 0) return Error::pending();
        }
        return out;
    });
}

Py_ssize_t list_len(PyObject* self) {
    return frame_ssize([&]() -> Result<Py_ssize_t> {
        Place p = Place::of_record(self);
        LockGuard guard = MV_TRY(LockGuard::shared(p.doc().lock));
        TreeItem* list = MV_TRY(list_at(p, "__len__"));
        // A packed array knows its length without being unpacked.
        return static_cast<Py_ssize_t>(list->is_array() ? list->as_array().size()
                                                        : list->as_array_of_tables().values.size());
    });
}

// Handles for every element, in order or reversed, as a list.
Result<Ref> element_handles(PyObject* self, bool reversed) {
    Place p = Place::of_record(self);
    LockGuard guard = MV_TRY(LockGuard::shared(p.doc().lock));
    TreeItem* list = MV_TRY(list_at(p, "__iter__"));
    Vector<TreeItem>& elements = elements_of(*list);
    const std::size_t n = elements.size();
    Ref out = MV_TRY(checked(PyList_New(0)));
    for (std::size_t k = 0; k < n; ++k) {
        const std::size_t at = reversed ? n - 1 - k : k;
        Ref h = MV_TRY(new_handle(p.document, *p.path, PathStep::index(at), elements[at]));
        if (PyList_Append(out.get(), h.get()) < 0) return Error::pending();
    }
    return out;
}

PyObject* list_iter(PyObject* self) {
    return frame([&]() -> Result<Ref> {
        Ref handles = MV_TRY(element_handles(self, false));
        return checked(PyObject_GetIter(handles.get()));
    });
}

PyObject* list_reversed(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return frame([&]() -> Result<Ref> {
        MV_TRY(no_arguments("__reversed__()", args, nargs, kwnames));
        Ref handles = MV_TRY(element_handles(self, true));
        return checked(PyObject_GetIter(handles.get()));
    });
}

// Positions [start, stop) of the elements equal to `value` (all of them, or
// the first only).
Result<std::vector<std::size_t>> find_equal(PyObject* self, PyObject* value, const char* op, Py_ssize_t start,
                                            Py_ssize_t stop, bool first_only) {
    Comparand c = MV_TRY(Comparand::from(value));
    Place p = Place::of_record(self);
    LockGuard guard = MV_TRY(LockGuard::shared(p.doc().lock));
    TreeItem* list = MV_TRY(list_at(p, op));
    Vector<TreeItem>& elements = elements_of(*list);
    const auto n = static_cast<Py_ssize_t>(elements.size());
    if (start < 0) start = std::max<Py_ssize_t>(start + n, 0);
    if (stop < 0) stop = std::max<Py_ssize_t>(stop + n, 0);
    stop = std::min(stop, n);
    std::vector<std::size_t> found;
    for (Py_ssize_t i = start; i < stop; ++i) {
        if (!MV_TRY(c.equals(elements[static_cast<std::size_t>(i)]))) continue;
        found.push_back(static_cast<std::size_t>(i));
        if (first_only) break;
    }
    return found;
}

int list_contains(PyObject* self, PyObject* value) {
    return frame_int([&]() -> Result<int> {
        auto found = MV_TRY(find_equal(self, value, "'in'", 0, PY_SSIZE_T_MAX, true));
        return found.empty() ? 0 : 1;
    });
}

PyObject* list_count(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return frame([&]() -> Result<Ref> {
        static const char* const names[] = {"value"};
        static const Signature sig{"count()", names, 1, 1, 1, 1, false, false};
        Args a = MV_TRY(parse_args(sig, args, nargs, kwnames));
        auto found = MV_TRY(find_equal(self, a.values[0], "count()", 0, PY_SSIZE_T_MAX, false));
        return checked(PyLong_FromSize_t(found.size()));
    });
}

// A start or stop bound of index(): None for the default, else an index.
Result<Py_ssize_t> bound(PyObject* o, Py_ssize_t fallback) {
    if (!o || o == Py_None) return fallback;
    long long v = MV_TRY(index_value(o));
    return static_cast<Py_ssize_t>(std::clamp<long long>(v, -PY_SSIZE_T_MAX, PY_SSIZE_T_MAX));
}

PyObject* list_index(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return frame([&]() -> Result<Ref> {
        static const char* const names[] = {"value", "start", "stop"};
        static const Signature sig{"index()", names, 3, 3, 3, 1, false, false};
        Args a = MV_TRY(parse_args(sig, args, nargs, kwnames));
        Py_ssize_t start = MV_TRY(bound(a.values[1], 0));
        Py_ssize_t stop = MV_TRY(bound(a.values[2], PY_SSIZE_T_MAX));
        auto found = MV_TRY(find_equal(self, a.values[0], "index()", start, stop, true));
        if (found.empty()) return value_error("value not in array");
        return checked(PyLong_FromSize_t(found.front()));
    });
}

const PyMethodDef kMethods[] = {
    {"count", fastcall(list_count), kFastcall,
     "count($self, value, /)\n--\n\nReturn the number of elements equal to value."},
    {"index", fastcall(list_index), kFastcall,
     "index($self, value, start=None, stop=None, /)\n--\n\nReturn the position of the first element equal to "
     "value."},
    {"__reversed__", fastcall(list_reversed), kFastcall,
     "__reversed__($self)\n--\n\nReturn a reverse iterator over the elements."},
};

}  // namespace

const PyMethodDef* list_methods() { return kMethods; }
std::size_t list_method_count() { return sizeof(kMethods) / sizeof(kMethods[0]); }

void add_list_slots(std::vector<PyType_Slot>& slots) {
    slots.push_back({Py_mp_subscript, reinterpret_cast<void*>(list_subscript)});
    slots.push_back({Py_mp_length, reinterpret_cast<void*>(list_len)});
    slots.push_back({Py_sq_length, reinterpret_cast<void*>(list_len)});
    slots.push_back({Py_sq_contains, reinterpret_cast<void*>(list_contains)});
    slots.push_back({Py_tp_iter, reinterpret_cast<void*>(list_iter)});
}

}  // namespace morvelan::py
