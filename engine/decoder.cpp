// Decoding of strings and bare scalars.
//
// Strings: the scanner skips plain text eight bytes at a time and stops only
// at bytes that need a decision (the quote, a backslash, control characters,
// non-ASCII bytes). As long as nothing needs rewriting the result is a view
// of the input; the first escape or CRLF switches to copying into `scratch`,
// which from then on receives every plain run up to the next rewrite.
//
// Line endings inside multi-line strings decode to "\n": a CRLF in the text
// becomes a single line feed in the value (the source text keeps its CRLF).
#include "decoder.hpp"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <optional>

#include "bytes8.hpp"
#include "lexer.hpp"

namespace morvelan {
namespace {

using E = Expected;

// Bit 7 of each byte of the result is set for the bytes of `v` that a string
// body of the given quote must look at: control characters, DEL, non-ASCII
// bytes, the quote and (basic strings) the backslash (see bytes8.hpp).
template <char Quote, bool Backslash>
inline std::uint64_t string_special_mask(std::uint64_t v) noexcept {
    std::uint64_t m = bytes8::not_printable(v) | bytes8::equal(v, static_cast<unsigned char>(Quote));
    if constexpr (Backslash) m |= bytes8::equal(v, '\\');
    return m;
}

template <char Quote, bool Backslash>
inline bool is_string_special(unsigned char c) noexcept {
    return c < 0x20 || c >= 0x7F || c == static_cast<unsigned char>(Quote) || (Backslash && c == '\\');
}

// Offset of the first byte at or after i that the string scanner must look
// at, or n.
template <char Quote, bool Backslash>
inline std::size_t skip_plain(const char* p, std::size_t i, std::size_t n) noexcept {
    if constexpr (bytes8::kLittleEndian) {
        while (n - i >= 8) {
            const std::uint64_t m = string_special_mask<Quote, Backslash>(bytes8::load(p + i));
            if (m != 0) return i + bytes8::first_flagged(m);
            i += 8;
        }
    }
    while (i < n && !is_string_special<Quote, Backslash>(static_cast<unsigned char>(p[i]))) ++i;
    return i;
}

inline int hex_value(char c) noexcept {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

inline bool is_digit(char c) noexcept { return c >= '0' && c <= '9'; }

void append_utf8(String& out, std::uint32_t cp) {
    char buf[4];
    std::size_t len;
    if (cp < 0x80) {
        buf[0] = static_cast<char>(cp);
        len = 1;
    } else if (cp < 0x800) {
        buf[0] = static_cast<char>(0xC0 | (cp >> 6));
        buf[1] = static_cast<char>(0x80 | (cp & 0x3F));
        len = 2;
    } else if (cp < 0x10000) {
        buf[0] = static_cast<char>(0xE0 | (cp >> 12));
        buf[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        buf[2] = static_cast<char>(0x80 | (cp & 0x3F));
        len = 3;
    } else {
        buf[0] = static_cast<char>(0xF0 | (cp >> 18));
        buf[1] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        buf[2] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        buf[3] = static_cast<char>(0x80 | (cp & 0x3F));
        len = 4;
    }
    out.append(buf, len);
}

// A span of one byte at i, or an empty span at the end of the input.
inline Span at(std::size_t i, std::size_t n) noexcept { return {i, i < n ? i + 1 : i}; }

// ---------------------------------------------------------------- strings

template <StringStyle S>
struct StyleTraits;

template <>
struct StyleTraits<StringStyle::Basic> {
    static constexpr bool multi = false, basic = true;
    static constexpr char quote = '"';
    static constexpr std::string_view quote_text = "\"";
    static constexpr std::string_view invalid = "invalid basic string";
    static void bad_char(ErrorCollector& e, Span s) {
        e.report(invalid, {E::description("non-double-quote visible characters"), E::literal("\\")}, s);
    }
};
template <>
struct StyleTraits<StringStyle::Literal> {
    static constexpr bool multi = false, basic = false;
    static constexpr char quote = '\'';
    static constexpr std::string_view quote_text = "'";
    static constexpr std::string_view invalid = "invalid literal string";
    static void bad_char(ErrorCollector& e, Span s) {
        e.report(invalid, {E::description("non-single-quote visible characters")}, s);
    }
};
template <>
struct StyleTraits<StringStyle::MultiLineBasic> {
    static constexpr bool multi = true, basic = true;
    static constexpr char quote = '"';
    static constexpr std::string_view quote_text = "\"";
    static constexpr std::string_view invalid = "invalid multi-line basic string";
    static void bad_char(ErrorCollector& e, Span s) {
        e.report(invalid, {E::literal("\\"), E::description("characters")}, s);
    }
};
template <>
struct StyleTraits<StringStyle::MultiLineLiteral> {
    static constexpr bool multi = true, basic = false;
    static constexpr char quote = '\'';
    static constexpr std::string_view quote_text = "'";
    static constexpr std::string_view invalid = "invalid multi-line literal string";
    static void bad_char(ErrorCollector& e, Span s) {
        e.report(invalid, {E::description("non-single-quote characters")}, s);
    }
};

// Skips the valid two- and three-byte characters from i on, the text of
// most scripts, without reading each one's code point; stops at any other
// byte (ASCII, a four-byte character, a lead byte whose second byte has a
// narrower range, a bad sequence), which read_utf8 reads as before.
inline std::size_t skip_common_utf8(const char* p, std::size_t i, std::size_t n) noexcept {
    auto continuation = [p](std::size_t k) { return (static_cast<unsigned char>(p[k]) & 0xC0) == 0x80; };
    while (i < n) {
        const unsigned c = static_cast<unsigned char>(p[i]);
        if (c >= 0xC2 && c <= 0xDF) {
            if (n - i < 2 || !continuation(i + 1)) break;
            i += 2;
        } else if (c >= 0xE1 && c <= 0xEF && c != 0xED) {
            if (n - i < 3 || !continuation(i + 1) || !continuation(i + 2)) break;
            i += 3;
        } else {
            break;
        }
    }
    return i;
}

constexpr std::string_view kHexValue = "unicode hexadecimal value";

template <StringStyle S>
std::size_t scan_body(std::string_view in, std::size_t open, ErrorCollector& errors, String& scratch,
                      DecodedString& out) {
    using T = StyleTraits<S>;
    const char* p = in.data();
    const std::size_t n = in.size();

    std::size_t start = open + (T::multi ? 3 : 1);
    if constexpr (T::multi) {
        // A line ending directly after the opening delimiter is not content.
        if (start < n && p[start] == '\n') {
            start += 1;
        } else if (n - start >= 2 && p[start] == '\r' && p[start + 1] == '\n') {
            start += 2;
        }
    }

    std::size_t i = start;
    std::size_t copied = start;  // input before this offset is already in scratch
    bool rewritten = false;
    // Copies the plain text in [copied, upto) into scratch.
    auto flush = [&](std::size_t upto) {
        rewritten = true;
        scratch.append(p + copied, upto - copied);
    };
    auto finish = [&](std::size_t content_end) {
        out.style = S;
        out.rewritten = rewritten;
        if (rewritten) {
            flush(content_end);
            out.text = std::string_view(scratch.data(), scratch.size());
        } else {
            out.text = in.substr(start, content_end - start);
        }
    };

    for (;;) {
        i = skip_plain<T::quote, T::basic>(p, i, n);
        if (i >= n) {
            errors.report(T::invalid, {E::literal(T::quote_text)}, {n, n});
            finish(n);
            return n;
        }
        const unsigned char c = static_cast<unsigned char>(p[i]);

        if (c == static_cast<unsigned char>(T::quote)) {
            if constexpr (!T::multi) {
                finish(i);
                return i + 1;
            } else {
                std::size_t run = 1;
                while (i + run < n && p[i + run] == T::quote) ++run;
                if (run < 3) {
                    i += run;
                    continue;
                }
                // Up to two quotes before the closing delimiter are content.
                const std::size_t extra = run - 3 < 2 ? run - 3 : 2;
                finish(i + extra);
                return i + extra + 3;
            }
        }

        if (c >= 0x80) {
            if (const std::size_t j = skip_common_utf8(p, i, n); j != i) {
                i = j;
                continue;
            }
            const Utf8Char u = read_utf8(in, i);
            if (!u.valid) {
                T::bad_char(errors, {i, i + 1});
                ++i;
            } else {
                i += u.length;
            }
            continue;
        }

        if (c == '\t') {
            ++i;
            continue;
        }

        if (c == '\n') {
            if constexpr (T::multi) {
                ++i;
                continue;
            } else {
                errors.report(T::invalid, {E::literal(T::quote_text)}, {i, i});
                finish(i);
                return i;
            }
        }

        if (c == '\r') {
            const bool crlf = i + 1 < n && p[i + 1] == '\n';
            if constexpr (T::multi) {
                if (crlf) {
                    flush(i);
                    scratch.push_back('\n');
                    i += 2;
                    copied = i;
                } else {
                    errors.report("carriage return must be followed by newline", {E::literal("\n")},
                                  {i, i + 1});
                    ++i;
                }
                continue;
            } else {
                if (crlf) {
                    errors.report(T::invalid, {E::literal(T::quote_text)}, {i, i});
                    finish(i);
                    return i;
                }
                T::bad_char(errors, {i, i + 1});
                ++i;
                continue;
            }
        }

        if constexpr (T::basic) {
            if (c == '\\') {
                const std::size_t j = i + 1;  // the escape letter
                char decoded = 0;
                std::size_t digits = 0;
                const char e = j < n ? p[j] : '\0';
                switch (e) {
                    case 'b': decoded = '\b'; break;
                    case 't': decoded = '\t'; break;
                    case 'n': decoded = '\n'; break;
                    case 'f': decoded = '\f'; break;
                    case 'r': decoded = '\r'; break;
                    case 'e': decoded = '\x1B'; break;
                    case '"': decoded = '"'; break;
                    case '\\': decoded = '\\'; break;
                    case 'x': digits = 2; break;
                    case 'u': digits = 4; break;
                    case 'U': digits = 8; break;
                    default: break;
                }
                if (j < n && decoded != 0) {
                    flush(i);
                    scratch.push_back(decoded);
                    i = j + 1;
                    copied = i;
                    continue;
                }
                if (j < n && digits != 0) {
                    std::uint32_t cp = 0;
                    std::size_t k = 0;
                    while (k < digits && j + 1 + k < n) {
                        const int h = hex_value(p[j + 1 + k]);
                        if (h < 0) break;
                        cp = (cp << 4) | static_cast<std::uint32_t>(h);
                        ++k;
                    }
                    flush(i);
                    if (k < digits) {
                        errors.report("too few unicode value digits", {E::description(kHexValue)},
                                      at(j + 1 + k, n));
                    } else if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
                        errors.report("invalid value", {E::description(kHexValue)}, {j + 1, j + 1 + k});
                        append_utf8(scratch, 0xFFFD);
                    } else {
                        append_utf8(scratch, cp);
                    }
                    i = j + 1 + k;
                    copied = i;
                    continue;
                }
                if constexpr (T::multi) {
                    if (j < n && (e == ' ' || e == '\t' || e == '\n' || e == '\r')) {
                        // A backslash ending a line removes itself, the line
                        // ending, and all whitespace and line endings after it.
                        std::size_t k = j;
                        while (k < n && (p[k] == ' ' || p[k] == '\t')) ++k;
                        const bool eol =
                            k < n && (p[k] == '\n' || (p[k] == '\r' && k + 1 < n && p[k + 1] == '\n'));
                        flush(i);
                        if (eol) {
                            for (;;) {
                                if (k < n && (p[k] == ' ' || p[k] == '\t' || p[k] == '\n')) {
                                    ++k;
                                } else if (n - k >= 2 && p[k] == '\r' && p[k + 1] == '\n') {
                                    k += 2;
                                } else {
                                    break;
                                }
                            }
                            i = k;
                        } else {
                            // Whitespace after the backslash, then more text
                            // on the same line.
                            errors.report(T::invalid, {E::literal("\n")}, at(k, n));
                            i = j;
                        }
                        copied = i;
                        continue;
                    }
                }
                errors.report("missing escaped value",
                              {E::literal("b"), E::literal("e"), E::literal("f"), E::literal("n"),
                               E::literal("r"), E::literal("t"), E::literal("\\"), E::literal("\""),
                               E::literal("x"), E::literal("u"), E::literal("U")},
                              at(j, n));
                // Drop the backslash; what follows is read as ordinary text.
                flush(i);
                i = j;
                copied = i;
                continue;
            }
        }

        // Any other control character, or DEL.
        T::bad_char(errors, {i, i + 1});
        ++i;
    }
}

// ---------------------------------------------------------- bare scalars

constexpr std::string_view kUnderscore = "`_` may only go between digits";

inline int digit_value(char c, unsigned radix) noexcept {
    const int v = hex_value(c);
    return v >= 0 && static_cast<unsigned>(v) < radix ? v : -1;
}

// Reports through `errors` and remembers whether anything was reported.
struct Reporter {
    ErrorCollector& errors;
    bool failed = false;
    void operator()(std::string_view description, Span span) {
        failed = true;
        errors.report(description, span);
    }
    void operator()(std::string_view description, std::initializer_list<Expected> expected, Span span) {
        failed = true;
        errors.report(description, expected, span);
    }
};

// Checks the digits of an integer (after any sign and prefix) and
// accumulates their value. `off` is the input offset of digits[0].
std::uint64_t integer_digits(std::string_view digits, std::size_t off, unsigned radix,
                             std::string_view invalid, bool signs_unexpected, Reporter& report,
                             bool& overflow) {
    std::uint64_t value = 0;
    const std::uint64_t limit = std::numeric_limits<std::uint64_t>::max() / radix;
    if (digits.empty()) report(invalid, {off, off});
    for (std::size_t k = 0; k < digits.size(); ++k) {
        const char c = digits[k];
        const int d = digit_value(c, radix);
        if (d >= 0) {
            if (value > limit || value * radix > std::numeric_limits<std::uint64_t>::max() - d)
                overflow = true;
            value = value * radix + static_cast<unsigned>(d);
        } else if (c == '_') {
            const bool before = k > 0 && digit_value(digits[k - 1], radix) >= 0;
            const bool after = k + 1 < digits.size() && digit_value(digits[k + 1], radix) >= 0;
            if (!before || !after) report(kUnderscore, {}, {off + k, off + k + 1});
        } else if (signs_unexpected && (c == '+' || c == '-')) {
            report("unexpected sign", {off + k, off + k + 1});
        } else {
            report(invalid, {off + k, off + k + 1});
        }
    }
    return value;
}

void decode_integer(std::string_view body, std::size_t off, bool negative, std::optional<std::size_t> sign_at,
                    Span word, Reporter& report, BareScalar& out) {
    out.kind = ScalarKind::Integer;
    unsigned radix = 10;
    std::string_view invalid = "invalid integer number";
    bool prefixed = false;
    if (body.size() >= 2 && body[0] == '0') {
        const char r = body[1];
        switch (r) {
            case 'x':
            case 'X':
                radix = 16;
                invalid = "invalid hexadecimal number";
                prefixed = true;
                break;
            case 'o':
            case 'O':
                radix = 8;
                invalid = "invalid octal number";
                prefixed = true;
                break;
            case 'b':
            case 'B':
                radix = 2;
                invalid = "invalid binary number";
                prefixed = true;
                break;
            case 'd':
            case 'D': prefixed = true; break;
            default: break;
        }
        if (prefixed) {
            const Span prefix{off, off + 2};
            if (r == 'd' || r == 'D') {
                report("redundant integer number prefix", prefix);
            } else {
                if (sign_at) report("integers with a radix cannot be signed", {*sign_at, *sign_at + 1});
                if (r == 'X') report("radix must be lowercase", {E::literal("0x")}, prefix);
                if (r == 'O') report("radix must be lowercase", {E::literal("0o")}, prefix);
                if (r == 'B') report("radix must be lowercase", {E::literal("0b")}, prefix);
            }
            body.remove_prefix(2);
            off += 2;
        }
    }
    if (!prefixed && body.size() > 1 && body[0] == '0') report("unexpected leading zero", {}, {off, off + 1});

    bool overflow = false;
    const std::uint64_t magnitude = integer_digits(body, off, radix, invalid, prefixed, report, overflow);
    const std::uint64_t max = negative ? std::uint64_t{1} << 63 : (std::uint64_t{1} << 63) - 1;
    if (overflow || magnitude > max) {
        report("integer number overflowed", word);
        return;
    }
    out.integer = negative ? static_cast<std::int64_t>(0 - magnitude) : static_cast<std::int64_t>(magnitude);
}

// One part of a float (mantissa, fraction or exponent digits).
void float_part(std::string_view part, std::size_t off, std::string_view invalid, Reporter& report) {
    if (part.empty()) report(invalid, {E::description("digits")}, {off, off});
    for (std::size_t k = 0; k < part.size(); ++k) {
        const char c = part[k];
        if (is_digit(c)) continue;
        if (c == '_') {
            const bool before = k > 0 && is_digit(part[k - 1]);
            const bool after = k + 1 < part.size() && is_digit(part[k + 1]);
            if (!before || !after) report(kUnderscore, {}, {off + k, off + k + 1});
        } else {
            report(invalid, {E::description("digits")}, {off + k, off + k + 1});
        }
    }
}

// Whether a float text that std::from_chars found out of range is too large
// (rather than too small): the position of its first significant digit
// relative to the decimal point, plus the exponent, is positive.
bool float_text_overflows(std::string_view digits) {
    std::size_t k = 0;
    std::int64_t point = 0;  // decimal exponent of the first significant digit
    while (k < digits.size() && is_digit(digits[k]) && digits[k] == '0') ++k;
    std::size_t int_digits = 0;
    while (k < digits.size() && is_digit(digits[k])) ++k, ++int_digits;
    if (int_digits > 0) {
        point = static_cast<std::int64_t>(int_digits);
    } else if (k < digits.size() && digits[k] == '.') {
        ++k;
        std::int64_t zeros = 0;
        while (k < digits.size() && digits[k] == '0') ++k, ++zeros;
        point = -zeros;
    }
    while (k < digits.size() && digits[k] != 'e' && digits[k] != 'E') ++k;
    std::int64_t exponent = 0;
    if (k < digits.size()) {
        ++k;
        bool neg = false;
        if (k < digits.size() && (digits[k] == '+' || digits[k] == '-')) neg = digits[k++] == '-';
        for (; k < digits.size() && is_digit(digits[k]); ++k) {
            if (exponent < (std::int64_t{1} << 40)) exponent = exponent * 10 + (digits[k] - '0');
        }
        if (neg) exponent = -exponent;
    }
    return point + exponent > 0;
}

void decode_float(std::string_view body, std::size_t off, bool negative, Span word, Reporter& report,
                  BareScalar& out) {
    out.kind = ScalarKind::Float;
    const std::size_t mantissa_end = std::min(body.find_first_of(".eE"), body.size());
    const std::string_view mantissa = body.substr(0, mantissa_end);
    if (mantissa.size() > 1 && mantissa[0] == '0') report("unexpected leading zero", {}, {off, off + 1});
    float_part(mantissa, off, "invalid mantissa", report);
    std::size_t k = mantissa_end;
    if (k < body.size() && body[k] == '.') {
        ++k;
        const std::size_t fraction_end = std::min(body.find_first_of("eE", k), body.size());
        float_part(body.substr(k, fraction_end - k), off + k, "invalid fraction", report);
        k = fraction_end;
    }
    if (k < body.size()) {  // 'e' or 'E'
        ++k;
        if (k < body.size() && (body[k] == '+' || body[k] == '-')) ++k;
        float_part(body.substr(k), off + k, "invalid exponent", report);
    }
    if (report.failed) return;

    // The text without underscores, converted with correct rounding.
    char small[128];
    String large;
    char* buf = small;
    if (body.size() > sizeof small) {
        large.resize(body.size());
        buf = large.data();
    }
    std::size_t len = 0;
    for (char c : body) {
        if (c != '_') buf[len++] = c;
    }
    double value = 0.0;
    const auto [ptr, ec] = std::from_chars(buf, buf + len, value);
    if (ec == std::errc::result_out_of_range) {
        if (float_text_overflows(std::string_view(buf, len))) {
            report("floating-point number overflowed", word);
            value = std::numeric_limits<double>::infinity();
        } else {
            value = 0.0;
        }
    } else if (ec != std::errc() || ptr != buf + len) {
        report("invalid float", {}, word);
        return;
    } else if (std::isinf(value)) {
        report("floating-point number overflowed", word);
    }
    out.floating = negative ? -value : value;
}

// `inf` or `nan` after an optional sign.
void decode_special_float(std::string_view body, bool negative, Span word, Reporter& report,
                          BareScalar& out) {
    out.kind = ScalarKind::Float;
    if (body == "inf") {
        out.floating =
            negative ? -std::numeric_limits<double>::infinity() : std::numeric_limits<double>::infinity();
    } else if (body == "nan") {
        out.floating = std::copysign(std::numeric_limits<double>::quiet_NaN(), negative ? -1.0 : 1.0);
    } else {
        report("invalid float", {body[0] == 'i' ? E::literal("inf") : E::literal("nan")}, word);
    }
}

void decode_number(std::string_view body, std::size_t off, bool negative, std::optional<std::size_t> sign_at,
                   Span word, Reporter& report, BareScalar& out) {
    // Most numbers are plain decimal integers: digits only, no leading zero,
    // and at most 18 of them, which no 64-bit integer overflows.
    if (!body.empty() && body.size() <= 18 && (body[0] != '0' || body.size() == 1)) {
        std::uint64_t value = 0;
        std::size_t k = 0;
        for (; k < body.size(); ++k) {
            const unsigned d = static_cast<unsigned char>(body[k]) - unsigned{'0'};
            if (d > 9) break;
            value = value * 10 + d;
        }
        if (k == body.size()) {
            out.kind = ScalarKind::Integer;
            out.integer = negative ? -static_cast<std::int64_t>(value) : static_cast<std::int64_t>(value);
            return;
        }
    }
    const bool radix = body.size() >= 2 && body[0] == '0' &&
                       std::string_view("xXoObBdD").find(body[1]) != std::string_view::npos;
    // A plain loop: find_first_of would search ".eE" once per character.
    bool fractional = false;
    for (const char c : body) fractional |= c == '.' || c == 'e' || c == 'E';
    if (!radix && fractional) {
        decode_float(body, off, negative, word, report, out);
    } else {
        decode_integer(body, off, negative, sign_at, word, report, out);
    }
}

}  // namespace

std::size_t scan_string(std::string_view input, std::size_t pos, ErrorCollector& errors, String& scratch,
                        DecodedString& out) {
    scratch.clear();
    out = DecodedString{};
    const std::size_t n = input.size();
    if (pos >= n) return pos;
    const char q = input[pos];
    const bool multi = n - pos >= 3 && input[pos + 1] == q && input[pos + 2] == q;
    try {
        if (q == '"') {
            return multi ? scan_body<StringStyle::MultiLineBasic>(input, pos, errors, scratch, out)
                         : scan_body<StringStyle::Basic>(input, pos, errors, scratch, out);
        }
        return multi ? scan_body<StringStyle::MultiLineLiteral>(input, pos, errors, scratch, out)
                     : scan_body<StringStyle::Literal>(input, pos, errors, scratch, out);
    } catch (const std::bad_alloc&) {
        scratch.clear();
        scratch.shrink_to_fit();
        out.text = {};
        out.rewritten = true;
        errors.report("could not allocate for string", {pos, pos + 1});
        return n;
    }
}

void decode_bare_scalar(std::string_view input, Span word, ErrorCollector& errors, BareScalar& out) {
    out = BareScalar{};
    const std::size_t end = word.end < input.size() ? word.end : input.size();
    const std::size_t start = word.start < end ? word.start : end;
    const std::string_view text = input.substr(start, end - start);
    Reporter report{errors};

    if (text.empty()) {
        report("string values must be quoted", {E::description("literal string")}, word);
        return;
    }
    const char c0 = text[0];

    if (c0 == '+' || c0 == '-') {
        const bool negative = c0 == '-';
        std::size_t k = 1;
        if (k < text.size() && (text[k] == '+' || text[k] == '-')) {
            report("redundant numeric sign", {}, {start + k, start + k + 1});
            while (k < text.size() && (text[k] == '+' || text[k] == '-')) ++k;
        }
        const std::string_view body = text.substr(k);
        if (!body.empty() && (body[0] == 'i' || body[0] == 'n')) {
            decode_special_float(body, negative, word, report, out);
        } else {
            decode_number(body, start + k, negative, start, word, report, out);
        }
        return;
    }

    if (is_digit(c0)) {
        std::size_t k = 0;
        while (k < text.size() && is_digit(text[k])) ++k;
        const bool datetime = (k < text.size() && (text[k] == '-' || text[k] == ':')) ||
                              text.find(' ') != std::string_view::npos;
        if (datetime) {
            out.kind = ScalarKind::Datetime;
            DatetimeTextError error;
            if (!parse_datetime(text, out.datetime, error)) report(error.message(), word);
            return;
        }
        decode_number(text, start, false, std::nullopt, word, report, out);
        return;
    }

    if (c0 == 't' || c0 == 'f') {
        out.kind = ScalarKind::Boolean;
        out.boolean = c0 == 't';
        if (text != (c0 == 't' ? std::string_view("true") : std::string_view("false"))) {
            report("invalid boolean", {c0 == 't' ? E::literal("true") : E::literal("false")}, word);
        }
        return;
    }

    if (c0 == 'i' || c0 == 'n') {
        decode_special_float(text, false, word, report, out);
        return;
    }

    report("string values must be quoted", {E::description("literal string")}, word);
}

}  // namespace morvelan
