#include "packed.hpp"

#include <cstring>

namespace morvelan {

PlainElements::Element PlainElements::next() {
    skip_layout();
    if (p_ == end_) return {started_ ? Kind::Other : Kind::End, {}, {}};  // no element after a comma
    started_ = true;
    const Element e = (*p_ == '"' || *p_ == '\'') ? string() : bare();
    if (e.kind == Kind::Other) return e;
    skip_layout();
    if (p_ == end_) {
        started_ = false;  // the last element
        return e;
    }
    if (*p_ != ',') return {};
    ++p_;
    return e;
}

// Spaces, tabs, line endings and comments (the text is valid: a carriage
// return ends a line, and a comment runs to the next line feed).
void PlainElements::skip_layout() noexcept {
    while (p_ != end_) {
        const char c = *p_;
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
            ++p_;
        } else if (c == '#') {
            const void* lf = std::memchr(p_, '\n', static_cast<std::size_t>(end_ - p_));
            p_ = lf ? static_cast<const char*>(lf) : end_;
        } else {
            return;
        }
    }
}

PlainElements::Element PlainElements::string() {
    const char quote = *p_;
    const char* body = p_ + 1;
    if (end_ - body >= 2 && body[0] == quote && body[1] == quote) return {};  // multi-line
    const auto* close =
        static_cast<const char*>(std::memchr(body, quote, static_cast<std::size_t>(end_ - body)));
    if (!close) return {};
    const auto size = static_cast<std::size_t>(close - body);
    if (quote == '"' && std::memchr(body, '\\', size)) return {};
    p_ = close + 1;
    return {Kind::String, std::string_view(body, size), {}};
}

// A bare word, decoded as the parser decodes it. A date and a time with a
// space between them are one word to the parser: not plain here.
PlainElements::Element PlainElements::bare() {
    const char* q = p_;
    while (q != end_ && *q != ',' && *q != ' ' && *q != '\t' && *q != '\n' && *q != '\r' && *q != '#') ++q;
    if (q != end_ && *q == ' ' && end_ - q > 1 && q[1] >= '0' && q[1] <= '9') return {};
    const auto at = [&](const char* c) { return static_cast<std::size_t>(c - text_.data()); };
    ErrorCollector errors;
    Element e{Kind::Scalar, {}, {}};
    decode_bare_scalar(text_, Span{at(p_), at(q)}, errors, e.scalar);
    if (errors.has_error()) return {};
    p_ = q;
    return e;
}

}  // namespace morvelan
