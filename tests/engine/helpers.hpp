// Helpers shared by the engine and edit-layer tests.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <string_view>

#include "encode.hpp"
#include "parser.hpp"

namespace morvelan::test {

inline std::string text_of(const String& s) { return std::string(s.data(), s.size()); }

// The document of `text`; a text that does not parse fails the test and
// gives an empty document.
inline DocumentRoot parse(std::string_view text) {
    ParseResult<DocumentRoot> r = parse_document(text);
    EXPECT_TRUE(r.ok()) << "does not parse:\n" << text << "\n" << (r.ok() ? "" : r.error().message);
    return r.ok() ? std::move(r.value()) : DocumentRoot();
}

inline std::string write(const DocumentRoot& doc) { return text_of(write_document(doc)); }

// The item at a path of keys and indices, "a/b/0/c" ("" is the root); null
// when the path leads nowhere.
inline TreeItem* resolve(DocumentRoot& doc, std::string_view path) {
    TreeItem* item = &doc.root();
    while (!path.empty()) {
        const std::size_t cut = path.find('/');
        const std::string_view step = path.substr(0, cut);
        path = cut == std::string_view::npos ? std::string_view() : path.substr(cut + 1);
        if (!step.empty() && step.find_first_not_of("0123456789") == std::string_view::npos) {
            const std::size_t i = std::stoul(std::string(step));
            if (item->is_array_of_tables()) {
                item = &item->as_array_of_tables().values[i];
            } else if (item->is_array()) {
                item = &item->as_array().items()[i];
            } else {
                return nullptr;
            }
        } else {
            if (!item->is_table_like()) return nullptr;
            item = item->as_table().get(step);
            if (!item) return nullptr;
        }
    }
    return item;
}

// An edited tree's written `text` parses, reads as the same data, and is
// written again unchanged.
inline void expect_reads_back(const DocumentRoot& doc, const std::string& text) {
    ParseResult<DocumentRoot> back = parse_document(text);
    ASSERT_TRUE(back.ok()) << "written text does not parse:\n" << text << "\n" << back.error().message;
    EXPECT_TRUE(values_equal(back.value().root(), doc.root())) << "reads back as other data:\n" << text;
    EXPECT_EQ(write(back.value()), text) << "not stable when written again";
}

inline std::string repeat(std::string_view s, std::size_t n) {
    std::string out;
    out.reserve(s.size() * n);
    for (std::size_t i = 0; i < n; ++i) out.append(s);
    return out;
}

}  // namespace morvelan::test
