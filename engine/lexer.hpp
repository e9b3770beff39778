// Character classes and the small scanners the parser reads text with.
//
// The parser does not build a token list: it reads the input directly and
// calls these scanners for comments and line endings, and the decoder
// (decoder.hpp) for strings and bare scalars. Problems go to the collector;
// scanning always makes progress and never fails outright.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "error.hpp"

namespace morvelan {

namespace detail {
constexpr std::array<bool, 256> make_char_class(std::string_view members, bool alnum) {
    std::array<bool, 256> t{};
    for (const char c : members) t[static_cast<unsigned char>(c)] = true;
    if (alnum) {
        for (int c = '0'; c <= '9'; ++c) t[static_cast<std::size_t>(c)] = true;
        for (int c = 'a'; c <= 'z'; ++c) t[static_cast<std::size_t>(c)] = true;
        for (int c = 'A'; c <= 'Z'; ++c) t[static_cast<std::size_t>(c)] = true;
    }
    return t;
}
inline constexpr std::array<bool, 256> kBareWordStop = make_char_class(" \t\n\r\"#',.=[]{}", false);
inline constexpr std::array<bool, 256> kBareKeyChar = make_char_class("-_", true);
}  // namespace detail

// Characters that end a bare word: space, tab, LF, CR, '"', '#', '\'', ',',
// '.', '=', '[', ']', '{', '}'. (A bare word used as a value is joined across
// dots by the parser.)
inline bool is_bare_word_stop(unsigned char c) noexcept { return detail::kBareWordStop[c]; }

// ASCII letters, digits, '-' and '_'.
inline bool is_bare_key_char(unsigned char c) noexcept { return detail::kBareKeyChar[c]; }

// The end of the bare key (a run of is_bare_key_char) starting at pos: pos
// itself when none starts there.
inline std::size_t scan_bare_key(std::string_view input, std::size_t pos) noexcept {
    while (pos < input.size() && is_bare_key_char(static_cast<unsigned char>(input[pos]))) ++pos;
    return pos;
}

// input[pos] == '#'. Checks every character of the comment ("invalid comment
// character", expected "printable characters"; tab and non-ASCII bytes are
// allowed) and returns the offset of the line ending that ends it ('\n', the
// '\r' of "\r\n", a lone '\r', or input.size()).
std::size_t scan_comment(std::string_view input, std::size_t pos, ErrorCollector& errors);

// One UTF-8 character read at input[pos] (pos < input.size()).
struct Utf8Char {
    bool valid = false;
    char32_t code = 0;  // when valid
    // When valid, the character's length. Otherwise the length of the
    // malformed sequence (at least 1): a byte that cannot start a character
    // (a stray continuation byte, C0, C1, F5 and above) alone; else the start
    // of a sequence up to the byte that breaks it, or up to the end of the
    // input. Overlong forms, surrogates (ED A0..BF) and code points above
    // U+10FFFF are malformed at their second byte.
    std::size_t length = 0;
};
Utf8Char read_utf8(std::string_view input, std::size_t pos) noexcept;

// Offset after a run of spaces and tabs starting at pos.
inline std::size_t skip_whitespace(std::string_view input, std::size_t pos) noexcept {
    const std::size_t n = input.size();
    while (pos < n && (input[pos] == ' ' || input[pos] == '\t')) ++pos;
    return pos;
}

// The end of the text of a bare value starting at `start` (the offset itself
// when no value text starts there): a bare word joined across dots ("3.14",
// "1979-05-27T07:32:00.5Z"), and a date joined with one space and a time
// ("1979-05-27 07:32:00").
std::size_t scan_bare_value(std::string_view input, std::size_t start) noexcept;

// input[pos] is '\n' or '\r'. Returns the offset after the line ending
// ("\n" or "\r\n"). A lone carriage return is reported ("carriage return must
// be followed by newline", expected newline) and skipped.
std::size_t scan_newline(std::string_view input, std::size_t pos, ErrorCollector& errors);

}  // namespace morvelan
