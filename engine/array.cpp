#include "array.hpp"

#include <algorithm>

#include "error.hpp"

namespace morvelan {

namespace {

// The elements of a packed text, read into `out` after the ones there. Owned
// text (a packed array moved to another document) may be freed while the
// items live on: they get text of their own.
void read_packed(std::string_view text, bool owned, std::size_t count, Elements& out) {
    const std::size_t before = out.size();
    out.reserve_more(count);
    PackedElements reader(text);
    TreeItem v;
    while (reader.next(v)) out.push_back(std::move(v));
    if (out.size() - before != count) throw InternalFault{"a packed array's text does not hold its elements"};
    if (owned)
        for (std::size_t i = before; i < out.size(); ++i) out[i].detach();
}

}  // namespace

void Array::pack(RawText text, std::size_t count, Vector<std::uint32_t>&& marks) {
    values_.clear();
    packed_ = std::move(text);
    packed_count_ = static_cast<std::uint32_t>(count);
    marks_.reset();
    if (!marks.empty()) {
        marks_.reset(new Marks());
        marks_->at = std::move(marks);
    }
}

void Array::unpack() const { const_cast<Array*>(this)->unpack_from(0); }

std::size_t Array::unpack_from(std::size_t first) {
    if (first >= packed_count_) return packed_count_;
    // The last marked element at or before `first`, if any.
    std::size_t k = marks_ ? std::min(first / kMarkEvery, marks_->at.size()) : 0;
    const std::size_t from = k * kMarkEvery;
    const std::size_t at = k == 0 ? 0 : marks_->at[k - 1];
    // The elements from `from` on go in front of the items after the run
    // (with room at the end, as a parsed list keeps, when they are all).
    const std::size_t count = packed_count_ - from;
    Elements items;
    if (values_.empty()) items.reserve(count + count / 8);
    read_packed(packed_text().substr(at), packed_.is_owned(), count, items);
    if (values_.empty())
        values_ = std::move(items);
    else
        values_.prepend(std::move(items));
    if (from == 0) {
        packed_ = RawText::absent();
        packed_count_ = 0;
        marks_.reset();
        return 0;
    }
    // The run now ends before the comma that preceded element `from`.
    packed_.keep_prefix(at - 1);
    packed_count_ = static_cast<std::uint32_t>(from);
    marks_->at.resize(k - 1);
    if (marks_->at.empty()) marks_.reset();
    return from;
}

void Array::replace(std::size_t i, TreeItem value) {
    TreeItem& old = element(i);
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
      values_(std::move(items)),
      packed_(o.packed_),
      packed_count_(o.packed_count_),
      trailing_comma(o.trailing_comma),
      marks_(o.marks_ ? new Marks(*o.marks_) : nullptr) {}

void Array::detach_fields() {
    trailing.detach();
    packed_.detach();
}

const TreeItem* ElementReader::next() {
    if (index_ < array_.packed_size()) {
        if (!packed_) packed_.reset(new PackedElements(array_.packed_text()));
        if (!packed_->next(slot_)) return nullptr;
        ++index_;
        return &slot_;
    }
    const Elements& items = array_.stored_items();
    const std::size_t i = index_ - array_.packed_size();
    if (i >= items.size()) return nullptr;
    ++index_;
    return &items[i];
}

}  // namespace morvelan
