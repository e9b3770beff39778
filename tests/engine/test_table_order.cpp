// Sorting a table's entries: the exact text it leaves, and that the text
// reads back as the sorted data.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "edit/dict_ops.hpp"
#include "edit/table_order.hpp"
#include "helpers.hpp"

using namespace morvelan;
using namespace morvelan::test;

namespace {

// The order that sorts the visible entries of a table by name.
std::vector<std::size_t> by_name(const Table& t, bool descending) {
    std::vector<std::string_view> names;
    for (const Entry& e : t.entries)
        if (!e.item.is_none()) names.push_back(e.key.text());
    std::vector<std::size_t> order(names.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return descending ? names[b] < names[a] : names[a] < names[b];
    });
    return order;
}

// The names of a table's visible entries, in order.
std::vector<std::string> names_of(const Table& t) {
    std::vector<std::string> out;
    for (const Entry& e : t.entries)
        if (!e.item.is_none()) out.emplace_back(e.key.text());
    return out;
}

struct Case {
    const char* name;
    const char* input;
    const char* path;  // of the sorted table (see resolve)
    bool descending;
    const char* expected;  // null: refused, the text unchanged
    TableOrder refusal = TableOrder::Done;
    void (*edit)(DocumentRoot&) = nullptr;  // before the sort
};

void add_section(DocumentRoot& doc) {
    TreeItem t = TreeItem::table();
    t.as_table().insert("x", TreeItem::integer(1), false);
    assign_entry(doc, *resolve(doc, "t"), "a", std::move(t));
}

}  // namespace

// Lines move with their comment blocks and line-end comments; blank lines,
// indentation and paragraphs set off by a blank line stay. Sections move with
// the headers below them and the comment block above their first header,
// taking the places the sections held. An inline table's entries move as an
// array's elements do.
TEST(TableOrder, Sorting) {
    const Case cases[] = {
        {"lines with comments", "[t]\n# about c\nc = 3  # three\nb = 2\n\n# paragraph\n\n# about a\na = 1\n",
         "t", false, "[t]\n# about a\na = 1\nb = 2\n\n# paragraph\n\n# about c\nc = 3  # three\n"},
        {"indentation stays", "[t]\n  b = 1\n    a = 2\n", "t", false, "[t]\n  a = 2\n    b = 1\n"},
        {"descending", "a = 1\nc = 3\nb = 2\n", "", true, "c = 3\nb = 2\na = 1\n"},
        {"dotted group", "x = 1\na.z = 2  # z\nb = 3\na.y = 4\n", "", false,
         "a.z = 2  # z\na.y = 4\nb = 3\nx = 1\n"},
        {"a dotted table", "[t]\na.y = 1\na.x = 2\nb = 3\n", "t/a", false, "[t]\na.x = 2\na.y = 1\nb = 3\n"},
        {"sections",
         "title = \"x\"\n\n# about b\n[b]\nn = 1\n\n[b.sub]\ns = 1\n\n# paragraph\n\n[a]  # a\nm = 2\n", "",
         false,
         "title = \"x\"\n\n[a]  # a\nm = 2\n\n# paragraph\n\n# about b\n[b]\nn = 1\n\n[b.sub]\ns = 1\n"},
        {"sub-sections before their table", "[t.b.x]\n[t.a]\n[t.b]\n", "t", false, "[t.a]\n[t.b.x]\n[t.b]\n"},
        {"arrays of tables", "[[z]]\nn = 1\n[[z]]\nn = 2\n\n[y]\nk = 1\n", "", false,
         "[y]\nk = 1\n\n[[z]]\nn = 1\n[[z]]\nn = 2\n"},
        {"inline table", "t = {b = 1, a = 2}\n", "t", false, "t = {a = 2, b = 1}\n"},
        {"inline table on lines", "t = {\n  b = 1,  # one\n  a = 2,\n}\n", "t", false,
         "t = {\n  a = 2,\n  b = 1,  # one\n}\n"},
        {"dotted lines in an inline table", "t = { y = 1, x.b = 2, x.a = 3 }\n", "t/x", false,
         "t = { y = 1, x.a = 3, x.b = 2 }\n"},
        {"another header among them", "[t.b]\n[u]\n[t.a]\n", "t", false, nullptr, TableOrder::SectionsApart},
        {"read and added sections", "[t.b]\nx = 1\n", "t", false, nullptr, TableOrder::SectionsApart,
         add_section},
        {"lines among other lines", "a.y = 1\nb = 2\na.x = 3\n", "a", false, nullptr, TableOrder::LinesApart},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DocumentRoot doc = parse(c.input);
        if (c.edit) c.edit(doc);
        const std::string before = write(doc);
        TreeItem* target = resolve(doc, c.path);
        ASSERT_NE(target, nullptr);
        const std::vector<std::string> names = names_of(target->as_table());
        const TableOrder done = reorder_entries(doc, *target, by_name(target->as_table(), c.descending));
        EXPECT_EQ(done, c.expected ? TableOrder::Done : c.refusal);
        const std::string text = write(doc);
        EXPECT_EQ(text, c.expected ? c.expected : before.c_str());
        if (!c.expected) {
            EXPECT_EQ(names_of(resolve(doc, c.path)->as_table()), names);
        }
        expect_reads_back(doc, text);
    }
}
