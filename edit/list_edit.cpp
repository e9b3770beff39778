#include "list_edit.hpp"

#include <exception>
#include <utility>

#include "dict_ops.hpp"
#include "layout_rules.hpp"
#include "written_order.hpp"

namespace morvelan {

ListEdit::ListEdit(DocumentRoot& doc, TreeItem& list, HolderLookup holder)
    : doc_(&doc),
      list_(&list),
      holder_(holder),
      had_members_(length_of(list) != 0),
      unwinding_(std::uncaught_exceptions()) {
    // The members of an array of tables are tables of the document: the ends
    // of the written order move with each member that comes or goes.
    if (list.is_array_of_tables()) kept_.ends = take_order_ends(doc);
}

ListEdit::ListEdit(ListEdit&& other) noexcept
    : doc_(std::exchange(other.doc_, nullptr)),
      list_(other.list_),
      holder_(other.holder_),
      had_members_(other.had_members_),
      removed_(other.removed_),
      kept_(std::move(other.kept_)),
      unwinding_(other.unwinding_) {}

ListEdit::~ListEdit() noexcept(false) {
    if (doc_ && std::uncaught_exceptions() == unwinding_) finish();
}

TreeItem* ListEdit::holder(std::string_view& key) const {
    TreeItem* t = holder_.find ? holder_.find(holder_.context, key) : nullptr;
    return t && t->is_table() ? t : nullptr;
}

void ListEdit::finish() {
    if (removed_) {
        // An array of tables that has just lost its last member is written
        // as a key/value line of its holder from now on.
        std::string_view name;
        TreeItem* table =
            had_members_ && list_->is_array_of_tables() && length_of(*list_) == 0 ? holder(name) : nullptr;
        Entry* e = table ? table->as_table().entries.get(name) : nullptr;
        Key* key = e ? &e->key : nullptr;
        if (key) {
            // Written with a line's spacing from now on, not a header's.
            key->leaf_decor.clear();
            kept_.ends.reset();  // a line of the table that holds it now
        }
        // A line of the root is written before every header: text that
        // opened the document stays above it.
        if (table != &doc_->root()) kept_.opened = false;
        keep_removed_text(*doc_, kept_, key ? &key->leaf_decor.prefix : nullptr);
        if (key) array_of_tables_emptied(*doc_, *table, name);
    }
    if (kept_.ends) keep_order_ends(*doc_, *kept_.ends);
}

void ListEdit::insert(std::size_t at, TreeItem&& element) {
    std::string_view name;
    TreeItem* table = list_->is_array_of_tables() && length_of(*list_) == 0 ? holder(name) : nullptr;
    if (!table) {
        insert_element(*list_, at, std::move(element));
    } else {
        // `key = []` becomes sections again.
        const Refill r = array_of_tables_refilling(*doc_, *table, name);
        insert_element(*list_, at, std::move(element));
        array_of_tables_refilled(*doc_, list_->as_array_of_tables().values[at], r);
    }
    member_came(kept_, *list_, at);
}

void ListEdit::append_all(Vector<TreeItem>&& elements) {
    reserve_elements(*list_, elements.size());
    for (TreeItem& e : elements) insert(length_of(*list_), std::move(e));
}

void ListEdit::replace(std::size_t at, TreeItem&& element) {
    replace_element(*list_, at, std::move(element));
    kept_.ends.reset();
}

TreeItem ListEdit::remove(std::size_t at) {
    removed_ = true;
    if (list_->is_array_of_tables() && at + 1 == length_of(*list_)) {
        // The last member's text stays in the document: whether it opened the
        // document is read before the member goes (the order is read only
        // when there is such text).
        const TreeItem& member = list_->as_array_of_tables().values[at];
        if (member.is_table() && !stays_when_removed(member.decor().prefix.view()).empty())
            kept_.opened = order_ends(*doc_, kept_.ends).first_header == &member.as_table() &&
                           !writes_lines(doc_->table());
    }
    return remove_element(*list_, at, &kept_);
}

void ListEdit::clear() {
    removed_ = true;
    clear_elements(*list_, &kept_);
}

bool ListEdit::reorder(const std::vector<std::size_t>& order) {
    if (list_->is_array()) {
        reorder_elements(list_->as_array(), order);
        return true;
    }
    // The members' sections change places in the written order.
    kept_.ends.reset();
    return reorder_members(*doc_, *list_, order);
}

void ListEdit::set_multiline(std::size_t indent) {
    if (list_->is_array()) morvelan::set_multiline(list_->as_array(), indent);
}

}  // namespace morvelan
