#include <gtest/gtest.h>

#include <string>

#include "error.hpp"

using namespace morvelan;

TEST(ErrorReport, ProblemMessage) {
    using E = Expected;
    struct Case {
        Problem problem;
        const char* message;
    };
    const Case cases[] = {
        {{"invalid key", std::nullopt, {}}, "invalid key"},
        {{"extra text", std::vector<E>{}, {}}, "extra text, expected nothing"},
        {{"invalid array", std::vector<E>{E::literal("]")}, {}}, "invalid array, expected `]`"},
        {{"string values must be quoted", std::vector<E>{E::description("literal string")}, {}},
         "string values must be quoted, expected literal string"},
        {{"bad", std::vector<E>{E::literal("\n"), E::literal("#"), E::description("value")}, {}},
         "bad, expected newline, `#`, value"},
        {{"bad", std::vector<E>{E::literal("`")}, {}}, "bad, expected '`'"},
        {{"bad", std::vector<E>{E::literal("\t")}, {}}, "bad, expected `\\t`"},
        {{"bad", std::vector<E>{E::literal("\r\n")}, {}}, "bad, expected `\\r\\n`"},
        {{"bad", std::vector<E>{E::literal("\x1b")}, {}}, "bad, expected `\\u{1b}`"},
        {{"bad", std::vector<E>{E::literal("'''")}, {}}, "bad, expected `'''`"},
    };
    for (const Case& c : cases) EXPECT_EQ(c.problem.message(), c.message);
}

TEST(ErrorReport, CollectorKeepsFirstProblem) {
    ErrorCollector errors;
    EXPECT_FALSE(errors.has_error());
    errors.report("first", {Expected::literal("=")}, Span{4, 5});
    errors.report("second", Span{0, 1});
    errors.report(Problem{"third", std::nullopt, Span{1, 2}});
    ASSERT_TRUE(errors.has_error());
    EXPECT_EQ(errors.first()->message(), "first, expected `=`");
    EXPECT_EQ(errors.first()->span, (Span{4, 5}));

    ErrorCollector empty_list;
    empty_list.report("nothing more", {}, Span{0, 0});
    EXPECT_EQ(empty_list.first()->message(), "nothing more, expected nothing");
}

TEST(ErrorReport, LineAndColumn) {
    struct Case {
        std::string input;
        std::size_t offset;
        std::size_t line;
        std::size_t column;
    };
    const Case cases[] = {
        {"abc", 0, 1, 1},
        {"a\nbc", 3, 2, 2},
        {"a\nb", 1, 1, 2},              // the newline belongs to the line it ends
        {"\xc3\xa9 = x", 5, 1, 5},      // a multi-byte character before counts once
        {"\xc3\xa9\xc3\xa9", 2, 1, 3},  // at a multi-byte character: bytes
        {"x\n\xe2\x82\xac!", 5, 2, 2},
        {"abc", 3, 1, 4},  // at the end
        {"abc", 5, 1, 6},  // past the end: the excess adds up
        {"a\n", 2, 1, 3},
        {"a = \xc3\xa9", 6, 1, 6},
        {"", 0, 1, 1},
        {"", 3, 1, 4},
    };
    for (const Case& c : cases) {
        const LineColumn lc = line_column(c.input, c.offset);
        EXPECT_EQ(lc.line, c.line) << c.input << " @" << c.offset;
        EXPECT_EQ(lc.column, c.column) << c.input << " @" << c.offset;
    }
}

TEST(ErrorReport, Display) {
    struct Case {
        std::string input;
        Span span;
        const char* report;
    };
    const std::string twelve_lines = std::string(11, '\n') + "key = @\n";
    const Case cases[] = {
        {"a = yes",
         {4, 7},
         "TOML parse error at line 1, column 5\n"
         "  |\n"
         "1 | a = yes\n"
         "  |     ^^^\n"
         "msg\n"},
        {twelve_lines,
         {twelve_lines.size() - 2, twelve_lines.size() - 1},
         "TOML parse error at line 12, column 7\n"
         "   |\n"
         "12 | key = @\n"
         "   |       ^\n"
         "msg\n"},
        // At the very end, and with an empty span: still one caret.
        {"a = ",
         {4, 4},
         "TOML parse error at line 1, column 5\n"
         "  |\n"
         "1 | a = \n"
         "  |     ^\n"
         "msg\n"},
        // Carets stop at the end of the line; a carriage return stays in the line.
        {"x = 'abc\r\ny = 2",
         {4, 15},
         "TOML parse error at line 1, column 5\n"
         "  |\n"
         "1 | x = 'abc\r\n"
         "  |     ^^^^^\n"
         "msg\n"},
        {"",
         {0, 0},
         "TOML parse error at line 1, column 1\n"
         "  |\n"
         "1 | \n"
         "  | ^\n"
         "msg\n"},
    };
    for (const Case& c : cases) {
        const ParseErrorReport report = make_report(Problem{"msg", std::nullopt, c.span}, c.input);
        EXPECT_EQ(report.display(), c.report) << c.input;
    }
}

TEST(ErrorReport, DisplayWithoutSourceOrSpan) {
    ParseErrorReport report;
    report.message = "duplicate key";
    EXPECT_EQ(report.display(), "duplicate key\n");
    report.keys = {"server", "port"};
    EXPECT_EQ(report.display(), "duplicate key\nin `server.port`\n");
    report.raw = "a = 1";
    EXPECT_EQ(report.display(), "duplicate key\nin `server.port`\n");
}

// The report of a large input is built with linear scans; a quadratic one
// would not finish.
TEST(ErrorReport, LargeInput) {
    std::string input;
    const std::size_t lines = 2000000;
    input.reserve(lines * 6 + 16);
    for (std::size_t i = 0; i < lines; ++i) input += "a = 1\n";
    input += "b = ?";
    const ParseErrorReport report =
        make_report(Problem{"msg", std::nullopt, Span{input.size() - 1, input.size()}}, input);
    const std::string text = report.display();
    EXPECT_EQ(text.rfind("TOML parse error at line 2000001, column 5\n", 0), 0u);
    EXPECT_NE(text.find("\n2000001 | b = ?\n        |     ^\n"), std::string::npos);
}
