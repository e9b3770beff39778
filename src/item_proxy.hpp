// Live references into a document: the Item class family.
//
// An Item holds its Document and a path from the root; every use resolves the
// path again and checks the version registry, so a handle either sees the
// current value at its place or reports that it has gone stale.
#pragma once

#include <atomic>
#include <new>
#include <optional>
#include <vector>

#include "conversion.hpp"
#include "document.hpp"
#include "edit/list_edit.hpp"
#include "registry.hpp"

namespace morvelan::py {

struct ItemState {
    std::atomic<std::uint64_t> version{0};
    Path path;
    // What `path` resolved to when the handle was made, in generation
    // `generation` of its document's lock (see DocLock::generation), when
    // the count of moved elements was `relocations` (see
    // Array::relocations): while both are the same, the path resolves to the
    // same item, and resolution takes it from here. Set once, before the
    // handle is shared.
    TreeItem* resolved = nullptr;
    std::uint64_t generation = 0;
    std::uint64_t relocations = 0;
};

// The record shared by handles and views. The state lives inside the object
// (constructed when the object is made, destroyed in its dealloc).
struct ItemObject {
    PyObject_HEAD
    PyObject* document;  // strong reference; set once `storage` holds the state
    alignas(ItemState) unsigned char storage[sizeof(ItemState)];

    ItemState& state() noexcept { return *std::launder(reinterpret_cast<ItemState*>(storage)); }
};

// A new handle or view object of `type` on `document` at `path`, at the
// document's current version.
Result<Ref> new_record(PyObject* type, PyObject* document, Path path);

// Releases the fields of a handle or view (its tp_dealloc).
void dealloc_record(PyObject* self);

// The classes (created once); null with an error set on failure.
PyObject* item_type();
PyObject* dict_item_type();
PyObject* list_item_type();
PyObject* scalar_item_type();

bool is_item(PyObject* o) noexcept;

// What an operation acts on: a Document (the root table, never stale) or the
// place a handle or view names.
struct Place {
    PyObject* document = nullptr;  // borrowed
    const Path* path = nullptr;
    ItemState* state = nullptr;  // null for a Document
    std::uint64_t version = 0;

    static Place of_document(PyObject* doc) noexcept;
    // A handle or a view (both start with the ItemObject record).
    static Place of_record(PyObject* obj) noexcept;
    // A Document or a handle.
    static Place of(PyObject* obj) noexcept;

    DocumentState& doc() const noexcept { return state_of(document); }
};

// The tree item at `path`, or null when it does not resolve.
TreeItem* resolve_path(DocumentState& s, const Path& path);

// Checks the place against the version registry: the stale error
// (RuntimeError) when an edit at or above its path came after it was made.
Status check(const Place& p);

// Checks the place (stale: RuntimeError) and resolves its path (KeyError
// "path no longer valid"). The caller holds the document lock.
Result<TreeItem*> resolve(const Place& p);

// The current Python value of a handle (any Item): KeyError or RuntimeError as
// resolve().
Result<Ref> current_value(PyObject* handle);

// Stamps `path` + [`key`] (or `path` when `key` is null) in the place's
// document; returns the new counter. The caller holds the lock exclusive.
std::uint64_t stamp(const Place& p, const std::string_view* key);

// A new handle on `target`, the item at `parent` + [`step`], of the class its
// kind asks for. The caller holds the document lock.
Result<Ref> new_handle(PyObject* document, const Path& parent, PathStep step, const TreeItem& target);

// A new private Document holding `value` under the key "_", and a handle on
// it (used by parse() and by `table | other`).
Result<Ref> private_handle(TreeItem value);

// Where the place's item stands, for the messages of to_python: its path,
// without the "_" of a private document, then `key` or `index` when given.
Where where_of(const Place& p);
Where where_of(const Place& p, std::string_view key);
Where where_of(const Place& p, std::size_t index);

// Checks that `item`, stored as a child of the place's item (a table or a
// list, resolved), is written as text the parser reads back; ValueError
// otherwise (see engine/nesting.hpp). The caller holds the lock.
Status check_readable(const Place& p, const TreeItem& item);

// Where the text of the item at `p` starts in `text`, the item written on its
// own (write_item): an array element's prefix starts on the line of the
// element before it, and that line's rest (its inline comment) is not this
// element's text.
std::size_t item_text_start(const Place& p, const TreeItem& item, std::string_view text);

// The kind name of a tree item ("integer", "inline table", ...).
std::string kind_of(const TreeItem& item);
// The same between single quotes, as list-side messages write it.
std::string quoted_kind(const TreeItem& item);

// A Python value prepared for comparison with tree items: handles and
// documents are compared by their tree items, anything else is converted
// first (before any lock is taken); a value that cannot be converted
// (TypeError, OverflowError) or that no TOML value can equal (a datetime
// whose offset has seconds) equals nothing.
class Comparand {
public:
    static Result<Comparand> from(PyObject* other);
    // Compares with `mine`, an item of a document whose lock the caller holds.
    Result<bool> equals(const TreeItem& mine) const;

private:
    PyObject* object_ = nullptr;  // a handle or a Document (borrowed)
    std::optional<TreeItem> converted_;
    bool never_ = false;
};

// Copies the tree item an Item handle points at (under its document's shared
// lock), formatting kept; nullopt when `obj` is not a handle
// (RecursionError when the copy would nest too deep for the running
// conversion, see check_copy_nesting).
Result<std::optional<TreeItem>> copy_handle_target(PyObject* obj);

// Whether `obj` is a handle on a string value (checked and resolved under its
// document's shared lock); its text is then copied into `text`.
Result<bool> handle_string(PyObject* obj, std::string& text);

// The edit of the list (an array or an array of tables) that the handle
// `handle` resolved to `list`; an array of tables finds the table that holds
// it by key through the handle's path.
ListEdit edit_list(PyObject* handle, TreeItem& list);

// The arguments of sort(*, key=None, reverse=False): the key function (null
// for None) and the direction.
struct SortOptions {
    PyObject* key = nullptr;  // borrowed
    bool descending = false;
};
Result<SortOptions> sort_options(PyObject* key, PyObject* reverse);

// The positions of the Python list `values` in sorted order, stable, as
// list.sort() sorts them (by key(value) when a key is given). Runs Python
// code: the caller holds no document lock.
Result<std::vector<std::size_t>> sorted_positions(PyObject* values, const SortOptions& options);

}  // namespace morvelan::py
