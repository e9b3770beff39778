#include "array.hpp"

#include "error.hpp"

namespace morvelan {

void Array::unpack() const {
    Elements items;
    items.reserve(packed_count_);
    PackedElements reader(packed_.view());
    TreeItem v;
    while (reader.next(v)) items.push_back(std::move(v));
    if (items.size() != packed_count_)
        throw InternalFault{"a packed array's text does not hold its elements"};
    // Owned element text (a packed array moved to another document) is freed
    // below: the items must not view it.
    if (packed_.is_owned())
        for (TreeItem& item : items) item.detach();
    values_ = std::move(items);
    packed_ = RawText::absent();
    packed_count_ = 0;
}

void Array::replace(std::size_t i, TreeItem value) {
    TreeItem& old = items()[i];
    Decor d = std::move(old.decor());
    old = std::move(value);
    old.decor() = std::move(d);
}

void Array::fmt() {
    bool first = true;
    for (TreeItem& v : items()) {
        if (!v.is_value()) continue;
        v.decor().prefix = RawText::piece(first ? "" : " ");
        v.decor().suffix = RawText::piece("");
        first = false;
    }
    trailing_comma = false;
    trailing = RawText();
}

Array::Array(const Array& o, Elements&& items)
    : trailing(o.trailing),
      trailing_comma(o.trailing_comma),
      values_(std::move(items)),
      packed_(o.packed_),
      packed_count_(o.packed_count_) {}

void Array::detach_fields() {
    trailing.detach();
    packed_.detach();
}

const TreeItem* ElementReader::next() {
    if (!array_.packed()) {
        const Elements& items = array_.items();
        return index_ < items.size() ? &items[index_++] : nullptr;
    }
    if (!packed_) packed_.reset(new PackedElements(array_.packed_text()));
    return packed_->next(slot_) ? &slot_ : nullptr;
}

}  // namespace morvelan
