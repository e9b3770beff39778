// Array and array-of-tables edits: the exact text they leave, and that the
// text reads back as the edited data.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "edit/list_ops.hpp"
#include "encode.hpp"
#include "helpers.hpp"
#include "parser.hpp"

using namespace morvelan;
using namespace morvelan::test;

namespace {

// A new value as the conversion from Python makes it: a fragment of TOML
// with its layout and spelling forgotten.
TreeItem value(std::string_view text) {
    ParseResult<TreeItem> r = parse_value(text);
    EXPECT_TRUE(r.ok()) << text;
    TreeItem v = r.ok() ? std::move(r.value()) : TreeItem::integer(0);
    v.set_repr(RawText::absent());
    return v;
}

// A new table from document text (a Python mapping).
TreeItem table(std::string_view text) {
    ParseResult<DocumentRoot> r = parse_document(text);
    EXPECT_TRUE(r.ok()) << text;
    TreeItem t = std::move(r.value().root());
    t.detach();
    return t;
}

using Edit = std::function<void(TreeItem&)>;

Edit insert(std::size_t at, TreeItem (*make)(std::string_view), std::string text) {
    return [=](TreeItem& list) {
        std::optional<TreeItem> e = as_element(list, make(text));
        ASSERT_TRUE(e);
        insert_element(list, at, std::move(*e));
    };
}
Edit append(std::string text) {
    return [=](TreeItem& list) { insert(length_of(list), value, text)(list); };
}
Edit drop(std::size_t at) {
    return [=](TreeItem& list) { remove_element(list, at); };
}
Edit replace(std::size_t at, std::string text) {
    return [=](TreeItem& list) {
        std::optional<TreeItem> e = as_element(list, value(text));
        replace_element(list, at, std::move(*e));
    };
}
Edit multiline(std::size_t indent) {
    return [=](TreeItem& list) { set_multiline(list.as_array(), indent); };
}
Edit reorder(std::vector<std::size_t> order) {
    return [=](TreeItem& list) { reorder_elements(list.as_array(), order); };
}
Edit both(Edit a, Edit b) {
    return [=](TreeItem& list) {
        a(list);
        b(list);
    };
}

struct Case {
    const char* name;
    const char* input;  // the list edited is the entry "a"
    Edit edit;
    const char* expected;
};

void run(const Case& c) {
    SCOPED_TRACE(c.name);
    ParseResult<DocumentRoot> r = parse_document(c.input);
    ASSERT_TRUE(r.ok());
    DocumentRoot& doc = r.value();
    c.edit(*doc.table().get("a"));
    const std::string text = write(doc);
    EXPECT_EQ(text, c.expected);
    expect_reads_back(doc, text);
}

constexpr const char* kDeps =
    "a = [\n"
    "    \"numpy\",\n"
    "    \"pillow\",  # images\n"
    "    # \"requests\",\n"
    "]\n";

}  // namespace

TEST(ListOps, AddingElements) {
    const Case cases[] = {
        {"one line", "a = [1, 2]\n", append("3"), "a = [1, 2, 3]\n"},
        {"empty", "a = []\n", append("1"), "a = [1]\n"},
        {"empty with space", "a = [ ]\n", append("1"), "a = [1]\n"},
        {"empty twice", "a = []\n", both(append("1"), append("2")), "a = [1, 2]\n"},
        {"empty with a comment", "a = [ # none\n]\n", append("1"), "a = [1 # none\n]\n"},
        {"tight", "a = [1,2]\n", append("3"), "a = [1,2,3]\n"},
        {"space before the bracket", "a = [1, 2 ]\n", append("3"), "a = [1, 2, 3 ]\n"},
        {"trailing comma", "a = [1, 2, ]\n", append("3"), "a = [1, 2, 3, ]\n"},
        {"one per line", "a = [\n    1,\n    2,\n]\n", append("3"), "a = [\n    1,\n    2,\n    3,\n]\n"},
        {"one per line, no final comma", "a = [\n  1,\n  2\n]\n", append("3"), "a = [\n  1,\n  2,\n  3\n]\n"},
        {"last line's comment stays", "a = [\n  1,  # one\n  2  # two\n]\n", append("3"),
         "a = [\n  1,  # one\n  2,  # two\n  3\n]\n"},
        {"after the comment of the last element, before comment lines", kDeps, append("\"rich\""),
         "a = [\n    \"numpy\",\n    \"pillow\",  # images\n    \"rich\",\n    # \"requests\",\n]\n"},
        {"insert keeps the comment of the line before", kDeps, insert(2, value, "\"rich\""),
         "a = [\n    \"numpy\",\n    \"pillow\",  # images\n    \"rich\",\n    # \"requests\",\n]\n"},
        {"insert in the middle", kDeps, insert(1, value, "\"rich\""),
         "a = [\n    \"numpy\",\n    \"rich\",\n    \"pillow\",  # images\n    # \"requests\",\n]\n"},
        {"insert first, one per line", kDeps, insert(0, value, "\"rich\""),
         "a = [\n    \"rich\",\n    \"numpy\",\n    \"pillow\",  # images\n    # \"requests\",\n]\n"},
        {"insert first, one line", "a = [1, 2]\n", insert(0, value, "0"), "a = [0, 1, 2]\n"},
        {"insert before a line that starts with its comma", "a = [\n  1,\n  2  # two\n  , 3\n]\n",
         insert(2, value, "9"), "a = [\n  1,\n  2  # two\n  , 9\n  , 3\n]\n"},
        {"insert before comment lines", "a = [\n  1,\n  # about 2\n  2,\n]\n", insert(1, value, "9"),
         "a = [\n  1,\n  9,\n  # about 2\n  2,\n]\n"},
        {"commas first", "a = [ 1\n, 2\n]\n", append("3"), "a = [ 1\n, 2\n, 3\n]\n"},
        {"an inline table keeps its inside", "a = [{ x = 1 }]\n", append("{y = 2}"),
         "a = [{ x = 1 }, {y = 2}]\n"},
        {"a table becomes inline", "a = [1]\n",
         [](TreeItem& list) { insert_element(list, 1, *as_element(list, table("x = 1\n"))); },
         "a = [1, { x = 1 }]\n"},
        {"array of tables", "[[a]]\nx = 1\n\n[[a]]\nx = 2\n",
         [](TreeItem& list) { insert_element(list, 2, *as_element(list, table("x = 3\n"))); },
         "[[a]]\nx = 1\n\n[[a]]\nx = 2\n\n[[a]]\nx = 3\n"},
        {"array of tables, first", "[[a]]\nx = 1\n",
         [](TreeItem& list) { insert_element(list, 0, *as_element(list, table("x = 0\n"))); },
         "[[a]]\nx = 0\n\n[[a]]\nx = 1\n"},
        // What stood above the header the new one goes before, without being
        // that header's own comment, stays above the new header.
        {"array of tables, first, under the document's opening comment", "# doc\n\n# one\n[[a]]\nx = 1\n",
         [](TreeItem& list) { insert_element(list, 0, *as_element(list, table("x = 0\n"))); },
         "# doc\n\n[[a]]\nx = 0\n\n# one\n[[a]]\nx = 1\n"},
        {"array of tables, first, a later table walked before it",
         "[i]\n[[a]]\nk = 1\n[[a]]\nk = 2\n[i.late]\n",
         [](TreeItem& list) { insert_element(list, 0, *as_element(list, table("k = 0\n"))); },
         "[i]\n\n[[a]]\nk = 0\n\n[[a]]\nk = 1\n[[a]]\nk = 2\n[i.late]\n"},
        {"array of tables, replaced, a later table walked before it",
         "[i]\n[[a]]\nk = 1\n[[a]]\nk = 2\n[i.late]\n",
         [](TreeItem& list) { replace_element(list, 0, *as_element(list, table("k = 0\n"))); },
         "[i]\n[[a]]\nk = 0\n[[a]]\nk = 2\n[i.late]\n"},
        {"array of tables from an inline table", "[[a]]\nx = 1\n",
         [](TreeItem& list) {
             insert_element(list, 1, *as_element(list, value("{ x = 2, y = { z = 3 } }")));
         },
         "[[a]]\nx = 1\n\n[[a]]\nx = 2\ny = { z = 3 }\n"},
    };
    for (const Case& c : cases) run(c);
}

TEST(ListOps, RemovingElements) {
    const Case cases[] = {
        {"first, one line", "a = [1, 2, 3]\n", drop(0), "a = [2, 3]\n"},
        {"middle, one line", "a = [1, 2, 3]\n", drop(1), "a = [1, 3]\n"},
        {"last, one line", "a = [1, 2, 3 ]\n", drop(2), "a = [1, 2 ]\n"},
        {"last, trailing comma", "a = [1, 2, ]\n", drop(1), "a = [1, ]\n"},
        {"only", "a = [ 1 ]\n", drop(0), "a = []\n"},
        {"only, one per line", "a = [\n  1,  # one\n]\n", drop(0), "a = [\n]\n"},
        {"its comment goes, the line before keeps its own", kDeps, drop(1),
         "a = [\n    \"numpy\",\n    # \"requests\",\n]\n"},
        {"first, one per line", kDeps, drop(0), "a = [\n    \"pillow\",  # images\n    # \"requests\",\n]\n"},
        {"last without a final comma", "a = [\n  1,  # one\n  2  # two\n]\n", drop(1),
         "a = [\n  1  # one\n]\n"},
        {"last with a final comma", "a = [\n  1,  # one\n  2,  # two\n]\n", drop(1),
         "a = [\n  1,  # one\n]\n"},
        {"one line, comment after the last", "a = [1, 2  # two\n]\n", drop(1), "a = [1\n]\n"},
        {"its comment lines go, a set-off paragraph stays",
         "a = [\n  1,\n  # note\n\n  # about 2\n  2,\n  3,\n]\n", drop(1),
         "a = [\n  1,\n  # note\n\n  3,\n]\n"},
        {"comment lines of the next stay above it", "a = [1, 2,\n  # about 3\n  3]\n", drop(1),
         "a = [1,\n  # about 3\n  3]\n"},
        {"the next stays on its line", "a = [1, 2,  # two\n 3]\n", drop(1), "a = [1,\n 3]\n"},
        {"no doubled blank line", "a = [\n  1,\n\n  2,\n\n  3,\n]\n", drop(1), "a = [\n  1,\n\n  3,\n]\n"},
        {"the bracket line's comment stays", "a = [  # list\n  1,\n  2,\n]\n", drop(0),
         "a = [  # list\n  2,\n]\n"},
        {"array of tables, first", "x = 1\n\n[[a]]\nk = 1\n\n[[a]]\nk = 2\n", drop(0),
         "x = 1\n\n[[a]]\nk = 2\n"},
        // The next header keeps its blank line; the caller takes it away
        // where the header is now written first (keep_removed_text).
        {"array of tables, first in the file", "[[a]]\nk = 1\n\n[[a]]\nk = 2\n", drop(0), "\n[[a]]\nk = 2\n"},
        {"array of tables, glued first", "x = 1\n[[a]]\nk = 1\n\n[[a]]\nk = 2\n", drop(0),
         "x = 1\n\n[[a]]\nk = 2\n"},
        {"array of tables, comments",
         "[[a]]\nk = 0\n\n# note\n\n# about 1\n[[a]]\nk = 1\n\n# about 2\n[[a]]\nk = 2\n", drop(1),
         "[[a]]\nk = 0\n\n# note\n\n# about 2\n[[a]]\nk = 2\n"},
    };
    for (const Case& c : cases) run(c);
}

TEST(ListOps, ReplacingAndLayout) {
    const Case cases[] = {
        {"the replaced element's spacing stays", "a = [1, 2 , 3]\n", replace(1, "9"), "a = [1, 9 , 3]\n"},
        {"and its comment", "a = [\n  1,  # one\n  2,\n]\n", replace(0, "\"x\""),
         "a = [\n  \"x\",  # one\n  2,\n]\n"},
        {"multiline", "a = [1, 2] # c\n", multiline(2), "a = [\n  1,\n  2,\n] # c\n"},
        {"multiline, default", "a = [1,  # x\n 2]\n", multiline(4), "a = [\n    1,\n    2,\n]\n"},
        {"multiline of nothing", "a = []\n", multiline(4), "a = []\n"},
    };
    for (const Case& c : cases) run(c);
}

// An element moves with its comment block and the comment ending its line;
// line breaks, indentation, free paragraphs and closing comments stay.
TEST(ListOps, Reordering) {
    const Case cases[] = {
        {"one line", "a = [3, 1, 2]\n", reorder({1, 2, 0}), "a = [1, 2, 3]\n"},
        {"canonical", "a = [1]\n", both(append("3"), reorder({1, 0})), "a = [3, 1]\n"},
        {"line comments", kDeps, reorder({1, 0}),
         "a = [\n    \"pillow\",  # images\n    \"numpy\",\n    # \"requests\",\n]\n"},
        {"comment blocks", "a = [\n    # first\n    1,\n    # second\n    2,  # two\n]\n", reorder({1, 0}),
         "a = [\n    # second\n    2,  # two\n    # first\n    1,\n]\n"},
        {"free paragraph stays", "a = [\n    # group\n\n    # about 1\n    1,\n    2,\n]\n", reorder({1, 0}),
         "a = [\n    # group\n\n    2,\n    # about 1\n    1,\n]\n"},
        {"no comma after the last", "a = [\n  1,\n  2 # two\n]\n", reorder({1, 0}),
         "a = [\n  2, # two\n  1\n]\n"},
        {"comment in a one-line array", "a = [8000, # public\n 8001]\n", reorder({1, 0}),
         "a = [8001,\n 8000 # public\n]\n"},
        {"block into a one-line array", "a = [1,\n  # two\n  2]\n", reorder({1, 0}),
         "a = [\n  # two\n  2,\n  1]\n"},
        {"comma first", "a = [ 1 # one\n, 2\n]\n", reorder({1, 0}), "a = [ 2, 1 # one\n\n]\n"},
        // The comment that came last stays on its element's line when one is appended.
        {"comment moved last, then append", "a = [1,  # c\n2]\n", both(reorder({1, 0}), append("3")),
         "a = [2,\n1,  # c\n3\n]\n"},
    };
    for (const Case& c : cases) run(c);
}

// Members of an array of tables move with their sections, comment blocks and
// header comments; what stands above a header stays, and so do the comments
// that open the document.
TEST(ListOps, ReorderingMembers) {
    struct Members {
        const char* name;
        const char* input;  // the array of tables is "a"
        std::vector<std::size_t> order;
        const char* expected;  // null: refused, the text unchanged
    };
    const Members cases[] = {
        {"sections and comments",
         "x = 1\n\n# one\n[[a]]\nn = 1\n\n[a.sub]\ns = 1\n\n[[a]]  # two\nn = 2\n",
         {1, 0},
         "x = 1\n\n[[a]]  # two\nn = 2\n\n# one\n[[a]]\nn = 1\n\n[a.sub]\ns = 1\n"},
        {"opening comments stay",
         "# lock\n[[a]]\nn = 1\n\n[[a]]\nn = 2\n",
         {1, 0},
         "# lock\n[[a]]\nn = 2\n\n[[a]]\nn = 1\n"},
        {"the next table stays",
         "[[a]]\nn = 1\n[[a]]\nn = 2\n[b]\n",
         {1, 0},
         "[[a]]\nn = 2\n[[a]]\nn = 1\n[b]\n"},
        {"another header among them", "[[a]]\nn = 1\n[b]\n[[a]]\nn = 2\n", {1, 0}, nullptr},
    };
    for (const Members& c : cases) {
        SCOPED_TRACE(c.name);
        DocumentRoot doc = parse(c.input);
        const bool done = reorder_members(doc, *doc.table().get("a"), c.order);
        EXPECT_EQ(done, c.expected != nullptr);
        const std::string text = write(doc);
        EXPECT_EQ(text, c.expected ? c.expected : c.input);
        expect_reads_back(doc, text);
    }
}

// Every position of several layouts: each insertion and removal leaves text
// that reads back as the edited data, and the lines of the other elements.
TEST(ListOps, EveryPosition) {
    const char* const inputs[] = {
        "a = [1, 2, 3]\n",
        "a = [\n  1,  # one\n  # about 2\n  2,  # two\n\n  3  # three\n]\n",
        "a = [ # open\n  1,\n  2,\n  3,  # three\n  # after\n]\n",
        "a = [ 1\n, 2\n, 3\n]\n",
        "a = [[1, 2], { x = 1 }, \"s\"]\n",
    };
    for (const char* input : inputs) {
        for (std::size_t at = 0; at <= 3; ++at) {
            const std::string name = std::string(input) + " at " + std::to_string(at);
            for (int op = 0; op < 2; ++op) {
                if (op == 1 && at == 3) continue;
                SCOPED_TRACE(name + (op ? " remove" : " insert"));
                ParseResult<DocumentRoot> r = parse_document(input);
                ASSERT_TRUE(r.ok());
                TreeItem& list = *r.value().table().get("a");
                if (op == 0)
                    insert_element(list, at, *as_element(list, value("7")));
                else
                    remove_element(list, at);
                const std::string text = write(r.value());
                ParseResult<DocumentRoot> back = parse_document(text);
                ASSERT_TRUE(back.ok()) << text;
                EXPECT_TRUE(values_equal(back.value().root(), r.value().root())) << text;
                // The comments of the elements left are all still there.
                for (const char* comment : {"# one", "# two", "# three", "# open", "# after"}) {
                    const bool gone = op == 1 && ((at == 0 && std::string_view(comment) == "# one") ||
                                                  (at == 1 && std::string_view(comment) == "# two") ||
                                                  (at == 2 && std::string_view(comment) == "# three"));
                    if (std::string_view(input).find(comment) != std::string_view::npos && !gone) {
                        EXPECT_NE(text.find(comment), std::string::npos) << comment << " lost:\n" << text;
                    }
                }
            }
        }
    }
}

// Edits near the end of a long packed array read only its last elements into
// items: the array is then a packed run followed by items. Each step leaves
// the same text as on a copy unpacked whole before the first edit, and the
// array reads, compares, copies and detaches as that copy does.
TEST(ListOps, EditsAtTheEndOfAPackedArray) {
    auto elements = [](const char* open, const char* sep, const char* close, int n) {
        std::string s = std::string("a = [") + open;
        for (int i = 0; i < n; ++i) {
            if (i) s += sep;
            s += i % 3 == 0 ? "\"s, #" + std::to_string(i) + "\"" : std::to_string(i);
        }
        return s + close + "]\n";
    };
    const std::string inputs[] = {
        elements("", ", ", "", 200),
        elements("\n    ", ",  # c\n    # above\n    ", ",  # last\n", 200),
        elements("\r\n  ", ",\r\n  ", "\r\n", 130),
        elements(" ", "\n, ", "\n", 129),
    };
    // A cycle that shrinks the list by two, so that the edits reach back
    // across marked elements.
    const char* const cycle[] = {"pop", "append", "pop", "pop", "replace", "pop", "append table"};
    for (const std::string& input : inputs) {
        SCOPED_TRACE(input);
        ParseResult<DocumentRoot> lazy = parse_document(input);
        ParseResult<DocumentRoot> whole = parse_document(input);
        ASSERT_TRUE(lazy.ok() && whole.ok());
        TreeItem& a = *lazy.value().table().get("a");
        TreeItem& b = *whole.value().table().get("a");
        ASSERT_TRUE(a.as_array().packed());
        b.as_array().items();
        const std::size_t n = a.as_array().size();
        for (std::size_t round = 0; length_of(a) > n / 2 + 2; ++round) {
            const std::string_view name = cycle[round % std::size(cycle)];
            const std::size_t size = length_of(a);
            SCOPED_TRACE(std::string(name) + " at size " + std::to_string(size));
            const Edit edit = name == "pop"       ? drop(size - 1)
                              : name == "replace" ? replace(size - 2, "\"x\"")
                              : name == "append"  ? append("7")
                                                  : append("{ k = 1 }");
            edit(a);
            edit(b);
            ASSERT_EQ(write(lazy.value()), write(whole.value()));
            // Only the elements from the last mark before the edit on are items.
            EXPECT_GE(a.as_array().packed_size() + Array::kMarkEvery + 1, length_of(a));
        }
        EXPECT_TRUE(a.as_array().packed());
        // A copy, detached, and the elements read one by one, leave the run packed.
        TreeItem copy = a;
        copy.detach();
        ElementReader reader(a.as_array());
        for (const TreeItem& e : b.as_array().items()) {
            const TreeItem* x = reader.next();
            ASSERT_TRUE(x && values_equal(*x, e));
        }
        EXPECT_FALSE(reader.next());
        EXPECT_TRUE(a.as_array().packed());
        EXPECT_TRUE(values_equal(copy, b));
        // Replacing elements ever further from the end reads runs of them in
        // front of the items read before, down to the first.
        for (std::size_t at = length_of(a) - 1;; at = at * 3 / 4) {
            replace(at, "\"r\"")(a);
            replace(at, "\"r\"")(b);
            ASSERT_EQ(write(lazy.value()), write(whole.value())) << "replaced at " << at;
            if (at == 0) break;
        }
        EXPECT_FALSE(a.as_array().packed());
        EXPECT_TRUE(values_equal(a, b));
        ParseResult<DocumentRoot> back = parse_document(write(lazy.value()));
        ASSERT_TRUE(back.ok());
        EXPECT_TRUE(values_equal(*back.value().table().get("a"), b));
    }
}
