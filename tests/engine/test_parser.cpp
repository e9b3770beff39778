#include <gtest/gtest.h>

#include <string>

#include "document.hpp"
#include "encode.hpp"
#include "parser.hpp"

using namespace morvelan;

namespace {

std::string error_of(std::string_view text) {
    auto r = parse_document(text);
    return r.ok() ? std::string("<parsed>") : r.error().display();
}

// The first line and the message line of a report.
std::string summary_of(std::string_view text) {
    std::string report = error_of(text);
    if (report == "<parsed>") return report;
    std::size_t first_end = report.find('\n');
    std::size_t last_start = report.rfind('\n', report.size() - 2) + 1;
    return report.substr(0, first_end) + " | " + report.substr(last_start, report.size() - last_start - 1);
}

}  // namespace

TEST(Parser, ErrorMessagesAndPositions) {
    struct Case {
        const char* input;
        const char* expected;
    };
    const Case cases[] = {
        {"a = 1\na = 2\n", "TOML parse error at line 2, column 1 | duplicate key"},
        {"a = 1\na.b = 2\n",
         "TOML parse error at line 2, column 1 | cannot extend value of type integer with a dotted key"},
        {"a = {x = 1}\na.b = 2\n",
         "TOML parse error at line 2, column 1 | cannot extend value of type inline table with a dotted key"},
        {"[a]\n[a]\n", "TOML parse error at line 2, column 2 | duplicate key"},
        {"a.b = 1\n[a]\n", "TOML parse error at line 2, column 2 | duplicate key"},
        {"[a.b]\nc = 1\n[a]\nb.d = 1\n", "TOML parse error at line 4, column 1 | duplicate key"},
        {"a = [1, 2]\n[[a]]\n", "TOML parse error at line 2, column 3 | duplicate key"},
        {"]\n", "TOML parse error at line 1, column 1 | missing table open, expected `[`"},
        {"[]\n", "TOML parse error at line 1, column 2 | invalid table, expected key"},
        {"[a\n", "TOML parse error at line 1, column 3 | unclosed table, expected `]`"},
        {"[[a]\n", "TOML parse error at line 1, column 5 | unclosed array table, expected `]`"},
        {"[[a\n", "TOML parse error at line 1, column 4 | unclosed array table, expected `]]`"},
        {"= 1\n",
         "TOML parse error at line 1, column 1 | unquoted keys cannot be empty, expected letters, "
         "numbers, `-`, `_`"},
        {"a 1\n", "TOML parse error at line 1, column 3 | key with no value, expected `=`"},
        {"a =\n", "TOML parse error at line 1, column 4 | missing value for key"},
        {"a = = 1\n", "TOML parse error at line 1, column 5 | extra `=`, expected nothing"},
        {"a = 1 b = 2\n",
         "TOML parse error at line 1, column 7 | unexpected key or value, expected newline, `#`"},
        {"a = ]\n", "TOML parse error at line 1, column 5 | missing array opening, expected `[`"},
        {"a = }\n", "TOML parse error at line 1, column 5 | missing inline table opening, expected `{`"},
        {"a = [1, 2\n", "TOML parse error at line 1, column 11 | unclosed array, expected `]`"},
        {"a = [1 = 2]\n",
         "TOML parse error at line 1, column 8 | missing comma between array elements, expected `,`"},
        {"a = [=]\n", "TOML parse error at line 1, column 6 | unexpected `=` in array, expected value, `]`"},
        {"a = [1,,2]\n", "TOML parse error at line 1, column 8 | extra comma in array, expected value"},
        {"a = [1 2]\n",
         "TOML parse error at line 1, column 8 | missing comma between array elements, expected `,`"},
        {"a = {x = 1\n", "TOML parse error at line 1, column 12 | unclosed inline table, expected `}`"},
        {"a = {= 1}\n",
         "TOML parse error at line 1, column 6 | missing key for inline table element, expected key"},
        {"a = {x 1}\n",
         "TOML parse error at line 1, column 8 | missing assignment between key-value pairs, expected `=`"},
        {"a = {x = 1 y = 2}\n",
         "TOML parse error at line 1, column 12 | missing comma between key-value pairs, expected `,`"},
        {"a = {x = 1 = 2}\n",
         "TOML parse error at line 1, column 12 | extra assignment between key-value pairs, expected `,`"},
        {"a = {x = = 2}\n",
         "TOML parse error at line 1, column 10 | extra assignment between key-value pairs, expected value"},
        {"a = {x = 1,,}\n",
         "TOML parse error at line 1, column 12 | extra comma in inline table, expected key"},
        {"a = {x = 1, x = 2}\n", "TOML parse error at line 1, column 13 | duplicate key"},
        {"a = {x = {}, x.y = 2}\n", "TOML parse error at line 1, column 14 | duplicate key"},
        {"a$b = 1\n",
         "TOML parse error at line 1, column 2 | invalid unquoted key, expected letters, numbers, `-`, `_`"},
        {"a. = 1\n",
         "TOML parse error at line 1, column 4 | unquoted keys cannot be empty, expected letters, numbers, "
         "`-`, "
         "`_`"},
        {"\"\"\"k\"\"\" = 1\n",
         "TOML parse error at line 1, column 1 | keys cannot be multi-line basic strings, expected basic "
         "string, "
         "literal string"},
        {"a = yes\n",
         "TOML parse error at line 1, column 5 | string values must be quoted, expected literal string"},
        {"a = 9223372036854775808\n", "TOML parse error at line 1, column 5 | integer number overflowed"},
        {"a = 1979-05-27X\n",
         "TOML parse error at line 1, column 5 | invalid date-time, expected `T` between date and time"},
        {"a = 1\r\n\rb = 2\n",
         "TOML parse error at line 2, column 1 | carriage return must be followed by newline, expected "
         "newline"},
        {"# \x0c\n",
         "TOML parse error at line 1, column 3 | invalid comment character, expected printable characters"},
        // Only the first of two problems is reported.
        {"a = yes\nb = no\n",
         "TOML parse error at line 1, column 5 | string values must be quoted, expected literal string"},
    };
    for (const Case& c : cases) EXPECT_EQ(summary_of(c.input), c.expected) << c.input;
}

TEST(Parser, FullReport) {
    EXPECT_EQ(error_of("x = 1\ny = 'é' yes\n"),
              "TOML parse error at line 2, column 9\n"
              "  |\n"
              "2 | y = 'é' yes\n"
              "  |         ^\n"
              "unexpected key or value, expected newline, `#`\n");
}

TEST(Parser, NestingLimits) {
    auto nested = [](std::size_t depth, char open, char close, const char* inner) {
        std::string s = "a = ";
        for (std::size_t i = 0; i < depth; ++i) {
            s.push_back(open);
            if (open == '{') s += "b = ";
        }
        s += inner;
        for (std::size_t i = 0; i < depth; ++i) s.push_back(close);
        return s + "\n";
    };
    EXPECT_TRUE(parse_document(nested(80, '[', ']', "1")).ok());
    EXPECT_NE(error_of(nested(81, '[', ']', "1")).find("recursion limit"), std::string::npos);
    EXPECT_TRUE(parse_document(nested(80, '{', '}', "1")).ok());
    EXPECT_NE(error_of(nested(81, '{', '}', "1")).find("recursion limit"), std::string::npos);
    // Far deeper input is refused, not a stack overflow.
    EXPECT_NE(error_of(std::string(10000, '[')).find("TOML parse error"), std::string::npos);
    EXPECT_NE(error_of("a = " + std::string(100000, '[')).find("recursion limit"), std::string::npos);
    std::string dotted = "a";
    for (int i = 0; i < 100; ++i) dotted += ".a";
    EXPECT_NE(error_of(dotted + " = 1\n").find("recursion limit"), std::string::npos);
}

TEST(Parser, TableRules) {
    // A later header takes over a table created for a deeper one; it moves to
    // the end of its parent but is still written in file order.
    const char* text = "[a.b]\nx = 1\n[c]\n[a]\ny = 2\n";
    auto r = parse_document(text);
    ASSERT_TRUE(r.ok());
    const Table& root = r.value().table();
    ASSERT_EQ(root.entries.size(), 2u);
    EXPECT_EQ(root.entries.at(0).key.text(), "c");
    EXPECT_EQ(root.entries.at(1).key.text(), "a");
    const Table& a = root.get("a")->as_table();
    EXPECT_FALSE(a.implicit);
    EXPECT_EQ(a.doc_position, 3);
    EXPECT_EQ(a.get("b")->as_table().doc_position, 1);
    String out = write_document(r.value());
    EXPECT_EQ(std::string_view(out.data(), out.size()), text);

    // Implicit and dotted flags.
    auto d = parse_document("[x.y]\np.q = 1\n");
    ASSERT_TRUE(d.ok());
    const Table& x = d.value().table().get("x")->as_table();
    EXPECT_TRUE(x.implicit);
    EXPECT_FALSE(x.dotted);
    EXPECT_FALSE(x.doc_position);
    const Table& p = x.get("y")->as_table().get("p")->as_table();
    EXPECT_TRUE(p.implicit);
    EXPECT_TRUE(p.dotted);
}

TEST(Parser, LayoutGoesToTheRightNodes) {
    auto r =
        parse_document("# top\n\nkey  =  [ 1 , 2, ]  # after\n[t]  # header\ns = { a.b = 'x' , }\n# end\n");
    ASSERT_TRUE(r.ok());
    const DocumentRoot& doc = r.value();
    const Entry& e = doc.table().entries.at(0);
    EXPECT_EQ(e.key.leaf_decor.prefix.view(), "# top\n\n");
    EXPECT_EQ(e.key.leaf_decor.suffix.view(), "  ");
    EXPECT_EQ(e.item.decor().prefix.view(), "  ");
    EXPECT_EQ(e.item.decor().suffix.view(), "  # after");
    const Array& arr = e.item.as_array();
    EXPECT_TRUE(arr.trailing_comma);
    EXPECT_EQ(arr.trailing.view(), " ");
    EXPECT_EQ(arr.items()[0].decor().prefix.view(), " ");
    EXPECT_EQ(arr.items()[0].decor().suffix.view(), " ");
    EXPECT_EQ(arr.items()[1].decor().prefix.view(), " ");
    EXPECT_EQ(arr.items()[1].decor().suffix.view(), "");
    const TreeItem& t = *doc.table().get("t");
    EXPECT_EQ(t.decor().suffix.view(), "  # header");
    const Table& s = t.as_table().get("s")->as_table();
    EXPECT_TRUE(s.trailing_comma);
    EXPECT_TRUE(s.get("a")->as_table().dotted);
    EXPECT_EQ(s.get("a")->as_table().get("b")->repr().view(), "'x'");
    EXPECT_EQ(doc.trailing.view(), "# end\n");

    auto no_comma = parse_document("a = [1, 2 ]\n");
    ASSERT_TRUE(no_comma.ok());
    const Array& a2 = no_comma.value().table().get("a")->as_array();
    EXPECT_FALSE(a2.trailing_comma);
    EXPECT_EQ(a2.items()[1].decor().suffix.view(), " ");
}

TEST(Parser, EmptyAndCommentOnlyInputs) {
    auto empty = parse_document("");
    ASSERT_TRUE(empty.ok());
    EXPECT_TRUE(empty.value().table().entries.empty());
    EXPECT_TRUE(empty.value().trailing.empty());
    auto comments = parse_document("# a\n\n# b\n");
    ASSERT_TRUE(comments.ok());
    EXPECT_TRUE(comments.value().table().entries.empty());
    EXPECT_EQ(comments.value().trailing.view(), "# a\n\n# b\n");
    auto bom = parse_document(
        "\xEF\xBB\xBF"
        "a = 1\n");
    ASSERT_TRUE(bom.ok());
    EXPECT_TRUE(bom.value().bom);
    EXPECT_EQ(bom.value().table().entries.at(0).key.leaf_decor.prefix.view(), "");
    String out = write_document(bom.value());
    EXPECT_EQ(std::string_view(out.data(), out.size()),
              "\xEF\xBB\xBF"
              "a = 1\n");
}

TEST(Parser, TreeOutlivesTheInputText) {
    std::string text = "name = \"x\\ty\"  # c\n[t]\nk = 'v'\n";
    auto r = parse_document(text);
    ASSERT_TRUE(r.ok());
    std::string expected = text;
    text.assign(text.size(), '#');  // the caller's text is gone
    String out = write_document(r.value());
    EXPECT_EQ(std::string_view(out.data(), out.size()), expected);
    EXPECT_EQ(r.value().table().get("name")->as_string(), "x\ty");
}

TEST(Parser, ValueFragments) {
    auto hex = parse_value("  0xFF  ");
    ASSERT_TRUE(hex.ok());
    EXPECT_EQ(hex.value().kind(), ItemKind::Integer);
    EXPECT_EQ(hex.value().as_integer(), 255);
    EXPECT_EQ(hex.value().repr().view(), "0xFF");
    EXPECT_TRUE(hex.value().decor().prefix.is_absent());
    EXPECT_TRUE(hex.value().decor().suffix.is_absent());

    auto arr = parse_value("[ 1,2 , ]");
    ASSERT_TRUE(arr.ok());
    String out = write_item(arr.value());
    EXPECT_EQ(std::string_view(out.data(), out.size()), "[ 1,2 , ]");

    struct Bad {
        const char* text;
        const char* message;
    };
    const Bad bad[] = {
        {"1 2", "unexpected content, expected nothing"},
        {"", "missing value for key"},
        {"[1", "unclosed array, expected `]`"},
        {"a = 1", "string values must be quoted, expected literal string"},
    };
    for (const Bad& b : bad) {
        auto r = parse_value(b.text);
        ASSERT_FALSE(r.ok()) << b.text;
        EXPECT_NE(r.error().display().find(b.message), std::string::npos) << r.error().display();
    }
}

TEST(Parser, HostileInputsEndInAnErrorOrATree) {
    const std::string inputs[] = {
        std::string("a = \"\0\"\n", 8),
        std::string("\0", 1),
        "a = \"\xff\"\n",
        "\r",
        "a = '" + std::string(1 << 20, 'x'),  // unterminated string on one long line
        std::string(1 << 16, '{'),
        "[" + std::string(1 << 16, 'a') + "]\nx = 1\n",
    };
    for (const std::string& in : inputs) {
        auto r = parse_document(in);
        if (!r.ok()) {
            EXPECT_EQ(r.error().display().rfind("TOML parse error at line ", 0), 0u);
        }
    }
}

// Texts whose keys are spelled or spaced differently on different lines, or
// whose dotted keys interleave: each line keeps its own form and place.
TEST(Parser, RoundTripKeepsEveryLinesSpelling) {
    const char* texts[] = {
        "['a']\n[a.'b']\n[a.'b'.c]\nanswer = 42 \n",
        "[[ p ]]\n[[p]]\n[ p . q ]\n",
        "[c]\n[0]\n[ g . h . i.e.f ]\n[ g . h  ]\n[g   ]\n[g . h .h . i.e.f ]\n",
        "apple.type = 1\norange.type = 2\napple.skin = 3\n\"apple\" . color = 4\n",
        "t = { a.x = 1, b = 2, 'a'.y = 3 }\n",
        "name.first = 1\n\"name\".'last' = 2\n",
    };
    for (const char* text : texts) {
        auto r = parse_document(text);
        ASSERT_TRUE(r.ok()) << text;
        String out = write_document(r.value());
        EXPECT_EQ(std::string_view(out.data(), out.size()), text);
    }
}
