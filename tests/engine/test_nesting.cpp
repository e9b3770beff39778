// What the writer may write is what the parser reads back: a tree is refused
// as too deeply nested exactly when its text would not parse. And the parser
// itself, on any thread stack, gives a result or the out-of-stack error,
// never a crash.
#include <gtest/gtest.h>

#include <cstddef>
#include <functional>
#include <string>

#include "encode.hpp"
#include "helpers.hpp"
#include "nesting.hpp"
#include "on_stack.hpp"
#include "parser.hpp"
#include "thread_stack.hpp"

using namespace morvelan;
using namespace morvelan::test;

namespace {

TreeItem holding(TreeItem container, TreeItem inner) {
    if (container.is_array()) {
        container.as_array().items().push_back(std::move(inner));
    } else if (container.is_array_of_tables()) {
        TreeItem member = TreeItem::table();
        member.as_table().entries.append(Key("k"), std::move(inner));
        container.as_array_of_tables().values.push_back(std::move(member));
    } else {
        container.as_table().entries.append(Key("k"), std::move(inner));
    }
    return container;
}

TreeItem dotted(TreeItem t) {
    t.as_table().implicit = t.as_table().dotted = true;
    return t;
}

struct Shape {
    const char* name;
    TreeItem (*level)();                 // one level of nesting, empty
    TreeItem (*holder)(TreeItem inner);  // what holds the levels (null: nothing)
};

const Shape kShapes[] = {
    {"Arrays", [] { return TreeItem::array(); }, nullptr},
    {"InlineTables", [] { return TreeItem::inline_table(); }, nullptr},
    {"Tables", [] { return TreeItem::table(); }, nullptr},
    {"DottedTables", [] { return dotted(TreeItem::table()); }, nullptr},
    {"DottedTablesUnderAHeader", [] { return dotted(TreeItem::table()); },
     [](TreeItem inner) { return holding(TreeItem::table(), std::move(inner)); }},
    {"DottedInlineTables", [] { return dotted(TreeItem::inline_table()); },
     [](TreeItem inner) { return holding(TreeItem::inline_table(), std::move(inner)); }},
    {"ArraysOfTables", [] { return TreeItem::array_of_tables(); }, nullptr},
};

class Readable : public testing::TestWithParam<Shape> {};

TEST_P(Readable, RefusedExactlyWhenTheTextDoesNotParse) {
    const Shape& shape = GetParam();
    std::size_t refused = 0;
    for (std::size_t depth = 76; depth <= 84; ++depth) {
        TreeItem tree = holding(shape.level(), TreeItem::integer(1));
        for (std::size_t i = 1; i < depth; ++i) tree = holding(shape.level(), std::move(tree));
        if (shape.holder) tree = shape.holder(std::move(tree));
        DocumentRoot doc;
        doc.table().entries.append(Key("t"), std::move(tree));
        const bool refused_here = unreadable_nesting(doc.root()) != nullptr;
        const String text = write_document(doc);
        EXPECT_EQ(parse_document(std::string_view(text.data(), text.size())).ok(), !refused_here)
            << shape.name << " " << depth << "\n"
            << std::string_view(text.data(), text.size()).substr(0, 400);
        refused += refused_here;
    }
    EXPECT_GT(refused, 0u);
}

INSTANTIATE_TEST_SUITE_P(Shapes, Readable, testing::ValuesIn(kShapes),
                         [](const testing::TestParamInfo<Shape>& info) {
                             return std::string(info.param.name);
                         });

#ifdef MORVELAN_TEST_HAS_STACK_CHOICE
// The deepest texts the parser reads, with work at the bottom (a string with
// escapes, a long float, a dotted key of 80 keys, an error report).
class SmallStack : public testing::TestWithParam<std::string> {};

TEST_P(SmallStack, ParsesOrRunsOutOfStackWithoutACrash) {
    const std::string& text = GetParam();
    // From a stack that holds a few levels up to one that holds them all: a
    // crash fails the test run.
    const std::size_t largest = kLargeFrames ? 1024 * 1024 : 256 * 1024;
    for (std::size_t size = 32 * 1024;; size += size / 8) {
        bool out_of_stack = false;
        on_stack(size, [&] {
            auto doc = parse_document(text);
            auto value = parse_value(std::string_view(text).substr(4));
            out_of_stack =
                (!doc.ok() && doc.error().out_of_stack) || (!value.ok() && value.error().out_of_stack);
        });
        if (size >= largest) {
            EXPECT_FALSE(out_of_stack) << "a stack of " << size << " bytes";
            break;
        }
    }
}

const std::string kDotted = repeat("k.", 79) + "k";
const std::string kFloat = "0." + repeat("1234567890", 100) + "e-300";
INSTANTIATE_TEST_SUITE_P(Texts, SmallStack,
                         testing::Values("a = " + repeat("[", 80) + "\"x\\u00e9\\U0001F600\", " + kFloat +
                                             repeat("]", 80),
                                         "a = " + repeat("{b = ", 79) + "{" + kDotted +
                                             " = 1979-05-27T07:32:00Z}" + repeat("}", 79),
                                         "a = " + repeat("[{b = ", 40) + "1" + repeat("}]", 40),
                                         "a = " + repeat("[", 80) + "\"bad \\q\"" + repeat("]", 80)));
#endif

}  // namespace
