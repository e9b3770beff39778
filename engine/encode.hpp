// Writing TOML text: whole documents and single tree items.
//
// Recorded text is written as it was; absent decor takes the default of its
// place, absent spellings the canonical text; new line breaks are the
// document's (see Writer::new_text). Headers are written in the order of their
// recorded positions; tables created in memory follow the table before them
// in a depth-first walk.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "alloc.hpp"
#include "document.hpp"

namespace morvelan {

struct WrittenLayout;

// With a `layout`, the writer also records there where the parts of the text
// stand; the text is the same either way.
[[nodiscard]] String write_document(const DocumentRoot& doc, WrittenLayout* layout = nullptr);

// One item on its own: a value with empty default decor, a table as its
// body of key/value lines, an array of tables as an array of inline tables.
[[nodiscard]] String write_item(const TreeItem& item, WrittenLayout* layout = nullptr);

// Where the parts of a written text stand, for tools that lay the text out
// anew (the command line's formatter). Offsets count bytes from the start of
// the text, until count_code_points turns them into code points.
struct WrittenLayout {
    // A step of a path from the root, as handles take them: a key (its text
    // views the tree), or an index into an array or an array of tables.
    struct Step {
        std::string_view key;
        std::size_t index;
        bool is_index;
    };
    struct Span {
        std::size_t begin;
        std::size_t end;
    };
    // The path steps[first, first + size).
    struct Path {
        std::uint32_t first;
        std::uint32_t size;
    };
    // A key/value line of a table: its path (the table's path, of table_size
    // steps, then the line's keys), and its text from the first character of
    // its key to the end of its value.
    struct Line {
        Path path;
        std::uint32_t table_size;
        Span text;
    };
    // An array, from "[" to after "]"; its elements' texts, without the decor
    // around them, are elements[first, first + count).
    struct ArrayPlace {
        Path path;
        Span text;
        std::uint32_t first;
        std::uint32_t count;
        bool in_inline_table;  // it stands inside an inline table
    };

    Vector<Step> steps;
    Vector<Line> lines;         // in written order
    Vector<ArrayPlace> arrays;  // in the order their "]" is written
    Vector<Span> elements;
    // Each comment, from its "#" to the end of its line (no line break), in
    // written order.
    Vector<Span> comments;
    // Written by write_item: the value's text without its own decor (for a
    // table, the last line's value).
    Span value{0, 0};
};

// Turns the offsets of `layout`, recorded while writing the UTF-8 `text`,
// into offsets in code points.
void count_code_points(std::string_view text, WrittenLayout& layout);

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
