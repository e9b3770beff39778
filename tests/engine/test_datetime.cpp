#include <gtest/gtest.h>

#include <random>
#include <string>

#include "datetime.hpp"

using namespace morvelan;

namespace {

std::string show(const Datetime& dt) {
    String out;
    append_datetime(out, dt);
    return std::string(out);
}

}  // namespace

TEST(Datetime, ParsesAndDisplaysCanonically) {
    const std::pair<const char*, const char*> cases[] = {
        {"1979-05-27T07:32:00Z", "1979-05-27T07:32:00Z"},
        {"1979-05-27 07:32:00z", "1979-05-27T07:32:00Z"},
        {"1979-05-27t07:32:00Z", "1979-05-27T07:32:00Z"},
        {"1979-05-27T00:32:00.999999-07:00", "1979-05-27T00:32:00.999999-07:00"},
        {"1979-05-27T07:32:00-00:00", "1979-05-27T07:32:00+00:00"},
        {"1979-05-27T07:32:00+23:59", "1979-05-27T07:32:00+23:59"},
        {"1979-05-27T07:32", "1979-05-27T07:32"},
        {"1979-05-27T07:32Z", "1979-05-27T07:32Z"},
        {"0999-01-05", "0999-01-05"},
        {"2000-02-29", "2000-02-29"},
        {"2024-02-29", "2024-02-29"},
        {"0000-02-29", "0000-02-29"},
        {"07:32", "07:32"},
        {"23:59:60", "23:59:60"},
        {"12:00:00.1234567899", "12:00:00.123456789"},
        {"12:00:00.500", "12:00:00.5"},
        {"12:00:00.000", "12:00:00.0"},
        {"12:00:00.0000000009", "12:00:00.0"},
    };
    for (const auto& [input, display] : cases) {
        Datetime dt;
        DatetimeTextError error;
        ASSERT_TRUE(parse_datetime(input, dt, error)) << input << ": " << error.message();
        EXPECT_EQ(show(dt), display) << input;
    }
}

TEST(Datetime, ParsedComponents) {
    const std::pair<const char*, Datetime> cases[] = {
        {"07:32", {std::nullopt, Time{7, 32, std::nullopt, std::nullopt}, std::nullopt}},
        {"1979-05-27T07:32:00.1234567899-00:00",
         {Date{1979, 5, 27}, Time{7, 32, 0, 123456789u}, Offset::custom(0)}},
        {"1979-05-27T07:32:00.0Z", {Date{1979, 5, 27}, Time{7, 32, 0, 0u}, Offset::z()}},
        {"1979-05-27 07:32:00-07:30",
         {Date{1979, 5, 27}, Time{7, 32, 0, std::nullopt}, Offset::custom(-450)}},
        {"1979-05-27", {Date{1979, 5, 27}, std::nullopt, std::nullopt}},
    };
    for (const auto& [input, expected] : cases) {
        Datetime dt;
        DatetimeTextError error;
        ASSERT_TRUE(parse_datetime(input, dt, error)) << input;
        EXPECT_TRUE(dt == expected) << input;
    }
}

TEST(Datetime, Errors) {
    const std::pair<const char*, const char*> cases[] = {
        {"", "invalid datetime, expected year or hour"},
        {"abc", "invalid datetime, expected year or hour"},
        {"1979", "invalid datetime, expected `-` (YYYY-MM) or `:` (HH:MM)"},
        {"1979-", "invalid date, expected month"},
        {"1979-05:27", "invalid date, expected `-` (MM-DD)"},
        {"1979-05-", "invalid date, expected day"},
        {"79-05-27", "invalid date, expected a four-digit year (YYYY)"},
        {"19790-5-27", "invalid date, expected a four-digit year (YYYY)"},  // widths in order
        {"1979-5-27", "invalid date, expected a two-digit month (MM)"},
        {"1979-05-7", "invalid date, expected a two-digit day (DD)"},
        {"2024-13-01", "invalid date, expected month between 01 and 12"},
        {"2024-00-10", "invalid date, expected month between 01 and 12"},
        {"1900-02-29", "invalid date, expected day between 01 and 28"},
        {"2023-02-29", "invalid date, expected day between 01 and 28"},
        {"2024-02-30", "invalid date, expected day between 01 and 29"},
        {"2024-04-31", "invalid date, expected day between 01 and 30"},
        {"2024-01-00", "invalid date, expected day between 01 and 31"},
        {"1979-05-27X", "invalid date-time, expected `T` between date and time"},
        {"1979-05-27T", "invalid time, expected hour"},
        {"1979-05-27T07", "invalid time, expected `:` (HH:MM)"},
        {"07:", "invalid time, expected minute"},
        {"07:32:", "invalid time, expected second"},
        {"12:00:00.", "invalid time, expected nanosecond"},
        {"7:32:00", "invalid time, expected a two-digit hour (HH)"},
        {"07:3:00", "invalid time, expected a two-digit minute (MM)"},
        {"07:32:0", "invalid time, expected a two-digit second (SS)"},
        {"24:00:00", "invalid time, expected hour between 00 and 23"},
        {"23:60:00", "invalid time, expected minute between 00 and 59"},
        {"23:59:61", "invalid time, expected second between 00 and 60"},
        {"07:32:00+01:00", "invalid datetime"},
        {"07:32:00Z", "invalid datetime"},
        {"1979-05-27T07:32:00Zabc", "invalid datetime"},
        {"1979-05-27T07:32:00X", "invalid offset, expected `Z`, +OFFSET, -OFFSET"},
        {"1979-05-27T07:32:00+", "invalid offset, expected hour"},
        {"1979-05-27T07:32:00+05", "invalid offset, expected `:` (HH:MM)"},
        {"1979-05-27T07:32:00+05:", "invalid offset, expected minute"},
        {"1979-05-27T07:32:00+5:30", "invalid offset, expected a two-digit hour (HH)"},
        {"1979-05-27T07:32:00+05:3", "invalid offset, expected a two-digit minute (MM)"},
        {"1979-05-27T07:32:00+24:00", "invalid offset, expected hours between 00 and 23"},
        {"1979-05-27T07:32:00+05:60", "invalid offset, expected minutes between 00 and 59"},
        {"99:99999999999999999999999", "invalid time, expected a two-digit minute (MM)"},  // no overflow
    };
    for (const auto& [input, message] : cases) {
        Datetime dt;
        DatetimeTextError error;
        EXPECT_FALSE(parse_datetime(input, dt, error)) << input;
        EXPECT_EQ(error.message(), message) << input;
    }
}

TEST(Datetime, DisplayOfBuiltValues) {
    const std::pair<Datetime, const char*> cases[] = {
        {{std::nullopt, Time{7, 32, std::nullopt, 0u}, std::nullopt}, "07:32:00.0"},
        {{std::nullopt, Time{7, 32, 0, 1u}, std::nullopt}, "07:32:00.000000001"},
        {{std::nullopt, std::nullopt, Offset::custom(-30)}, "-00:30"},
        {{std::nullopt, std::nullopt, Offset::custom(0)}, "+00:00"},
        {{std::nullopt, std::nullopt, Offset::z()}, "Z"},
        {{Date{5, 1, 9}, std::nullopt, Offset::z()}, "0005-01-09Z"},
    };
    for (const auto& [value, display] : cases) EXPECT_EQ(show(value), display) << display;
}

// Mutated and arbitrary text: every outcome is an error value, and whatever
// parses prints text that parses back to the same value.
TEST(Datetime, NeverCrashesAndSuccessesRoundTrip) {
    std::mt19937 rng(12345);
    const std::string seeds[] = {"1979-05-27T07:32:00.999999-07:00", "07:32:00.5", "2024-02-29 23:59:60Z"};
    const std::string alphabet = "0123456789-+:.TtZz x\xff";
    std::size_t parsed = 0;
    for (int i = 0; i < 20000; ++i) {
        std::string text = seeds[rng() % 3];
        for (int e = 1 + static_cast<int>(rng() % 4); e > 0 && !text.empty(); --e) {
            const std::size_t at = rng() % text.size();
            switch (rng() % 3) {
                case 0: text[at] = alphabet[rng() % alphabet.size()]; break;
                case 1: text.erase(at, 1); break;
                default: text.insert(at, 1, static_cast<char>(rng() % 256)); break;
            }
        }
        Datetime dt, again;
        DatetimeTextError error;
        if (!parse_datetime(text, dt, error)) {
            EXPECT_EQ(error.message().rfind("invalid ", 0), 0u) << text;
            continue;
        }
        ++parsed;
        ASSERT_TRUE(parse_datetime(show(dt), again, error)) << text;
        EXPECT_TRUE(again == dt) << text << " -> " << show(dt);
    }
    EXPECT_GT(parsed, 100u);
}
