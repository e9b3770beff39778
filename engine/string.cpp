// Canonical text of keys and scalars written without a recorded spelling.
#include "string.hpp"

#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "bytes8.hpp"
#include "lexer.hpp"

namespace morvelan {

namespace {

// Characters a key cannot hold unescaped: below 0x20 except tab, and DEL.
bool is_key_control(unsigned char c) noexcept { return (c < 0x20 && c != '\t') || c == 0x7F; }

// Characters a string cannot hold unescaped: below 0x20 except tab and line
// feed (a carriage return counts), and DEL.
constexpr bool is_string_control(unsigned char c) noexcept {
    return (c < 0x20 && c != '\t' && c != '\n') || c == 0x7F;
}

void append_unicode_escape(String& out, unsigned char c) {
    static const char hex[] = "0123456789ABCDEF";
    out += "\\u00";
    out.push_back(hex[c >> 4]);
    out.push_back(hex[c & 0xF]);
}

// The body of a basic string with escapes. In a multi-line string line feeds
// stay as they are and only the third and later double quotes of a run are
// escaped, so no run of three can close the string early.
void append_escaped(String& out, std::string_view text, bool multiline) {
    std::size_t quote_run = 0;
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '"') {
            ++quote_run;
            if (multiline && quote_run <= 2) {
                out.push_back('"');
            } else {
                out += "\\\"";
            }
            continue;
        }
        quote_run = 0;
        switch (c) {
            case '\b': out += "\\b"; break;
            case '\t': out += "\\t"; break;
            case '\f': out += "\\f"; break;
            case '\r': out += "\\r"; break;
            case '\\': out += "\\\\"; break;
            case '\n':
                if (multiline) {
                    out.push_back('\n');
                } else {
                    out += "\\n";
                }
                break;
            default:
                if (c < 0x20 || c == 0x7F) {
                    append_unicode_escape(out, c);
                } else {
                    out.push_back(ch);
                }
                break;
        }
    }
}

void append_delimited(String& out, std::string_view delimiter, std::string_view body) {
    out += delimiter;
    out += body;
    out += delimiter;
}

struct StringShape {
    bool control = false;
    bool backslash = false;
    bool line_feed = false;
    std::size_t double_run = 0;  // longest run of consecutive '"'
    std::size_t single_run = 0;  // longest run of consecutive '\''
};

StringShape measure(std::string_view text) noexcept {
    StringShape shape;
    std::size_t double_run = 0;
    std::size_t single_run = 0;
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        double_run = c == '"' ? double_run + 1 : 0;
        single_run = c == '\'' ? single_run + 1 : 0;
        if (double_run > shape.double_run) shape.double_run = double_run;
        if (single_run > shape.single_run) shape.single_run = single_run;
        if (c == '\\') shape.backslash = true;
        if (c == '\n') shape.line_feed = true;
        if (is_string_control(c)) shape.control = true;
    }
    return shape;
}

}  // namespace

bool is_bare_key(std::string_view key) noexcept {
    if (key.empty()) return false;
    for (const char c : key) {
        if (!is_bare_key_char(static_cast<unsigned char>(c))) return false;
    }
    return true;
}

void append_key_text(String& out, std::string_view key) {
    if (is_bare_key(key)) {
        out += key;
        return;
    }
    bool control = false;
    bool backslash = false;
    bool double_quote = false;
    bool single_quote = false;
    for (const char ch : key) {
        const auto c = static_cast<unsigned char>(ch);
        control |= is_key_control(c);
        backslash |= c == '\\';
        double_quote |= c == '"';
        single_quote |= c == '\'';
    }
    if (!control && !backslash && !double_quote) {
        append_delimited(out, "\"", key);
    } else if (!control && !single_quote) {
        append_delimited(out, "'", key);
    } else {
        out.push_back('"');
        append_escaped(out, key, false);
        out.push_back('"');
    }
}

namespace {

// Bytes that a basic string holds as they are: no double quote, backslash,
// line feed or control character.
struct PlainBytes {
    bool plain[256] = {};
    constexpr PlainBytes() {
        for (int c = 0; c < 256; ++c)
            plain[c] =
                c != '"' && c != '\\' && c != '\n' && !is_string_control(static_cast<unsigned char>(c));
    }
};
constexpr PlainBytes kPlain;

// Eight bytes at a time: whether a word may hold a byte that is not plain
// (a byte below 0x20, a double quote, a backslash or DEL; tab is the one
// byte below 0x20 that is plain, and is then looked at alone). Non-ASCII
// bytes are plain.
constexpr bool may_hold_special(std::uint64_t w) noexcept {
    using namespace bytes8;
    return (below(w, 0x20) | equal(w, '"') | equal(w, '\\') | equal(w, 0x7F)) != 0;
}

// Whether the bytes p[0, n), n <= 8, are plain.
bool plain_bytes(const char* p, std::size_t n) noexcept {
    for (std::size_t i = 0; i < n; ++i)
        if (!kPlain.plain[static_cast<unsigned char>(p[i])]) return false;
    return true;
}

// Whether every byte of the text is plain. The bytes after the last whole
// word are read as a word too, the last eight bytes of the text; a text
// shorter than a word is read a byte at a time.
bool all_plain(std::string_view text) noexcept {
    const char* p = text.data();
    const std::size_t n = text.size();
    if (n < 8) return plain_bytes(p, n);
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8)
        if (may_hold_special(bytes8::load(p + i)) && !plain_bytes(p + i, 8)) return false;
    return i == n || !may_hold_special(bytes8::load(p + n - 8)) || plain_bytes(p + n - 8, 8);
}

}  // namespace

void append_string_text(String& out, std::string_view text) {
    // Most strings need no look at their shape: written as they are between
    // double quotes.
    if (all_plain(text)) {
        append_delimited(out, "\"", text);
        return;
    }
    const StringShape s = measure(text);
    // Multi-line strings start with a line feed when the text has one; the
    // parser drops a line feed right after the opening delimiter.
    const std::string_view lead = s.line_feed ? "\n" : "";

    if (!s.control && !s.backslash && s.double_run == 0 && !s.line_feed) {
        append_delimited(out, "\"", text);
    } else if (s.single_run == 0 && !s.control && !s.line_feed) {
        append_delimited(out, "'", text);
    } else if (!s.control && !s.backslash && s.double_run < 3) {
        out += "\"\"\"";
        out += lead;
        out += text;
        out += "\"\"\"";
    } else if (!s.control && s.single_run < 3) {
        out += "'''";
        out += lead;
        out += text;
        out += "'''";
    } else if (!s.line_feed) {
        out.push_back('"');
        append_escaped(out, text, false);
        out.push_back('"');
    } else {
        out += "\"\"\"";
        out += lead;
        append_escaped(out, text, true);
        out += "\"\"\"";
    }
}

void append_integer_text(String& out, std::int64_t value) {
    char buf[24];
    const auto result = std::to_chars(buf, buf + sizeof buf, value);
    out.append(buf, result.ptr);
}

void append_float_text(String& out, double value) {
    if (std::isnan(value)) {
        out += std::signbit(value) ? "-nan" : "nan";
        return;
    }
    if (std::isinf(value)) {
        out += value < 0 ? "-inf" : "inf";
        return;
    }
    if (value == 0.0) {
        out += std::signbit(value) ? "-0.0" : "0.0";
        return;
    }
    // Positional shortest round-trip text: at most 309 integer digits for the
    // largest double, or "0." and 323 zeros before the digits of the smallest.
    char buf[400];
    const auto result = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed);
    out.append(buf, result.ptr);
    bool has_point = false;
    for (const char* p = buf; p != result.ptr; ++p) {
        if (*p == '.') {
            has_point = true;
            break;
        }
    }
    if (!has_point) out += ".0";
}

void append_bool_text(String& out, bool value) { out += value ? "true" : "false"; }

}  // namespace morvelan
