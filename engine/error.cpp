// Parse problems, the collector that keeps the first one, and the report text.
//
// The report locates the span in the input with single linear scans (the
// input may be very large), so building it never costs more than a pass over
// the text before the error and over the line that holds it.
#include "error.hpp"

#include <algorithm>
#include <utility>

#include "lexer.hpp"

namespace morvelan {

namespace {

// Control characters as shown in messages: C0, DEL and C1 (U+0080..U+009F).
bool is_control(char32_t c) noexcept { return c < 0x20 || (c >= 0x7F && c <= 0x9F); }

void append_hex(std::string& out, char32_t c) {
    static const char digits[] = "0123456789abcdef";
    char buf[8];
    int n = 0;
    do {
        buf[n++] = digits[c & 0xF];
        c >>= 4;
    } while (c != 0);
    while (n > 0) out.push_back(buf[--n]);
}

// A literal made only of control characters, escaped: \t, \n, \r, \0, and
// \u{hex} for the others.
bool append_escaped_controls(std::string& out, std::string_view text) {
    std::string escaped;
    for (std::size_t pos = 0; pos < text.size();) {
        const Utf8Char u = read_utf8(text, pos);
        const char32_t c = u.code;
        const std::size_t len = u.length;
        if (!u.valid || !is_control(c)) return false;
        switch (c) {
            case '\t': escaped += "\\t"; break;
            case '\n': escaped += "\\n"; break;
            case '\r': escaped += "\\r"; break;
            case '\0': escaped += "\\0"; break;
            default:
                escaped += "\\u{";
                append_hex(escaped, c);
                escaped += '}';
                break;
        }
        pos += len;
    }
    out += escaped;
    return true;
}

void append_expected(std::string& out, const Expected& e) {
    if (e.kind == Expected::Kind::Description) {
        out += e.text;
    } else if (e.text == "\n") {
        out += "newline";
    } else if (e.text == "`") {
        out += "'`'";
    } else {
        out += '`';
        if (e.text.empty() || !append_escaped_controls(out, e.text)) out += e.text;
        out += '`';
    }
}

// Where an offset falls: the start of its line, the 0-based line index and the
// 0-based column.
struct Location {
    std::size_t line_start = 0;
    std::size_t line = 0;
    std::size_t column = 0;
};

// Whether text[from, to) is well-formed UTF-8; counts its characters.
bool count_chars(std::string_view text, std::size_t from, std::size_t to, std::size_t& count) noexcept {
    count = 0;
    std::string_view part = text.substr(0, to);
    for (std::size_t pos = from; pos < to;) {
        if (static_cast<unsigned char>(part[pos]) < 0x80) {
            ++pos;
        } else {
            const Utf8Char u = read_utf8(part, pos);
            if (!u.valid) return false;
            pos += u.length;
        }
        ++count;
    }
    return true;
}

Location locate(std::string_view input, std::size_t offset) noexcept {
    Location loc;
    if (input.empty()) {
        loc.column = offset;
        return loc;
    }
    // Past the end: measure the last byte and add the excess to the column.
    const std::size_t pos = std::min(offset, input.size() - 1);
    const std::size_t excess = offset - pos;

    const std::size_t newline = input.substr(0, pos).rfind('\n');
    loc.line_start = newline == std::string_view::npos ? 0 : newline + 1;
    loc.line = static_cast<std::size_t>(std::count(input.begin(), input.begin() + loc.line_start, '\n'));

    // The column counts characters of the line up to and including the one
    // at `pos`, less one. When that does not end on a character boundary
    // (`pos` starts a multi-byte character) it counts bytes instead.
    std::size_t chars;
    if (count_chars(input, loc.line_start, pos + 1, chars)) {
        loc.column = chars - 1;
    } else {
        loc.column = pos - loc.line_start;
    }
    loc.column += excess;
    return loc;
}

std::size_t decimal_digits(std::size_t n) noexcept {
    std::size_t digits = 1;
    while (n >= 10) {
        n /= 10;
        ++digits;
    }
    return digits;
}

ParseErrorReport make_report(const Problem& problem, SharedText input) {
    ParseErrorReport report;
    report.message = problem.message();
    report.raw.emplace(std::move(input));
    report.span = problem.span;
    report.out_of_stack = problem.out_of_stack;
    return report;
}

bool is_continuation(char c) noexcept { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// The report shows the source line character by character: a well-formed
// character as itself, except a control character (C0 but tab, DEL, C1), which
// would act on the terminal (an escape sequence, a bell, a carriage return
// that overwrites the line), as one visible symbol: the control picture
// U+2400 + code for C0, U+2421 for DEL, U+2426 for C1; a malformed UTF-8
// sequence as U+FFFD. Each source character is one shown character, so the
// carets line up by counting characters.
struct Shown {
    std::size_t length;  // bytes of the source character
    char32_t symbol;     // what stands for it, or 0: the source bytes themselves
};

Shown shown_at(std::string_view text, std::size_t pos) noexcept {
    const auto b = static_cast<unsigned char>(text[pos]);
    if ((b >= 0x20 && b < 0x7F) || b == '\t') return {1, 0};
    if (b < 0x80) return {1, b == 0x7F ? char32_t{0x2421} : char32_t{0x2400} + b};
    const Utf8Char u = read_utf8(text, pos);
    if (!u.valid) return {u.length, 0xFFFD};
    return {u.length, u.code <= 0x9F ? char32_t{0x2426} : char32_t{0}};
}

// The symbols are all three-byte characters.
void append_symbol(std::string& out, char32_t c) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
}

void append_shown(std::string& out, std::string_view text) {
    for (std::size_t pos = 0; pos < text.size();) {
        const Shown s = shown_at(text, pos);
        if (s.symbol != 0) {
            append_symbol(out, s.symbol);
        } else {
            out.append(text.substr(pos, s.length));
        }
        pos += s.length;
    }
}

// The bytes [left, right) of the source line that the report shows, all of
// it or, for a long line, a window around the error.
struct Excerpt {
    std::size_t left = 0;
    std::size_t right = 0;
};

// `at` is the error's byte offset in the line (past its end when the span
// starts beyond the input).
Excerpt cut_long_line(std::string_view line, std::size_t at) noexcept {
    constexpr std::size_t window = ParseErrorReport::kWindow;
    const std::size_t in_line = std::min(at, line.size());
    // Two windows' worth of the line, centred on the error where the line allows.
    std::size_t left = in_line > window ? in_line - window : 0;
    const std::size_t right_limit = std::min(line.size(), left + 2 * window);
    if (right_limit - left < 2 * window) left = right_limit > 2 * window ? right_limit - 2 * window : 0;
    std::size_t right = right_limit;
    // Never split a character (a run of stray continuation bytes is cut anyway).
    for (int k = 0; k < 3 && left > 0 && left < in_line && is_continuation(line[left]); ++k) ++left;
    for (int k = 0; k < 3 && right < line.size() && right > in_line && is_continuation(line[right]); ++k)
        --right;
    return Excerpt{left, right};
}

// The caret line after "|": the shown characters before the error as blanks
// (a tab as a tab, so that both lines expand it alike), `excess` more blanks
// for an error past the end of the line, and a caret under each character of
// line[at, span_end), at least one. An `at` inside a character points at
// that character.
void append_carets(std::string& out, std::string_view line, std::size_t from, std::size_t at,
                   std::size_t excess, std::size_t span_end) {
    std::size_t pos = from;
    while (pos < at) {
        const Shown s = shown_at(line, pos);
        if (pos + s.length > at) break;
        out += line[pos] == '\t' ? '\t' : ' ';
        pos += s.length;
    }
    out.append(excess, ' ');
    std::size_t carets = 0;
    while (pos < span_end) {
        pos += shown_at(line, pos).length;
        ++carets;
    }
    out.append(std::max<std::size_t>(carets, 1), '^');
}

}  // namespace

std::string Problem::message() const {
    std::string text = description;
    if (!expected) return text;
    text += ", expected ";
    if (expected->empty()) {
        text += "nothing";
        return text;
    }
    bool first = true;
    for (const Expected& e : *expected) {
        if (!first) text += ", ";
        first = false;
        append_expected(text, e);
    }
    return text;
}

void ErrorCollector::report(std::string_view description, Span span) {
    if (first_) return;
    first_.emplace(Problem{std::string(description), std::nullopt, span});
}

void ErrorCollector::report(std::string_view description, std::initializer_list<Expected> expected,
                            Span span) {
    if (first_) return;
    first_.emplace(Problem{std::string(description), std::vector<Expected>(expected), span});
}

void ErrorCollector::report(Problem problem) {
    if (first_) return;
    first_.emplace(std::move(problem));
}

void ErrorCollector::report_out_of_stack(Span span) {
    if (first_) return;
    Problem p{"cannot recurse further; not enough stack left in this thread", std::nullopt, span};
    p.out_of_stack = true;
    first_.emplace(std::move(p));
}

ParseErrorReport make_report(const Problem& problem, std::string_view input) {
    return make_report(problem, SharedText(input));
}

ParseErrorReport make_report(const Problem& problem, SourceBuffer input) {
    return make_report(problem, SharedText(std::move(input)));
}

LineColumn line_column(std::string_view input, std::size_t offset) {
    const Location loc = locate(input, offset);
    return LineColumn{loc.line + 1, loc.column + 1};
}

std::string ParseErrorReport::display() const {
    std::string out;
    if (!raw || !span) {
        append_shown(out, message);
        out += '\n';
        if (!keys.empty()) {
            out += "in `";
            for (std::size_t i = 0; i < keys.size(); ++i) {
                if (i != 0) out += '.';
                append_shown(out, keys[i]);
            }
            out += "`\n";
        }
        return out;
    }

    const std::string_view input = raw->view();
    const Location loc = locate(input, span->start);
    const std::size_t line_number = loc.line + 1;
    const std::size_t gutter = decimal_digits(line_number);

    std::size_t line_end = input.find('\n', loc.line_start);
    if (line_end == std::string_view::npos) line_end = input.size();
    const std::string_view source_line = input.substr(loc.line_start, line_end - loc.line_start);

    // The error's offset in the line: past its end only for a span that starts
    // beyond the input, the excess then shown as blanks.
    const std::size_t at = span->start - loc.line_start;
    const std::size_t in_line = std::min(at, source_line.size());
    std::size_t excess = at - in_line;
    Excerpt excerpt{0, source_line.size()};
    if (source_line.size() > kLongLine) {
        excerpt = cut_long_line(source_line, at);
        excess = std::min(excess, kWindow);
    }
    const bool cut_left = excerpt.left > 0;
    const bool cut_right = excerpt.right < source_line.size();
    const std::size_t span_length = span->end > span->start ? span->end - span->start : 0;
    const std::size_t span_end = in_line + std::min(span_length, excerpt.right - in_line);

    const std::size_t shown = excerpt.right - excerpt.left;
    out.reserve(3 * shown + shown + 3 * message.size() + 3 * gutter + 80);
    out += "TOML parse error at line ";
    out += std::to_string(line_number);
    out += ", column ";
    out += std::to_string(loc.column + 1);
    out += '\n';
    out.append(gutter + 1, ' ');
    out += "|\n";
    out += std::to_string(line_number);
    out += " | ";
    if (cut_left) out += "...";
    append_shown(out, source_line.substr(excerpt.left, shown));
    if (cut_right) out += "...";
    out += '\n';
    out.append(gutter + 1, ' ');
    out += "| ";
    if (cut_left) out += "   ";
    append_carets(out, source_line, excerpt.left, in_line, excess, span_end);
    out += '\n';
    append_shown(out, message);
    out += '\n';
    return out;
}

}  // namespace morvelan
