#include "table.hpp"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "array.hpp"
#include "array_of_tables.hpp"

namespace morvelan {

namespace {

// Per-process seed: makes hash flooding of tables with chosen keys hard; it
// never affects order or output.
std::uint64_t hash_seed() noexcept {
    static const std::uint64_t seed = [] {
        std::uint64_t s =
            static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
        s ^= reinterpret_cast<std::uintptr_t>(&s);
        return s * 0x9E3779B97F4A7C15ull | 1;
    }();
    return seed;
}

}  // namespace

std::uint64_t hash_key(std::string_view s) noexcept {
    std::uint64_t h = hash_seed() ^ (s.size() * 0x9E3779B97F4A7C15ull);
    const unsigned char* p = reinterpret_cast<const unsigned char*>(s.data());
    std::size_t n = s.size();
    while (n >= 8) {
        std::uint64_t w;
        std::memcpy(&w, p, 8);
        h = (h ^ w) * 0xFF51AFD7ED558CCDull;
        h ^= h >> 32;
        p += 8;
        n -= 8;
    }
    // The last 0-7 bytes, read with at most three loads. A variable-length
    // memcpy into a word would go through the stack and stall the load that
    // reads the word back.
    std::uint64_t w = 0;
    if (n & 4) {
        std::uint32_t v;
        std::memcpy(&v, p, 4);
        w = v;
        p += 4;
    }
    if (n & 2) {
        std::uint16_t v;
        std::memcpy(&v, p, 2);
        w = (w << 16) | v;
        p += 2;
    }
    if (n & 1) w = (w << 8) | *p;
    h = (h ^ w) * 0xC4CEB9FE1A85EC53ull;
    h ^= h >> 29;
    return h;
}

EntryMap& EntryMap::operator=(const EntryMap& o) {
    if (this != &o) {
        EntryMap tmp(o);
        *this = std::move(tmp);
    }
    return *this;
}

EntryMap& EntryMap::operator=(EntryMap&& o) noexcept {
    if (this != &o) {
        drop_index();
        slots_ = std::move(o.slots_);
        head_ = o.head_;
        index_ = o.index_;
        holes_ = o.holes_;
        o.slots_.clear();
        o.head_ = 0;
        o.holes_ = 0;
        o.index_ = nullptr;
    }
    return *this;
}

void EntryMap::drop_index() noexcept {
    if (index_) mem_free(index_ - 1);
    index_ = nullptr;
}

void EntryMap::index_all() {
    if (count() > kLinearMax)
        rebuild_index();
    else
        drop_index();
}

void EntryMap::index_insert(std::size_t slot) noexcept {
    const std::size_t mask = index_mask();
    std::size_t i = hash_key(slots_[slot].key.text()) & mask;
    while (index_[i] != 0) i = (i + 1) & mask;
    index_[i] = static_cast<std::uint32_t>(slot + 1);
}

void EntryMap::rebuild_index() {
    if (!reindex()) throw std::bad_alloc();
}

bool EntryMap::reindex(std::size_t room) noexcept {
    std::size_t cap = 16;
    while (cap < std::max(room, count()) * 2) cap <<= 1;
    // The mask goes in a word before the slots.
    auto* fresh = static_cast<std::uint32_t*>(mem_alloc((cap + 1) * sizeof(std::uint32_t)));
    if (!fresh) return false;
    drop_index();
    fresh[0] = static_cast<std::uint32_t>(cap - 1);
    index_ = fresh + 1;
    std::memset(index_, 0, cap * sizeof(std::uint32_t));
    for (std::size_t s = head_; s < slots_.size(); ++s)
        if (!is_hole(s)) index_insert(s);
    return true;
}

// The index position that holds `slot`, whose entry has this key text.
std::size_t EntryMap::index_slot_of(std::string_view key, std::size_t slot) const noexcept {
    const auto v = static_cast<std::uint32_t>(slot + 1);
    const std::size_t mask = index_mask();
    std::size_t i = hash_key(key) & mask;
    while (index_[i] != v) i = (i + 1) & mask;
    return i;
}

// Empties index position `at` and moves later members of its probe run back
// into the hole where their home allows, so lookups never need tombstones.
void EntryMap::index_erase(std::size_t at) noexcept {
    const std::size_t mask = index_mask();
    std::size_t hole = at;
    std::size_t j = at;
    for (;;) {
        index_[hole] = 0;
        for (;;) {
            j = (j + 1) & mask;
            const std::uint32_t v = index_[j];
            if (v == 0) return;
            const std::size_t home = hash_key(slots_[v - 1].key.text()) & mask;
            // Stays when its home lies cyclically in (hole, j].
            const bool stays = hole <= j ? (hole < home && home <= j) : (hole < home || home <= j);
            if (!stays) {
                index_[hole] = v;
                hole = j;
                break;
            }
        }
    }
}

// Moves the entries down over the moved-from slots at the front.
void EntryMap::compact() noexcept {
    if (head_ == 0) return;
    const auto shift = static_cast<std::uint32_t>(head_);
    slots_.erase(slots_.begin(), slots_.begin() + static_cast<std::ptrdiff_t>(head_));
    head_ = 0;
    if (index_)
        for (std::size_t i = 0, mask = index_mask(); i <= mask; ++i)
            if (index_[i]) index_[i] -= shift;
}

// Moves the entries down over the holes and the moved-from slots at the
// front, in order, and indexes them again.
void EntryMap::squeeze() noexcept {
    std::size_t to = 0;
    for (std::size_t s = head_; s < slots_.size(); ++s) {
        if (is_hole(s)) continue;
        if (to != s) slots_[to] = std::move(slots_[s]);
        ++to;
    }
    slots_.erase(slots_.begin() + static_cast<std::ptrdiff_t>(to), slots_.end());
    head_ = 0;
    holes_ = 0;
    if (index_ && !reindex()) {
        // Without memory for a fresh index, the old one is refilled.
        std::memset(index_, 0, (index_mask() + 1) * sizeof(std::uint32_t));
        for (std::size_t s = 0; s < slots_.size(); ++s) index_insert(s);
    }
}

std::ptrdiff_t EntryMap::find(std::string_view key) const noexcept {
    if (!index_) {
        for (std::size_t s = head_; s < slots_.size(); ++s)
            if (slots_[s].key.text() == key && !is_hole(s)) return static_cast<std::ptrdiff_t>(s - head_);
        return -1;
    }
    const std::size_t mask = index_mask();
    std::size_t i = hash_key(key) & mask;
    while (std::uint32_t v = index_[i]) {
        if (slots_[v - 1].key.text() == key) return static_cast<std::ptrdiff_t>(v - 1 - head_);
        i = (i + 1) & mask;
    }
    return -1;
}

Entry& EntryMap::append(Key&& key, TreeItem&& item) {
    slots_.emplace_back(std::move(key), std::move(item));
    const std::size_t n = count();
    if (index_) {
        if (n * 2 > index_mask() + 1)
            rebuild_index();
        else
            index_insert(slots_.size() - 1);
    } else if (n > kLinearMax) {
        rebuild_index();
    }
    return slots_.back();
}

void EntryMap::shrink_to_fit() {
    if (holes_ != 0 || head_ != 0) squeeze();
    const std::size_t n = slots_.size();
    const std::size_t keep = n < 64 ? n : n + n / 8;
    if (index_ && keep * 2 > index_mask() + 1U) reindex(keep);  // without memory for it, it grows later
    if (slots_.capacity() == keep) return;
    if (keep == n) {
        slots_.shrink_to_fit();
        return;
    }
    Vector<Entry> fitted;
    fitted.reserve(keep);
    for (Entry& e : slots_) fitted.push_back(std::move(e));
    slots_ = std::move(fitted);
}

Entry* EntryMap::try_append(Key&& key, TreeItem&& item) {
    if (!index_) {
        if (find(key.text()) >= 0) return nullptr;
        return &append(std::move(key), std::move(item));
    }
    const std::size_t mask = index_mask();
    std::size_t i = hash_key(key.text()) & mask;
    while (std::uint32_t v = index_[i]) {
        if (slots_[v - 1].key.text() == key.text()) return nullptr;
        i = (i + 1) & mask;
    }
    slots_.emplace_back(std::move(key), std::move(item));
    if (count() * 2 > mask + 1)
        rebuild_index();
    else
        index_[i] = static_cast<std::uint32_t>(slots_.size());
    return &slots_.back();
}

void EntryMap::rename_at(std::size_t i, std::string_view text) {
    RawText renamed = RawText::owned(text);  // the one step that may fail
    const std::size_t slot = head_ + i;
    if (index_) index_erase(index_slot_of(slots_[slot].key.text(), slot));
    slots_[slot].key.rename(std::move(renamed));
    if (index_) index_insert(slot);
}

Entry EntryMap::remove_at(std::size_t i) noexcept {
    const std::size_t slot = head_ + i;
    if (index_) index_erase(index_slot_of(slots_[slot].key.text(), slot));
    Entry out = std::move(slots_[slot]);
    if (i == 0) {
        // The first slot is left moved-from, and the holes after it go too.
        ++head_;
        while (head_ < slots_.size() && is_hole(head_)) {
            ++head_;
            --holes_;
        }
    } else if (slot + 1 == slots_.size()) {
        slots_.pop_back();
        while (slots_.size() > head_ && is_hole(slots_.size() - 1)) {
            slots_.pop_back();
            --holes_;
        }
    } else {
        slots_[slot].key = Key::removed();
        ++holes_;
    }
    if (holes_ > count())
        squeeze();
    else if (head_ >= size())
        compact();
    if (index_) {
        if (count() <= kLinearMax)
            drop_index();
        else if (index_mask() + 1 > 16 && count() * 8 < index_mask() + 1)
            reindex();  // shrinking: without memory for it the larger index stays
    }
    return out;
}

TreeItem Table::insert(std::string_view key, TreeItem item, bool is_inline) {
    if (is_inline) item.convert_to_value();
    if (Entry* e = entries.get(key)) {
        TreeItem old = std::move(e->item);
        e->item = std::move(item);
        e->key.reset_format();
        return old;
    }
    entries.append(Key(key), std::move(item));
    return TreeItem();
}

std::optional<Entry> Table::remove(std::string_view key) {
    auto i = entries.find(key);
    if (i < 0) return std::nullopt;
    return entries.remove_at(static_cast<std::size_t>(i));
}

std::size_t Table::visible_size() const noexcept {
    std::size_t n = 0;
    for (const Entry& e : entries) n += !e.item.is_none();
    return n;
}

Entry* Table::visible_at(std::size_t n) noexcept {
    for (Entry& e : entries) {
        if (e.item.is_none()) continue;
        if (n-- == 0) return &e;
    }
    return nullptr;
}

const Entry* Table::visible_at(std::size_t n) const noexcept {
    return const_cast<Table*>(this)->visible_at(n);
}

void Table::fmt() noexcept {
    for (Entry& e : entries) {
        if (!e.item.is_value()) continue;
        e.key.clear_decor();
        e.item.decor().clear();
    }
}

void Table::detach_fields() {
    trailing.detach();
    if (header_keys)
        for (Key& k : header_keys->keys) k.detach();
    for (Entry& e : entries) e.key.detach();
}

}  // namespace morvelan
