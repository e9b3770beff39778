// Tables: the ordered entry storage shared by standard tables and inline
// tables, and the Table node itself.
//
// Entries keep insertion order. Lookup is by decoded key text (a key written
// bare, in double or single quotes is one key). Small tables are searched
// linearly; larger ones keep a hash index of positions. Removing an entry
// costs O(1) amortised wherever it stands: at either end the slot goes, in
// between it becomes a hole (a None item under a removed key, which no
// lookup finds), and the holes are squeezed out in one pass once they are
// as many as the entries. The order of the rest never changes.
//
// An entry whose item is None is a placeholder: visible_size(), iteration
// helpers that say "visible", and the writer skip it. A hole is such an
// entry too, so every walk that skips placeholders skips holes; positions
// (find, at, size) count holes, and stay put when an entry before them is
// removed, until the holes are squeezed out.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>

#include "alloc.hpp"
#include "error.hpp"
#include "key.hpp"
#include "tree_item.hpp"

namespace morvelan {

// The hash of a key's decoded text, seeded once per process (the order of
// entries never depends on it).
std::uint64_t hash_key(std::string_view s) noexcept;

struct Entry {
    Entry() = default;
    Entry(Key&& k, TreeItem&& i) noexcept : key(std::move(k)), item(std::move(i)) {}
    // A copy whose item is copy_item(o.item), made in place.
    template <class CopyItem>
    Entry(const Entry& o, CopyItem& copy_item) : key(o.key), item(copy_item(o.item)) {}
    Key key;
    TreeItem item;
};

class EntryMap {
public:
    EntryMap() = default;
    EntryMap(const EntryMap& o) : slots_(o.begin(), o.end()), holes_(o.holes_) { index_all(); }
    // A copy whose items are made by copy_item(item) (see Entry).
    template <class CopyItem>
    EntryMap(const EntryMap& o, CopyItem&& copy_item) {
        slots_.reserve(o.size());
        for (const Entry& e : o) slots_.emplace_back(e, copy_item);
        holes_ = o.holes_;
        index_all();
    }
    EntryMap& operator=(const EntryMap& o);
    EntryMap(EntryMap&& o) noexcept
        : slots_(std::move(o.slots_)), index_(o.index_), head_(o.head_), holes_(o.holes_) {
        o.slots_.clear();
        o.head_ = 0;
        o.holes_ = 0;
        o.index_ = nullptr;
    }
    EntryMap& operator=(EntryMap&& o) noexcept;
    ~EntryMap() { drop_index(); }

    // All entries, None placeholders and holes included, in order: the
    // positions of at(). Holes are only ever between entries.
    std::size_t size() const noexcept { return slots_.size() - head_; }
    bool empty() const noexcept { return size() == 0; }
    // The entries, None placeholders included, holes not.
    std::size_t count() const noexcept { return size() - holes_; }
    Entry& at(std::size_t i) noexcept { return slots_[head_ + i]; }
    const Entry& at(std::size_t i) const noexcept { return slots_[head_ + i]; }
    Entry* begin() noexcept { return slots_.data() + head_; }
    Entry* end() noexcept { return slots_.data() + slots_.size(); }
    const Entry* begin() const noexcept { return slots_.data() + head_; }
    const Entry* end() const noexcept { return slots_.data() + slots_.size(); }

    // Position of the entry with this key text, or -1.
    std::ptrdiff_t find(std::string_view key) const noexcept;
    Entry* get(std::string_view key) noexcept {
        auto i = find(key);
        return i < 0 ? nullptr : &at(static_cast<std::size_t>(i));
    }
    const Entry* get(std::string_view key) const noexcept {
        auto i = find(key);
        return i < 0 ? nullptr : &at(static_cast<std::size_t>(i));
    }

    // Appends an entry; the key must not be present.
    Entry& append(Key&& key, TreeItem&& item);
    // Appends an entry unless its key is present (then returns null and
    // leaves both arguments as they were). Looks the key up once.
    Entry* try_append(Key&& key, TreeItem&& item);
    // Removes the entry at position i; the others keep their order. Costs
    // O(1) amortised. The positions of the others stay, unless the holes are
    // squeezed out; references to entries stay valid only in the latter case
    // too, so callers take neither for granted.
    Entry remove_at(std::size_t i) noexcept;
    // Gives entry i the key `text` (which no other entry has), keeping its
    // place, its item and its key's decor (see Key::rename).
    void rename_at(std::size_t i, std::string_view text);
    void clear() noexcept {
        slots_.clear();
        head_ = 0;
        holes_ = 0;
        drop_index();
    }
    // Makes room for n entries.
    void reserve(std::size_t n) { slots_.reserve(n); }
    // Squeezes out holes and sizes the slots to the entries: with room for an
    // eighth more in a large table (as a Python list keeps), and an index
    // that holds that room too, so that the first entries added to a parsed
    // table neither move all the others nor index them all again; with none
    // in a small one. The parser calls it on each table it has finished
    // reading.
    void shrink_to_fit();

private:
    static constexpr std::size_t kLinearMax = 8;
    void drop_index() noexcept;
    // Builds the index when the map is over the linear size (drops it otherwise).
    void index_all();
    void rebuild_index();
    // Indexes the entries afresh, with room for `room` entries (at least
    // their count) before the index must grow.
    bool reindex(std::size_t room = 0) noexcept;
    void index_insert(std::size_t slot) noexcept;
    std::size_t index_slot_of(std::string_view key, std::size_t slot) const noexcept;
    void index_erase(std::size_t at) noexcept;
    void compact() noexcept;
    void squeeze() noexcept;
    bool is_hole(std::size_t slot) const noexcept { return slots_[slot].key.is_removed(); }

    // slots_[head_, size) hold the entries and the holes between them; the
    // slots before head_ are moved-from, left by removals at the front and
    // reclaimed in one move once they are as many as the entries.
    Vector<Entry> slots_;
    // Open addressing: slot + 1, 0 = free; the word before the first holds
    // the mask (the number of places - 1).
    std::uint32_t* index_ = nullptr;
    std::uint32_t index_mask() const noexcept { return index_[-1]; }
    // 32 bits, like the slots of the index: a table holds fewer than 2^32
    // entries.
    std::uint32_t head_ = 0;
    std::uint32_t holes_ = 0;
};

// The place of a table's header among the document's headers (from 1), or
// none: an optional 32-bit number in four bytes, 0 standing for none. 32 bits
// keep tables small; a header takes at least three bytes, so only a text over
// 6 GiB could count past them (the parser's count stops at the largest value).
class HeaderPosition {
public:
    HeaderPosition() noexcept = default;
    HeaderPosition(std::int32_t place) noexcept : place_(place) {}

    explicit operator bool() const noexcept { return place_ != 0; }
    std::int32_t operator*() const noexcept { return place_; }
    void reset() noexcept { place_ = 0; }
    friend bool operator==(HeaderPosition, HeaderPosition) = default;

private:
    std::int32_t place_ = 0;
};

// A standard table ([header] or implicit) or an inline table ({ ... }); the
// owning TreeItem's kind tells which. Fields that belong to one kind only are
// left at their defaults by the other.
class Table : public EngineAllocated {
public:
    EntryMap entries;

    // Inline tables: the text before the closing brace, and whether a comma
    // follows the last entry.
    RawText trailing;
    bool trailing_comma = false;

    // The table has no header of its own (it exists for a deeper header or
    // dotted key). Inline tables carry it as data only.
    bool implicit = false;
    // Created by a dotted key: its entries are written as dotted keys of its
    // parent.
    bool dotted = false;

    // The place of the header among the document's headers.
    HeaderPosition doc_position;

    // The header's key path as written, when it differs in spelling or
    // spacing from the keys of the tables on the way (`['a']` above `[a.b]`,
    // or `[[ x ]]` after `[[x]]`); null otherwise.
    struct HeaderKeys : EngineAllocated {
        Vector<Key> keys;
    };
    std::unique_ptr<HeaderKeys> header_keys;

    Table() = default;
    // A deep copy.
    Table(const Table& o) : Table(o, [](const TreeItem& item) { return TreeItem(item); }) {}
    // A copy of `o` whose entries' items are made by copy_item(item), in
    // place: the one place that copies the fields of a table, for the copy of
    // a single table and for the copy of a whole tree (which makes the items
    // without their children, to fill in later).
    template <class CopyItem>
    Table(const Table& o, CopyItem&& copy_item)
        : entries(o.entries, copy_item),
          trailing(o.trailing),
          trailing_comma(o.trailing_comma),
          implicit(o.implicit),
          dotted(o.dotted),
          doc_position(o.doc_position),
          header_keys(o.header_keys ? new HeaderKeys(*o.header_keys) : nullptr) {}
    Table& operator=(const Table&) = delete;

    // --- entry operations (None placeholders are not visible) ---
    TreeItem* get(std::string_view key) noexcept {
        Entry* e = entries.get(key);
        return e ? &e->item : nullptr;
    }
    const TreeItem* get(std::string_view key) const noexcept {
        const Entry* e = entries.get(key);
        return e ? &e->item : nullptr;
    }
    // The visible item under the key, or null.
    TreeItem* get_visible(std::string_view key) noexcept {
        TreeItem* it = get(key);
        return it && !it->is_none() ? it : nullptr;
    }
    const TreeItem* get_visible(std::string_view key) const noexcept {
        const TreeItem* it = get(key);
        return it && !it->is_none() ? it : nullptr;
    }
    bool contains(std::string_view key) const noexcept {
        const TreeItem* it = get(key);
        return it && !it->is_none();
    }
    // Inserts by key text: a new key is appended with a fresh Key; for a
    // present key the entry keeps its place, its item is replaced and its Key
    // loses spelling and decor. Returns the previous item (None if there was
    // none). An inline table stores the item converted to a value.
    TreeItem insert(std::string_view key, TreeItem item, bool is_inline);
    // Removes the entry; returns it, or nothing if the key is absent.
    std::optional<Entry> remove(std::string_view key);

    // Entries whose item is not None.
    std::size_t visible_size() const noexcept;
    // The n-th visible entry, or null.
    Entry* visible_at(std::size_t n) noexcept;
    const Entry* visible_at(std::size_t n) const noexcept;

    // Clears the decor of every value entry and of its key (defaults apply
    // again); sub-tables and arrays of tables are untouched.
    void fmt() noexcept;

    // Turns the texts of the table itself and of its keys into owned text;
    // the entries' items are left to the caller (TreeItem::detach).
    void detach_fields();

private:
    friend class NodeChain;
    Table* chain_next_ = nullptr;  // see NodeChain; never copied
};

}  // namespace morvelan
