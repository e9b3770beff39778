// Date and time values: parsing of TOML date/time text and canonical display.
//
// The parser reads the text as a small token stream (digit runs and single
// punctuation characters; anything unexpected swallows the rest of the text)
// and checks presence, then widths, then ranges, so each malformed piece gets
// its own message.
#include "datetime.hpp"

#include <cstddef>
#include <cstdlib>

namespace morvelan {

namespace {

enum class Tok : std::uint8_t { Digits, Minus, Plus, Colon, Dot, Separator, Z, Other, End };

struct Token {
    Tok kind = Tok::End;
    std::size_t length = 0;   // characters the token takes (the width of a digit run)
    std::uint64_t value = 0;  // a digit run read as a decimal number (saturated)
    std::string_view digits;  // the digits themselves
};

class Tokens {
public:
    explicit Tokens(std::string_view text) noexcept : text_(text) {}

    Token peek() const noexcept {
        Token t;
        if (pos_ >= text_.size()) return t;
        const char c = text_[pos_];
        if (c >= '0' && c <= '9') {
            std::size_t end = pos_;
            std::uint64_t value = 0;
            while (end < text_.size() && text_[end] >= '0' && text_[end] <= '9') {
                const unsigned d = static_cast<unsigned>(text_[end] - '0');
                // Saturate: only widths and ranges are checked, never huge values.
                value = value > (UINT64_MAX - d) / 10 ? UINT64_MAX : value * 10 + d;
                ++end;
            }
            t.kind = Tok::Digits;
            t.length = end - pos_;
            t.value = value;
            t.digits = text_.substr(pos_, t.length);
            return t;
        }
        t.length = 1;
        switch (c) {
            case '-': t.kind = Tok::Minus; break;
            case '+': t.kind = Tok::Plus; break;
            case ':': t.kind = Tok::Colon; break;
            case '.': t.kind = Tok::Dot; break;
            case 'T':
            case 't':
            case ' ': t.kind = Tok::Separator; break;
            case 'Z':
            case 'z': t.kind = Tok::Z; break;
            default:
                t.kind = Tok::Other;
                t.length = text_.size() - pos_;
                break;
        }
        return t;
    }

    Token next() noexcept {
        Token t = peek();
        pos_ += t.length;
        return t;
    }

    bool at_end() const noexcept { return pos_ >= text_.size(); }

private:
    std::string_view text_;
    std::size_t pos_ = 0;
};

bool fail(DatetimeTextError& error, const char* component, const char* expected) noexcept {
    error.component = component;
    error.expected = expected;
    return false;
}

const char* day_range_expectation(unsigned days) noexcept {
    switch (days) {
        case 28: return "day between 01 and 28";
        case 29: return "day between 01 and 29";
        case 30: return "day between 01 and 30";
        default: return "day between 01 and 31";
    }
}

// Steps of the date: year (already read), '-', month, '-', day.
bool parse_date(Tokens& tokens, const Token& year, Date& out, DatetimeTextError& error) noexcept {
    const Token month = tokens.next();
    if (month.kind != Tok::Digits) return fail(error, "date", "month");
    if (tokens.next().kind != Tok::Minus) return fail(error, "date", "`-` (MM-DD)");
    const Token day = tokens.next();
    if (day.kind != Tok::Digits) return fail(error, "date", "day");

    if (year.length != 4) return fail(error, "date", "a four-digit year (YYYY)");
    if (month.length != 2) return fail(error, "date", "a two-digit month (MM)");
    if (day.length != 2) return fail(error, "date", "a two-digit day (DD)");

    if (month.value < 1 || month.value > 12) return fail(error, "date", "month between 01 and 12");
    const unsigned days =
        days_in_month(static_cast<unsigned>(year.value), static_cast<unsigned>(month.value));
    if (day.value < 1 || day.value > days) return fail(error, "date", day_range_expectation(days));

    out.year = static_cast<std::uint16_t>(year.value);
    out.month = static_cast<std::uint8_t>(month.value);
    out.day = static_cast<std::uint8_t>(day.value);
    return true;
}

std::uint32_t fraction_to_nanoseconds(std::string_view digits) noexcept {
    std::uint32_t ns = 0;
    std::uint32_t scale = 100000000;
    for (std::size_t i = 0; i < digits.size() && i < 9; ++i) {
        ns += static_cast<std::uint32_t>(digits[i] - '0') * scale;
        scale /= 10;
    }
    return ns;
}

// Steps of the time: hour, ':', minute, then optional ":second" and ".fraction".
bool parse_time(Tokens& tokens, Time& out, DatetimeTextError& error) noexcept {
    const Token hour = tokens.next();
    if (hour.kind != Tok::Digits) return fail(error, "time", "hour");
    if (tokens.next().kind != Tok::Colon) return fail(error, "time", "`:` (HH:MM)");
    const Token minute = tokens.next();
    if (minute.kind != Tok::Digits) return fail(error, "time", "minute");

    std::optional<Token> second;
    std::optional<Token> fraction;
    if (tokens.peek().kind == Tok::Colon) {
        tokens.next();
        second = tokens.next();
        if (second->kind != Tok::Digits) return fail(error, "time", "second");
        if (tokens.peek().kind == Tok::Dot) {
            tokens.next();
            fraction = tokens.next();
            if (fraction->kind != Tok::Digits) return fail(error, "time", "nanosecond");
        }
    }

    if (hour.length != 2) return fail(error, "time", "a two-digit hour (HH)");
    if (minute.length != 2) return fail(error, "time", "a two-digit minute (MM)");
    if (second && second->length != 2) return fail(error, "time", "a two-digit second (SS)");

    std::optional<std::uint32_t> nanosecond;
    if (fraction) nanosecond = fraction_to_nanoseconds(fraction->digits);

    if (hour.value > 23) return fail(error, "time", "hour between 00 and 23");
    if (minute.value > 59) return fail(error, "time", "minute between 00 and 59");
    if (second && second->value > 60) return fail(error, "time", "second between 00 and 60");
    if (nanosecond && *nanosecond >= 1000000000u) return fail(error, "time", "nanoseconds overflowed");

    out.hour = static_cast<std::uint8_t>(hour.value);
    out.minute = static_cast<std::uint8_t>(minute.value);
    out.second.reset();
    if (second) out.second = static_cast<std::uint8_t>(second->value);
    out.nanosecond = nanosecond;
    return true;
}

// The offset after a '+' or '-': HH:MM.
bool parse_numeric_offset(Tokens& tokens, bool negative, Offset& out, DatetimeTextError& error) noexcept {
    const Token hours = tokens.next();
    if (hours.kind != Tok::Digits) return fail(error, "offset", "hour");
    if (tokens.next().kind != Tok::Colon) return fail(error, "offset", "`:` (HH:MM)");
    const Token minutes = tokens.next();
    if (minutes.kind != Tok::Digits) return fail(error, "offset", "minute");

    if (hours.length != 2) return fail(error, "offset", "a two-digit hour (HH)");
    if (minutes.length != 2) return fail(error, "offset", "a two-digit minute (MM)");
    if (hours.value > 23) return fail(error, "offset", "hours between 00 and 23");
    if (minutes.value > 59) return fail(error, "offset", "minutes between 00 and 59");

    const int total = static_cast<int>(hours.value * 60 + minutes.value);
    out = Offset::custom(static_cast<std::int16_t>(negative ? -total : total));
    return true;
}

// The text is made in a buffer on the stack and appended once. Whatever the
// fields hold, it takes at most 42 characters: a date of 5 + 1 + 3 + 1 + 3
// (a 16-bit year, 8-bit month and day), "T", a time of 3 + 1 + 3 + 1 + 3 +
// 1 + 9 and an offset of 1 + 3 + 1 + 2.
constexpr std::size_t kMaxText = 48;

// `value` in decimal, with zeros in front up to `width` digits.
char* put_padded(char* p, unsigned value, unsigned width) noexcept {
    char digits[10];
    unsigned n = 0;
    do {
        digits[n++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    for (; width > n; --width) *p++ = '0';
    while (n > 0) *p++ = digits[--n];
    return p;
}

char* put_date(char* p, const Date& d) noexcept {
    p = put_padded(p, d.year, 4);
    *p++ = '-';
    p = put_padded(p, d.month, 2);
    *p++ = '-';
    return put_padded(p, d.day, 2);
}

char* put_time(char* p, const Time& t) noexcept {
    p = put_padded(p, t.hour, 2);
    *p++ = ':';
    p = put_padded(p, t.minute, 2);
    if (!t.second && !t.nanosecond) return p;
    *p++ = ':';
    p = put_padded(p, t.second.value_or(0), 2);
    if (!t.nanosecond) return p;
    *p++ = '.';
    char digits[9];
    std::uint32_t ns = *t.nanosecond;
    for (int i = 8; i >= 0; --i) {
        digits[i] = static_cast<char>('0' + ns % 10);
        ns /= 10;
    }
    int len = 9;
    while (len > 0 && digits[len - 1] == '0') --len;
    if (len == 0) {
        *p++ = '0';
    } else {
        for (int i = 0; i < len; ++i) *p++ = digits[i];
    }
    return p;
}

char* put_offset(char* p, const Offset& o) noexcept {
    if (o.kind == Offset::Kind::Z) {
        *p++ = 'Z';
        return p;
    }
    const int minutes = o.minutes;
    *p++ = minutes < 0 ? '-' : '+';
    const unsigned magnitude = static_cast<unsigned>(std::abs(minutes));
    p = put_padded(p, magnitude / 60, 2);
    *p++ = ':';
    return put_padded(p, magnitude % 60, 2);
}

}  // namespace

std::string DatetimeTextError::message() const {
    std::string text = "invalid ";
    text += component ? component : "datetime";
    if (expected) {
        text += ", expected ";
        text += expected;
    }
    return text;
}

unsigned days_in_month(unsigned year, unsigned month) noexcept {
    switch (month) {
        case 4:
        case 6:
        case 9:
        case 11: return 30;
        case 2: {
            const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
            return leap ? 29 : 28;
        }
        default: return month >= 1 && month <= 12 ? 31 : 0;
    }
}

bool parse_datetime(std::string_view text, Datetime& out, DatetimeTextError& error) noexcept {
    error = DatetimeTextError{};
    Tokens tokens(text);
    const Token first = tokens.next();
    if (first.kind != Tok::Digits) return fail(error, nullptr, "year or hour");

    const Tok shape = tokens.next().kind;
    if (shape == Tok::Colon) {
        // A local time: read it again from the start; it takes no offset.
        Tokens again(text);
        Time time;
        if (!parse_time(again, time, error)) return false;
        if (!again.at_end()) return fail(error, nullptr, nullptr);
        out = Datetime{std::nullopt, time, std::nullopt};
        return true;
    }
    if (shape != Tok::Minus) return fail(error, nullptr, "`-` (YYYY-MM) or `:` (HH:MM)");

    Date date;
    if (!parse_date(tokens, first, date, error)) return false;

    const Tok after_date = tokens.next().kind;
    if (after_date == Tok::End) {
        out = Datetime{date, std::nullopt, std::nullopt};
        return true;
    }
    if (after_date != Tok::Separator) return fail(error, "date-time", "`T` between date and time");

    Time time;
    if (!parse_time(tokens, time, error)) return false;

    std::optional<Offset> offset;
    const Tok sign = tokens.next().kind;
    switch (sign) {
        case Tok::End: break;
        case Tok::Z: offset = Offset::z(); break;
        case Tok::Plus:
        case Tok::Minus: {
            Offset custom;
            if (!parse_numeric_offset(tokens, sign == Tok::Minus, custom, error)) return false;
            offset = custom;
            break;
        }
        default: return fail(error, "offset", "`Z`, +OFFSET, -OFFSET");
    }
    if (!tokens.at_end()) return fail(error, nullptr, nullptr);
    out = Datetime{date, time, offset};
    return true;
}

void append_date(String& out, const Date& d) {
    char text[kMaxText];
    out.append(text, static_cast<std::size_t>(put_date(text, d) - text));
}

void append_time(String& out, const Time& t) {
    char text[kMaxText];
    out.append(text, static_cast<std::size_t>(put_time(text, t) - text));
}

void append_offset(String& out, const Offset& o) {
    char text[kMaxText];
    out.append(text, static_cast<std::size_t>(put_offset(text, o) - text));
}

void append_datetime(String& out, const Datetime& dt) {
    char text[kMaxText];
    char* p = text;
    if (dt.date) p = put_date(p, *dt.date);
    if (dt.date && dt.time) *p++ = 'T';
    if (dt.time) p = put_time(p, *dt.time);
    if (dt.offset) p = put_offset(p, *dt.offset);
    out.append(text, static_cast<std::size_t>(p - text));
}

}  // namespace morvelan
