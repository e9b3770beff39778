#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

#include "decoder.hpp"

using namespace morvelan;

namespace {

// Every case is decoded after this prefix, so that spans are checked as
// offsets into a larger input; the tables give them relative to the token.
constexpr std::string_view kPrefix = "k = ";

// "description [expected, ...] @start-end" with spans relative to the token;
// literals in backticks, "[]" for a present but empty list; "" when no problem.
std::string outcome(const ErrorCollector& errors) {
    if (!errors.has_error()) return "";
    const Problem& p = *errors.first();
    std::string s = p.description;
    if (p.expected) {
        s += " [";
        for (std::size_t i = 0; i < p.expected->size(); ++i) {
            const Expected& e = (*p.expected)[i];
            if (i) s += ", ";
            s += e.kind == Expected::Kind::Literal ? "`" + std::string(e.text) + "`" : std::string(e.text);
        }
        s += "]";
    }
    return s + " @" + std::to_string(p.span.start - kPrefix.size()) + "-" +
           std::to_string(p.span.end - kPrefix.size());
}

struct Scanned {
    std::string input, problem, text;
    DecodedString decoded;
    std::size_t end;
};

Scanned scan(std::string_view token, String& scratch) {
    Scanned r;
    r.input = std::string(kPrefix) + std::string(token);
    ErrorCollector errors;
    r.end = scan_string(r.input, kPrefix.size(), errors, scratch, r.decoded) - kPrefix.size();
    r.problem = outcome(errors);
    r.text = std::string(r.decoded.text);
    return r;
}

struct Bare {
    std::string problem;
    BareScalar value;
};

Bare bare(std::string_view word) {
    const std::string input = std::string(kPrefix) + std::string(word) + " # after";
    ErrorCollector errors;
    Bare r;
    decode_bare_scalar(input, {kPrefix.size(), kPrefix.size() + word.size()}, errors, r.value);
    r.problem = outcome(errors);
    return r;
}

}  // namespace

TEST(ScanString, DecodesAllStyles) {
    struct Case {
        std::string token, text;
        std::size_t end;
        bool rewritten;
    };
    const Case cases[] = {
        {R"("abc" tail)", "abc", 5, false},
        {R"('')", "", 2, false},
        {R"('C:\path\n')", R"(C:\path\n)", 11, false},
        {"\"h\xC3\xA9llo \xF0\x9F\x98\x80\t!\"", "h\xC3\xA9llo \xF0\x9F\x98\x80\t!", 15, false},
        {R"("\b\t\n\f\r\e\"\\/")", "\b\t\n\f\r\x1B\"\\/", 19, true},
        {R"("\x41\xE9\u00e9\U0001F600")", "A\xC3\xA9\xC3\xA9\xF0\x9F\x98\x80", 26, true},
        {"\"\"\"\nab\"\"\"", "ab", 9, false},
        {"'''\r\nab'''", "ab", 10, false},
        {"\"\"\"a\r\nb\n\"\"\"", "a\nb\n", 11, true},
        {"'''a\r\n\r\nb'''", "a\n\nb", 12, true},
        {"\"\"\"\na\\\n    b\"\"\"", "ab", 15, true},
        {"\"\"\"a\\  \t\r\n\n  \r\n b\\\n\"\"\"", "ab", 22, true},
        {"\"\"\"a \\\"\"\"b\"\"\"", "a \"\"\"b", 13, true},
        {R"("""a"""")", "a\"", 8, false},
        {R"("""a"""""")", "a\"\"", 9, false},  // the sixth quote is not part of the string
        {R"("""""""")", "\"\"", 8, false},
        {R"('''a''''')", "a''", 9, false},
        {R"("""a""b"c""")", "a\"\"b\"c", 12, false},
        {"'''a\n\t'b'\n'''", "a\n\t'b'\n", 13, false},
    };
    String scratch;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.token);
        const Scanned r = scan(c.token, scratch);
        EXPECT_EQ(r.problem, "");
        EXPECT_EQ(r.text, c.text);
        EXPECT_EQ(r.end, c.end);
        EXPECT_EQ(r.decoded.rewritten, c.rewritten);
    }
}

TEST(ScanString, PlainTextIsAViewAtEveryAlignment) {
    // The closing quote and an escape at every offset around the 8-byte steps.
    String scratch;
    for (std::size_t len = 0; len < 40; ++len) {
        const std::string body(len, 'x');
        SCOPED_TRACE(len);
        Scanned r = scan("\"" + body + "\"xxxxxxxxxxxxxxxx\"", scratch);
        EXPECT_EQ(r.text, body);
        EXPECT_EQ(r.end, len + 2);
        EXPECT_FALSE(r.decoded.rewritten);
        EXPECT_EQ(r.decoded.text.data(), r.input.data() + kPrefix.size() + 1);

        r = scan("'''" + body + "\\n'''yyyyyyyyyyyy'''", scratch);
        EXPECT_EQ(r.text, body + "\\n");

        r = scan("\"" + body + "\\u0041" + body + "\"", scratch);
        EXPECT_EQ(r.text, body + "A" + body);
        EXPECT_EQ(r.problem, "");

        r = scan("\"" + body + "\x01" + "\"", scratch);
        EXPECT_EQ(r.problem, "invalid basic string [non-double-quote visible characters, `\\`] @" +
                                 std::to_string(len + 1) + "-" + std::to_string(len + 2));
    }
}

TEST(ScanString, ReportsProblems) {
    struct Case {
        std::string token, problem;
    };
    const std::string esc = "[`b`, `e`, `f`, `n`, `r`, `t`, `\\`, `\"`, `x`, `u`, `U`]";
    const std::string hex = "[unicode hexadecimal value]";
    const std::string basic = "invalid basic string [non-double-quote visible characters, `\\`]";
    const std::string literal = "invalid literal string [non-single-quote visible characters]";
    const std::string ml_basic = "invalid multi-line basic string [`\\`, characters]";
    const std::string ml_literal = "invalid multi-line literal string [non-single-quote characters]";
    const Case cases[] = {
        {R"("a\qb")", "missing escaped value " + esc + " @3-4"},
        {R"("a\ b")", "missing escaped value " + esc + " @3-4"},
        {R"("a\)", "missing escaped value " + esc + " @3-3"},
        {R"("\x4")", "too few unicode value digits " + hex + " @4-5"},
        {R"("\u12G4")", "too few unicode value digits " + hex + " @5-6"},
        {R"("\U0001F60")", "too few unicode value digits " + hex + " @10-11"},
        {R"("\uD800")", "invalid value " + hex + " @3-7"},
        {R"("\U00110000")", "invalid value " + hex + " @3-11"},
        {std::string("\"a\0z\"", 5), basic + " @2-3"},
        {"\"a\rb\"", basic + " @2-3"},
        {"\"a\x7F\"", basic + " @2-3"},
        {"\"abc", "invalid basic string [`\"`] @4-4"},
        {"\"abc\ndef\"", "invalid basic string [`\"`] @4-4"},
        {"\"abc\r\ndef\"", "invalid basic string [`\"`] @4-4"},
        {"'a\x1Fz'", literal + " @2-3"},
        {"'abc\n'", "invalid literal string [`'`] @4-4"},
        {"\"\"\"a\x08\"\"\"", ml_basic + " @4-5"},
        {"\"\"\"a\rb\"\"\"", "carriage return must be followed by newline [`\n`] @4-5"},
        {"\"\"\"abc\"\"", "invalid multi-line basic string [`\"`] @8-8"},
        {"\"\"\"a\\  b\"\"\"", "invalid multi-line basic string [`\n`] @7-8"},
        {"\"\"\"a\\  \"\"\"", "invalid multi-line basic string [`\n`] @7-8"},
        {R"("""a\y""")", "missing escaped value " + esc + " @5-6"},
        {"'''a\x7F'''", ml_literal + " @4-5"},
        {"'''a\rb'''", "carriage return must be followed by newline [`\n`] @4-5"},
        {"'''ab''", "invalid multi-line literal string [`'`] @7-7"},
        // Malformed UTF-8: stray continuation, overlong, surrogate, above
        // U+10FFFF, cut short.
        {"\"a\x80\"", basic + " @2-3"},
        {"\"\xED\xA0\x80\"", basic + " @1-2"},
        {"'\xFF'", literal + " @1-2"},
        {"\"\"\"\xC3(\"\"\"", ml_basic + " @3-4"},
        {"'''x\xF5\x80\x80\x80'''", ml_literal + " @4-5"},
        {"\"\xE2\x82", basic + " @1-2"},
        // The same after a run of valid two- and three-byte characters.
        {"\"\xC3\xA9\xE4\xB8\xAD\xE2\x82\"", basic + " @6-7"},
        {"\"\xE4\xB8\xAD\xED\xA0\x80\"", basic + " @4-5"},
    };
    String scratch;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.token);
        EXPECT_EQ(scan(c.token, scratch).problem, c.problem);
    }
}

TEST(ScanString, UnterminatedStopsAtTheRightPlace) {
    String scratch;
    Scanned r = scan("\"abc\ndef\"", scratch);
    EXPECT_EQ(r.end, 4u);  // before the line ending
    EXPECT_EQ(r.text, "abc");
    r = scan("\"a\\tc\r\n", scratch);
    EXPECT_EQ(r.end, 5u);
    EXPECT_EQ(r.text, "a\tc");
    // A huge unterminated multi-line string runs to the end without copying.
    const std::string big = "\"\"\"" + std::string(10'000'000, 'q') + "\"\"";
    r = scan(big, scratch);
    EXPECT_EQ(r.end, big.size());
    EXPECT_FALSE(r.decoded.rewritten);
    EXPECT_EQ(r.decoded.text.size(), big.size() - 3);
}

TEST(DecodeBareScalar, DecodesValues) {
    struct Case {
        std::string word;
        ScalarKind kind;
        std::int64_t integer;
        double floating;
    };
    const double inf = std::numeric_limits<double>::infinity();
    const Case cases[] = {
        {"0", ScalarKind::Integer, 0, 0},
        {"-0", ScalarKind::Integer, 0, 0},
        {"+99", ScalarKind::Integer, 99, 0},
        {"-17", ScalarKind::Integer, -17, 0},
        {"1_000_000", ScalarKind::Integer, 1000000, 0},
        {"0xDEAD_beef", ScalarKind::Integer, 3735928559, 0},
        {"0o755", ScalarKind::Integer, 493, 0},
        {"0b1101_0", ScalarKind::Integer, 26, 0},
        {"0x7FFFFFFFFFFFFFFF", ScalarKind::Integer, INT64_MAX, 0},
        {"9223372036854775807", ScalarKind::Integer, INT64_MAX, 0},
        {"-9223372036854775808", ScalarKind::Integer, INT64_MIN, 0},
        {"0.5", ScalarKind::Float, 0, 0.5},
        {"+1.0", ScalarKind::Float, 0, 1.0},
        {"1e6", ScalarKind::Float, 0, 1e6},
        {"-2E-2", ScalarKind::Float, 0, -2e-2},
        {"1e007", ScalarKind::Float, 0, 1e7},
        {"224_617.445_991_228", ScalarKind::Float, 0, 224617.445991228},
        {"1.7976931348623157e308", ScalarKind::Float, 0, 1.7976931348623157e308},
        {"1e-400", ScalarKind::Float, 0, 0.0},
        {"0.0000000000000000000000000000001e-300", ScalarKind::Float, 0, 0.0},
        {"inf", ScalarKind::Float, 0, inf},
        {"+inf", ScalarKind::Float, 0, inf},
        {"-inf", ScalarKind::Float, 0, -inf},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.word);
        const Bare r = bare(c.word);
        EXPECT_EQ(r.problem, "");
        EXPECT_EQ(r.value.kind, c.kind);
        if (c.kind == ScalarKind::Integer) {
            EXPECT_EQ(r.value.integer, c.integer);
        } else {
            EXPECT_EQ(r.value.floating, c.floating);
        }
    }
    EXPECT_TRUE(std::signbit(bare("-0.0").value.floating));
    EXPECT_TRUE(std::isnan(bare("nan").value.floating));
    EXPECT_FALSE(std::signbit(bare("+nan").value.floating));
    EXPECT_TRUE(std::signbit(bare("-nan").value.floating));
    EXPECT_TRUE(bare("true").value.boolean);
    EXPECT_EQ(bare("false").value.kind, ScalarKind::Boolean);
    EXPECT_FALSE(bare("false").value.boolean);
}

TEST(DecodeBareScalar, HandsDatetimesOver) {
    for (const std::string word :
         {"1979-05-27", "07:32:00", "1979-05-27 07:32:00.5Z", "1979-13-01", "12:61"}) {
        SCOPED_TRACE(word);
        Datetime expected;
        DatetimeTextError error;
        const bool ok = parse_datetime(word, expected, error);
        const Bare r = bare(word);
        EXPECT_EQ(r.value.kind, ScalarKind::Datetime);
        if (ok) {
            EXPECT_EQ(r.problem, "");
            EXPECT_EQ(r.value.datetime, expected);
        } else {
            EXPECT_EQ(r.problem, error.message() + " @0-" + std::to_string(word.size()));
        }
    }
}

TEST(DecodeBareScalar, ReportsProblems) {
    struct Case {
        std::string word, problem;
    };
    const Case cases[] = {
        {"yes", "string values must be quoted [literal string] @0-3"},
        {"True", "string values must be quoted [literal string] @0-4"},
        {"tru", "invalid boolean [`true`] @0-3"},
        {"falsey", "invalid boolean [`false`] @0-6"},
        {"info", "invalid float [`inf`] @0-4"},
        {"-nano", "invalid float [`nan`] @0-5"},
        {"+-1", "redundant numeric sign [] @1-2"},
        {"0XFF", "radix must be lowercase [`0x`] @0-2"},
        {"0O17", "radix must be lowercase [`0o`] @0-2"},
        {"0B1", "radix must be lowercase [`0b`] @0-2"},
        {"0BG", "radix must be lowercase [`0b`] @0-2"},
        {"+0x10", "integers with a radix cannot be signed @0-1"},
        {"0d10", "redundant integer number prefix @0-2"},
        {"0x-1", "unexpected sign @2-3"},
        {"0xfg", "invalid hexadecimal number @3-4"},
        {"0o8", "invalid octal number @2-3"},
        {"0b102", "invalid binary number @4-5"},
        {"0x", "invalid hexadecimal number @2-2"},
        {"12a", "invalid integer number @2-3"},
        {"+", "invalid integer number @1-1"},
        {"1__2", "`_` may only go between digits [] @1-2"},
        {"1_", "`_` may only go between digits [] @1-2"},
        {"+_1", "`_` may only go between digits [] @1-2"},
        {"0x_1", "`_` may only go between digits [] @2-3"},
        {"012", "unexpected leading zero [] @0-1"},
        {"-012", "unexpected leading zero [] @1-2"},
        {"9223372036854775808", "integer number overflowed @0-19"},
        {"-9223372036854775809", "integer number overflowed @0-20"},
        {"0x8000000000000000", "integer number overflowed @0-18"},
        {"99999999999999999999999", "integer number overflowed @0-23"},
        {"1.", "invalid fraction [digits] @2-2"},
        {"1.e5", "invalid fraction [digits] @2-2"},
        {"1.2.3", "invalid fraction [digits] @3-4"},
        {"1e", "invalid exponent [digits] @2-2"},
        {"1e+", "invalid exponent [digits] @3-3"},
        {"1e5.0", "invalid exponent [digits] @3-4"},
        {"+.5", "invalid mantissa [digits] @1-1"},
        {"1x.5", "invalid mantissa [digits] @1-2"},
        {"01.5", "unexpected leading zero [] @0-1"},
        {"-00e1", "unexpected leading zero [] @1-2"},
        {"1._5", "`_` may only go between digits [] @2-3"},
        {"1e_5", "`_` may only go between digits [] @2-3"},
        {"1e400", "floating-point number overflowed @0-5"},
        {"-1.7976931348623159e308", "floating-point number overflowed @0-23"},
        {"1000000000000000000000000000000e290", "floating-point number overflowed @0-35"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.word);
        EXPECT_EQ(bare(c.word).problem, c.problem);
    }
}
