#include "table.hpp"

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
    std::uint64_t w = 0;
    std::memcpy(&w, p, n);
    h = (h ^ w) * 0xC4CEB9FE1A85EC53ull;
    h ^= h >> 29;
    return h;
}

}  // namespace

EntryMap& EntryMap::operator=(EntryMap&& o) noexcept {
    if (this != &o) {
        drop_index();
        entries_ = std::move(o.entries_);
        index_ = o.index_;
        index_mask_ = o.index_mask_;
        o.index_ = nullptr;
        o.index_mask_ = 0;
    }
    return *this;
}

void EntryMap::drop_index() noexcept {
    if (index_) mem_free(index_);
    index_ = nullptr;
    index_mask_ = 0;
}

void EntryMap::index_insert(std::size_t pos) noexcept {
    std::size_t slot = hash_key(entries_[pos].key.text()) & index_mask_;
    while (index_[slot] != 0) slot = (slot + 1) & index_mask_;
    index_[slot] = static_cast<std::uint32_t>(pos + 1);
}

void EntryMap::rebuild_index() {
    drop_index();
    std::size_t cap = 16;
    while (cap < entries_.size() * 2) cap <<= 1;
    index_ = static_cast<std::uint32_t*>(mem_alloc(cap * sizeof(std::uint32_t)));
    if (!index_) throw std::bad_alloc();
    std::memset(index_, 0, cap * sizeof(std::uint32_t));
    index_mask_ = cap - 1;
    for (std::size_t i = 0; i < entries_.size(); ++i) index_insert(i);
}

std::ptrdiff_t EntryMap::find(std::string_view key) const noexcept {
    if (!index_) {
        for (std::size_t i = 0; i < entries_.size(); ++i)
            if (entries_[i].key.text() == key) return static_cast<std::ptrdiff_t>(i);
        return -1;
    }
    std::size_t slot = hash_key(key) & index_mask_;
    while (std::uint32_t v = index_[slot]) {
        if (entries_[v - 1].key.text() == key) return static_cast<std::ptrdiff_t>(v - 1);
        slot = (slot + 1) & index_mask_;
    }
    return -1;
}

Entry& EntryMap::append(Key&& key, TreeItem&& item) {
    entries_.emplace_back(std::move(key), std::move(item));
    std::size_t n = entries_.size();
    if (index_) {
        if (n * 2 > index_mask_ + 1)
            rebuild_index();
        else
            index_insert(n - 1);
    } else if (n > kLinearMax) {
        rebuild_index();
    }
    return entries_.back();
}

Entry EntryMap::remove_at(std::size_t i) {
    Entry out = std::move(entries_[i]);
    entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(i));
    if (index_) {
        if (entries_.size() > kLinearMax)
            rebuild_index();
        else
            drop_index();
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

Array::Array(const Array& o, Vector<TreeItem>&& v)
    : values(std::move(v)),
      trailing(o.trailing),
      trailing_comma(o.trailing_comma),
      span_start(o.span_start),
      span_end(o.span_end) {}

void Array::replace(std::size_t i, TreeItem value) {
    Decor d = std::move(values[i].decor());
    values[i] = std::move(value);
    values[i].decor() = std::move(d);
}

void Array::fmt() noexcept {
    bool first = true;
    for (TreeItem& v : values) {
        if (!v.is_value()) continue;
        v.decor().prefix = RawText::piece(first ? "" : " ");
        v.decor().suffix = RawText::piece("");
        first = false;
    }
    trailing_comma = false;
    trailing = RawText();
}

void Array::detach_fields() { trailing.detach(); }

ArrayOfTables::ArrayOfTables(const ArrayOfTables& o, Vector<TreeItem>&& v)
    : values(std::move(v)), span_start(o.span_start), span_end(o.span_end) {}

}  // namespace morvelan
