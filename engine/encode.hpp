// Writing TOML text: whole documents and single tree items.
//
// Recorded text is written as it was (carriage returns in decor and trailing
// text dropped); absent decor takes the default of its place, absent
// spellings the canonical text. Headers are written in the order of their
// recorded positions; tables created in memory follow the table before them
// in a depth-first walk.
#pragma once

#include "alloc.hpp"
#include "document.hpp"

namespace morvelan {

[[nodiscard]] String write_document(const DocumentRoot& doc);

// One item on its own: a value with empty default decor, a table as its
// body of key/value lines, an array of tables as an array of inline tables.
[[nodiscard]] String write_item(const TreeItem& item);

}  // namespace morvelan
