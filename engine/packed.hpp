// Reading the element text of a packed array (see array.hpp) back into
// items, one element at a time.
#pragma once

#include <memory>
#include <string_view>

#include "decoder.hpp"
#include "tree_item.hpp"

namespace morvelan {

class PackedElements {
public:
    // `text` is a packed array's element text; it must outlive the reader,
    // and the items read from it hold pieces of it.
    explicit PackedElements(std::string_view text);
    ~PackedElements();
    PackedElements(const PackedElements&) = delete;
    PackedElements& operator=(const PackedElements&) = delete;

    // Reads the next element into `out`, with its prefix and suffix decor;
    // false after the last one.
    bool next(TreeItem& out);
    // Where the text of the next element starts (after the comma that ends
    // the last one read).
    std::size_t offset() const noexcept;

private:
    struct State;
    std::unique_ptr<State> state_;
};

// Reads a packed array's elements without a parser when each is plain: a
// basic string without escapes, a literal string (neither multi-line), or a
// bare word (a number, a boolean, a date-time without a space in it), with
// spaces, tabs, line endings and comments around the commas. The text was
// read by the parser when the document was parsed, so it is known to be
// valid: the text between a string's quotes is its value, and a bare word is
// decoded by the parser's own decoder. Any other element makes the reader
// give up (Other); the caller then reads the array with PackedElements.
class PlainElements {
public:
    explicit PlainElements(std::string_view text) noexcept
        : text_(text), p_(text.data()), end_(text.data() + text.size()) {}

    enum class Kind { String, Scalar, End, Other };
    struct Element {
        Kind kind = Kind::Other;
        std::string_view text;  // String: the value, a view of the array's text
        BareScalar scalar;      // Scalar
    };
    // The next element; End after the last one.
    Element next();

private:
    void skip_layout() noexcept;
    Element string();
    Element bare();

    std::string_view text_;
    const char* p_;
    const char* end_;
    bool started_ = false;  // an element was read and a comma followed it
};

}  // namespace morvelan
