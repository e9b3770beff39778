// Arrays: `[ 1, 2, 3 ]`. Each element is a value item whose decor holds the
// text before it (after "[" or the previous comma) and after it (up to its
// comma, or up to "]" when no comma follows).
//
// A parsed array whose elements are all scalars is kept packed: instead of
// one item per element it records only the text of its elements (from after
// "[" to the end of the last element's suffix) and their number. The text
// alone says everything the items would: writing a packed array writes that
// text, and reading its values decodes it element by element. The first
// access to the items themselves (items(), to edit the array or to read an
// element's decor) unpacks it: the text is read once more into items, which
// from then on are the array. A large array of numbers thus costs no more
// than its text until someone edits it.
//
// Edits at the end (append, pop) need only the last elements as items:
// unpack_from() reads just the elements from a given one on, leaving those
// before packed. The array is then a packed run followed by items (the
// stored items), and is written as the run's text, a comma and the items.
// The parser marks where every 64th element of a long packed array starts,
// so that reading the elements from one on starts at most 64 before it.
//
// items() on a const array may unpack it. A document is read and changed by
// one thread at a time under its lock, holding the interpreter lock, so an
// array is never unpacked by two threads at once.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "alloc.hpp"
#include "elements.hpp"
#include "packed.hpp"
#include "tree_item.hpp"

namespace morvelan {

class Array : public EngineAllocated {
public:
    // The elements, unpacked first when packed.
    Elements& items() {
        if (packed()) unpack();
        return values_;
    }
    const Elements& items() const {
        if (packed()) unpack();
        return values_;
    }

    // The items as stored, without unpacking: the elements after the packed
    // run (all of them when there is none). For walks over the tree's nodes,
    // which need only the containers: the packed run holds none.
    Elements& stored_items() noexcept { return values_; }
    const Elements& stored_items() const noexcept { return values_; }

    std::size_t size() const noexcept { return packed_count_ + values_.size(); }
    bool empty() const noexcept { return size() == 0; }

    // Whether the first elements are a packed run; all of them when the
    // stored items are none.
    bool packed() const noexcept { return packed_count_ != 0; }
    // The number of elements in the packed run (the position of the first
    // stored item).
    std::size_t packed_size() const noexcept { return packed_count_; }
    // The packed run's element text: from after "[" to the end of its last
    // element's suffix (the comma after it and the trailing text are not
    // part of it).
    std::string_view packed_text() const noexcept { return packed_.view(); }
    const RawText& packed_text_raw() const noexcept { return packed_; }
    // Makes the array a packed one of `count` elements (0 < count < 2^32)
    // written as `text`; the caller guarantees that `text` reads as that
    // many scalar elements, and that marks[k] is where element 64 * (k + 1)
    // starts in it (the text after the comma before it), for as many
    // elements as are marked.
    void pack(RawText text, std::size_t count, Vector<std::uint32_t>&& marks);
    static constexpr std::size_t kMarkEvery = 64;

    // Unpacks the elements from position `first` on (and perhaps a few
    // before it); returns the packed size after it, at most `first`.
    std::size_t unpack_from(std::size_t first);
    // Element i (< size()) as an item to edit: the elements before it may
    // stay packed, those from it on are unpacked.
    TreeItem& element(std::size_t i) { return values_[i - unpack_from(i)]; }
    // Element i (< size()) to read, unpacking nothing: an element of the
    // packed run is read out of its text into a slot the array keeps (one of
    // a few, reused in turn), which stays valid until relocations() changes.
    // Such a copy is never edited: edits reach elements through element().
    const TreeItem& peek(std::size_t i) const;

    // A count that grows whenever an element item a caller may still point
    // to moves or goes without an edit: unpacking moves the stored items, and
    // a slot of peek() is reused or dropped. A pointer to an element taken
    // while the count had a value is valid while it keeps it (and the tree is
    // not edited).
    static std::uint64_t relocations() noexcept;

    // Removes every element.
    void clear() noexcept {
        values_.clear();
        packed_ = RawText::absent();
        packed_count_ = 0;
        drop_side();
    }

    // Text between the final comma and "]"; for an empty array the text
    // between the brackets.
    RawText trailing;

    Array() = default;
    // A deep copy.
    Array(const Array& o) : Array(o, Elements(o.values_)) {}
    // An array with the given stored items and a copy of every other field
    // of `o`: the one place that copies those fields, for the copy of a
    // single array and for the copy of a whole tree (which gives it its
    // items without their children, to fill in later).
    Array(const Array& o, Elements&& items);
    Array& operator=(const Array&) = delete;

    // Replaces element i; the new value takes over the old one's decor.
    void replace(std::size_t i, TreeItem value);
    // First element "" / "", later ones " " / ""; no trailing comma or text.
    void fmt();

    // Turns the array's own texts (the packed text included) into owned
    // text; the items are left to the caller (TreeItem::detach).
    void detach_fields();

private:
    friend class NodeChain;
    // Reads the packed text into items.
    void unpack() const;

    // Elements of the packed run read by peek(), each in a slot of its own.
    struct Peeked : EngineAllocated {
        static constexpr std::size_t kSlots = 16;
        TreeItem items[kSlots];
        std::uint32_t index[kSlots] = {};
        std::size_t used = 0;  // slots [0, used) hold elements
        std::size_t next = 0;  // the slot the next element read takes
        // The element after the last one read, and where its text starts:
        // reading on from there costs one element.
        std::size_t after = 0, after_at = 0;
    };
    // What a packed run has besides its text: where every 64th element
    // starts, and the elements peek() read.
    struct Side : EngineAllocated {
        Vector<std::uint32_t> at;
        std::unique_ptr<Peeked> peeked;
    };
    // Forgets the marks and the peeked elements.
    void drop_side() const noexcept;
    // Forgets the peeked elements (the packed run changed).
    void drop_peeked() const noexcept;

    Array* chain_next_ = nullptr;  // see NodeChain; never copied
    mutable Elements values_;
    mutable RawText packed_ = RawText::absent();
    mutable std::uint32_t packed_count_ = 0;

public:
    // Whether a comma follows the last element. (Declared here, next to the
    // 32-bit count, so that an array takes 80 bytes.)
    bool trailing_comma = false;

private:
    mutable std::unique_ptr<Side> side_;  // null when nothing is marked or peeked
};

// Reads the elements of an array in order without unpacking it: a packed
// array's elements are decoded one at a time into the reader.
class ElementReader {
public:
    explicit ElementReader(const Array& a) noexcept : array_(a) {}
    ElementReader(const ElementReader&) = delete;
    ElementReader& operator=(const ElementReader&) = delete;

    // The next element, or null after the last. An element of a packed array
    // lives in the reader until the next call.
    const TreeItem* next();

private:
    const Array& array_;
    std::size_t index_ = 0;
    std::unique_ptr<PackedElements> packed_;
    TreeItem slot_;
};

}  // namespace morvelan
