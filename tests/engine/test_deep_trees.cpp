// Trees far deeper than any thread stack could walk by recursion: every walk
// over a whole tree (copy, comparison, detach, conversion, positions, writing,
// freeing) must get through them. Each case runs on a thread with a small
// stack where the platform lets a test choose one.
#include <gtest/gtest.h>

#include <cstddef>
#include <functional>
#include <string>

#include "on_stack.hpp"

#include "encode.hpp"
#include "helpers.hpp"

using namespace morvelan;
using namespace morvelan::test;

namespace {

constexpr std::size_t kDepth = 100000;

// Runs f on a thread with a 512 KB stack (the calling thread when threads
// with a chosen stack size are not available).
void on_small_stack(const std::function<void()>& f) { on_stack(512 * 1024, f); }

TreeItem with_entry(TreeItem t, std::string_view key, TreeItem item) {
    t.as_table().entries.append(Key(key), std::move(item));
    return t;
}

// The first child of a container: its first entry's item, element or member.
TreeItem& first_child(TreeItem& item) {
    return item.is_table_like() ? item.as_table().entries.at(0).item
           : item.is_array()    ? item.as_array().items()[0]
                                : item.as_array_of_tables().values[0];
}

// The scalar at the bottom of a chain of first children.
TreeItem& leaf(TreeItem& item) {
    TreeItem* p = &item;
    while (p->is_container()) p = &first_child(*p);
    return *p;
}

struct Shape {
    const char* name;
    // The deepest level, one level of nesting around `inner`, and what holds
    // the whole (null: nothing).
    TreeItem (*bottom)();
    TreeItem (*wrap)(TreeItem inner);
    TreeItem (*holder)(TreeItem inner);
    // The document holding the tree under the key "t", as written; empty
    // when that text grows with the square of the depth (every member of an
    // array of tables has a header with the whole path).
    std::string (*document_text)(std::size_t depth);
    // The tree converted to a value, as written by write_item.
    std::string (*value_text)(std::size_t depth);
};

TreeItem table_with_x(TreeItem t) { return with_entry(std::move(t), "x", TreeItem::integer(1)); }
TreeItem make_dotted(TreeItem t) {
    t.as_table().implicit = t.as_table().dotted = true;
    return t;
}

TreeItem standard(TreeItem inner) {
    TreeItem t = with_entry(TreeItem::table(), "k", std::move(inner));
    t.as_table().implicit = true;  // no header of its own: only the deepest table has one
    return t;
}
TreeItem dotted(TreeItem inner) { return make_dotted(with_entry(TreeItem::table(), "k", std::move(inner))); }
TreeItem inline_table(TreeItem inner) { return with_entry(TreeItem::inline_table(), "k", std::move(inner)); }
TreeItem dotted_inline(TreeItem inner) {
    return make_dotted(with_entry(TreeItem::inline_table(), "k", std::move(inner)));
}
TreeItem array(TreeItem inner) {
    TreeItem a = TreeItem::array();
    a.as_array().items().push_back(std::move(inner));
    return a;
}
TreeItem array_of_tables(TreeItem inner) {
    TreeItem a = TreeItem::array_of_tables();
    a.as_array_of_tables().values.push_back(with_entry(TreeItem::table(), "k", std::move(inner)));
    return a;
}

// `n` inline tables, the innermost holding x = 1.
std::string nested_inline(std::size_t n) {
    return repeat("{ k = ", n - 1) + "{ x = 1 }" + repeat(" }", n - 1);
}

const Shape kShapes[] = {
    {"StandardTables", [] { return table_with_x(TreeItem::table()); }, standard, nullptr,
     [](std::size_t n) { return "[t" + repeat(".k", n) + "]\nx = 1\n"; },
     [](std::size_t n) { return nested_inline(n + 1); }},
    {"DottedTables", [] { return make_dotted(table_with_x(TreeItem::table())); }, dotted, nullptr,
     [](std::size_t n) { return "t." + repeat("k.", n) + "x = 1\n"; },
     [](std::size_t n) { return nested_inline(n + 1); }},
    {"InlineTables", [] { return table_with_x(TreeItem::inline_table()); }, inline_table, nullptr,
     [](std::size_t n) { return "t = " + nested_inline(n + 1) + "\n"; },
     [](std::size_t n) { return nested_inline(n + 1); }},
    // An inline table whose one entry is a chain of dotted inline tables.
    {"DottedInlineTables", [] { return make_dotted(table_with_x(TreeItem::inline_table())); }, dotted_inline,
     inline_table, [](std::size_t n) { return "t = { " + repeat("k.", n + 1) + "x = 1 }\n"; },
     [](std::size_t n) { return "{ " + repeat("k.", n + 1) + "x = 1 }"; }},
    {"Arrays", [] { return TreeItem::integer(1); }, array, nullptr,
     [](std::size_t n) { return "t = " + repeat("[", n) + "1" + repeat("]", n) + "\n"; },
     [](std::size_t n) { return repeat("[", n) + "1" + repeat("]", n); }},
    {"ArraysOfTables", [] { return TreeItem::integer(1); }, array_of_tables, nullptr,
     [](std::size_t) { return std::string(); },
     [](std::size_t n) { return repeat("[{ k = ", n) + "1" + repeat(" }]", n); }},
};

class DeepTree : public testing::TestWithParam<Shape> {};

TEST_P(DeepTree, EveryWalkGetsThrough) {
    const Shape& shape = GetParam();
    on_small_stack([&] {
        TreeItem tree = shape.bottom();
        for (std::size_t i = 0; i < kDepth; ++i) tree = shape.wrap(std::move(tree));
        if (shape.holder) tree = shape.holder(std::move(tree));
        DocumentRoot doc;
        doc.table().entries.append(Key("t"), std::move(tree));
        TreeItem& top = doc.table().entries.at(0).item;

        // Writing, of the document and of a copy of it.
        const std::string text = shape.document_text(kDepth);
        const DocumentRoot copied_doc = doc;
        if (!text.empty()) {
            EXPECT_EQ(std::string(write_document(doc)), text);
            EXPECT_EQ(std::string(write_document(copied_doc)), text);
        }

        // Copy and comparison: a change at the bottom is seen.
        TreeItem copy = top;
        EXPECT_TRUE(values_equal(top, copy));
        EXPECT_TRUE(same_data(top, copy));
        leaf(copy) = TreeItem::integer(2);
        EXPECT_FALSE(values_equal(top, copy));
        EXPECT_FALSE(same_data(copy, top));

        // Detach: a spelling that views a buffer becomes text of its own.
        std::string buffer = "1";
        leaf(top).set_repr(RawText::piece(buffer));
        top.detach();
        buffer = "9";
        EXPECT_TRUE(leaf(top).repr().is_owned());
        EXPECT_EQ(leaf(top).repr().view(), "1");

        // Positions: forgotten at every depth.
        std::size_t sections = 0;
        for (TreeItem* p = &top; p->is_container(); p = &first_child(*p)) {
            if (p->is_table()) {
                p->as_table().doc_position = 1;
                ++sections;
            }
        }
        clear_positions(top);
        for (TreeItem* p = &top; p->is_container(); p = &first_child(*p)) {
            if (p->is_table()) {
                EXPECT_FALSE(p->as_table().doc_position);
            }
        }

        // Conversion to a value: no table or array of tables is left, the
        // data stays equal (the kinds too when there was nothing to
        // convert), and it is written as nested inline values.
        TreeItem value = top;
        value.convert_to_value();
        std::size_t left = 0;
        for (TreeItem* p = &value; p->is_container(); p = &first_child(*p))
            left += p->is_table() || p->is_array_of_tables();
        EXPECT_EQ(left, 0u);
        EXPECT_TRUE(values_equal(value, top));
        EXPECT_EQ(same_data(value, top), sections == 0);
        EXPECT_EQ(std::string(write_item(value)), shape.value_text(kDepth));
        // write_item writes a table as its body: the others as the value.
        if (!top.is_table()) {
            EXPECT_EQ(std::string(write_item(top)), shape.value_text(kDepth));
        }

        // Freeing: the trees go out of scope here, on this thread.
    });
}

INSTANTIATE_TEST_SUITE_P(Shapes, DeepTree, testing::ValuesIn(kShapes),
                         [](const testing::TestParamInfo<Shape>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
