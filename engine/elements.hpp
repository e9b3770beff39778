// Elements: the items of an array or the members of an array of tables, in
// one block of memory with room kept at both ends, so that adding or
// removing an item at either end costs O(1) amortised (a list is often
// filled with append, and emptied or shifted from the front).
//
// The block grows by half of its size at least, at the end that ran out of
// room; items inserted or erased inside the block move those on the shorter
// side. Items are moved by copying their bytes (TreeItem allows it: see
// tree_item.hpp), so growing never runs a constructor per item.
#pragma once

#include <cstdint>
#include <cstring>
#include <new>

#include "alloc.hpp"
#include "tree_item.hpp"

namespace morvelan {

class Elements {
public:
    using value_type = TreeItem;
    using iterator = TreeItem*;
    using const_iterator = const TreeItem*;

    Elements() noexcept = default;
    Elements(const Elements& o) : Elements() {
        reserve(o.size_);
        for (const TreeItem& item : o) push_back(TreeItem(item));
    }
    Elements(Elements&& o) noexcept : block_(o.block_), head_(o.head_), size_(o.size_), cap_(o.cap_) {
        o.block_ = nullptr;
        o.head_ = o.size_ = o.cap_ = 0;
    }
    // Takes the items of a vector (moved out of it).
    explicit Elements(Vector<TreeItem>&& items) : Elements() {
        reserve(items.size());
        for (TreeItem& item : items) push_back(std::move(item));
        items.clear();
    }
    Elements& operator=(const Elements& o) {
        if (this != &o) {
            Elements copy(o);
            *this = std::move(copy);
        }
        return *this;
    }
    Elements& operator=(Elements&& o) noexcept {
        if (this != &o) {
            release();
            block_ = o.block_;
            head_ = o.head_;
            size_ = o.size_;
            cap_ = o.cap_;
            o.block_ = nullptr;
            o.head_ = o.size_ = o.cap_ = 0;
        }
        return *this;
    }
    ~Elements() { release(); }

    std::size_t size() const noexcept { return size_; }
    bool empty() const noexcept { return size_ == 0; }
    TreeItem* data() noexcept { return block_ + head_; }
    const TreeItem* data() const noexcept { return block_ + head_; }
    TreeItem* begin() noexcept { return data(); }
    TreeItem* end() noexcept { return data() + size_; }
    const TreeItem* begin() const noexcept { return data(); }
    const TreeItem* end() const noexcept { return data() + size_; }
    TreeItem& operator[](std::size_t i) noexcept { return data()[i]; }
    const TreeItem& operator[](std::size_t i) const noexcept { return data()[i]; }
    TreeItem& front() noexcept { return data()[0]; }
    TreeItem& back() noexcept { return data()[size_ - 1]; }
    const TreeItem& front() const noexcept { return data()[0]; }
    const TreeItem& back() const noexcept { return data()[size_ - 1]; }

    // Makes room for n items in all, at the end.
    void reserve(std::size_t n) {
        if (n > size_ && n - size_ > back_room()) regrow(0, n - size_);
    }
    // Room for n more items at the end, grown by half at least when there
    // is too little: a loop of appends that reserves first stays O(1)
    // amortised.
    void reserve_more(std::size_t n = 1) {
        if (n > back_room()) regrow(0, n > growth() ? n : growth());
    }
    // Room for one item inserted before position i, at the end that
    // insert() moves items towards: after it, that insert() cannot fail.
    void reserve_insert(std::size_t i) {
        if (front_side(i) ? head_ == 0 : back_room() == 0)
            regrow(front_side(i) ? growth() : 0, front_side(i) ? 0 : growth());
    }

    // The item is moved out before the block may move: it can be one of
    // this list's own items.
    TreeItem& push_back(TreeItem&& item) {
        TreeItem moved(std::move(item));
        reserve_more();
        TreeItem* at = new (end()) TreeItem(std::move(moved));
        ++size_;
        return *at;
    }
    template <class... Args>
    TreeItem& emplace_back(Args&&... args) {
        return push_back(TreeItem(std::forward<Args>(args)...));
    }
    void pop_back() noexcept {
        back().~TreeItem();
        --size_;
        if (size_ == 0) head_ = 0;
    }

    // Inserts before `pos`; returns the new item. Items before the place move
    // down into the front room, or those after it up, whichever are fewer.
    TreeItem* insert(const TreeItem* pos, TreeItem&& item) {
        TreeItem moved(std::move(item));
        const auto i = static_cast<std::size_t>(pos - begin());
        reserve_insert(i);
        TreeItem* base = data();
        if (front_side(i)) {
            relocate(base - 1, base, i);
            --head_;
        } else {
            relocate(base + i + 1, base + i, size_ - i);
        }
        ++size_;
        return new (data() + i) TreeItem(std::move(moved));
    }

    // Moves the items of `more` in front of the first item: into the room
    // there, which grows by half of the items at least when it is short, so
    // that putting runs in front one after another stays O(1) amortised per
    // item.
    void prepend(Elements&& more) {
        const std::size_t n = more.size_;
        if (n == 0) return;
        if (head_ < n) regrow(n + growth(), 0);
        relocate(data() - n, more.data(), n);
        head_ -= static_cast<std::uint32_t>(n);
        size_ += static_cast<std::uint32_t>(n);
        more.size_ = 0;  // its items are this list's now
        more.head_ = 0;
    }

    // Erases the item at `pos`, or those in [first, last); returns the
    // place of the item that followed them.
    TreeItem* erase(const TreeItem* pos) { return erase(pos, pos + 1); }
    TreeItem* erase(const TreeItem* first, const TreeItem* last) {
        const auto i = static_cast<std::size_t>(first - begin());
        const auto n = static_cast<std::size_t>(last - first);
        if (n == 0) return data() + i;
        for (std::size_t k = 0; k < n; ++k) data()[i + k].~TreeItem();
        const std::size_t after = size_ - i - n;
        if (i < after) {
            relocate(data() + n, data(), i);
            head_ += static_cast<std::uint32_t>(n);
        } else {
            relocate(data() + i, data() + i + n, after);
        }
        size_ -= static_cast<std::uint32_t>(n);
        if (size_ == 0) head_ = 0;
        return data() + i;
    }

    void clear() noexcept {
        for (TreeItem& item : *this) item.~TreeItem();
        size_ = 0;
        head_ = 0;
    }

    // Sizes the block to the items: no room at the front, and at the end
    // none for a short list and an eighth of the items for a long one (as a
    // Python list keeps), so that the first items added to a parsed list do
    // not move all the others.
    void shrink_to_fit() {
        if (size_ == 0) {
            release();
            return;
        }
        const std::size_t keep = size_ < 64 ? 0 : size_ / 8;
        if (head_ == 0 && back_room() == keep) return;
        regrow_exact(0, keep);
    }

private:
    std::size_t back_room() const noexcept { return cap_ - head_ - size_; }
    // Whether an insertion before position i moves the items before it.
    bool front_side(std::size_t i) const noexcept { return i < size_ - i; }
    // How much a full end grows by: half the items, at least four.
    std::size_t growth() const noexcept { return size_ / 2 > 4 ? size_ / 2 : 4; }

    // Items are moved by their bytes (see tree_item.hpp); the source bytes
    // are left as they are and no longer count as items.
    static void relocate(TreeItem* to, TreeItem* from, std::size_t n) noexcept {
        if (n) std::memmove(static_cast<void*>(to), static_cast<const void*>(from), n * sizeof(TreeItem));
    }

    // A new block with at least `front` free slots before the items and
    // `back` after them; the room already at each end is kept too.
    void regrow(std::size_t front, std::size_t back) {
        regrow_exact(front > head_ ? front : head_, back > back_room() ? back : back_room());
    }
    void regrow_exact(std::size_t front, std::size_t back) {
        const std::size_t cap = front + size_ + back;
        if (cap > UINT32_MAX) throw std::bad_alloc();
        auto* fresh = static_cast<TreeItem*>(mem_alloc(cap * sizeof(TreeItem)));
        if (!fresh) throw std::bad_alloc();
        relocate(fresh + front, data(), size_);
        if (block_) mem_free(block_);
        block_ = fresh;
        head_ = static_cast<std::uint32_t>(front);
        cap_ = static_cast<std::uint32_t>(cap);
    }

    void release() noexcept {
        clear();
        if (block_) mem_free(block_);
        block_ = nullptr;
        cap_ = 0;
    }

    TreeItem* block_ = nullptr;
    std::uint32_t head_ = 0;  // free slots before the items
    std::uint32_t size_ = 0;
    std::uint32_t cap_ = 0;
};

}  // namespace morvelan
