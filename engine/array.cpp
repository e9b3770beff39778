#include "array.hpp"

#include <algorithm>
#include <atomic>

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

// See Array::relocations().
std::atomic<std::uint64_t> relocation_count{0};

void relocated() noexcept { relocation_count.fetch_add(1, std::memory_order_relaxed); }

}  // namespace

std::uint64_t Array::relocations() noexcept { return relocation_count.load(std::memory_order_relaxed); }

void Array::drop_peeked() const noexcept {
    if (side_ && side_->peeked) {
        side_->peeked.reset();
        relocated();
    }
}

void Array::drop_side() const noexcept {
    drop_peeked();
    side_.reset();
}

const TreeItem& Array::peek(std::size_t i) const {
    if (i >= packed_count_) return values_[i - packed_count_];
    if (!side_) side_.reset(new Side());
    if (!side_->peeked) side_->peeked.reset(new Peeked());
    Peeked& p = *side_->peeked;
    for (std::size_t k = 0; k < p.used; ++k)
        if (p.index[k] == i) return p.items[k];
    // Read from the last mark at or before element i, or from where the last
    // read stopped when that is nearer.
    const std::size_t k = std::min(i / kMarkEvery, side_->at.size());
    std::size_t from = k * kMarkEvery;
    std::size_t at = k == 0 ? 0 : side_->at[k - 1];
    if (p.after <= i && p.after > from) {
        from = p.after;
        at = p.after_at;
    }
    PackedElements reader(packed_text().substr(at));
    TreeItem element;
    for (; from <= i; ++from)
        if (!reader.next(element)) throw InternalFault{"a packed array's text does not hold its elements"};
    if (packed_.is_owned()) element.detach();
    // Nothing below throws: a slot never holds half of an element.
    const std::size_t slot = p.next;
    p.next = (slot + 1) % Peeked::kSlots;
    if (slot < p.used)
        relocated();  // a handle may still point to the element the slot held
    else
        p.used = slot + 1;
    p.items[slot] = std::move(element);
    p.index[slot] = static_cast<std::uint32_t>(i);
    p.after = i + 1;
    p.after_at = at + reader.offset();
    return p.items[slot];
}

void Array::pack(RawText text, std::size_t count, Vector<std::uint32_t>&& marks) {
    values_.clear();
    packed_ = std::move(text);
    packed_count_ = static_cast<std::uint32_t>(count);
    drop_side();
    if (!marks.empty()) {
        side_.reset(new Side());
        side_->at = std::move(marks);
    }
}

void Array::unpack() const { const_cast<Array*>(this)->unpack_from(0); }

std::size_t Array::unpack_from(std::size_t first) {
    if (first >= packed_count_) return packed_count_;
    // The stored items move, and the peeked elements from here on become
    // items of their own.
    relocated();
    drop_peeked();
    // The last marked element at or before `first`, if any.
    std::size_t k = side_ ? std::min(first / kMarkEvery, side_->at.size()) : 0;
    const std::size_t from = k * kMarkEvery;
    const std::size_t at = k == 0 ? 0 : side_->at[k - 1];
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
        drop_side();
        return 0;
    }
    // The run now ends before the comma that preceded element `from`.
    packed_.keep_prefix(at - 1);
    packed_count_ = static_cast<std::uint32_t>(from);
    side_->at.resize(k - 1);
    if (side_->at.empty()) side_.reset();
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
      side_() {
    if (o.side_ && !o.side_->at.empty()) {  // the marks; the copy has peeked nothing
        side_.reset(new Side());
        side_->at = o.side_->at;
    }
}

void Array::detach_fields() {
    trailing.detach();
    packed_.detach();
    drop_peeked();  // they hold pieces of the text as it was
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
