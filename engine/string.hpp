// Canonical text of keys and scalars that carry no recorded source spelling.
// Pure functions that append to a text buffer and cannot fail.
#pragma once

#include <cstdint>
#include <string_view>

#include "alloc.hpp"
#include "datetime.hpp"

namespace morvelan {

// Bare when non-empty and only ASCII letters, digits, '_' and '-';
// otherwise quoted (basic, literal, or basic with escapes).
void append_key_text(String& out, std::string_view key);

// The first of the six string styles that fits the text.
void append_string_text(String& out, std::string_view text);

// Decimal, leading '-' for negatives.
void append_integer_text(String& out, std::int64_t value);

// Shortest round-trip decimal in positional notation, ".0" for whole
// numbers, "nan"/"-nan", "inf"/"-inf", "0.0"/"-0.0".
void append_float_text(String& out, double value);

void append_bool_text(String& out, bool value);

// True when the key can be written without quotes.
bool is_bare_key(std::string_view key) noexcept;

}  // namespace morvelan
