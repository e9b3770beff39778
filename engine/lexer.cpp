// Character classes and the layout scanners: comments, line endings,
// whitespace, and UTF-8 validation shared with the string decoder.
#include "lexer.hpp"

#include "bytes8.hpp"

namespace morvelan {

Utf8Char read_utf8(std::string_view input, std::size_t pos) noexcept {
    const std::size_t n = input.size();
    auto byte = [&](std::size_t i) -> unsigned { return static_cast<unsigned char>(input[i]); };
    const unsigned c = byte(pos);
    if (c < 0x80) return Utf8Char{true, c, 1};
    std::size_t len;
    unsigned lo = 0x80, hi = 0xBF;  // range of the second byte
    char32_t code;
    if (c >= 0xC2 && c <= 0xDF) {
        len = 2;
        code = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
        len = 3;
        code = c & 0x0F;
        if (c == 0xE0) lo = 0xA0;  // overlong
        if (c == 0xED) hi = 0x9F;  // surrogates
    } else if (c >= 0xF0 && c <= 0xF4) {
        len = 4;
        code = c & 0x07;
        if (c == 0xF0) lo = 0x90;  // overlong
        if (c == 0xF4) hi = 0x8F;  // above U+10FFFF
    } else {
        return Utf8Char{false, 0, 1};
    }
    for (std::size_t k = 1; k < len; ++k) {
        if (pos + k >= n) return Utf8Char{false, 0, n - pos};
        const unsigned b = byte(pos + k);
        if (b < (k == 1 ? lo : 0x80) || b > (k == 1 ? hi : 0xBF)) return Utf8Char{false, 0, k};
        code = (code << 6) | (b & 0x3F);
    }
    return Utf8Char{true, code, len};
}

std::size_t scan_comment(std::string_view input, std::size_t pos, ErrorCollector& errors) {
    const char* p = input.data();
    const std::size_t n = input.size();
    std::size_t i = pos + 1;
    for (;;) {
        if constexpr (bytes8::kLittleEndian) {
            while (n - i >= 8) {
                const std::uint64_t m = bytes8::not_printable(bytes8::load(p + i));
                if (m != 0) {
                    i += bytes8::first_flagged(m);
                    break;
                }
                i += 8;
            }
        }
        while (i < n) {
            const unsigned char c = static_cast<unsigned char>(p[i]);
            if (c < 0x20 || c >= 0x7F) break;
            ++i;
        }
        if (i >= n) return n;
        const unsigned char c = static_cast<unsigned char>(p[i]);
        if (c == '\n' || c == '\r') return i;
        if (c == '\t') {
            ++i;
            continue;
        }
        if (c >= 0x80) {
            const Utf8Char u = read_utf8(input, i);
            if (u.valid) {
                i += u.length;
                continue;
            }
        }
        errors.report("invalid comment character", {Expected::description("printable characters")},
                      {i, i + 1});
        ++i;
    }
}

std::size_t scan_bare_value(std::string_view input, std::size_t start) noexcept {
    const std::size_t n = input.size();
    const auto digit = [&](std::size_t i) { return input[i] >= '0' && input[i] <= '9'; };
    const auto word_end = [&](std::size_t p) {
        while (p < n) {
            const unsigned char ch = static_cast<unsigned char>(input[p]);
            if (ch != '.' && is_bare_word_stop(ch)) break;
            ++p;
        }
        return p;
    };
    std::size_t p = word_end(start);
    if (p == start) return p;
    // A date and a time separated by one space are one value.
    if (p + 1 < n && input[p] == ' ' && digit(p + 1)) {
        std::size_t d = start;
        while (d < p && digit(d)) ++d;
        if (d < p && input[d] == '-') {
            std::size_t t = p + 1;
            while (t < n && digit(t)) ++t;
            if (t < n && input[t] == ':') p = word_end(p + 1);
        }
    }
    return p;
}

std::size_t scan_newline(std::string_view input, std::size_t pos, ErrorCollector& errors) {
    if (pos >= input.size()) return pos;
    if (input[pos] == '\r') {
        if (pos + 1 < input.size() && input[pos + 1] == '\n') return pos + 2;
        errors.report("carriage return must be followed by newline", {Expected::literal("\n")},
                      {pos, pos + 1});
    }
    return pos + 1;
}

}  // namespace morvelan
