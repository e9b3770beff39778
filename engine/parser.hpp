// Reading TOML text: whole documents and single value fragments.
//
// The parser reads the text once, building the tree directly; every run of
// whitespace, comment and source spelling is stored in the decor, spelling
// and trailing fields, so that writing the tree gives the text back. The
// input is first copied into a buffer the document owns; the tree's texts
// are pieces of that buffer, so nothing refers to the caller's text once
// parsing returns.
#pragma once

#include <optional>
#include <string_view>
#include <variant>

#include "document.hpp"
#include "error.hpp"

namespace morvelan {

// Arrays and inline tables may nest this deep in a value, and a key path (a
// table header, a dotted key) may have this many keys.
inline constexpr std::size_t kMaxNesting = 80;
inline constexpr std::size_t kMaxKeyPath = 80;

template <class T>
class ParseResult {
public:
    ParseResult(T value) : v_(std::move(value)) {}
    ParseResult(ParseErrorReport error) : v_(std::move(error)) {}

    bool ok() const noexcept { return v_.index() == 0; }
    T& value() noexcept { return std::get<0>(v_); }
    const T& value() const noexcept { return std::get<0>(v_); }
    const ParseErrorReport& error() const noexcept { return std::get<1>(v_); }

private:
    std::variant<T, ParseErrorReport> v_;
};

// Parses a whole document.
[[nodiscard]] ParseResult<DocumentRoot> parse_document(std::string_view text);
// The same for a source that the document (and the report of a failure)
// shares instead of copying.
[[nodiscard]] ParseResult<DocumentRoot> parse_document(SourceBuffer source);

// Parses one value (scalar, array or inline table), optionally surrounded by
// whitespace. The value's own decor is absent; its spelling and inner layout
// are kept. Its texts are owned (it has no document buffer).
[[nodiscard]] ParseResult<TreeItem> parse_value(std::string_view text);

}  // namespace morvelan
