// Reading the element text of a packed array (see array.hpp) back into
// items, one element at a time.
#pragma once

#include <memory>
#include <string_view>

#include "tree_item.hpp"

namespace morvelan {

class PackedElements {
public:
    // `text` is a packed array's element text; it must outlive the reader,
    // and the items read from it hold pieces of it.
    explicit PackedElements(std::string_view text);
    ~PackedElements();
    PackedElements(const PackedElements&) = delete;
    PackedElements& operator=(const PackedElements&) = delete;

    // Reads the next element into `out`, with its prefix and suffix decor;
    // false after the last one.
    bool next(TreeItem& out);

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace morvelan
