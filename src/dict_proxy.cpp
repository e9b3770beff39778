// The mapping members of Document and DictItem. Each member converts its
// Python arguments first, then locks the document, checks and resolves the
// place, and reads or edits the table there (the layout rules of edits are in
// dict_ops).
#include "dict_proxy.hpp"

#include <optional>
#include <unordered_map>

#include "arguments.hpp"
#include "conversion.hpp"
#include "edit/dict_ops.hpp"
#include "edit/table_order.hpp"
#include "item_proxy.hpp"
#include "types.hpp"
#include "views.hpp"

namespace morvelan::py {

namespace {

Error wrong_kind(const TreeItem& item, const char* op) {
    return type_error("TOML " + kind_of(item) + " item does not support " + op);
}

// The resolved place, which must be a table or an inline table.
Result<TreeItem*> table_at(const Place& p, const char* op) {
    MV_ASSIGN(TreeItem * t, resolve(p));
    if (!t->is_table_like()) return wrong_kind(*t, op);
    return t;
}

bool is_ours(PyObject* o) noexcept {
    PyObject* type = dict_item_type();
    return is_document(o) || (type && PyObject_TypeCheck(o, reinterpret_cast<PyTypeObject*>(type)));
}

// The text of a key argument, or nothing when it is not a str (a key no
// table holds). Taken before the document is locked; the place is still
// checked, so that a stale handle raises whatever the key.
Result<std::optional<std::string_view>> key_text(PyObject* key) {
    if (!PyUnicode_Check(key)) return std::optional<std::string_view>();
    MV_ASSIGN(std::string_view k, utf8_of(key));
    return std::optional<std::string_view>(k);
}

// A table handle, a document or any other mapping.
Result<bool> mapping_like(PyObject* o) {
    if (is_ours(o)) return true;
    return is_abc_mapping(o);
}

// ---- update: the (key, value) pairs, converted before anything is locked ----

struct Pair {
    std::string key;
    TreeItem value;
};

Status add_pair(std::vector<Pair>& pairs, PyObject* key, PyObject* value) {
    if (!PyUnicode_Check(key)) return type_error("keys must be strings");
    MV_ASSIGN(std::string_view k, utf8_of(key));
    MV_ASSIGN(TreeItem v, to_toml(value));
    pairs.push_back(Pair{std::string(k), std::move(v)});
    return ok();
}

// One element of an iterable of pairs: iterable, with exactly two items.
Status add_iterable_pair(std::vector<Pair>& pairs, PyObject* elem) {
    Ref it = Ref::steal(PyObject_GetIter(elem));
    if (!it) {
        if (!PyErr_ExceptionMatches(PyExc_TypeError)) return Error::pending();
        PyErr_Clear();
        return value_error("expected a length-2 iterable pair");
    }
    Ref items[2];
    for (int n = 0;; ++n) {
        Ref x = Ref::steal(PyIter_Next(it.get()));
        if (!x) {
            if (PyErr_Occurred()) return Error::pending();
            if (n != 2) return value_error("expected a length-2 iterable pair");
            break;
        }
        if (n >= 2) return value_error("expected a length-2 iterable pair");
        items[n] = std::move(x);
    }
    return add_pair(pairs, items[0].get(), items[1].get());
}

Status collect_pairs(std::vector<Pair>& pairs, PyObject* other, PyObject* kwargs) {
    if (other && other != Py_None) {
        if (PyDict_Check(other)) {
            // A snapshot of the items, so that conversions cannot disturb the walk.
            MV_ASSIGN(Ref items, checked(PyDict_Items(other)));
            for (Py_ssize_t i = 0, n = PyList_Size(items.get()); i < n; ++i) {
                PyObject* pair = PyList_GetItem(items.get(), i);
                MV_CHECK(add_pair(pairs, PyTuple_GetItem(pair, 0), PyTuple_GetItem(pair, 1)));
            }
        } else if (Result<bool> mapping = mapping_like(other); !mapping.ok()) {
            return std::move(mapping.error());
        } else if (mapping.value()) {
            MV_ASSIGN(Ref keys, checked(PyObject_CallMethod(other, "keys", nullptr)));
            MV_ASSIGN(Ref it, checked(PyObject_GetIter(keys.get())));
            while (Ref key = Ref::steal(PyIter_Next(it.get()))) {
                MV_ASSIGN(Ref value, checked(PyObject_GetItem(other, key.get())));
                MV_CHECK(add_pair(pairs, key.get(), value.get()));
            }
            if (PyErr_Occurred()) return Error::pending();
        } else {
            MV_ASSIGN(Ref it, checked(PyObject_GetIter(other)));
            while (Ref elem = Ref::steal(PyIter_Next(it.get())))
                MV_CHECK(add_iterable_pair(pairs, elem.get()));
            if (PyErr_Occurred()) return Error::pending();
        }
    }
    if (kwargs) {
        PyObject *key, *value;
        Py_ssize_t pos = 0;
        while (PyDict_Next(kwargs, &pos, &key, &value)) MV_CHECK(add_pair(pairs, key, value));
    }
    return ok();
}

Status update_place(const Place& p, PyObject* other, PyObject* kwargs) {
    std::vector<Pair> pairs;
    MV_CHECK(collect_pairs(pairs, other, kwargs));
    MV_ASSIGN(LockGuard guard, LockGuard::exclusive(p.doc().lock));
    MV_ASSIGN(TreeItem * t, table_at(p, "update()"));
    for (const Pair& pair : pairs) MV_CHECK(check_readable(p, pair.value));
    for (Pair& pair : pairs) {
        assign_entry(p.doc().tree(), *t, pair.key, std::move(pair.value));
        std::string_view k = pair.key;
        stamp(p, &k);
    }
    return ok();
}

// ---- slots -----------------------------------------------------------------

PyObject* mapping_subscript(PyObject* self, PyObject* key) {
    return frame([&]() -> Result<Ref> {
        if (!PyUnicode_Check(key)) return type_error("TOML table keys must be strings");
        MV_ASSIGN(std::string_view k, utf8_of(key));
        Place p = Place::of(self);
        MV_ASSIGN(LockGuard guard, LockGuard::glance(p.doc().lock));
        MV_ASSIGN(TreeItem * t, table_at(p, "key lookup"));
        const TreeItem* child = t->as_table().get_visible(k);
        if (!child) return key_error(Ref::borrow(key));
        return new_handle(p.document, *p.path, PathStep::key(k), *child);
    });
}

Status assign(PyObject* self, PyObject* key, PyObject* value) {
    MV_ASSIGN(TreeItem item, to_toml(value));
    if (!PyUnicode_Check(key)) return type_error("TOML table keys must be strings");
    MV_ASSIGN(std::string_view k, utf8_of(key));
    Place p = Place::of(self);
    MV_ASSIGN(LockGuard guard, LockGuard::exclusive(p.doc().lock));
    MV_ASSIGN(TreeItem * t, table_at(p, "item assignment"));
    MV_CHECK(check_readable(p, item));
    assign_entry(p.doc().tree(), *t, k, std::move(item));
    stamp(p, &k);
    return ok();
}

Status remove(PyObject* self, PyObject* key) {
    if (!PyUnicode_Check(key)) return type_error("TOML table keys must be strings");
    MV_ASSIGN(std::string_view k, utf8_of(key));
    Place p = Place::of(self);
    MV_ASSIGN(LockGuard guard, LockGuard::exclusive(p.doc().lock));
    MV_ASSIGN(TreeItem * t, table_at(p, "pop()"));
    if (!remove_entry(p.doc().tree(), *t, k)) return key_error(Ref::borrow(key));
    stamp(p, &k);
    return ok();
}

int mapping_ass_subscript(PyObject* self, PyObject* key, PyObject* value) {
    return frame_int([&]() -> Result<int> {
        if (value)
            MV_CHECK(assign(self, key, value));
        else
            MV_CHECK(remove(self, key));
        return 0;
    });
}

Py_ssize_t mapping_len(PyObject* self) {
    return frame_ssize([&]() -> Result<Py_ssize_t> {
        Place p = Place::of(self);
        MV_ASSIGN(LockGuard guard, LockGuard::glance(p.doc().lock));
        MV_ASSIGN(TreeItem * t, table_at(p, "__len__"));
        return static_cast<Py_ssize_t>(t->as_table().visible_size());
    });
}

int mapping_contains(PyObject* self, PyObject* key) {
    return frame_int([&]() -> Result<int> {
        MV_ASSIGN(const std::optional<std::string_view> k, key_text(key));
        Place p = Place::of(self);
        MV_ASSIGN(LockGuard guard, LockGuard::glance(p.doc().lock));
        MV_ASSIGN(TreeItem * t, table_at(p, "'in'"));
        return k && t->as_table().contains(*k) ? 1 : 0;
    });
}

PyObject* mapping_iter(PyObject* self) {
    return frame([&]() -> Result<Ref> {
        Place p = Place::of(self);
        MV_ASSIGN(LockGuard guard, LockGuard::shared(p.doc().lock));
        MV_ASSIGN(TreeItem * t, table_at(p, "__iter__"));
        const Table& table = t->as_table();
        MV_ASSIGN(Ref keys, checked(PyList_New(0)));
        for (const Entry& e : table.entries) {
            if (e.item.is_none()) continue;
            MV_ASSIGN(Ref k, str_from(e.key.text()));
            if (PyList_Append(keys.get(), k.get()) < 0) return Error::pending();
        }
        guard.unlock();
        return checked(PyObject_GetIter(keys.get()));
    });
}

// A copy of the place's table as a new object of the same family: a Document
// for a Document, a DictItem on a private document for a handle.
Result<Ref> copy_of(PyObject* self) {
    if (is_document(self)) return copy_document(self);
    MV_ASSIGN(std::optional<TreeItem> copy, copy_handle_target(self));
    if (!copy->is_table_like()) return wrong_kind(*copy, "|");
    return private_handle(std::move(*copy));
}

PyObject* mapping_or(PyObject* a, PyObject* b) {
    return frame([&]() -> Result<Ref> {
        if (is_ours(a)) {
            MV_ASSIGN(const bool mapping, mapping_like(b));
            if (!mapping) return Ref::borrow(Py_NotImplemented);
            MV_ASSIGN(Ref copy, copy_of(a));
            MV_CHECK(update_place(Place::of(copy.get()), b, nullptr));
            return copy;
        }
        // other | table: a dict of the other's items, then the table's values.
        MV_ASSIGN(const bool mapping, is_abc_mapping(a));
        if (!mapping) return Ref::borrow(Py_NotImplemented);
        MV_ASSIGN(Ref out, checked(PyDict_New()));
        if (PyDict_Merge(out.get(), a, 1) < 0) return Error::pending();
        Place p = Place::of(b);
        MV_ASSIGN(LockGuard guard, LockGuard::shared(p.doc().lock));
        MV_ASSIGN(TreeItem * t, table_at(p, "|"));
        for (const Entry& e : t->as_table().entries) {
            if (e.item.is_none()) continue;
            MV_ASSIGN(Ref k, str_from(e.key.text()));
            MV_ASSIGN(Ref v, to_python(e.item, where_of(p, e.key.text())));
            if (PyDict_SetItem(out.get(), k.get(), v.get()) < 0) return Error::pending();
        }
        return out;
    });
}

PyObject* mapping_ior(PyObject* self, PyObject* other) {
    return frame([&]() -> Result<Ref> {
        MV_CHECK(update_place(Place::of(self), other, nullptr));
        return Ref::borrow(self);
    });
}

// ---- methods -----------------------------------------------------------------

PyObject* mapping_get(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return frame([&]() -> Result<Ref> {
        static const char* const names[] = {"key", "default"};
        static const Signature sig{"get()", names, 2, 2, 2, 1, false, false};
        MV_ASSIGN(Args a, parse_args(sig, args, nargs, kwnames, self));
        PyObject* key = a.values[0];
        Ref fallback = Ref::borrow(a.values[1] ? a.values[1] : Py_None);
        MV_ASSIGN(const std::optional<std::string_view> k, key_text(key));
        Place p = Place::of(self);
        MV_ASSIGN(LockGuard guard, LockGuard::glance(p.doc().lock));
        MV_ASSIGN(TreeItem * t, table_at(p, "key lookup"));
        const TreeItem* child = k ? t->as_table().get_visible(*k) : nullptr;
        if (!child) return fallback;
        return new_handle(p.document, *p.path, PathStep::key(*k), *child);
    });
}

PyObject* mapping_pop(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return frame([&]() -> Result<Ref> {
        static const char* const names[] = {"key"};
        static const Signature sig{"pop()", names, 1, 1, 1, 1, true, false};
        MV_ASSIGN(Args a, parse_args(sig, args, nargs, kwnames, self));
        if (a.extra_count > 1)
            return type_error("pop expected at most 2 arguments, got " + std::to_string(a.extra_count + 1));
        PyObject* key = a.values[0];
        PyObject* fallback = a.extra_count == 1 ? a.extra[0] : nullptr;
        MV_ASSIGN(const std::optional<std::string_view> key_str, key_text(key));
        Place p = Place::of(self);
        MV_ASSIGN(LockGuard guard, LockGuard::exclusive(p.doc().lock));
        MV_ASSIGN(TreeItem * t, table_at(p, "pop()"));
        if (!key_str) {
            guard.unlock();  // repr() runs Python code
            if (fallback) return Ref::borrow(fallback);
            MV_ASSIGN(Ref text, checked(PyObject_Repr(key)));
            return key_error(std::move(text));
        }
        const std::string_view k = *key_str;
        const TreeItem* child = t->as_table().get_visible(k);
        if (!child) {
            if (fallback) return Ref::borrow(fallback);
            return key_error(Ref::borrow(key));
        }
        // Converted before it is removed: a value Python cannot hold (or
        // one nested too deeply) raises, and the entry stays.
        MV_ASSIGN(Ref value, to_python(*child, where_of(p, k)));
        remove_entry(p.doc().tree(), *t, k);
        stamp(p, &k);
        return value;
    });
}

// rename(old, new, /): the entry keeps its place, its value text and its
// comments; the handles below it go stale, as for a removal.
PyObject* mapping_rename(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return frame([&]() -> Result<Ref> {
        static const char* const names[] = {"old", "new"};
        static const Signature sig{"rename()", names, 2, 2, 2, 2, false, false};
        MV_ASSIGN(Args a, parse_args(sig, args, nargs, kwnames, self));
        MV_ASSIGN(const std::string_view from, str_argument("old", a.values[0]));
        MV_ASSIGN(const std::string_view to, str_argument("new", a.values[1]));
        Place p = Place::of(self);
        MV_ASSIGN(LockGuard guard, LockGuard::exclusive(p.doc().lock));
        MV_ASSIGN(TreeItem * t, table_at(p, "rename()"));
        if (!t->as_table().get_visible(from)) return key_error(Ref::borrow(a.values[0]));
        if (!rename_entry(*t, from, to)) {
            guard.unlock();  // repr() runs Python code
            MV_ASSIGN(Ref shown, checked(PyObject_Repr(a.values[1])));
            MV_ASSIGN(const std::string_view text, utf8_of(shown.get()));
            return key_error("rename(): the key " + std::string(text) + " is there already");
        }
        if (from != to) stamp(p, &from);
        return Ref::borrow(Py_None);
    });
}

// The names of the table's visible entries, as a list of str, and the
// modification counter they were read at.
Result<Ref> entry_names(PyObject* self, std::uint64_t& counter) {
    Place p = Place::of(self);
    MV_ASSIGN(LockGuard guard, LockGuard::shared(p.doc().lock));
    MV_ASSIGN(TreeItem * t, table_at(p, "sort()"));
    counter = p.doc().registry.counter();
    MV_ASSIGN(Ref names, checked(PyList_New(0)));
    for (const Entry& e : t->as_table().entries) {
        if (e.item.is_none()) continue;
        MV_ASSIGN(Ref k, str_from(e.key.text()));
        if (PyList_Append(names.get(), k.get()) < 0) return Error::pending();
    }
    return names;
}

// The sorted names (names[order[j]] comes j-th) as positions of the table's
// visible entries now: another sort may have moved them since the names were
// read (a sort stamps nothing), while any edit that adds, removes or renames
// an entry moves the counter.
Result<std::vector<std::size_t>> current_order(const Table& t, PyObject* names,
                                               const std::vector<std::size_t>& order) {
    std::unordered_map<std::string_view, std::size_t> at;
    for (const Entry& e : t.entries)
        if (!e.item.is_none()) at.emplace(e.key.text(), at.size());
    if (order.size() != at.size()) return value_error("table modified during sort()");
    std::vector<std::size_t> out;
    out.reserve(order.size());
    for (const std::size_t k : order) {
        MV_ASSIGN(const std::string_view name, utf8_of(PyList_GetItem(names, static_cast<Py_ssize_t>(k))));
        const auto found = at.find(name);
        if (found == at.end()) return value_error("table modified during sort()");
        out.push_back(found->second);
    }
    return out;
}

// Puts the entries of the table in the sorted order of `names` (read at
// `counter`) in one edit. An edit since then (by a key function, or by
// another thread) leaves the table as it is.
Status apply_table_order(PyObject* self, PyObject* names, const std::vector<std::size_t>& order,
                         std::uint64_t counter) {
    Place p = Place::of(self);
    MV_ASSIGN(LockGuard guard, LockGuard::exclusive(p.doc().lock));
    MV_ASSIGN(TreeItem * t, table_at(p, "sort()"));
    if (p.doc().registry.counter() != counter) return value_error("table modified during sort()");
    MV_ASSIGN(const std::vector<std::size_t> now, current_order(t->as_table(), names, order));
    switch (reorder_entries(p.doc().tree(), *t, now)) {
        case TableOrder::Done: return ok();
        case TableOrder::SectionsApart:
            return value_error(
                "sort() cannot move the sections of this table: other tables' headers stand among them, or "
                "some were added by edits and others read from the text");
        case TableOrder::LinesApart:
            return value_error(
                "sort() cannot move the lines of this dotted table: other lines of the table that holds them "
                "stand among them");
    }
    return ok();
}

// sort(*, key=None, reverse=False): the names are read, keyed and sorted
// (stable, as list.sort()) with no lock held, since key runs Python code;
// the order found is then applied. Keys name the same entries after the
// sort, and the values stay as they were: no handle goes stale.
PyObject* mapping_sort(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return frame([&]() -> Result<Ref> {
        static const char* const names[] = {"key", "reverse"};
        static const Signature sig{"sort()", names, 2, 0, 0, 0, false, false};
        MV_ASSIGN(Args a, parse_args(sig, args, nargs, kwnames, self));
        MV_ASSIGN(const SortOptions options, sort_options(a.values[0], a.values[1]));
        std::uint64_t counter = 0;
        MV_ASSIGN(Ref names_read, entry_names(self, counter));
        MV_ASSIGN(const std::vector<std::size_t> order, sorted_positions(names_read.get(), options));
        MV_CHECK(apply_table_order(self, names_read.get(), order, counter));
        return Ref::borrow(Py_None);
    });
}

PyObject* mapping_popitem(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return frame([&]() -> Result<Ref> {
        MV_CHECK(no_arguments("popitem()", args, nargs, kwnames, self));
        Place p = Place::of(self);
        MV_ASSIGN(LockGuard guard, LockGuard::exclusive(p.doc().lock));
        MV_ASSIGN(TreeItem * t, table_at(p, "popitem()"));
        // The pair is made before the entry is removed: when it cannot be,
        // the entry stays.
        const Entry* last = nullptr;
        for (const Entry& e : t->as_table().entries)
            if (!e.item.is_none()) last = &e;
        if (!last) return key_error("popitem(): dictionary is empty");
        MV_ASSIGN(Ref key, str_from(last->key.text()));
        MV_ASSIGN(Ref value, to_python(last->item, where_of(p, last->key.text())));
        MV_ASSIGN(Ref pair, checked(PyTuple_Pack(2, key.get(), value.get())));
        std::optional<Entry> removed = remove_last_entry(p.doc().tree(), *t);
        std::string_view k = removed->key.text();
        stamp(p, &k);
        return pair;
    });
}

PyObject* mapping_setdefault(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return frame([&]() -> Result<Ref> {
        static const char* const names[] = {"key", "default"};
        static const Signature sig{"setdefault()", names, 2, 2, 2, 1, false, false};
        MV_ASSIGN(Args a, parse_args(sig, args, nargs, kwnames, self));
        PyObject* key = a.values[0];
        std::optional<TreeItem> value;
        if (a.values[1] && a.values[1] != Py_None) {
            MV_ASSIGN(TreeItem item, to_toml(a.values[1]));
            value.emplace(std::move(item));
        }
        if (!PyUnicode_Check(key)) return type_error("keys must be strings");
        MV_ASSIGN(std::string_view k, utf8_of(key));
        Place p = Place::of(self);
        MV_ASSIGN(LockGuard guard, LockGuard::exclusive(p.doc().lock));
        MV_ASSIGN(TreeItem * t, table_at(p, "key lookup"));
        if (!t->as_table().contains(k)) {
            if (!value) return type_error("setdefault() requires a default value: TOML has no null type");
            MV_CHECK(check_readable(p, *value));
            assign_entry(p.doc().tree(), *t, k, std::move(*value));
        }
        return new_handle(p.document, *p.path, PathStep::key(k), *t->as_table().get_visible(k));
    });
}

PyObject* mapping_update(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return frame([&]() -> Result<Ref> {
        static const char* const names[] = {"other"};
        static const Signature sig{"update()", names, 1, 1, 1, 0, false, true};
        MV_ASSIGN(Args a, parse_args(sig, args, nargs, kwnames, self));
        MV_CHECK(update_place(Place::of(self), a.values[0], a.keywords.get()));
        return Ref::borrow(Py_None);
    });
}

Result<Ref> view_of(PyObject* self, PyObject* (*type)()) {
    Place p = Place::of(self);
    MV_CHECK(check(p));
    return new_view(type, p);
}

PyObject* mapping_keys(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return frame([&]() -> Result<Ref> {
        MV_CHECK(no_arguments("keys()", args, nargs, kwnames, self));
        return view_of(self, keys_view_type);
    });
}

PyObject* mapping_values(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return frame([&]() -> Result<Ref> {
        MV_CHECK(no_arguments("values()", args, nargs, kwnames, self));
        return view_of(self, values_view_type);
    });
}

PyObject* mapping_items(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return frame([&]() -> Result<Ref> {
        MV_CHECK(no_arguments("items()", args, nargs, kwnames, self));
        return view_of(self, items_view_type);
    });
}

const PyMethodDef kMethods[] = {
    {"get", fastcall(mapping_get), kFastcall,
     "get($self, key, default=None, /)\n--\n\nReturn the value for key if key is present, else default."},
    {"pop", fastcall(mapping_pop), kFastcall,
     "pop($self, key, /, *default)\n--\n\n"
     "Remove key and return its value as a native Python object.\n\n"
     "If key is not found, default is returned if given, otherwise KeyError is raised."},
    {"rename", fastcall(mapping_rename), kFastcall,
     "rename($self, old, new, /)\n--\n\n"
     "Rename the key old to new in place: same line or header, same value text and comments.\n\n"
     "A table's headers, and the headers below it, follow. KeyError if old is missing or new\n"
     "is already a key; handles below old become stale."},
    {"sort", fastcall(mapping_sort), kFastcall,
     "sort($self, /, *, key=None, reverse=False)\n--\n\n"
     "Sort the entries in place, stably, by name (or by key(name)).\n\n"
     "Each key/value line moves with its comment lines and the comment at the end of its line\n"
     "(a dotted key's lines go together); the layout (indentation, blank lines, comment\n"
     "paragraphs set off by a blank line) stays. Sub-tables and arrays of tables move with the\n"
     "headers below them and their comment lines, taking the places the sections held. Names\n"
     "that cannot be compared raise TypeError; sections with another table's header among them\n"
     "raise ValueError. Either leaves the table as it was."},
    {"popitem", fastcall(mapping_popitem), kFastcall,
     "popitem($self)\n--\n\nRemove and return the last (key, value) pair as a 2-tuple."},
    {"update", fastcall(mapping_update), kFastcall,
     "update($self, other=None, /, **kwargs)\n--\n\nUpdate from a mapping or an iterable of pairs, then from "
     "kwargs."},
    {"setdefault", fastcall(mapping_setdefault), kFastcall,
     "setdefault($self, key, default=None, /)\n--\n\n"
     "Return the value for key, inserting default first if key is not present."},
    {"keys", fastcall(mapping_keys), kFastcall, "keys($self)\n--\n\nA live view of the keys."},
    {"values", fastcall(mapping_values), kFastcall, "values($self)\n--\n\nA live view of the values."},
    {"items", fastcall(mapping_items), kFastcall,
     "items($self)\n--\n\nA live view of the (key, value) pairs."},
};

}  // namespace

const PyMethodDef* mapping_methods() { return kMethods; }
std::size_t mapping_method_count() { return sizeof(kMethods) / sizeof(kMethods[0]); }

void add_mapping_slots(std::vector<PyType_Slot>& slots) {
    slots.push_back({Py_mp_subscript, reinterpret_cast<void*>(mapping_subscript)});
    slots.push_back({Py_mp_ass_subscript, reinterpret_cast<void*>(mapping_ass_subscript)});
    slots.push_back({Py_mp_length, reinterpret_cast<void*>(mapping_len)});
    slots.push_back({Py_sq_contains, reinterpret_cast<void*>(mapping_contains)});
    slots.push_back({Py_tp_iter, reinterpret_cast<void*>(mapping_iter)});
    slots.push_back({Py_nb_or, reinterpret_cast<void*>(mapping_or)});
    slots.push_back({Py_nb_inplace_or, reinterpret_cast<void*>(mapping_ior)});
}

}  // namespace morvelan::py
