// Date and time values: the four TOML kinds (offset date-time, local
// date-time, local date, local time) are one type that differs in which of
// its three parts are present.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "alloc.hpp"

namespace morvelan {

struct Date {
    std::uint16_t year = 0;
    std::uint8_t month = 1;
    std::uint8_t day = 1;
    bool operator==(const Date&) const = default;
};

struct Time {
    std::uint8_t hour = 0;
    std::uint8_t minute = 0;
    std::optional<std::uint8_t> second;       // absent for "07:32"
    std::optional<std::uint32_t> nanosecond;  // absent when no fraction was written
    bool operator==(const Time&) const = default;
};

struct Offset {
    enum class Kind : std::uint8_t { Z, Custom };
    Kind kind = Kind::Z;
    std::int16_t minutes = 0;  // minutes east of UTC, for Custom

    static constexpr Offset z() { return {Kind::Z, 0}; }
    static constexpr Offset custom(std::int16_t m) { return {Kind::Custom, m}; }
    bool operator==(const Offset&) const = default;
};

struct Datetime {
    std::optional<Date> date;
    std::optional<Time> time;
    std::optional<Offset> offset;
    bool operator==(const Datetime&) const = default;
};

// Why a date-time text did not parse. component is one of "date", "time",
// "offset", "date-time" or null; expected is a short phrase or null.
struct DatetimeTextError {
    const char* component = nullptr;
    const char* expected = nullptr;

    // "invalid {component|datetime}[, expected {expected}]"
    std::string message() const;
};

// Parses the whole text. Returns false and fills `error` on failure.
[[nodiscard]] bool parse_datetime(std::string_view text, Datetime& out, DatetimeTextError& error) noexcept;

// Canonical text, appended to `out`.
void append_date(String& out, const Date& d);
void append_time(String& out, const Time& t);
void append_offset(String& out, const Offset& o);
void append_datetime(String& out, const Datetime& dt);

// Days in a month of the Gregorian calendar (year 0 is a leap year).
unsigned days_in_month(unsigned year, unsigned month) noexcept;

}  // namespace morvelan
