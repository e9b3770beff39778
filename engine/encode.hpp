// Writing TOML text: whole documents and single tree items.
//
// Recorded text is written as it was; absent decor takes the default of its
// place, absent spellings the canonical text; new line breaks are the
// document's (see Writer::new_text). Headers are written in the order of their
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

// The tables of a document in the order they are written: the root first,
// then every table that is not dotted, each with whether it writes a header
// (an implicit table with only sub-tables writes none). Edits use it to find
// the text that stands before and after a table.
struct WrittenTable {
    const TreeItem* item;
    bool header;
};
[[nodiscard]] Vector<WrittenTable> written_tables(const DocumentRoot& doc);
// Whether a table that is not dotted (`member`: of an array of tables) is
// written with a header, as written_tables says of it.
[[nodiscard]] bool writes_header(const TreeItem& table, bool member);

}  // namespace morvelan
