// The Item family: handle records, path resolution, staleness, the classes
// and the members every handle has (value, as_toml, fmt, clear, parse,
// implicit, repr, str, bool, equality).
#include "item_proxy.hpp"

#include <deque>
#include <span>

#include "arguments.hpp"
#include "conversion.hpp"
#include "decode_error.hpp"
#include "dict_proxy.hpp"
#include "edit/comments.hpp"
#include "edit/dict_ops.hpp"
#include "edit/layout_rules.hpp"
#include "edit/list_ops.hpp"
#include "edit/written_order.hpp"
#include "engine/encode.hpp"
#include "engine/nesting.hpp"
#include "engine/parser.hpp"
#include "list_proxy.hpp"
#include "scalar_proxy.hpp"
#include "types.hpp"

namespace morvelan::py {

// ---- places, resolution, stamps --------------------------------------------

Place Place::of_document(PyObject* doc) noexcept {
    static const Path root;
    Place p;
    p.document = doc;
    p.path = &root;
    return p;
}

Place Place::of_record(PyObject* obj) noexcept {
    auto* o = reinterpret_cast<ItemObject*>(obj);
    Place p;
    p.document = o->document;
    ItemState& state = o->state();
    p.path = &state.path;
    p.state = &state;
    p.version = state.version.load(std::memory_order_acquire);
    return p;
}

Place Place::of(PyObject* obj) noexcept { return py::is_document(obj) ? of_document(obj) : of_record(obj); }

TreeItem* resolve_path(DocumentState& s, const Path& path) {
    TreeItem* cur = &s.tree().root();
    for (const PathStep& step : path) {
        if (step.is_key()) {
            if (!cur->is_table_like()) return nullptr;
            cur = cur->as_table().get_visible(step.key_text());
            if (!cur) return nullptr;
        } else {
            const std::size_t i = step.index_value();
            if (cur->is_array()) {
                Array& a = cur->as_array();
                if (i >= a.size()) return nullptr;
                // Reading: a packed element is peeked, not unpacked. Edits of
                // an element go through its list, which unpacks it.
                cur = const_cast<TreeItem*>(&a.peek(i));
            } else if (cur->is_array_of_tables()) {
                auto& values = cur->as_array_of_tables().values;
                if (i >= values.size()) return nullptr;
                cur = &values[i];
            } else {
                return nullptr;
            }
        }
    }
    return cur;
}

namespace {
Error stale_error() {
    return runtime_error("stale: the document has been modified since this reference was created");
}
}  // namespace

Status check(const Place& p) {
    if (p.state && p.doc().registry.is_stale(p.version, *p.path)) return stale_error();
    return ok();
}

Result<TreeItem*> resolve(const Place& p) {
    DocumentState& s = p.doc();
    if (!s.tree().root().is_table()) throw InternalFault{"root should always be a table"};
    if (p.state) {
        if (s.registry.is_stale(p.version, *p.path)) return stale_error();
        if (p.state->resolved && p.state->generation == s.lock.generation() &&
            p.state->relocations == Array::relocations())
            return p.state->resolved;
    }
    TreeItem* item = resolve_path(s, *p.path);
    if (!item) return key_error("path no longer valid");
    return item;
}

Result<Ref> current_value(PyObject* handle) {
    Place p = Place::of_record(handle);
    {
        // A string, number or boolean is made without running Python code.
        MV_ASSIGN(LockGuard glance, LockGuard::glance(p.doc().lock));
        MV_ASSIGN(const TreeItem* item, resolve(p));
        if (item->is_scalar() && item->kind() != ItemKind::Datetime) return to_python(*item, where_of(p));
    }
    MV_ASSIGN(LockGuard guard, LockGuard::shared(p.doc().lock));
    MV_ASSIGN(const TreeItem* item, resolve(p));
    return to_python(*item, where_of(p));  // the guard unlocks once the value is made
}

std::uint64_t stamp(const Place& p, const std::string_view* key) {
    VersionRegistry& r = p.doc().registry;
    return key ? r.stamp(*p.path, PathStep::key(*key)) : r.stamp(*p.path);
}

std::string kind_of(const TreeItem& item) { return std::string(kind_name(item.kind())); }

std::string quoted_kind(const TreeItem& item) {
    std::string s(1, '\'');
    s.append(kind_name(item.kind()));
    s.push_back('\'');
    return s;
}

namespace {

PyObject* class_for(const TreeItem& item) {
    switch (item.kind()) {
        case ItemKind::Table:
        case ItemKind::InlineTable: return dict_item_type();
        case ItemKind::Array:
        case ItemKind::ArrayOfTables: return list_item_type();
        default: return scalar_item_type();
    }
}

// A new record of `type` on `document` with an empty path, at the document's
// current version.
//
// The memory comes straight from the object allocator rather than through the
// class's tp_alloc (which would look the slot up, and clear the memory that
// the constructor is about to fill): the record classes are not tracked by the
// collector, so an instance is a plain object of sizeof(ItemObject) bytes
// (dealloc_record frees it the same way).
//
// Handles are made and dropped at a high rate (each step of `doc["a"][0]["b"]`
// makes one), so freed records are kept for reuse on a short list (guarded by
// the interpreter lock, like every call here). Sanitizer builds free them at
// once, so that a use after free is still seen (MORVELAN_USE_MIMALLOC is
// defined exactly when the build has no sanitizers).
struct FreeRecord {
    FreeRecord* next;
};
struct RecordFreelist {
#ifdef MORVELAN_USE_MIMALLOC
    static constexpr int kMax = 32;
#else
    static constexpr int kMax = 0;
#endif
    FreeRecord* head = nullptr;
    int size = 0;
};
RecordFreelist free_records;

void* record_memory() noexcept {
    if (FreeRecord* r = free_records.head) {
        free_records.head = r->next;
        --free_records.size;
        return r;
    }
    return PyObject_Malloc(sizeof(ItemObject));
}

void free_record_memory(void* memory) noexcept {
    if (free_records.size < RecordFreelist::kMax) {
        auto* r = static_cast<FreeRecord*>(memory);
        r->next = free_records.head;
        free_records.head = r;
        ++free_records.size;
        return;
    }
    PyObject_Free(memory);
}

Ref empty_record(PyObject* type, PyObject* document) {
    void* memory = record_memory();
    if (!memory) throw std::bad_alloc();
    PyObject* self = PyObject_Init(static_cast<PyObject*>(memory), reinterpret_cast<PyTypeObject*>(type));
    auto* o = reinterpret_cast<ItemObject*>(self);
    o->document = nullptr;
    ItemState* state = ::new (static_cast<void*>(o->storage)) ItemState;
    state->version.store(state_of(document).registry.counter(), std::memory_order_release);
    o->document = Py_NewRef(document);
    return Ref::steal(self);
}

}  // namespace

Result<Ref> new_handle(PyObject* document, const Path& parent, PathStep step, const TreeItem& target) {
    PyObject* type = class_for(target);
    if (!type) return Error::pending();
    Ref h = empty_record(type, document);
    ItemState& state = reinterpret_cast<ItemObject*>(h.get())->state();
    state.path.reserve(parent.size() + 1);
    state.path.append(parent.begin(), parent.end());
    state.path.push_back(std::move(step));
    // The caller holds the lock and has just found `target` at the path. The
    // tree itself is never const: the handle may edit the item.
    state.resolved = const_cast<TreeItem*>(&target);
    state.generation = state_of(document).lock.generation();
    state.relocations = Array::relocations();
    return h;
}

Result<Ref> private_handle(TreeItem value) {
    DocumentRoot tree;
    tree.table().insert("_", std::move(value), false);
    MV_ASSIGN(Ref doc, new_document(std::move(tree)));
    DocumentState& s = state_of(doc.get());
    s.private_value = true;
    MV_ASSIGN(LockGuard guard, LockGuard::shared(s.lock));
    const TreeItem* target = s.tree().table().get("_");
    return new_handle(doc.get(), Path(), PathStep::key("_"), *target);
}

Where where_of(const Place& p) {
    Where w = Where::at(*p.path);
    if (p.doc().private_value) w.skip = 1;
    return w;
}
Where where_of(const Place& p, std::string_view key) {
    Where w = where_of(p);
    w.key = key;
    w.last = Where::Last::Key;
    return w;
}
Where where_of(const Place& p, std::size_t index) {
    Where w = where_of(p);
    w.index = index;
    w.last = Where::Last::Index;
    return w;
}

Status check_readable(const Place& p, const TreeItem& item) {
    // The scope of the children of each item on the path, from the root's.
    const TreeItem* cur = &p.doc().tree().root();
    Scope scope = Scope::root();
    for (const PathStep& step : *p.path) {
        if (step.is_key()) {
            cur = cur->as_table().get_visible(step.key_text());
        } else {
            cur = &read_element(*cur, step.index_value());
        }
        scope = scope_below(scope, *cur);
    }
    if (const char* refusal = unreadable_nesting(scope, item)) return value_error(refusal);
    return ok();
}

Result<Ref> new_record(PyObject* type, PyObject* document, Path path) {
    Ref r = empty_record(type, document);
    reinterpret_cast<ItemObject*>(r.get())->state().path = std::move(path);
    return r;
}

void dealloc_record(PyObject* self) {
    auto* o = reinterpret_cast<ItemObject*>(self);
    if (o->document) {
        o->state().~ItemState();
        Py_CLEAR(o->document);
    }
    PyTypeObject* type = Py_TYPE(self);
    if (PyType_GetFlags(type) & Py_TPFLAGS_HAVE_GC) {
        free_instance(self);  // an instance of a subclass defined in Python
        return;
    }
    free_record_memory(self);
    Py_DECREF(type);
}

// ---- comparison ------------------------------------------------------------

Result<Comparand> Comparand::from(PyObject* other) {
    Comparand c;
    if (is_item(other) || is_document(other)) {
        c.object_ = other;
        return c;
    }
    Result<TreeItem> converted = to_toml(other);
    if (converted.ok()) {
        c.converted_.emplace(converted.take());
        return c;
    }
    Error& e = converted.error();
    if (e.is_pending()) {
        if (!PyErr_ExceptionMatches(PyExc_TypeError) && !PyErr_ExceptionMatches(PyExc_OverflowError))
            return Error::pending();
        PyErr_Clear();
    } else if (e.type != PyExc_TypeError && e.type != PyExc_OverflowError && !is_sub_minute_offset(e)) {
        return std::move(e);
    }
    c.never_ = true;
    return c;
}

Result<bool> Comparand::equals(const TreeItem& mine) const {
    if (never_) return false;
    if (converted_) return values_equal(mine, *converted_);
    // A handle or a document: its lock is taken shared (nothing when it is
    // the caller's own document, whose lock is held already).
    Place p = Place::of(object_);
    MV_ASSIGN(LockGuard guard, LockGuard::shared(p.doc().lock));
    MV_ASSIGN(const TreeItem* theirs, resolve(p));
    return values_equal(mine, *theirs);
}

namespace {

// The container that holds the entry a handle names, and the entry's place in
// it; the handle has been checked and its path resolved (it is not the root).
struct Holder {
    TreeItem* parent;
    EntrySlot slot;
};

Holder holder_of(const Place& p) {
    Path up(p.path->begin(), p.path->end() - 1);
    const PathStep& last = p.path->back();
    EntrySlot slot;
    slot.by_key = last.is_key();
    if (slot.by_key)
        slot.key = last.key_text();
    else
        slot.index = last.index_value();
    return Holder{resolve_path(p.doc(), up), slot};
}

}  // namespace

Result<std::optional<TreeItem>> copy_handle_target(PyObject* obj) {
    if (!is_item(obj)) return std::optional<TreeItem>();
    Place p = Place::of_record(obj);
    MV_ASSIGN(LockGuard guard, LockGuard::shared(p.doc().lock));
    MV_ASSIGN(const TreeItem* target, resolve(p));
    MV_CHECK(check_copy_nesting(*target));
    TreeItem copy = *target;
    if (!p.path->empty())
        if (const Holder h = holder_of(p); h.parent) leave_place_behind(copy, *h.parent, h.slot);
    guard.unlock();
    copy.detach();
    return std::optional<TreeItem>(std::move(copy));
}

Result<bool> handle_string(PyObject* obj, std::string& text) {
    if (!is_item(obj)) return false;
    Place p = Place::of_record(obj);
    MV_ASSIGN(LockGuard guard, LockGuard::shared(p.doc().lock));
    MV_ASSIGN(const TreeItem* target, resolve(p));
    if (target->kind() != ItemKind::String) return false;
    text.assign(target->as_string());
    return true;
}

std::size_t item_text_start(const Place& p, const TreeItem& item, std::string_view text) {
    if (!p.path->empty() && !p.path->back().is_key() && !item.is_table()) {
        const Text head = head_of(item.decor().prefix.view());
        if (text.starts_with(head)) return head.size();
    }
    return 0;
}

namespace {

// ---- members ---------------------------------------------------------------

// The serializer's text of the item at `p`, without surrounding white space.
Result<Ref> item_text(const Place& p, const TreeItem& item) {
    String text = write_item(item);
    std::string_view view(text.data(), text.size());
    view.remove_prefix(item_text_start(p, item, view));
    MV_ASSIGN(Ref s, str_from(view));
    return checked(PyObject_CallMethod(s.get(), "strip", nullptr));
}

PyObject* item_get_value(PyObject* self, void*) {
    return frame([&]() -> Result<Ref> { return current_value(self); });
}

PyObject* item_get_kind(PyObject* self, void*) {
    return frame([&]() -> Result<Ref> {
        Place p = Place::of_record(self);
        MV_ASSIGN(LockGuard guard, LockGuard::shared(p.doc().lock));
        MV_ASSIGN(const TreeItem* item, resolve(p));
        return str_from(kind_name(item->kind()));
    });
}

// A handle names a place in its document: pickling or copying one alone
// (copy.copy goes through __reduce_ex__ too) would lose the document.
PyObject* item_reduce_ex(PyObject* self, PyObject*) {
    return frame([&]() -> Result<Ref> {
        return type_error("cannot pickle or copy 'morvelan." + type_name(self) +
                          "' object: a handle refers to a place in its Document; use its .value (a plain "
                          "copy), or pickle or copy the Document");
    });
}

PyObject* item_as_toml(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return frame([&]() -> Result<Ref> {
        MV_CHECK(no_arguments("Item.as_toml()", args, nargs, kwnames));
        Place p = Place::of_record(self);
        MV_ASSIGN(LockGuard guard, LockGuard::shared(p.doc().lock));
        MV_ASSIGN(const TreeItem* item, resolve(p));
        return item_text(p, *item);
    });
}

PyObject* item_fmt(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return frame([&]() -> Result<Ref> {
        MV_CHECK(no_arguments("Item.fmt()", args, nargs, kwnames));
        Place p = Place::of_record(self);
        MV_ASSIGN(LockGuard guard, LockGuard::exclusive(p.doc().lock));
        MV_ASSIGN(TreeItem * item, resolve(p));
        if (item->is_table_like())
            item->as_table().fmt();
        else if (item->is_array())
            item->as_array().fmt();
        return Ref::borrow(Py_None);
    });
}

PyObject* item_clear(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return frame([&]() -> Result<Ref> {
        MV_CHECK(no_arguments("Item.clear()", args, nargs, kwnames));
        Place p = Place::of_record(self);
        MV_ASSIGN(LockGuard guard, LockGuard::exclusive(p.doc().lock));
        MV_ASSIGN(TreeItem * item, resolve(p));
        if (item->is_table_like())
            clear_entries(p.doc().tree(), *item);
        else if (item->is_array() || item->is_array_of_tables())
            edit_list(self, *item).clear();
        else
            return type_error(quoted_kind(*item) + " does not support clear()");
        p.state->version.store(stamp(p, nullptr), std::memory_order_release);
        return Ref::borrow(Py_None);
    });
}

// parse(text) of each class: `expected` names the class whose kind the value
// must have (null: any).
Result<Ref> parse_fragment(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                           PyObject* (*expected)(), const char* class_name, const char* expected_word) {
    static const char* const names[] = {"text"};
    static const Signature sig{"parse()", names, 1, 0, 1, 1, false, false};
    MV_ASSIGN(Args a, parse_args(sig, args, nargs, kwnames));
    MV_ASSIGN(std::string_view text, str_argument("text", a.values[0]));
    ParseResult<TreeItem> parsed = parse_value(text);
    if (!parsed.ok()) return parse_failure(parsed.error());
    TreeItem value = std::move(parsed.value());
    value.detach();
    if (expected && class_for(value) != expected()) {
        return value_error(std::string(class_name) + ".parse() requires a " + expected_word + " value, got " +
                           kind_of(value));
    }
    return private_handle(std::move(value));
}

PyObject* item_parse(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return frame([&] { return parse_fragment(args, nargs, kwnames, nullptr, "Item", ""); });
}
PyObject* dict_item_parse(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return frame([&] { return parse_fragment(args, nargs, kwnames, dict_item_type, "DictItem", "table"); });
}
PyObject* list_item_parse(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return frame([&] { return parse_fragment(args, nargs, kwnames, list_item_type, "ListItem", "array"); });
}
PyObject* scalar_item_parse(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return frame(
        [&] { return parse_fragment(args, nargs, kwnames, scalar_item_type, "ScalarItem", "scalar"); });
}

PyObject* item_get_implicit(PyObject* self, void*) {
    return frame([&]() -> Result<Ref> {
        Place p = Place::of_record(self);
        MV_ASSIGN(LockGuard guard, LockGuard::shared(p.doc().lock));
        MV_ASSIGN(const TreeItem* item, resolve(p));
        return Ref::borrow(item->is_table() && item->as_table().implicit ? Py_True : Py_False);
    });
}

Error no_deleter() { return Error{PyExc_AttributeError, "property has no deleter", {}}; }

int item_set_implicit(PyObject* self, PyObject* value, void*) {
    return frame_int([&]() -> Result<int> {
        if (!value) return no_deleter();
        if (!PyBool_Check(value)) return for_argument("implicit", Result<int>(wrong_type(value, "bool")));
        Place p = Place::of_record(self);
        MV_ASSIGN(LockGuard guard, LockGuard::exclusive(p.doc().lock));
        MV_ASSIGN(TreeItem * item, resolve(p));
        if (item->is_table()) {
            take_order_ends(p.doc().tree());  // whether the table writes a header may change
            item->as_table().implicit = value == Py_True;
        }
        return 0;
    });
}

// ---- comments ----------------------------------------------------------------

template <std::optional<std::string> (*read)(const TreeItem&, const EntrySlot&)>
PyObject* comment_getter(PyObject* self, void*) {
    return frame([&]() -> Result<Ref> {
        Place p = Place::of_record(self);
        MV_ASSIGN(LockGuard guard, LockGuard::shared(p.doc().lock));
        MV_CHECK(resolve(p));
        if (p.path->empty()) return Ref::borrow(Py_None);
        const Holder h = holder_of(p);
        std::optional<std::string> comment = h.parent ? read(*h.parent, h.slot) : std::nullopt;
        if (!comment) return Ref::borrow(Py_None);
        return str_from(*comment);
    });
}

// The inline comment setter in the form comment_setter takes.
CommentEdit set_entry_inline_comment(DocumentRoot&, TreeItem& parent, const EntrySlot& slot,
                                     std::optional<Text> comment) {
    return set_inline_comment(parent, slot, comment);
}

// The comment a setter is given: a str, or None to clear. Checked by `error`
// (a ValueError) before anything is locked, then written by `write`.
template <std::optional<std::string> (*error)(Text),
          CommentEdit (*write)(DocumentRoot&, TreeItem&, const EntrySlot&, std::optional<Text>)>
int comment_setter(PyObject* self, PyObject* value, void*) {
    return frame_int([&]() -> Result<int> {
        if (!value) return no_deleter();
        std::optional<std::string_view> comment;
        if (value != Py_None) {
            if (!PyUnicode_Check(value)) return for_argument("value", Result<int>(wrong_type(value, "str")));
            MV_ASSIGN(comment, for_argument("value", utf8_of(value)));
        }
        Place p = Place::of_record(self);
        if (p.path->empty()) return type_error("cannot set comment on root");
        if (comment)
            if (std::optional<std::string> bad = error(*comment)) return value_error(std::move(*bad));
        MV_ASSIGN(LockGuard guard, LockGuard::exclusive(p.doc().lock));
        MV_ASSIGN(TreeItem * item, resolve(p));
        const Holder h = holder_of(p);
        switch (h.parent ? write(p.doc().tree(), *h.parent, h.slot, comment) : CommentEdit::NoEntry) {
            case CommentEdit::Done: return 0;
            case CommentEdit::NoEntry: {
                MV_ASSIGN(Ref key, str_from(h.slot.key));
                return key_error(std::move(key));
            }
            case CommentEdit::Unsupported: break;
            case CommentEdit::NoLine:
                return type_error(
                    "inline comments are not supported on a table written without a header "
                    "(dotted keys or an implicit table)");
        }
        return type_error(quoted_kind(*item) + " does not support comments");
    });
}

PyObject* item_repr(PyObject* self) {
    return frame([&]() -> Result<Ref> {
        Place p = Place::of_record(self);
        MV_ASSIGN(LockGuard guard, LockGuard::shared(p.doc().lock));
        MV_ASSIGN(const TreeItem* item, resolve(p));
        MV_ASSIGN(Ref text, item_text(p, *item));
        std::string kind = kind_of(*item);
        guard.unlock();
        return checked(PyUnicode_FromFormat("Item(%s, %U)", kind.c_str(), text.get()));
    });
}

PyObject* item_str(PyObject* self) {
    return frame([&]() -> Result<Ref> {
        Ref value = Ref::steal(item_get_value(self, nullptr));
        if (!value) return Error::pending();
        return checked(PyObject_Str(value.get()));
    });
}

bool truth(const TreeItem& item) noexcept {
    switch (item.kind()) {
        case ItemKind::None: return false;
        case ItemKind::String: return !item.as_string().empty();
        case ItemKind::Integer: return item.as_integer() != 0;
        case ItemKind::Float: return item.as_float() != 0.0;
        case ItemKind::Boolean: return item.as_bool();
        case ItemKind::Datetime: return true;
        case ItemKind::Array: return !item.as_array().empty();
        case ItemKind::InlineTable:
        case ItemKind::Table: return item.as_table().visible_size() != 0;
        case ItemKind::ArrayOfTables: return !item.as_array_of_tables().values.empty();
    }
    return false;
}

int item_bool(PyObject* self) {
    return frame_int([&]() -> Result<int> {
        Place p = Place::of_record(self);
        MV_ASSIGN(LockGuard guard, LockGuard::shared(p.doc().lock));
        MV_ASSIGN(const TreeItem* item, resolve(p));
        return truth(*item) ? 1 : 0;
    });
}

// item == other: this item's value and `other` compared as TOML data.
Result<bool> item_equals(PyObject* self, PyObject* other) {
    Place p = Place::of_record(self);
    // Staleness first, then the conversion of `other` (before locking).
    {
        MV_ASSIGN(LockGuard guard, LockGuard::shared(p.doc().lock));
        MV_CHECK(resolve(p));
    }
    MV_ASSIGN(Comparand c, Comparand::from(other));
    MV_ASSIGN(LockGuard guard, LockGuard::shared(p.doc().lock));
    MV_ASSIGN(const TreeItem* item, resolve(p));
    return c.equals(*item);
}

// ---- the classes -------------------------------------------------------------

constexpr const char* kParseDoc =
    "parse(text)\n--\n\n"
    "Parse a TOML value fragment, preserving its representation.\n\n"
    "Examples::\n\n"
    "    doc[\"mask\"] = Item.parse(\"0xFF\")\n"
    "    doc[\"msg\"]  = Item.parse(\"'''multi\\nline'''\")";

PyMethodDef item_methods[] = {
    {"as_toml", fastcall(item_as_toml), kFastcall,
     "as_toml($self)\n--\n\nReturn the TOML representation of this item."},
    {"fmt", fastcall(item_fmt), kFastcall,
     "fmt($self)\n--\n\n"
     "Normalize formatting of this item (spacing, trailing commas, etc.).\n\n"
     "Useful after mutations that leave behind awkward whitespace.\n"
     "This is shallow - it formats the item itself, not nested sub-tables.\n"
     "Note: any comments on the formatted item will be removed."},
    {"clear", fastcall(item_clear), kFastcall,
     "clear($self)\n--\n\nRemove all entries or elements of this item."},
    {"parse", fastcall(item_parse), kFastcall | METH_STATIC, kParseDoc},
    {"__reduce_ex__", item_reduce_ex, METH_O, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef item_getset[] = {
    {"value", item_get_value, nullptr,
     "The underlying data as a native Python object (int, str, list, dict, etc).", nullptr},
    {"kind", item_get_kind, nullptr,
     "The kind of value this item refers to: \"string\", \"integer\", \"float\", \"boolean\",\n"
     "\"datetime\", \"array\", \"inline table\", \"table\" or \"array of tables\".",
     nullptr},
    {"comment", comment_getter<block_comment>, comment_setter<block_comment_error, set_entry_comment>,
     "The comment lines before this entry, or None.\n\n"
     "Set or clear the block comment above this entry. Each non-empty line of the string\n"
     "must start with '#'; empty lines in the string produce blank lines above the entry.\n"
     "None removes the comment.",
     nullptr},
    {"inline_comment", comment_getter<line_comment_of>,
     comment_setter<inline_comment_error, set_entry_inline_comment>,
     "The inline comment after this value (e.g. `key = 1 # this part`), or None.\n\n"
     "Set or clear the inline comment on this entry. The value must start with '#'; None\n"
     "removes the comment.",
     nullptr},
    {"implicit", item_get_implicit, item_set_implicit,
     "Whether this table's header is implicit (suppressed in TOML output).\n\n"
     "A table such as `a` in a document holding only `[a.b]` has no header of its own.\n"
     "Inline tables are never implicit and always read False. Setting True suppresses the\n"
     "header and False makes it explicit; setting is silently ignored on inline tables.",
     nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

// Handles (and views and documents) are not tracked by the cyclic garbage
// collector: a handle refers only to its document, and a document to no
// Python object, so none of them can be part of a reference cycle.
PyObject* make_item_type(const char* qualified, const char* name, const char* doc, unsigned long extra_flags,
                         PyObject* base, std::vector<PyType_Slot> extra_slots) {
    std::vector<PyType_Slot> slots = {
        {Py_tp_doc, const_cast<char*>(doc)},
        {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_record)},
    };
    slots.insert(slots.end(), extra_slots.begin(), extra_slots.end());
    slots.push_back({0, nullptr});
    PyType_Spec spec = {
        qualified, sizeof(ItemObject), 0,
        static_cast<unsigned int>(Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION | extra_flags),
        slots.data()};
    Ref bases;
    if (base) {
        bases = Ref::steal(PyTuple_Pack(1, base));
        if (!bases) return nullptr;
    }
    return make_type(&spec, bases.get(), name);
}

}  // namespace

ListEdit edit_list(PyObject* handle, TreeItem& list) {
    const Place p = Place::of_record(handle);
    if (!list.is_array_of_tables() || p.path->empty()) return ListEdit(p.doc().tree(), list);
    // Looked up only when the array of tables empties or refills; the handle
    // lives for the edit.
    const auto find = [](const void* context, std::string_view& key) -> TreeItem* {
        const Holder h = holder_of(Place::of_record(static_cast<PyObject*>(const_cast<void*>(context))));
        key = h.slot.key;
        return h.slot.by_key ? h.parent : nullptr;
    };
    return ListEdit(p.doc().tree(), list, HolderLookup{find, handle});
}

PyObject* item_type() {
    static PyObject* type = nullptr;
    if (!type)
        type = make_item_type(
            "morvelan.Item", "Item",
            "A live reference to a TOML value inside a Document.\n\n"
            "An Item is really a path into the Document. It can become stale when a mutation to the\n"
            "Document changes the value that it points at. Using a stale Item raises a RuntimeError.\n\n"
            "Without narrowing to DictItem, ListItem or ScalarItem, the dict-like, list-like and\n"
            "scalar methods are available and raise at run time when called on the wrong kind.",
            Py_TPFLAGS_BASETYPE, nullptr,
            {
                {Py_tp_methods, item_methods},
                {Py_tp_getset, item_getset},
                {Py_tp_repr, reinterpret_cast<void*>(item_repr)},
                {Py_tp_str, reinterpret_cast<void*>(item_str)},
                {Py_tp_richcompare, reinterpret_cast<void*>(equality_only<item_equals>)},
                {Py_tp_hash, reinterpret_cast<void*>(PyObject_HashNotImplemented)},
                {Py_nb_bool, reinterpret_cast<void*>(item_bool)},
            });
    return type;
}

namespace {

// A concrete handle class under Item: `members`, its own parse(), and the
// protocol slots that `add_slots` adds.
PyObject* make_handle_class(const char* qualified, const char* name, const char* doc, unsigned long flags,
                            std::span<const PyMethodDef> members, PyCFunction parse,
                            void (*add_slots)(std::vector<PyType_Slot>&)) {
    PyObject* base = item_type();
    if (!base) return nullptr;
    // Method tables live as long as their classes, that is, for the process.
    static std::deque<std::vector<PyMethodDef>> tables;
    std::vector<PyMethodDef>& methods = tables.emplace_back(members.begin(), members.end());
    methods.push_back({"parse", parse, kFastcall | METH_STATIC, kParseDoc});
    methods.push_back({nullptr, nullptr, 0, nullptr});
    std::vector<PyType_Slot> slots = {{Py_tp_methods, methods.data()}};
    if (add_slots) add_slots(slots);
    return make_item_type(qualified, name, doc, flags, base, std::move(slots));
}

}  // namespace

PyObject* dict_item_type() {
    static PyObject* type = nullptr;
    if (!type)
        type = make_handle_class("morvelan.DictItem", "DictItem",
                                 "A TOML table or inline table.\n\n"
                                 "Registered as a collections.abc.MutableMapping, so both\n"
                                 "isinstance(x, MutableMapping) and isinstance(x, DictItem) work.",
                                 Py_TPFLAGS_MAPPING, {mapping_methods(), mapping_method_count()},
                                 fastcall(dict_item_parse), add_mapping_slots);
    return type;
}

PyObject* list_item_type() {
    static PyObject* type = nullptr;
    if (!type)
        type = make_handle_class("morvelan.ListItem", "ListItem",
                                 "A TOML array or array of tables.\n\n"
                                 "Registered as a collections.abc.MutableSequence, so both\n"
                                 "isinstance(x, MutableSequence) and isinstance(x, ListItem) work.",
                                 Py_TPFLAGS_SEQUENCE, {list_methods(), list_method_count()},
                                 fastcall(list_item_parse), add_list_slots);
    return type;
}

PyObject* scalar_item_type() {
    static PyObject* type = nullptr;
    if (!type)
        type = make_handle_class(
            "morvelan.ScalarItem", "ScalarItem",
            "A scalar TOML value (string, integer, float, boolean, datetime, date, or time).", 0,
            {scalar_methods(), scalar_method_count()}, fastcall(scalar_item_parse), add_scalar_slots);
    return type;
}

bool is_item(PyObject* o) noexcept {
    PyObject* type = item_type();
    return type && PyObject_TypeCheck(o, reinterpret_cast<PyTypeObject*>(type));
}

Result<SortOptions> sort_options(PyObject* key, PyObject* reverse) {
    SortOptions o;
    o.key = key && key != Py_None ? key : nullptr;
    if (reverse) {
        const int truth = PyObject_IsTrue(reverse);
        if (truth < 0) return Error::pending();
        o.descending = truth != 0;
    }
    return o;
}

Result<std::vector<std::size_t>> sorted_positions(PyObject* values, const SortOptions& options) {
    const Py_ssize_t n = PyList_Size(values);
    Ref keys = Ref::borrow(values);
    if (options.key) {
        MV_ASSIGN(keys, checked(PyList_New(n)));
        for (Py_ssize_t i = 0; i < n; ++i) {
            MV_ASSIGN(Ref k,
                      checked(PyObject_CallFunctionObjArgs(options.key, PyList_GetItem(values, i), nullptr)));
            PyList_SetItem(keys.get(), i, k.release());
        }
    }
    MV_ASSIGN(Ref getitem, checked(PyObject_GetAttrString(keys.get(), "__getitem__")));
    MV_ASSIGN(Ref positions, checked(PyList_New(n)));
    for (Py_ssize_t i = 0; i < n; ++i) {
        MV_ASSIGN(Ref index, checked(PyLong_FromSsize_t(i)));
        PyList_SetItem(positions.get(), i, index.release());
    }
    MV_ASSIGN(Ref sort, checked(PyObject_GetAttrString(positions.get(), "sort")));
    MV_ASSIGN(Ref no_args, checked(PyTuple_New(0)));
    MV_ASSIGN(Ref kwargs, checked(Py_BuildValue("{sOsO}", "key", getitem.get(), "reverse",
                                                options.descending ? Py_True : Py_False)));
    MV_CHECK(checked(PyObject_Call(sort.get(), no_args.get(), kwargs.get())));
    std::vector<std::size_t> order(static_cast<std::size_t>(n));
    for (Py_ssize_t j = 0; j < n; ++j)
        order[static_cast<std::size_t>(j)] =
            static_cast<std::size_t>(PyLong_AsSsize_t(PyList_GetItem(positions.get(), j)));
    return order;
}

}  // namespace morvelan::py
