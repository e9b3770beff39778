#include <gtest/gtest.h>

#include <string>

#include "lexer.hpp"

using namespace morvelan;

namespace {

// "description [expected] @start-end", or "" when nothing was reported.
std::string outcome(const ErrorCollector& errors) {
    if (!errors.has_error()) return "";
    const Problem& p = *errors.first();
    std::string s = p.description;
    if (p.expected) {
        s += " [";
        for (const Expected& e : *p.expected) s += std::string(e.text);
        s += "]";
    }
    return s + " @" + std::to_string(p.span.start) + "-" + std::to_string(p.span.end);
}

}  // namespace

TEST(ScanComment, StopsAtLineEndingAndChecksCharacters) {
    struct Case {
        std::string input;
        std::size_t end;
        std::string problem;
    };
    const std::string bad = "invalid comment character [printable characters]";
    const Case cases[] = {
        {"# plain ~!@\n", 11, ""},
        {"# to the end", 12, ""},
        {"#\ttab and \xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80\r\n", 21, ""},
        {"# lone\rcr", 6, ""},  // the newline scanner reports the carriage return
        {"# a\x0C", 4, bad + " @3-4"},
        {std::string("#\0", 2), 2, bad + " @1-2"},
        {"# \x7F", 3, bad + " @2-3"},
        {"# \x80", 3, bad + " @2-3"},
        {"# \xED\xA0\x80", 5, bad + " @2-3"},
        {"# \xFF\xFE\n", 4, bad + " @2-3"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input);
        ErrorCollector errors;
        EXPECT_EQ(scan_comment(c.input, 0, errors), c.end);
        EXPECT_EQ(outcome(errors), c.problem);
    }
}

TEST(ScanComment, FindsBadCharacterAtEveryAlignment) {
    for (std::size_t len = 0; len < 40; ++len) {
        SCOPED_TRACE(len);
        const std::string text = "a = 1 #" + std::string(len, 'x');
        ErrorCollector errors;
        EXPECT_EQ(scan_comment(text + "\x01yyyyyyyyyyyyyyyy\n", 6, errors), text.size() + 17);
        EXPECT_EQ(outcome(errors), "invalid comment character [printable characters] @" +
                                       std::to_string(text.size()) + "-" + std::to_string(text.size() + 1));
        ErrorCollector none;
        EXPECT_EQ(scan_comment(text + "\nzzzzzzzzzz\x01", 6, none), text.size());
        EXPECT_FALSE(none.has_error());
    }
}

TEST(ScanNewline, AcceptsLfAndCrlfOnly) {
    struct Case {
        std::string input;
        std::size_t pos, end;
        std::string problem;
    };
    const Case cases[] = {
        {"a\nb", 1, 2, ""},
        {"a\r\nb", 1, 3, ""},
        {"a\rb", 1, 2, "carriage return must be followed by newline [\n] @1-2"},
        {"a\r", 1, 2, "carriage return must be followed by newline [\n] @1-2"},
        {"\r\r\n", 0, 1, "carriage return must be followed by newline [\n] @0-1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input);
        ErrorCollector errors;
        EXPECT_EQ(scan_newline(c.input, c.pos, errors), c.end);
        EXPECT_EQ(outcome(errors), c.problem);
    }
    EXPECT_EQ(skip_whitespace("a \t \tb", 1), 5u);
    EXPECT_EQ(skip_whitespace("a  ", 1), 3u);
}

TEST(LexerUtf8, SequenceLength) {
    struct Case {
        std::string bytes;
        std::size_t length;
    };
    const Case cases[] = {
        {"\xC2\x80", 2},
        {"\xDF\xBF", 2},
        {"\xE0\xA0\x80", 3},
        {"\xED\x9F\xBF", 3},
        {"\xEE\x80\x80", 3},
        {"\xEF\xBF\xBF", 3},
        {"\xF0\x90\x80\x80", 4},
        {"\xF4\x8F\xBF\xBF", 4},
        {"\x80", 0},
        {"\xBF", 0},
        {"\xC1\xBF", 0},
        {"\xC2\x7F", 0},
        {"\xC2", 0},
        {"\xE0\x9F\xBF", 0},
        {"\xED\xA0\x80", 0},
        {"\xED\xBF\xBF", 0},
        {"\xE1\x80\xC0", 0},
        {"\xE1\x80", 0},
        {"\xF0\x8F\xBF\xBF", 0},
        {"\xF4\x90\x80\x80", 0},
        {"\xF1\x80\x80\x7F", 0},
        {"\xF1\x80\x80", 0},
        {"\xF5\x80\x80\x80", 0},
        {"\xFF", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.bytes));
        const Utf8Char u = read_utf8(c.bytes, 0);
        EXPECT_EQ(u.valid ? u.length : 0, c.length);
    }
}
