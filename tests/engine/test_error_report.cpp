#include <gtest/gtest.h>

#include <string>

#include "error.hpp"
#include "helpers.hpp"

using namespace morvelan;
using namespace morvelan::test;

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
        // Carets stop at the end of the line; the carriage return before the
        // line break is shown, as a symbol.
        {"x = 'abc\r\ny = 2",
         {4, 15},
         "TOML parse error at line 1, column 5\n"
         "  |\n"
         "1 | x = 'abc\xe2\x90\x8d\n"
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
    report.raw = SharedText("a = 1");
    EXPECT_EQ(report.display(), "duplicate key\nin `server.port`\n");
    report.keys = {"a\x1b[2J", "b\x07"};
    EXPECT_EQ(report.display(), "duplicate key\nin `a\xe2\x90\x9b[2J.b\xe2\x90\x87`\n");
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

namespace {}  // namespace

// A line longer than 320 bytes shows 160 bytes around the error (80 before
// it where the line allows), "..." on each cut side; the line and column stay
// exact, a cut never splits a character, the carets stand under the error's
// characters and stop at the window.
TEST(ErrorReport, LongLineWindow) {
    struct Case {
        const char* name;
        std::string input;
        Span span;
        std::string position;  // "{line}, column {column}"
        std::string excerpt;   // the source line as shown
        std::size_t indent;    // characters before the first caret
        std::size_t carets;
    };
    const std::string a1000 = std::string(1000, 'a');
    const Case cases[] = {
        {"right cut only",
         "k = @" + std::string(995, 'a'),
         {4, 5},
         "1, column 5",
         "k = @" + std::string(155, 'a') + "...",
         4,
         1},
        {"left cut only",
         std::string(996, 'a') + "@xyz",
         {996, 997},
         "1, column 997",
         "..." + std::string(156, 'a') + "@xyz",
         159,
         1},
        {"both sides",
         a1000.substr(0, 500) + "@" + a1000.substr(0, 499),
         {500, 503},
         "1, column 501",
         "..." + std::string(80, 'a') + "@" + std::string(79, 'a') + "...",
         83,
         3},
        {"carets stop at the window",
         a1000.substr(0, 500) + "@" + a1000.substr(0, 499) + "\nb",
         {500, 1002},
         "1, column 501",
         "..." + std::string(80, 'a') + "@" + std::string(79, 'a') + "...",
         83,
         80},
        {"error at the end of the line",
         a1000 + "\nb = 1",
         {1000, 1001},
         "1, column 1001",
         "..." + std::string(160, 'a'),
         163,
         1},
        {"error at the end of the input",
         a1000,
         {1000, 1000},
         "1, column 1001",
         "..." + std::string(160, 'a'),
         163,
         1},
        {"on a later line",
         "x = 1\n" + a1000.substr(0, 400) + "\n",
         {6 + 200, 6 + 201},
         "2, column 201",
         "..." + std::string(160, 'a') + "...",
         83,
         1},
        // Three-byte characters: both cuts fall inside one and move out of it.
        {"multi-byte at both cuts",
         repeat("\xe2\x82\xac", 400),
         {600, 612},
         "1, column 601",
         "..." + repeat("\xe2\x82\xac", 52) + "...",
         29,
         4},
        {"multi-byte at the left cut",
         repeat("\xe2\x82\xac", 200) + std::string(600, 'a'),
         {600, 601},
         "1, column 201",
         "..." + repeat("\xe2\x82\xac", 26) + std::string(80, 'a') + "...",
         29,
         1},
        {"multi-byte at the right cut",
         std::string(600, 'a') + repeat("\xe2\x82\xac", 200),
         {600, 603},
         "1, column 601",
         "..." + std::string(80, 'a') + repeat("\xe2\x82\xac", 26) + "...",
         83,
         1},
        // The threshold: 320 bytes are shown whole, 321 are cut.
        {"320 bytes: whole", std::string(320, 'a'), {0, 1}, "1, column 1", std::string(320, 'a'), 0, 1},
        {"321 bytes: cut", std::string(321, 'a'), {0, 1}, "1, column 1", std::string(160, 'a') + "...", 0, 1},
    };
    for (const Case& c : cases) {
        const ParseErrorReport report = make_report(Problem{"msg", std::nullopt, c.span}, c.input);
        const std::string line = c.position.substr(0, c.position.find(','));
        const std::string gutter(line.size() + 1, ' ');
        const std::string expected = "TOML parse error at line " + c.position + "\n" + gutter + "|\n" + line +
                                     " | " + c.excerpt + "\n" + gutter + "|" +
                                     std::string(c.indent + 1, ' ') + std::string(c.carets, '^') + "\nmsg\n";
        EXPECT_EQ(report.display(), expected) << c.name;
    }
}

// However long the line, the report stays a few hundred bytes.
TEST(ErrorReport, LongLineReportIsBounded) {
    const std::string input = "a = \"" + std::string(10000000, 'x');
    const ParseErrorReport report =
        make_report(Problem{"invalid basic string", std::nullopt, Span{5000000, input.size()}}, input);
    const std::string text = report.display();
    EXPECT_LT(text.size(), 500u);
    EXPECT_EQ(text.rfind("TOML parse error at line 1, column 5000001\n", 0), 0u);
}

// A control character in the source line would act on the terminal that
// shows the report: each one (C0 but tab, DEL, C1), and each malformed UTF-8
// sequence, is shown as one visible character, and the carets stay under the
// characters the span covers. A tab stays a tab, in the caret line too.
TEST(ErrorReport, ControlCharactersShownVisibly) {
    struct Case {
        const char* name;
        std::string input;
        Span span;
        std::string position;  // "{line}, column {column}"
        std::string excerpt;   // the source line as shown
        std::string indent;    // what stands before the first caret
        std::size_t carets;
    };
    // What the report shows for them, in UTF-8: the control pictures of ESC,
    // BEL, NUL, SOH, US, CR, DEL, the symbol for C1 (U+2426) and U+FFFD.
    const std::string esc = "\xe2\x90\x9b", bel = "\xe2\x90\x87", nul = "\xe2\x90\x80", soh = "\xe2\x90\x81",
                      us = "\xe2\x90\x9f", cr = "\xe2\x90\x8d", del = "\xe2\x90\xa1", c1 = "\xe2\x90\xa6",
                      bad = "\xef\xbf\xbd";
    const std::string csi = "\xc2\x9b", nel = "\xc2\x85", e_acute = "\xc3\xa9";
    const std::string a500(500, 'a');
    const Case cases[] = {
        {"terminal title (OSC ... BEL)",
         "a = \"\x1b]0;pwned\x07\"",
         {5, 6},
         "1, column 6",
         "a = \"" + esc + "]0;pwned" + bel + "\"",
         "     ",
         1},
        {"clear screen", "\x1b[2J = 1", {0, 4}, "1, column 1", esc + "[2J = 1", "", 4},
        {"C0 from NUL to US",
         std::string("x\0\x01\x1f", 4),
         {1, 4},
         "1, column 2",
         "x" + nul + soh + us,
         " ",
         3},
        {"DEL", std::string("a\x7f") + "b", {1, 2}, "1, column 2", "a" + del + "b", " ", 1},
        {"a lone carriage return", "a = 1\rb", {5, 6}, "1, column 6", "a = 1" + cr + "b", "     ", 1},
        // C1 characters are two bytes in UTF-8: one column each, one caret.
        {"C1 before the error", csi + nel + "@", {4, 5}, "1, column 3", c1 + c1 + "@", "  ", 1},
        {"at a C1 character", e_acute + "=" + csi, {3, 5}, "1, column 4", e_acute + "=" + c1, "  ", 1},
        {"malformed UTF-8",
         std::string("a\xff") + "b\xe2\x82",
         {2, 5},
         "1, column 3",
         "a" + bad + "b" + bad,
         "  ",
         2},
        {"tabs", "\tx =\t\x01", {5, 6}, "1, column 6", "\tx =\t" + soh, "\t   \t", 1},
        {"in a long line's window",
         a500 + "\x1b" + a500,
         {500, 501},
         "1, column 501",
         "..." + std::string(80, 'a') + esc + std::string(79, 'a') + "...",
         std::string(83, ' '),
         1},
    };
    for (const Case& c : cases) {
        const ParseErrorReport report = make_report(Problem{"msg", std::nullopt, c.span}, c.input);
        const std::string line = c.position.substr(0, c.position.find(','));
        const std::string gutter(line.size() + 1, ' ');
        const std::string expected = "TOML parse error at line " + c.position + "\n" + gutter + "|\n" + line +
                                     " | " + c.excerpt + "\n" + gutter + "| " + c.indent +
                                     std::string(c.carets, '^') + "\nmsg\n";
        EXPECT_EQ(report.display(), expected) << c.name;
    }
}
