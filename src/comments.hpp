// Comments around entries: they live in decor text, not in the tree.
#pragma once

#include <string_view>

#include "engine/tree_item.hpp"
#include "registry.hpp"

namespace morvelan::py {

// The inline comment of the element `step` of `parent` (an array element by
// index, an inline-table entry by key), read where its line ends: for an
// array element after its comma first (the next element's prefix, or the
// trailing text) and in its own suffix second; for an inline-table entry the
// other way round. Empty when there is none.
std::string_view inline_comment(const TreeItem& parent, const PathStep& step);

}  // namespace morvelan::py
