// Comments of entries: where each kind of entry keeps them, how they read,
// and the exact text that setting and clearing them leaves.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>

#include "edit/comments.hpp"
#include "encode.hpp"
#include "helpers.hpp"
#include "parser.hpp"

using namespace morvelan;
using namespace morvelan::test;

namespace {

// A place: the container (a path of keys and indices, "t/0"; "" for the
// root) and the entry in it ("#3" for index 3, else a key).
struct Where {
    const char* container;
    const char* entry;
};

EntrySlot slot_of(const char* entry) {
    EntrySlot s;
    if (entry[0] == '#') {
        s.by_key = false;
        s.index = std::stoul(entry + 1);
    } else {
        s.key = entry;
    }
    return s;
}

enum class Which { Block, Inline };

struct Case {
    const char* input;
    Where where;
    Which which;
    std::optional<const char*> comment;  // set this (nothing: clear)
    const char* expected;
};

void run(const Case& c) {
    SCOPED_TRACE(std::string(c.input) + " @ " + c.where.container + ":" + c.where.entry);
    ParseResult<DocumentRoot> r = parse_document(c.input);
    ASSERT_TRUE(r.ok());
    TreeItem* parent = resolve(r.value(), c.where.container);
    ASSERT_TRUE(parent);
    const EntrySlot slot = slot_of(c.where.entry);
    std::optional<Text> comment;
    if (c.comment) comment = *c.comment;
    const CommentEdit done = c.which == Which::Block ? set_block_comment(*parent, slot, comment)
                                                     : set_inline_comment(*parent, slot, comment);
    ASSERT_EQ(done, CommentEdit::Done);
    const String text = write_document(r.value());
    EXPECT_EQ(std::string_view(text.data(), text.size()), c.expected);
    ParseResult<DocumentRoot> back = parse_document(std::string_view(text.data(), text.size()));
    ASSERT_TRUE(back.ok()) << text;
    EXPECT_TRUE(values_equal(back.value().root(), r.value().root()));
    // It reads back as it was set.
    TreeItem* again = resolve(back.value(), c.where.container);
    const std::optional<std::string> read =
        c.which == Which::Block ? block_comment(*again, slot) : line_comment_of(*again, slot);
    if (c.comment && c.which == Which::Inline) {
        EXPECT_EQ(read, std::string(*c.comment));
    } else if (!c.comment) {
        EXPECT_EQ(read, std::nullopt);
    }
}

}  // namespace

TEST(Comments, Reading) {
    struct Read {
        const char* input;
        Where where;
        std::optional<std::string> block, line;
    };
    const Read cases[] = {
        {"a = 1\n\n# note\nb = 2  # two\n", {"", "b"}, "\n# note", "# two"},
        {"a = 1\n# one\n# two\nb = 2\n", {"", "b"}, "# one\n# two", std::nullopt},
        {"# about t\n[t]  # header\n", {"", "t"}, "# about t", "# header"},
        {"# first\n[[a]]  # one\n[[a]]\n", {"", "a"}, "# first", std::nullopt},
        {"# first\n[[a]]  # one\n# second\n[[a]]\n", {"a", "#1"}, "# second", std::nullopt},
        {"# first\n[[a]]  # one\n[[a]]\n", {"a", "#0"}, "# first", "# one"},
        {"t = {\n  # about a\n  a = 1,  # one\n  b = 2 # two\n}\n", {"t", "a"}, "# about a", "# one"},
        {"t = { # all\n  a = 1 }\n", {"t", "a"}, std::nullopt, std::nullopt},
        {"t = {\n  a = 1,  # one\n  b = 2 # two\n}\n", {"t", "b"}, std::nullopt, "# two"},
        {"x = [\n  1,  # one\n  # about two\n  2,\n]\n", {"x", "#1"}, "# about two", std::nullopt},
        {"x = [\n  1,  # one\n  # about two\n  2,\n]\n", {"x", "#0"}, std::nullopt, "# one"},
        {"x = [ 1 # one\n, 2\n]\n", {"x", "#0"}, std::nullopt, "# one"},
        {"x = [ 1 # one\n, 2\n]\n", {"x", "#1"}, std::nullopt, std::nullopt},
        {"x = [ 1\n,# after the comma\n# about 2\n2]\n", {"x", "#1"}, "# about 2", std::nullopt},
    };
    for (const Read& c : cases) {
        SCOPED_TRACE(c.input);
        ParseResult<DocumentRoot> r = parse_document(c.input);
        ASSERT_TRUE(r.ok());
        const TreeItem* parent = resolve(r.value(), c.where.container);
        EXPECT_EQ(block_comment(*parent, slot_of(c.where.entry)), c.block);
        EXPECT_EQ(line_comment_of(*parent, slot_of(c.where.entry)), c.line);
    }
}

TEST(Comments, Writing) {
    using W = Which;
    const Case cases[] = {
        // a value in a standard table: after its blank lines, indented like it
        {"[t]\n  b = 2\n", {"t", "b"}, W::Block, "# x\n# y", "[t]\n  # x\n  # y\n  b = 2\n"},
        {"[t]\n\n  # old\n  b = 2\n", {"t", "b"}, W::Block, std::nullopt, "[t]\n\n  b = 2\n"},
        {"b = 2\n", {"", "b"}, W::Block, "# x\n", "# x\n\nb = 2\n"},
        {"key = 1   # old\n", {"", "key"}, W::Inline, "# new", "key = 1 # new\n"},
        {"key = 1   # old\n", {"", "key"}, W::Inline, std::nullopt, "key = 1\n"},
        // a table header and an array of tables
        {"x = 1\n\n[t]\n", {"", "t"}, W::Block, "# about t", "x = 1\n\n# about t\n[t]\n"},
        {"[t]  # old\n", {"", "t"}, W::Inline, "# new", "[t] # new\n"},
        {"[[a]]\nk = 1\n", {"", "a"}, W::Block, "# all", "# all\n[[a]]\nk = 1\n"},
        {"[[a]]\nk = 1\n\n[[a]]\nk = 2\n",
         {"a", "#1"},
         W::Block,
         "# second",
         "[[a]]\nk = 1\n\n# second\n[[a]]\nk = 2\n"},
        {"[[a]]\nk = 1\n", {"a", "#0"}, W::Inline, "# first", "[[a]] # first\nk = 1\n"},
        // an inline table, on one line and on several
        {"t = { a = 1, b = 2 }\n", {"t", "b"}, W::Block, "# c", "t = { a = 1,\n # c\n b = 2 }\n"},
        {"t = {\n  a = 1,\n  b = 2,\n}\n",
         {"t", "b"},
         W::Block,
         "# c",
         "t = {\n  a = 1,\n  # c\n  b = 2,\n}\n"},
        {"t = { a = 1, b = 2 }\n", {"t", "a"}, W::Inline, "# c", "t = { a = 1, # c\n b = 2 }\n"},
        {"t = { a = 1, b = 2 }\n", {"t", "b"}, W::Inline, "# c", "t = { a = 1, b = 2  # c\n}\n"},
        {"t = {\n  a = 1,  # one\n  b = 2\n}\n",
         {"t", "a"},
         W::Inline,
         "# uno",
         "t = {\n  a = 1, # uno\n  b = 2\n}\n"},
        {"t = {\n  a = 1 # one\n}\n", {"t", "a"}, W::Inline, "# uno", "t = {\n  a = 1 # uno\n}\n"},
        // the value's own comment is the one read first, and so the one replaced
        {"t = {\n  a = 1  # own\n  ,  # after\n  b = 2\n}\n",
         {"t", "a"},
         W::Inline,
         "# i",
         "t = {\n  a = 1 # i\n  ,  # after\n  b = 2\n}\n"},
        // array elements: on the line after the comma, comments on their own lines
        {"arr = [1, 2]\n", {"arr", "#0"}, W::Inline, "# one", "arr = [1, # one\n 2]\n"},
        {"arr = [1, 2]\n", {"arr", "#1"}, W::Inline, "# two", "arr = [1, 2 # two\n]\n"},
        {"arr = [\n  1,  # one\n  2,\n]\n",
         {"arr", "#0"},
         W::Inline,
         std::nullopt,
         "arr = [\n  1,\n  2,\n]\n"},
        {"arr = [\n  1,  # one\n  2,\n]\n",
         {"arr", "#0"},
         W::Inline,
         "# one",
         "arr = [\n  1,  # one\n  2,\n]\n"},
        {"arr = [1, 2]\n", {"arr", "#1"}, W::Block, "# about two", "arr = [1,\n # about two\n 2]\n"},
        {"arr = [\n  1,  # one\n  2,\n]\n",
         {"arr", "#1"},
         W::Block,
         "# about two",
         "arr = [\n  1,  # one\n  # about two\n  2,\n]\n"},
        {"arr = [ 1 # one\n, 2\n]\n", {"arr", "#0"}, W::Inline, "# uno", "arr = [ 1 # uno\n, 2\n]\n"},
        // an element whose line ends in its own text: the comment ends that line
        {"arr = [1, 2\n]\n", {"arr", "#1"}, W::Inline, "# two", "arr = [1, 2 # two\n]\n"},
        {"arr = [1\n, 2]\n", {"arr", "#0"}, W::Inline, "# one", "arr = [1 # one\n, 2]\n"},
        {"t = {\n  a = 1\n}\n", {"t", "a"}, W::Inline, "# one", "t = {\n  a = 1 # one\n}\n"},
        // dotted keys in an inline table: the line of the dotted table's last
        // value, which a value of the dotted table ends too
        {"m = { a = 1, b.c = 2 }\n", {"m", "b"}, W::Inline, "# c", "m = { a = 1, b.c = 2  # c\n}\n"},
        {"m = { a = 1, b.c = 2 }\n", {"m/b", "c"}, W::Inline, "# c", "m = { a = 1, b.c = 2 # c\n }\n"},
        {"m = { b.c = 2, a = 1 }\n", {"m/b", "c"}, W::Inline, "# c", "m = { b.c = 2 # c\n, a = 1 }\n"},
        // a dotted table and an implicit table: above their first line or header
        {"x.y = 1\n", {"", "x"}, W::Block, "# c", "# c\nx.y = 1\n"},
        {"[t]\nx.y = 1\n", {"t", "x"}, W::Block, "# c", "[t]\n# c\nx.y = 1\n"},
        {"[impl.child]\na = 1\n", {"", "impl"}, W::Block, "# c", "# c\n[impl.child]\na = 1\n"},
    };
    for (const Case& c : cases) run(c);
}

TEST(Comments, Checking) {
    EXPECT_EQ(block_comment_error("x"), "comment lines must start with '#'");
    EXPECT_EQ(block_comment_error("# a\n\n# b"), std::nullopt);
    EXPECT_EQ(block_comment_error("# a\rb"), "comment contains invalid character U+000D");
    EXPECT_EQ(block_comment_error("# \x7f"), "comment contains invalid character U+007F");
    EXPECT_EQ(inline_comment_error(""), "comment must start with '#'");
    EXPECT_EQ(inline_comment_error("# a\nb"), "inline comment must not contain newlines");
    EXPECT_EQ(inline_comment_error("a"), "comment must start with '#'");
    EXPECT_EQ(inline_comment_error("# \t ü"), std::nullopt);
}
