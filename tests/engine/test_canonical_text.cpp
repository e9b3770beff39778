#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <iterator>
#include <limits>
#include <optional>
#include <random>
#include <string>
#include <utility>

#include "string.hpp"

using namespace morvelan;

namespace {

std::string key_text(std::string_view key) {
    String out;
    append_key_text(out, key);
    return std::string(out);
}

std::string string_text(std::string_view text) {
    String out;
    append_string_text(out, text);
    return std::string(out);
}

std::string float_text(double value) {
    String out;
    append_float_text(out, value);
    return std::string(out);
}

// Reads back one TOML string as written by append_string_text; nullopt when
// the text is not a well-formed string of exactly that extent.
std::optional<std::string> read_toml_string(const std::string& s) {
    if (s.empty() || (s[0] != '"' && s[0] != '\'')) return std::nullopt;
    const char quote = s[0];
    const bool multiline = s.compare(0, 3, std::string(3, quote)) == 0;
    std::size_t pos = multiline ? 3 : 1;
    if (multiline && pos < s.size() && s[pos] == '\n') ++pos;
    std::string value;
    while (pos < s.size()) {
        const auto c = static_cast<unsigned char>(s[pos]);
        if (c == quote) {
            std::size_t run = 0;
            while (pos + run < s.size() && s[pos + run] == quote) ++run;
            if (!multiline) return pos + 1 == s.size() ? std::optional(value) : std::nullopt;
            // A closing delimiter may follow up to two quotes of the content.
            if (run >= 3) {
                if (run > 5 || pos + run != s.size()) return std::nullopt;
                return value + std::string(run - 3, quote);
            }
            value.append(run, quote);
            pos += run;
        } else if ((c < 0x20 && c != '\t' && (c != '\n' || !multiline)) || c == 0x7F) {
            return std::nullopt;  // a raw character that must be escaped
        } else if (c != '\\' || quote == '\'') {
            value.push_back(static_cast<char>(c));
            ++pos;
        } else if (pos + 6 <= s.size() && s.compare(pos, 4, "\\u00") == 0 &&
                   std::isxdigit(static_cast<unsigned char>(s[pos + 4])) &&
                   std::isxdigit(static_cast<unsigned char>(s[pos + 5]))) {
            value.push_back(static_cast<char>(std::stoi(s.substr(pos + 4, 2), nullptr, 16)));
            pos += 6;
        } else {
            const std::string_view from = "btnfr\"\\", to = "\b\t\n\f\r\"\\";
            const std::size_t k = pos + 1 < s.size() ? from.find(s[pos + 1]) : std::string_view::npos;
            if (k == std::string_view::npos) return std::nullopt;
            value.push_back(to[k]);
            pos += 2;
        }
    }
    return std::nullopt;  // no closing delimiter
}

}  // namespace

TEST(CanonicalText, Keys) {
    struct Case {
        std::string key;
        const char* text;
    };
    const Case cases[] = {
        {"name", "name"},
        {"A-z_09", "A-z_09"},
        {"", "\"\""},
        {"a b", "\"a b\""},
        {"caf\xc3\xa9", "\"caf\xc3\xa9\""},
        {"tab\there", "\"tab\there\""},
        {"it's", "\"it's\""},
        {"say \"hi\"", "'say \"hi\"'"},
        {"back\\slash", "'back\\slash'"},
        {"both ' and \"", "\"both ' and \\\"\""},
        {std::string("nul\0", 4), "\"nul\\u0000\""},
        {"del\x7f", "\"del\\u007F\""},
        {"tab\tand\x01", "\"tab\\tand\\u0001\""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(key_text(c.key), c.text) << c.key;
        EXPECT_EQ(is_bare_key(c.key), c.key == c.text) << c.key;
    }
}

TEST(CanonicalText, Strings) {
    struct Case {
        std::string text;
        const char* written;
    };
    const Case cases[] = {
        {"", "\"\""},
        {"text", "\"text\""},
        {"tab\there", "\"tab\there\""},
        {"say \"hi\"", "'say \"hi\"'"},
        {"C:\\path", "'C:\\path'"},
        {"it's", "\"it's\""},
        {"it's \"x\"", "\"\"\"it's \"x\"\"\"\""},
        {"two\nlines", "\"\"\"\ntwo\nlines\"\"\""},
        {"it's\n\\", "'''\nit's\n\\'''"},
        {"\"\"\" and '", "'''\"\"\" and ''''"},
        {"\"\"\" and ''' \\", "\"\\\"\\\"\\\" and ''' \\\\\""},
        {"tab\tand\x01", "\"tab\\tand\\u0001\""},
        {"\b\f\x1b\x7f", "\"\\b\\f\\u001B\\u007F\""},
        {"ctl\x01\nq\"\"\"\"'", "\"\"\"\nctl\\u0001\nq\"\"\\\"\\\"'\"\"\""},
        {"crlf\r\n", "\"\"\"\ncrlf\\r\n\"\"\""},
    };
    for (const Case& c : cases) EXPECT_EQ(string_text(c.text), c.written) << c.text;
}

// The plain check reads eight bytes at a time: every byte value, at every
// place of a text shorter than a word, of a word, and of whole words and the
// bytes after them, decides alone whether the text is written between double
// quotes as it is.
TEST(CanonicalText, PlainStringsAnyByteAnyPlace) {
    for (const std::size_t size : {1, 7, 8, 19}) {
        for (int b = 0; b < 256; ++b) {
            const auto c = static_cast<unsigned char>(b);
            const bool plain = c != '"' && c != '\\' && c != 0x7F && (c >= 0x20 || c == '\t');
            for (std::size_t at = 0; at < size; ++at) {
                std::string text(size, 'a');
                text[at] = static_cast<char>(c);
                EXPECT_EQ(string_text(text) == '"' + text + '"', plain)
                    << "byte " << b << " at " << at << " of " << size;
            }
        }
    }
}

// Generated strings: whatever style is chosen, the text is a well-formed TOML
// string that reads back to the original.
TEST(CanonicalText, StringsReadBack) {
    const std::string pieces[] = {"a",  " ",  "\"",   "\"\"\"", "'",    "'''",      "\\",           "\n",
                                  "\t", "\r", "\r\n", "\x01",   "\x7f", "\xc3\xa9", "\xe2\x82\xac", "z"};
    std::mt19937 rng(2024);
    int styles[6] = {};
    for (int i = 0; i < 600; ++i) {
        std::string text;
        const int n = static_cast<int>(rng() % 8);
        for (int k = 0; k < n; ++k) text += pieces[rng() % std::size(pieces)];
        const std::string written = string_text(text);
        const std::optional<std::string> back = read_toml_string(written);
        ASSERT_TRUE(back.has_value()) << "text: " << text << "\nwritten: " << written;
        EXPECT_EQ(*back, text) << "written: " << written;
        const bool ml = written.rfind("\"\"\"", 0) == 0 || written.rfind("'''", 0) == 0;
        const bool literal = written[0] == '\'';
        const bool escaped = !literal && written.find('\\') != std::string::npos;
        // 0 basic, 1 literal, 2 multi-line basic, 3 multi-line literal, 4 basic and 5 multi-line basic
        // with escapes.
        styles[literal ? (ml ? 3 : 1) : escaped ? (ml ? 5 : 4) : (ml ? 2 : 0)]++;
    }
    // The generator reaches every style.
    for (int count : styles) EXPECT_GT(count, 0);
}

TEST(CanonicalText, Integers) {
    const std::pair<std::int64_t, const char*> cases[] = {
        {0, "0"},
        {-5, "-5"},
        {std::numeric_limits<std::int64_t>::max(), "9223372036854775807"},
        {std::numeric_limits<std::int64_t>::min(), "-9223372036854775808"},
    };
    for (const auto& [value, text] : cases) {
        String out;
        append_integer_text(out, value);
        EXPECT_EQ(std::string(out), text);
    }
}

TEST(CanonicalText, Floats) {
    const std::pair<double, std::string> cases[] = {
        {1.0, "1.0"},
        {-2.0, "-2.0"},
        {0.1, "0.1"},
        {-0.25, "-0.25"},
        {1e-7, "0.0000001"},
        {123456789012345678.0, "123456789012345680.0"},
        {1e100,
         "100000000000000001590289110975991804683608085639452813897813275577478387721703810608134699858568151"
         "04.0"},
        {0.0, "0.0"},
        {-0.0, "-0.0"},
        {std::numeric_limits<double>::infinity(), "inf"},
        {-std::numeric_limits<double>::infinity(), "-inf"},
        {std::numeric_limits<double>::quiet_NaN(), "nan"},
        {-std::numeric_limits<double>::quiet_NaN(), "-nan"},
    };
    for (const auto& [value, text] : cases) EXPECT_EQ(float_text(value), text) << value;

    // Extremes keep full positional precision and read back exactly.
    for (double v : {std::numeric_limits<double>::max(), std::numeric_limits<double>::denorm_min(),
                     -std::numeric_limits<double>::min(), 0.1 + 0.2}) {
        const std::string text = float_text(v);
        EXPECT_EQ(text.find_first_of("eE"), std::string::npos) << text;
        EXPECT_EQ(std::strtod(text.c_str(), nullptr), v) << text;
    }
}

TEST(CanonicalText, Booleans) {
    String out;
    append_bool_text(out, true);
    out += ' ';
    append_bool_text(out, false);
    EXPECT_EQ(std::string(out), "true false");
}
