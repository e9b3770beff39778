// One edit of a list of a document (an array, or an array of tables whose
// members are sections of the document), made of whole operations.
//
// The binding resolves the list, opens a ListEdit on it, and calls one member
// per operation it carries out; each leaves the tree consistent, and what an
// edit of several operations settles once (the text that stood above removed
// headers, how an array of tables left without members is written, the ends
// of the written order kept for the next edit) is settled when the ListEdit
// goes out of scope.
#pragma once
#include <cstddef>
#include <optional>
#include <string_view>
#include <vector>

#include "engine/document.hpp"
#include "engine/tree_item.hpp"
#include "list_ops.hpp"

namespace morvelan {

// Finds the table that holds the list and the key it holds it under
// (null when it is not held by key), for the caller's `context`. An array
// of tables that empties or refills changes how its key is written
// there; only then is it asked.
struct HolderLookup {
    TreeItem* (*find)(const void* context, std::string_view& key) = nullptr;
    const void* context = nullptr;
};

class ListEdit {
public:
    ListEdit(DocumentRoot& doc, TreeItem& list, HolderLookup holder = {});
    // Settles the edit. What settles it may fail for want of memory: that
    // propagates (to the call frame) unless an exception is already
    // unwinding the edit, which then stops where it is.
    ~ListEdit() noexcept(false);
    ListEdit(const ListEdit&) = delete;
    ListEdit& operator=(const ListEdit&) = delete;
    ListEdit(ListEdit&& other) noexcept;
    ListEdit& operator=(ListEdit&&) = delete;

    TreeItem& list() const noexcept { return *list_; }
    DocumentRoot& doc() const noexcept { return *doc_; }

    // Inserts `element` (made by as_element) before position `at`.
    void insert(std::size_t at, TreeItem&& element);
    // Appends the elements at the end, room made first.
    void append_all(Vector<TreeItem>&& elements);
    // Replaces element `at`.
    void replace(std::size_t at, TreeItem&& element);
    // Removes element `at` and returns it.
    TreeItem remove(std::size_t at);
    // Removes every element.
    void clear();
    // Puts the elements in a new order (see reorder_elements and
    // reorder_members); false, changing nothing, when the members of an array
    // of tables cannot move.
    bool reorder(const std::vector<std::size_t>& order);
    // Lays an array out one element per line (see set_multiline); nothing for
    // an array of tables.
    void set_multiline(std::size_t indent);

private:
    void finish();

    DocumentRoot* doc_;
    TreeItem* list_;
    // The standard table that holds the list under `key`, or null.
    TreeItem* holder(std::string_view& key) const;

    HolderLookup holder_;
    bool had_members_;
    bool removed_ = false;
    KeptText kept_;
    int unwinding_;  // exceptions in flight when the edit began
};

}  // namespace morvelan
