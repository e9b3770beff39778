// Parse problems and the report a failed parse returns.
//
// Every layer that reads TOML text (scalar decoding, date-time parsing, the
// document builder) reports problems to one ErrorCollector. Only the first
// problem is kept; it becomes the ParseErrorReport whose display text is the
// error message shown to the user:
//
//   TOML parse error at line 1, column 5
//     |
//   1 | a = yes
//     |     ^^^
//   string values must be quoted, expected literal string
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "alloc.hpp"
#include "source.hpp"

namespace morvelan {

// A broken internal invariant, one that valid use never reaches (the one
// name for it in the engine, the edit layer and the module). It is thrown;
// the module's call frame reports it as PanicException.
struct InternalFault {
    const char* message;
};

// A byte range [start, end) of the input.
struct Span {
    std::size_t start = 0;
    std::size_t end = 0;
    bool operator==(const Span&) const = default;
};

// One entry of a problem's "expected" list.
struct Expected {
    enum class Kind : std::uint8_t {
        Description,  // a class of text, shown as is: value, key, digits
        Literal,      // a literal token, shown in backticks: `]`
    };
    Kind kind;
    std::string_view text;  // always a string literal

    static constexpr Expected description(std::string_view t) { return {Kind::Description, t}; }
    static constexpr Expected literal(std::string_view t) { return {Kind::Literal, t}; }
};

// What a lower layer reports.
struct Problem {
    std::string description;
    // Absent: the message has no ", expected ..." part. Present but empty:
    // the message ends in ", expected nothing".
    std::optional<std::vector<Expected>> expected;
    Span span;  // the unexpected token, or the place where something is missing
    // The thread's stack could not hold one more level of nesting: not a
    // fault of the text, which a thread with a larger stack reads.
    bool out_of_stack = false;

    // "{description}" or "{description}, expected {list}".
    std::string message() const;
};

// Keeps the first problem reported; later ones are ignored.
class ErrorCollector {
public:
    bool has_error() const noexcept { return first_.has_value(); }
    const std::optional<Problem>& first() const noexcept { return first_; }

    // A problem without an expected list.
    void report(std::string_view description, Span span);
    // A problem with an expected list (possibly empty: "expected nothing").
    void report(std::string_view description, std::initializer_list<Expected> expected, Span span);
    void report(Problem problem);
    // No stack left for the level of nesting opened at `span`.
    void report_out_of_stack(Span span);

private:
    std::optional<Problem> first_;
};

// The input of a failed parse, held by reference: the report of a document
// parse shares the buffer the parser read, so reporting never copies a large
// input.
class SharedText {
public:
    SharedText() = default;
    // Takes a copy of the text.
    explicit SharedText(std::string_view text) : buffer_(copy_source(text)) {}
    // Shares the buffer.
    explicit SharedText(SourceBuffer buffer) noexcept : buffer_(std::move(buffer)) {}

    std::string_view view() const noexcept { return buffer_ ? buffer_->view() : std::string_view(); }

private:
    SourceBuffer buffer_;
};

// The value a failed parse returns.
struct ParseErrorReport {
    std::string message;            // the error line (Problem::message)
    std::optional<SharedText> raw;  // the whole input
    std::vector<std::string> keys;  // a key path the error concerns (empty for parse errors)
    std::optional<Span> span;       // the bytes the error points at
    bool out_of_stack = false;      // see Problem::out_of_stack

    // The multi-line report: "TOML parse error at line {l}, column {c}",
    // gutter, source line, carets, message; each line ends in "\n". A source
    // line longer than kLongLine bytes is cut to a window of about
    // 2 * kWindow bytes around the error, "..." marking each cut side. The
    // text shows each control character (C0 but tab, DEL, C1) as one visible
    // symbol (U+2400 + code, U+2421, U+2426) and a malformed UTF-8 sequence as
    // U+FFFD, so that nothing in it acts on a terminal; the carets stand under
    // the characters of the span, counted as shown.
    std::string display() const;

    static constexpr std::size_t kLongLine = 320;
    static constexpr std::size_t kWindow = 80;
};

// Builds the report of a failed parse from the first problem and the input:
// a copy of the input, or the shared buffer that holds it.
ParseErrorReport make_report(const Problem& problem, std::string_view input);
ParseErrorReport make_report(const Problem& problem, SourceBuffer input);

// 1-based line and column of a byte offset, measured as the report does.
struct LineColumn {
    std::size_t line = 1;
    std::size_t column = 1;
};
LineColumn line_column(std::string_view input, std::size_t offset);

}  // namespace morvelan
