// Arrays: `[ 1, 2, 3 ]`. Each element is a value item whose decor holds the
// text before it (after "[" or the previous comma) and after it (up to its
// comma, or up to "]" when no comma follows).
#pragma once

#include <cstdint>

#include "alloc.hpp"
#include "tree_item.hpp"

namespace morvelan {

class Array : public EngineAllocated {
public:
    Vector<TreeItem> values;
    // Text between the final comma and "]"; for an empty array the text
    // between the brackets.
    RawText trailing;
    bool trailing_comma = false;
    std::uint32_t span_start = 0, span_end = 0;

    Array() = default;
    // A deep copy.
    Array(const Array& o) : Array(o, Vector<TreeItem>(o.values)) {}
    // An array with the given elements and a copy of every other field of
    // `o`: the one place that copies those fields, for the copy of a single
    // array and for the copy of a whole tree (which gives it its elements
    // without their children, to fill in later).
    Array(const Array& o, Vector<TreeItem>&& values);
    Array& operator=(const Array&) = delete;

    std::size_t size() const noexcept { return values.size(); }
    // Replaces element i; the new value takes over the old one's decor.
    void replace(std::size_t i, TreeItem value);
    // First element "" / "", later ones " " / ""; no trailing comma or text.
    void fmt() noexcept;

    // Turns the array's own texts into owned text; the elements are left to
    // the caller (TreeItem::detach).
    void detach_fields();

private:
    friend class NodeChain;
    Array* chain_next_ = nullptr;  // see NodeChain; never copied
};

}  // namespace morvelan
