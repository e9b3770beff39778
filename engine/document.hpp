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
#include <optional>
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

// The first table written with a header and the last table written (see
// written_tables in encode.hpp). Reading them from the tree costs a walk
// over every table; an edit that adds or removes a table mostly knows how it
// moved them, so edits keep them for one another (see edit/dict_ops.cpp).
struct OrderEnds {
    const Table* first_header = nullptr;  // null when no table writes a header
    const Table* last = nullptr;          // the root when no other table is written
    friend bool operator==(const OrderEnds&, const OrderEnds&) = default;
};

// The ends as the last edit left them, if it knew them. An edit of the
// tables takes them before it changes anything; a copy of a document knows
// nothing of them.
class KeptEnds {
public:
    KeptEnds() = default;
    KeptEnds(const KeptEnds&) noexcept {}
    KeptEnds& operator=(const KeptEnds&) noexcept {
        ends_.reset();
        return *this;
    }
    std::optional<OrderEnds> take() noexcept {
        const std::optional<OrderEnds> e = ends_;
        ends_.reset();
        return e;
    }
    void keep(OrderEnds e) noexcept { ends_ = e; }

private:
    std::optional<OrderEnds> ends_;
};

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

    // Kept by the edits (see KeptEnds).
    KeptEnds written_ends;

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
        written_ends = KeptEnds();
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
