#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

#include "encode.hpp"
#include "parser.hpp"

using namespace morvelan;

namespace {

// Compact tree building: tbl({{"a", I(1)}, {"t", tbl({...})}}).
RawText txt(std::string_view s) { return RawText::owned(s); }

Key K(std::string_view k, std::string_view prefix, std::string_view suffix) {
    Key out(k);
    out.leaf_decor = Decor{txt(prefix), txt(suffix)};
    return out;
}

struct E {
    E(std::string_view k, TreeItem v) : key(k), item(std::move(v)) {}
    E(Key k, TreeItem v) : key(std::move(k)), item(std::move(v)) {}
    Key key;
    TreeItem item;
};

TreeItem fill(TreeItem t, std::initializer_list<E> entries) {
    for (const E& e : entries) t.as_table().entries.append(Key(e.key), TreeItem(e.item));
    return t;
}
TreeItem tbl(std::initializer_list<E> entries = {}) { return fill(TreeItem::table(), entries); }
TreeItem itbl(std::initializer_list<E> entries = {}) { return fill(TreeItem::inline_table(), entries); }
// Implicit and dotted, as a dotted key creates them.
TreeItem dotted(TreeItem t) {
    t.as_table().implicit = t.as_table().dotted = true;
    return t;
}
TreeItem implicit(TreeItem t) {
    t.as_table().implicit = true;
    return t;
}
TreeItem at(std::int64_t position, TreeItem t) {
    t.as_table().doc_position = position;
    return t;
}
TreeItem I(std::int64_t v) { return TreeItem::integer(v); }
TreeItem arr(std::initializer_list<TreeItem> values, bool trailing_comma = false, const char* trailing = "") {
    TreeItem a = TreeItem::array();
    for (const TreeItem& v : values) a.as_array().items().push_back(TreeItem(v));
    a.as_array().trailing_comma = trailing_comma;
    a.as_array().trailing = txt(trailing);
    return a;
}
TreeItem aot(std::initializer_list<TreeItem> members) {
    TreeItem a = TreeItem::array_of_tables();
    for (const TreeItem& m : members) a.as_array_of_tables().values.push_back(TreeItem(m));
    return a;
}
TreeItem dec(std::string_view prefix, std::string_view suffix, TreeItem v) {
    v.decor() = Decor{txt(prefix), txt(suffix)};
    return v;
}

std::string doc_text(TreeItem root, const char* trailing = "", bool no_final_newline = false) {
    DocumentRoot doc;
    doc.root() = std::move(root);
    doc.trailing = txt(trailing);
    doc.no_final_newline = no_final_newline;
    return std::string(write_document(doc));
}

}  // namespace

TEST(WriteItem, SingleItems) {
    auto comma = [](TreeItem t) {
        t.as_table().trailing_comma = true;
        return t;
    };
    Key spaced("a");
    spaced.dotted_decor_mut().suffix = txt(" ");
    const struct {
        TreeItem item;
        const char* expected;
    } cases[] = {
        {TreeItem(), ""},
        {TreeItem::string("a b"), "\"a b\""},
        {TreeItem::floating(1.5), "1.5"},
        {TreeItem::datetime(Datetime{Date{1979, 5, 27}, {}, {}}), "1979-05-27"},
        {TreeItem::integer(255, txt("0xFF")), "0xFF"},
        {dec("  ", " # c", I(1)), "  1 # c"},
        {arr({I(1), I(2), I(3)}), "[1, 2, 3]"},
        {arr({I(1), I(2)}, true), "[1, 2,]"},
        {arr({}, true), "[]"},
        {arr({TreeItem(), I(1), TreeItem(), I(2)}), "[1, 2]"},
        {arr({dec("\n  ", "", I(1)), dec("", " # two\n", I(2))}, true, "  "), "[\n  1,2 # two\n,  ]"},
        {itbl({{"a", I(1)}, {"b", I(2)}}), "{ a = 1, b = 2 }"},
        {itbl(), "{}"},
        {comma(itbl({{"a", I(1)}})), "{ a = 1 ,}"},
        {comma(itbl()), "{}"},
        {itbl({{"a", dec(" ", "", I(1))}}), "{ a = 1}"},
        {itbl({{"a", I(1)}, {"b", TreeItem()}}), "{ a = 1 }"},
        {itbl({{"c", I(2)}, {spaced, dotted(itbl({{"b", dotted(itbl({{"x", I(1)}}))}}))}}),
         "{ c = 2, a .b.x = 1 }"},
        {itbl({{"a b", arr({I(1)})}, {"i", itbl({{"x", TreeItem::string("y")}})}}),
         "{ \"a b\" = [1], i = { x = \"y\" } }"},
        // A table is its body only; an array of tables becomes inline tables.
        {tbl({{"a", I(1)},
              {"sub", tbl({{"x", I(1)}})},
              {"d", dotted(tbl({{"e", I(2)}}))},
              {"l", aot({tbl()})}}),
         "a = 1\nd.e = 2\n"},
        {aot({dec("\n# c\n", " # h", at(1, tbl({{"a", I(1)}}))), tbl({{"a", I(2)}})}),
         "[{ a = 1 }, { a = 2 }]"},
    };
    for (const auto& c : cases) EXPECT_EQ(std::string(write_item(c.item)), c.expected);
}

TEST(WriteDocument, Layout) {
    Key dotted_b = K("b", "  ", "\t");
    dotted_b.dotted_decor_mut().prefix = txt(" ");
    Key quoted = K("a b", "  ", "  ");
    quoted.set_repr(txt("'a b'"));
    const struct {
        TreeItem root;
        const char* expected;
    } cases[] = {
        {tbl(), ""},
        {tbl({{"a", I(1)}, {"t", tbl({{"x", I(1)}})}}), "a = 1\n\n[t]\nx = 1\n"},
        {tbl({{"a", TreeItem()}, {"t", tbl({{"x", I(1)}})}, {"u", tbl()}}), "[t]\nx = 1\n\n[u]\n"},
        // Implicit tables write a header only when they have a body, or
        // nothing else would show that they exist.
        {tbl({{"a", implicit(tbl({{"b", tbl({{"x", I(1)}})}}))}}), "[a.b]\nx = 1\n"},
        {tbl({{"a", implicit(tbl({{"y", I(2)}, {"b", implicit(tbl())}}))}}), "[a]\ny = 2\n\n[a.b]\n"},
        {tbl({{"a", implicit(tbl({{"b", tbl()}}))}}), "[a.b]\n"},
        {tbl({{"a", implicit(tbl({{"b", implicit(tbl({{"c", TreeItem()}}))}}))}}), "[a.b]\n"},
        // Empty dotted tables and arrays of tables keep their key as a value.
        {tbl({{"a", dotted(tbl({{"b", dotted(tbl())}}))}, {"c", dotted(tbl({{"d", TreeItem()}}))}}),
         "a.b = {}\nc = {}\n"},
        {tbl({{"x", itbl({{"a", dotted(itbl())}, {"b", I(1)}})}, {"y", itbl({{"a", dotted(itbl())}})}}),
         "x = { a = {}, b = 1 }\ny = { a = {} }\n"},
        {tbl({{K("p", " ", ""), aot({})}, {"q", implicit(tbl({{"r", aot({})}}))}}),
         "p = []\n\n[q]\nr = []\n"},
        // Dotted tables become dotted keys; their sub-tables get headers.
        {tbl({{"a", dotted(tbl({{"b", dotted(tbl({{"c", I(1)}}))}, {"t", tbl({{"y", I(2)}})}}))},
              {"z", I(2)}}),
         "a.b.c = 1\nz = 2\n\n[a.t]\ny = 2\n"},
        {tbl({{"a", dotted(tbl({{dotted_b, I(1)}}))}}), "  a. b\t= 1\n"},
        {tbl({{"p",
               aot({tbl({{"x", I(1)}}), TreeItem(), implicit(tbl()), tbl({{"q", tbl({{"y", I(4)}})}})})}}),
         "[[p]]\nx = 1\n\n[[p]]\n\n[[p]]\n\n[p.q]\ny = 4\n"},
        {tbl({{quoted, dec("  ", "  # c", I(1))}, {"c d", TreeItem::string("it's")}}),
         "  'a b'  =  1  # c\n\"c d\" = \"it's\"\n"},
        {tbl({{K("t", " ", " "), dec("# above\n", "  # h", tbl({{"x", I(1)}}))}}),
         "# above\n[ t ]  # h\nx = 1\n"},
        // A line feed in the leaf prefix of a header path goes before the header.
        {tbl({{"a", I(1)}, {K("t", "\n# t\n", " "), dec("", "", tbl())}, {K("u", "\n", " "), tbl()}}),
         "a = 1\n\n# t\n[t]\n\n\n[u]\n"},
        // Order: recorded positions; new tables follow the table walked before them.
        {tbl({{"b", at(2, tbl())}, {"a", at(1, tbl({{"n", tbl()}}))}}), "[a]\n\n[a.n]\n\n[b]\n"},
        {tbl({{"b", at(3, tbl())}, {"a", at(1, tbl())}, {"n", tbl()}}), "[a]\n\n[n]\n\n[b]\n"},
        {tbl({{"n", tbl()}, {"a", at(1, tbl())}}), "[n]\n\n[a]\n"},
        {tbl({{"p", aot({at(1, tbl()), at(3, tbl())})}, {"q", at(2, tbl())}}), "[[p]]\n\n[q]\n\n[[p]]\n"},
    };
    for (const auto& c : cases) EXPECT_EQ(doc_text(c.root), c.expected);
}

TEST(WriteDocument, ManyNewTablesKeepWalkOrder) {
    TreeItem root = tbl({{"z", at(2, tbl())}});
    std::string expected = "[a]\n\n[z]\n";
    for (int i = 0; i < 60; ++i) {
        const std::string name = "n" + std::to_string(i);
        root.as_table().entries.append(Key(name), tbl());
        expected += "\n[" + name + "]\n";
    }
    root.as_table().entries.append(Key("a"), at(1, tbl()));
    EXPECT_EQ(doc_text(root), expected);
}

TEST(WriteDocument, RootDecorTrailingTextAndLineEndings) {
    TreeItem root = tbl({{"t", tbl({{"x", I(1)}})}});
    root.decor() = Decor{txt("# top\n"), txt("# bottom\n")};
    // The root decor is not a line: the first header gets no blank line.
    EXPECT_EQ(doc_text(root, "# end\n"), "# top\n[t]\nx = 1\n# bottom\n# end\n");

    // Text made in memory (as edits make it) is written with the document's
    // line breaks: its bare line feeds, the defaults, the end of every line
    // and the line breaks of values (a multi-line string reads the same).
    TreeItem mixed = tbl({
        {K("a", "# c\r\n# d\n", " "), dec(" ", " # one", I(1))},
        {"s", TreeItem::string(txt("a\nb"), txt("'''a\nb'''"))},
        {"arr", arr({dec("\n  ", "", I(1))}, false, ",\n")},
        {"t", tbl({{"x", I(1)}})},
    });
    EXPECT_EQ(doc_text(mixed, "\n# end\n"),
              "# c\r\n# d\na = 1 # one\ns = '''a\nb'''\narr = [\n  1,\n]\n\n[t]\nx = 1\n\n# end\n");
    DocumentRoot doc;
    doc.root() = mixed;
    doc.trailing = txt("\n# end\n");
    doc.crlf = true;
    doc.bom = true;
    EXPECT_EQ(
        std::string(write_document(doc)),
        "\xEF\xBB\xBF# c\r\n# d\r\na = 1 # one\r\ns = '''a\r\nb'''\r\narr = [\r\n  1,\r\n]\r\n\r\n[t]\r\n"
        "x = 1\r\n\r\n# end\r\n");
    doc.no_final_newline = true;
    doc.trailing = txt("");
    EXPECT_EQ(
        std::string(write_document(doc)),
        "\xEF\xBB\xBF# c\r\n# d\r\na = 1 # one\r\ns = '''a\r\nb'''\r\narr = [\r\n  1,\r\n]\r\n\r\n[t]\r\n"
        "x = 1");
}

// Parsed text is written back as it was, line by line, whatever the ending
// of each line; lines added by edits end like most lines of the source.
TEST(WriteDocument, ParsedLineEndingsStay) {
    const struct {
        const char* text;
        bool crlf;
        const char* edited;  // `a` set to 7, keeping its decor, and `n = 1` added
    } cases[] = {
        {"a = 1\r\n\r\n# c\r\nb = '''x\r\ny'''  # h\r\n", true,
         "a = 7\r\n\r\n# c\r\nb = '''x\r\ny'''  # h\r\nn = 1\r\n"},
        {"a = 1\nb = 2\r\nc = [\r\n  1,\n]\r\n", true, "a = 7\nb = 2\r\nc = [\r\n  1,\n]\r\nn = 1\r\n"},
        {"a = 1\r\nb = 2\nc = 3\n", false, "a = 7\r\nb = 2\nc = 3\nn = 1\n"},
        {"a = 1\r\nb = 2", true, "a = 7\r\nb = 2\r\nn = 1"},
        {"a = 1\r\nb = 2\n", false, "a = 7\r\nb = 2\nn = 1\n"},  // a tie: line feeds
    };
    for (const auto& c : cases) {
        auto parsed = parse_document(c.text);
        ASSERT_TRUE(parsed.ok()) << c.text;
        DocumentRoot& doc = parsed.value();
        EXPECT_EQ(doc.crlf, c.crlf) << c.text;
        EXPECT_EQ(std::string(write_document(doc)), c.text);
        TreeItem& a = doc.table().entries.at(0).item;
        TreeItem seven = TreeItem::integer(7);
        seven.decor() = std::move(a.decor());
        a = std::move(seven);
        doc.table().entries.append(Key("n"), TreeItem::integer(1));
        EXPECT_EQ(std::string(write_document(doc)), c.edited);
    }
}

TEST(WriteDocument, NoFinalNewline) {
    const struct {
        TreeItem root;
        const char* trailing;
        bool no_final_newline;
        const char* expected;
    } cases[] = {
        {tbl({{"a", I(1)}}), "", true, "a = 1"},
        {tbl({{"a", I(1)}}), "", false, "a = 1\n"},
        {tbl({{"t", tbl()}}), "", true, "[t]"},
        {tbl({{"a", I(1)}, {"t", tbl({{"x", I(1)}})}}), "", true, "a = 1\n\n[t]\nx = 1"},
        {tbl({{"a", I(1)}}), "# end", true, "a = 1\n# end"},
        {tbl(), "", true, ""},
    };
    for (const auto& c : cases) EXPECT_EQ(doc_text(c.root, c.trailing, c.no_final_newline), c.expected);
}
