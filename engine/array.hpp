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

    std::size_t size() const noexcept { return values.size(); }
    // Replaces element i; the new value takes over the old one's decor.
    void replace(std::size_t i, TreeItem value);
    // First element "" / "", later ones " " / ""; no trailing comma or text.
    void fmt() noexcept;

    void detach();
};

}  // namespace morvelan
