// Decoding of scalar text: the four string styles with their escapes, and
// bare words used as values (integers in four radixes, floats, booleans,
// inf/nan, and date-times handed to parse_datetime).
//
// Decoding never stops at the first problem: each problem is reported to the
// collector with its fixed message and span, and decoding goes on with a
// best-effort value.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "alloc.hpp"
#include "datetime.hpp"
#include "error.hpp"

namespace morvelan {

enum class StringStyle : std::uint8_t { Basic, Literal, MultiLineBasic, MultiLineLiteral };

struct DecodedString {
    StringStyle style = StringStyle::Basic;
    // The decoded text. When `rewritten` is false it is a view of the input
    // (nothing needed unescaping or trimming); otherwise a view of `scratch`.
    std::string_view text;
    bool rewritten = false;
};

// input[pos] is '"' or '\''. Scans one string token (basic, literal, or their
// multi-line forms), reports every problem, decodes it into `out` and returns
// the offset just past the closing delimiter. When the closing delimiter is
// missing the problem is reported and the returned offset is where scanning
// stopped (a single-line string stops before the line ending).
// `scratch` is cleared and receives rewritten text.
std::size_t scan_string(std::string_view input, std::size_t pos, ErrorCollector& errors, String& scratch,
                        DecodedString& out);

enum class ScalarKind : std::uint8_t { Integer, Float, Boolean, Datetime };

struct BareScalar {
    ScalarKind kind = ScalarKind::Integer;
    std::int64_t integer = 0;
    double floating = 0.0;
    bool boolean = false;
    Datetime datetime;
};

// input[word.start, word.end) is a bare word used as a value (the parser has
// already joined it across dots, and a date with one space and a time).
// Classifies and decodes it; problems are reported with spans into `input`.
void decode_bare_scalar(std::string_view input, Span word, ErrorCollector& errors, BareScalar& out);

}  // namespace morvelan
