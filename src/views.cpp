// KeysView, ValuesView and ItemsView: every member resolves the viewed table
// afresh under the document's shared lock; iteration works on a snapshot
// list taken under that lock.
#include "views.hpp"

#include "arguments.hpp"
#include "conversion.hpp"
#include "types.hpp"

namespace morvelan::py {

namespace {

enum class ViewKind { Keys, Values, Items };

ViewKind kind_of_view(PyObject* self) {
    if (PyObject_TypeCheck(self, reinterpret_cast<PyTypeObject*>(keys_view_type()))) return ViewKind::Keys;
    if (PyObject_TypeCheck(self, reinterpret_cast<PyTypeObject*>(values_view_type())))
        return ViewKind::Values;
    return ViewKind::Items;
}

bool is_view_of(PyObject* o, ViewKind kind) {
    PyObject* type = kind == ViewKind::Keys     ? keys_view_type()
                     : kind == ViewKind::Values ? values_view_type()
                                                : items_view_type();
    return type && PyObject_TypeCheck(o, reinterpret_cast<PyTypeObject*>(type));
}

// The viewed table; `error` builds the error for a non-table.
template <class E>
Result<const Table*> viewed_table(const Place& p, E&& error) {
    MV_ASSIGN(TreeItem * t, resolve(p));
    if (!t->is_table_like()) return error(*t);
    return &t->as_table();
}

Error no_len(const TreeItem&) { return type_error("TOML item has no len()"); }
auto does_not_support(const char* op) {
    return [op](const TreeItem& item) {
        return type_error("TOML " + kind_of(item) + " item does not support " + op);
    };
}

Result<std::size_t> view_size(PyObject* self) {
    Place p = Place::of_record(self);
    MV_ASSIGN(LockGuard guard, LockGuard::shared(p.doc().lock));
    MV_ASSIGN(const Table* t, viewed_table(p, no_len));
    return t->visible_size();
}

// The view's elements in table order (reversed on request), as a list.
Result<Ref> elements(PyObject* self, bool reversed) {
    const ViewKind kind = kind_of_view(self);
    Place p = Place::of_record(self);
    MV_ASSIGN(LockGuard guard, LockGuard::shared(p.doc().lock));
    MV_ASSIGN(const Table* t, viewed_table(p, does_not_support("keys()")));
    MV_ASSIGN(Ref list, checked(PyList_New(0)));
    const std::size_t n = t->entries.size();
    for (std::size_t j = 0; j < n; ++j) {
        const Entry& e = t->entries.at(reversed ? n - 1 - j : j);
        if (e.item.is_none()) continue;
        Ref element;
        if (kind == ViewKind::Keys) {
            MV_ASSIGN(element, str_from(e.key.text()));
        } else {
            MV_ASSIGN(Ref handle, new_handle(p.document, *p.path, PathStep::key(e.key.text()), e.item));
            if (kind == ViewKind::Values) {
                element = std::move(handle);
            } else {
                MV_ASSIGN(Ref key, str_from(e.key.text()));
                MV_ASSIGN(element, checked(PyTuple_Pack(2, key.get(), handle.get())));
            }
        }
        if (PyList_Append(list.get(), element.get()) < 0) return Error::pending();
    }
    return list;
}

// The view as a set: the keys, or (key, native value) pairs.
Result<Ref> as_set(PyObject* self) {
    const ViewKind kind = kind_of_view(self);
    Place p = Place::of_record(self);
    MV_ASSIGN(LockGuard guard, LockGuard::shared(p.doc().lock));
    MV_ASSIGN(const Table* t, viewed_table(p, does_not_support("keys()")));
    MV_ASSIGN(Ref set, checked(PySet_New(nullptr)));
    for (const Entry& e : t->entries) {
        if (e.item.is_none()) continue;
        MV_ASSIGN(Ref element, str_from(e.key.text()));
        if (kind == ViewKind::Items) {
            MV_ASSIGN(Ref value, to_python(e.item, where_of(p, e.key.text())));
            MV_ASSIGN(element, checked(PyTuple_Pack(2, element.get(), value.get())));
        }
        if (PySet_Add(set.get(), element.get()) < 0) return Error::pending();
    }
    return set;
}

Result<PyObject*> abc_set() {
    static PyObject* set_abc = nullptr;
    if (!set_abc) {
        MV_ASSIGN(Ref abc, checked(PyImport_ImportModule("collections.abc")));
        set_abc = PyObject_GetAttrString(abc.get(), "Set");
        if (!set_abc) return Error::pending();
    }
    return set_abc;
}

// ---- slots -------------------------------------------------------------------

Py_ssize_t view_len(PyObject* self) {
    return frame_ssize([&]() -> Result<Py_ssize_t> {
        MV_ASSIGN(std::size_t n, view_size(self));
        return static_cast<Py_ssize_t>(n);
    });
}

PyObject* view_iter(PyObject* self) {
    return frame([&]() -> Result<Ref> {
        MV_ASSIGN(Ref list, elements(self, false));
        return checked(PyObject_GetIter(list.get()));
    });
}

PyObject* view_reversed(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return frame([&]() -> Result<Ref> {
        MV_CHECK(no_arguments("__reversed__()", args, nargs, kwnames, self));
        MV_ASSIGN(Ref list, elements(self, true));
        return checked(PyObject_GetIter(list.get()));
    });
}

// Checks the view (a stale one raises) before an answer that needs no table.
template <class E>
Status check_view(PyObject* self, E&& error) {
    Place p = Place::of_record(self);
    MV_ASSIGN(LockGuard guard, LockGuard::shared(p.doc().lock));
    MV_CHECK(viewed_table(p, std::forward<E>(error)));
    return ok();
}

int keys_contains(PyObject* self, PyObject* x) {
    return frame_int([&]() -> Result<int> {
        if (!PyUnicode_Check(x)) {
            MV_CHECK(check_view(self, does_not_support("key lookup")));
            return 0;
        }
        MV_ASSIGN(std::string_view key, utf8_of(x));
        Place p = Place::of_record(self);
        MV_ASSIGN(LockGuard guard, LockGuard::shared(p.doc().lock));
        MV_ASSIGN(const Table* t, viewed_table(p, does_not_support("key lookup")));
        return t->contains(key) ? 1 : 0;
    });
}

int values_contains(PyObject* self, PyObject* x) {
    return frame_int([&]() -> Result<int> {
        MV_ASSIGN(Comparand c, Comparand::from(x));
        Place p = Place::of_record(self);
        MV_ASSIGN(LockGuard guard, LockGuard::shared(p.doc().lock));
        MV_ASSIGN(const Table* t, viewed_table(p, does_not_support("__contains__")));
        for (const Entry& e : t->entries) {
            if (e.item.is_none()) continue;
            MV_ASSIGN(const bool equal, c.equals(e.item));
            if (equal) return 1;
        }
        return 0;
    });
}

int items_contains(PyObject* self, PyObject* x) {
    return frame_int([&]() -> Result<int> {
        if (!PyTuple_Check(x) || PyTuple_Size(x) != 2 || !PyUnicode_Check(PyTuple_GetItem(x, 0))) {
            MV_CHECK(check_view(self, does_not_support("__contains__")));
            return 0;
        }
        PyObject* key = PyTuple_GetItem(x, 0);
        MV_ASSIGN(std::string_view text, utf8_of(key));
        MV_ASSIGN(Comparand c, Comparand::from(PyTuple_GetItem(x, 1)));
        Place p = Place::of_record(self);
        MV_ASSIGN(LockGuard guard, LockGuard::shared(p.doc().lock));
        MV_ASSIGN(const Table* t, viewed_table(p, does_not_support("__contains__")));
        const TreeItem* item = t->get(text);
        if (!item || item->is_none()) return 0;
        MV_ASSIGN(const bool equal, c.equals(*item));
        return equal ? 1 : 0;
    });
}

PyObject* keys_repr(PyObject* self) {
    return frame([&]() -> Result<Ref> {
        Place p = Place::of_record(self);
        MV_ASSIGN(LockGuard guard, LockGuard::shared(p.doc().lock));
        MV_ASSIGN(const Table* t, viewed_table(p, no_len));
        std::string text = "KeysView([";
        bool first = true;
        for (const Entry& e : t->entries) {
            if (e.item.is_none()) continue;
            if (!first) text += ", ";
            first = false;
            text += "'";
            text += e.key.text();
            text += "'";
        }
        text += "])";
        return str_from(text);
    });
}

PyObject* values_repr(PyObject* self) {
    return frame([&]() -> Result<Ref> {
        MV_ASSIGN(std::size_t n, view_size(self));
        return str_from("ValuesView(<" + std::to_string(n) + " values>)");
    });
}

PyObject* items_repr(PyObject* self) {
    return frame([&]() -> Result<Ref> {
        MV_ASSIGN(std::size_t n, view_size(self));
        return str_from("ItemsView(<" + std::to_string(n) + " items>)");
    });
}

Result<bool> keys_equal(PyObject* self, PyObject* other) {
    MV_ASSIGN(Ref set, as_set(self));
    int r = PyObject_RichCompareBool(set.get(), other, Py_EQ);
    if (r < 0) return Error::pending();
    return r == 1;
}

Result<bool> items_equal(PyObject* self, PyObject* other) {
    MV_ASSIGN(PyObject * set_abc, abc_set());
    int is_set = PyObject_IsInstance(other, set_abc);
    if (is_set < 0) return Error::pending();
    if (!is_set) {
        MV_CHECK(check_view(self, no_len));
        return false;
    }
    Py_ssize_t other_len = PyObject_Size(other);
    if (other_len < 0) return Error::pending();
    // The pairs, converted under the lock; membership tested after it.
    MV_ASSIGN(Ref pairs, checked(PyList_New(0)));
    {
        Place p = Place::of_record(self);
        MV_ASSIGN(LockGuard guard, LockGuard::shared(p.doc().lock));
        MV_ASSIGN(const Table* t, viewed_table(p, no_len));
        if (static_cast<std::size_t>(other_len) != t->visible_size()) return false;
        for (const Entry& e : t->entries) {
            if (e.item.is_none()) continue;
            MV_ASSIGN(Ref key, str_from(e.key.text()));
            MV_ASSIGN(Ref value, to_python(e.item, where_of(p, e.key.text())));
            MV_ASSIGN(Ref pair, checked(PyTuple_Pack(2, key.get(), value.get())));
            if (PyList_Append(pairs.get(), pair.get()) < 0) return Error::pending();
        }
    }
    for (Py_ssize_t i = 0, n = PyList_Size(pairs.get()); i < n; ++i) {
        int in = PySequence_Contains(other, PyList_GetItem(pairs.get(), i));
        if (in < 0) return Error::pending();
        if (!in) return false;
    }
    return true;
}

Result<bool> view_equals(PyObject* self, PyObject* other) {
    return kind_of_view(self) == ViewKind::Keys ? keys_equal(self, other) : items_equal(self, other);
}

// An operand of a set operator as a set: a view's set, a set unchanged, or
// set(other).
Result<Ref> operand_set(PyObject* o) {
    if (is_view_of(o, ViewKind::Keys) || is_view_of(o, ViewKind::Items)) return as_set(o);
    if (PySet_Check(o)) return Ref::borrow(o);
    return checked(PySet_New(o));
}

template <PyObject* (*Op)(PyObject*, PyObject*)>
PyObject* set_operator(PyObject* a, PyObject* b) {
    return frame([&]() -> Result<Ref> {
        MV_ASSIGN(Ref left, operand_set(a));
        MV_ASSIGN(Ref right, operand_set(b));
        return checked(Op(left.get(), right.get()));
    });
}

PyMethodDef view_methods[] = {
    {"__reversed__", fastcall(view_reversed), kFastcall,
     "__reversed__($self)\n--\n\nReturn a reverse iterator over the view."},
    {nullptr, nullptr, 0, nullptr},
};

PyObject* make_view_type(const char* qualified, const char* name, const char* doc, ViewKind kind) {
    std::vector<PyType_Slot> slots = {
        {Py_tp_doc, const_cast<char*>(doc)},
        {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_record)},
        {Py_tp_methods, view_methods},
        {Py_tp_iter, reinterpret_cast<void*>(view_iter)},
        {Py_mp_length, reinterpret_cast<void*>(view_len)},
        {Py_sq_length, reinterpret_cast<void*>(view_len)},
    };
    switch (kind) {
        case ViewKind::Keys:
            slots.push_back({Py_sq_contains, reinterpret_cast<void*>(keys_contains)});
            slots.push_back({Py_tp_repr, reinterpret_cast<void*>(keys_repr)});
            break;
        case ViewKind::Values:
            slots.push_back({Py_sq_contains, reinterpret_cast<void*>(values_contains)});
            slots.push_back({Py_tp_repr, reinterpret_cast<void*>(values_repr)});
            break;
        case ViewKind::Items:
            slots.push_back({Py_sq_contains, reinterpret_cast<void*>(items_contains)});
            slots.push_back({Py_tp_repr, reinterpret_cast<void*>(items_repr)});
            break;
    }
    if (kind != ViewKind::Values) {
        slots.push_back({Py_tp_richcompare, reinterpret_cast<void*>(equality_only<view_equals>)});
        slots.push_back({Py_tp_hash, reinterpret_cast<void*>(PyObject_HashNotImplemented)});
        slots.push_back({Py_nb_subtract, reinterpret_cast<void*>(set_operator<PyNumber_Subtract>)});
        slots.push_back({Py_nb_and, reinterpret_cast<void*>(set_operator<PyNumber_And>)});
        slots.push_back({Py_nb_or, reinterpret_cast<void*>(set_operator<PyNumber_Or>)});
        slots.push_back({Py_nb_xor, reinterpret_cast<void*>(set_operator<PyNumber_Xor>)});
    }
    slots.push_back({0, nullptr});
    PyType_Spec spec = {qualified, sizeof(ItemObject), 0,
                        Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION, slots.data()};
    return make_type(&spec, nullptr, name);
}

}  // namespace

PyObject* keys_view_type() {
    static PyObject* type = nullptr;
    if (!type)
        type = make_view_type("morvelan.KeysView", "KeysView",
                              "A live view of the string keys in a TOML table (or the document root).",
                              ViewKind::Keys);
    return type;
}

PyObject* values_view_type() {
    static PyObject* type = nullptr;
    if (!type)
        type = make_view_type("morvelan.ValuesView", "ValuesView",
                              "A live view of the values in a TOML table (or the document root).",
                              ViewKind::Values);
    return type;
}

PyObject* items_view_type() {
    static PyObject* type = nullptr;
    if (!type)
        type = make_view_type("morvelan.ItemsView", "ItemsView",
                              "A live view of the (key, value) pairs in a TOML table (or the document root).",
                              ViewKind::Items);
    return type;
}

Result<Ref> new_view(PyObject* (*type_fn)(), const Place& p) {
    PyObject* type = type_fn();
    if (!type) return Error::pending();
    return new_record(type, p.document, *p.path);
}

}  // namespace morvelan::py
