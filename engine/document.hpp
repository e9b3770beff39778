// The document: its root table, the text after the last entry, and the
// source buffer that the tree's pieces of text view.
//
//     # leading comment      <- prefix of the first key (or header)
//     title = "x"
//
//     [server]               <- the blank line is the header's decor prefix
//     port = 80
//     # closing comment      <- the document's trailing text
#pragma once

#include <memory>
#include <string_view>

#include "alloc.hpp"
#include "array.hpp"
#include "array_of_tables.hpp"
#include "key.hpp"
#include "repr.hpp"
#include "source.hpp"
#include "table.hpp"
#include "tree_item.hpp"

namespace morvelan {

class DocumentRoot {
public:
    // An empty document: an empty root table and no trailing text.
    DocumentRoot() : root_(TreeItem::table()) {}

    // The root item; always a Table.
    TreeItem& root() noexcept { return root_; }
    const TreeItem& root() const noexcept { return root_; }
    Table& table() noexcept { return root_.as_table(); }
    const Table& table() const noexcept { return root_.as_table(); }

    // Text after the last entry or header.
    RawText trailing;

    // The source's last line had no line feed. While the trailing text is
    // empty, the document is written without a final line feed.
    bool no_final_newline = false;

    // The source began with a UTF-8 byte-order mark: it is written back.
    bool bom = false;
    // Most line breaks of the source were "\r\n": the writer ends new lines
    // that way too (see encode.cpp).
    bool crlf = false;

    // The buffer the tree's pieces view (null for documents built in memory).
    const SourceBuffer& source() const noexcept { return source_; }
    void set_source(SourceBuffer s) noexcept { source_ = std::move(s); }

    // Empties the document.
    void clear() {
        root_ = TreeItem::table();
        trailing = RawText();
        no_final_newline = false;
        bom = false;
        crlf = false;
        source_.reset();
    }

    // Copy: the tree is copied, pieces keep viewing the shared buffer.
    DocumentRoot(const DocumentRoot&) = default;
    DocumentRoot& operator=(const DocumentRoot&) = default;
    DocumentRoot(DocumentRoot&&) noexcept = default;
    DocumentRoot& operator=(DocumentRoot&&) noexcept = default;

private:
    TreeItem root_;
    SourceBuffer source_;
};

}  // namespace morvelan
