// Placeholder: plain insert/remove without layout rules (being replaced).
#include "dict_ops.hpp"

namespace morvelan {

bool assign_entry(TreeItem& target, std::string_view key, TreeItem item) {
    Table& t = target.as_table();
    bool existed = t.contains(key);
    if (TreeItem* old = t.get(key)) {
        if (target.is_inline_table()) item.convert_to_value();
        *old = std::move(item);
    } else {
        t.insert(key, std::move(item), target.is_inline_table());
    }
    return existed;
}

std::optional<Entry> remove_entry(TreeItem& target, std::string_view key) {
    Table& t = target.as_table();
    if (!t.contains(key)) return std::nullopt;
    return t.remove(key);
}

std::optional<Entry> remove_last_entry(TreeItem& target) {
    Table& t = target.as_table();
    for (std::size_t i = t.entries.size(); i-- > 0;)
        if (!t.entries.at(i).item.is_none()) return t.entries.remove_at(i);
    return std::nullopt;
}

void clear_entries(TreeItem& target) noexcept { target.as_table().entries.clear(); }

}  // namespace morvelan
