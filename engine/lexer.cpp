// Character classes and the layout scanners: comments, line endings,
// whitespace, and UTF-8 validation shared with the string decoder.
#include "lexer.hpp"

#include <array>
#include <bit>
#include <cstring>

namespace morvelan {
namespace {

constexpr std::array<bool, 256> make_bare_word_stop() {
    std::array<bool, 256> t{};
    for (unsigned char c : std::string_view(" \t\n\r\"#',.=[]{}")) t[c] = true;
    return t;
}
constexpr std::array<bool, 256> kBareWordStop = make_bare_word_stop();

constexpr std::array<bool, 256> make_bare_key_char() {
    std::array<bool, 256> t{};
    for (int c = '0'; c <= '9'; ++c) t[c] = true;
    for (int c = 'a'; c <= 'z'; ++c) t[c] = true;
    for (int c = 'A'; c <= 'Z'; ++c) t[c] = true;
    t['-'] = t['_'] = true;
    return t;
}
constexpr std::array<bool, 256> kBareKeyChar = make_bare_key_char();

constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
constexpr std::uint64_t kHighs = 0x8080808080808080ULL;

// Bit 7 of each byte of the result is set for the bytes of `v` that are below
// 0x20, 0x7F, or 0x80 and above; the lowest set bit marks the first of them.
inline std::uint64_t comment_special_mask(std::uint64_t v) noexcept {
    const std::uint64_t below_space = (v - kOnes * 0x20) & ~v & kHighs;
    const std::uint64_t x = v ^ (kOnes * 0x7F);
    const std::uint64_t del = (x - kOnes) & ~x & kHighs;
    return below_space | del | (v & kHighs);
}

}  // namespace

bool is_bare_word_stop(unsigned char c) noexcept { return kBareWordStop[c]; }

bool is_bare_key_char(unsigned char c) noexcept { return kBareKeyChar[c]; }

std::size_t utf8_sequence_length(std::string_view input, std::size_t pos) noexcept {
    const std::size_t n = input.size();
    if (pos >= n) return 0;
    auto byte = [&](std::size_t i) -> unsigned { return static_cast<unsigned char>(input[i]); };
    const unsigned c = byte(pos);
    std::size_t len;
    unsigned lo = 0x80, hi = 0xBF;  // range of the second byte
    if (c < 0x80) {
        return 1;
    } else if (c < 0xC2) {
        return 0;  // continuation byte, or overlong two-byte form
    } else if (c < 0xE0) {
        len = 2;
    } else if (c < 0xF0) {
        len = 3;
        if (c == 0xE0) lo = 0xA0;  // overlong
        if (c == 0xED) hi = 0x9F;  // surrogates
    } else if (c < 0xF5) {
        len = 4;
        if (c == 0xF0) lo = 0x90;  // overlong
        if (c == 0xF4) hi = 0x8F;  // above U+10FFFF
    } else {
        return 0;
    }
    if (n - pos < len) return 0;
    const unsigned c1 = byte(pos + 1);
    if (c1 < lo || c1 > hi) return 0;
    for (std::size_t k = 2; k < len; ++k) {
        if ((byte(pos + k) & 0xC0) != 0x80) return 0;
    }
    return len;
}

std::size_t scan_comment(std::string_view input, std::size_t pos, ErrorCollector& errors) {
    const char* p = input.data();
    const std::size_t n = input.size();
    std::size_t i = pos + 1;
    for (;;) {
        if constexpr (std::endian::native == std::endian::little) {
            while (n - i >= 8) {
                std::uint64_t v;
                std::memcpy(&v, p + i, 8);
                const std::uint64_t m = comment_special_mask(v);
                if (m != 0) {
                    i += static_cast<std::size_t>(std::countr_zero(m)) >> 3;
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
            const std::size_t len = utf8_sequence_length(input, i);
            if (len != 0) {
                i += len;
                continue;
            }
        }
        errors.report("invalid comment character", {Expected::description("printable characters")},
                      {i, i + 1});
        ++i;
    }
}

std::size_t skip_whitespace(std::string_view input, std::size_t pos) noexcept {
    const std::size_t n = input.size();
    while (pos < n && (input[pos] == ' ' || input[pos] == '\t')) ++pos;
    return pos;
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
