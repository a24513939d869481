#include "report/interval_time.h"

#include <charconv>
#include <cstdio>

namespace tallywire {

namespace {

constexpr std::int64_t microseconds_per_second = 1'000'000;
constexpr std::int64_t seconds_per_day = 86'400;

// Days since 1970-01-01 of a proleptic Gregorian date, and back (Howard
// Hinnant's algorithms): gmtime and timegm would do, but not for every
// year a 64-bit count can reach, and not without the C library's locks.
std::int64_t days_from_civil(std::int64_t year, unsigned month, unsigned day) {
    year -= month <= 2 ? 1 : 0;
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const auto year_of_era = static_cast<unsigned>(year - era * 400);
    const unsigned day_of_year = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const unsigned day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
    return era * 146097 + static_cast<std::int64_t>(day_of_era) - 719468;
}

struct civil_date {
    std::int64_t year;
    unsigned month;
    unsigned day;
};

civil_date civil_from_days(std::int64_t days) {
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const auto day_of_era = static_cast<unsigned>(days - era * 146097);
    const unsigned year_of_era =
        (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
    const unsigned day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
    const unsigned shifted_month = (5 * day_of_year + 2) / 153;
    const unsigned day = day_of_year - (153 * shifted_month + 2) / 5 + 1;
    const unsigned month = shifted_month < 10 ? shifted_month + 3 : shifted_month - 9;
    const std::int64_t year = static_cast<std::int64_t>(year_of_era) + era * 400 + (month <= 2 ? 1 : 0);
    return {year, month, day};
}

std::int64_t floor_divide(std::int64_t value, std::int64_t by) {
    const std::int64_t quotient = value / by;
    return (value % by != 0 && value < 0) ? quotient - 1 : quotient;
}

// The digits of text[at, at + count) as a number, or nothing.
std::optional<unsigned> digits_at(std::string_view text, std::size_t at, std::size_t count) {
    if (at + count > text.size()) {
        return std::nullopt;
    }
    unsigned value = 0;
    const char* first = text.data() + at;
    const auto [end, error] = std::from_chars(first, first + count, value);
    if (error != std::errc{} || end != first + count || *first == '+' || *first == '-') {
        return std::nullopt;
    }
    return value;
}

}  // namespace

int interval_decimals(std::int64_t length_microseconds) {
    int decimals = 0;
    for (std::int64_t unit = microseconds_per_second; length_microseconds % unit != 0 && decimals < 6;
         unit /= 10) {
        ++decimals;
    }
    return decimals;
}

std::string interval_time_text(std::int64_t microseconds, int decimals) {
    const std::int64_t seconds = floor_divide(microseconds, microseconds_per_second);
    const std::int64_t fraction = microseconds - seconds * microseconds_per_second;
    const std::int64_t days = floor_divide(seconds, seconds_per_day);
    const std::int64_t of_day = seconds - days * seconds_per_day;
    const civil_date date = civil_from_days(days);
    char text[64];
    int length = std::snprintf(text, sizeof text, "%04lld-%02u-%02uT%02lld:%02lld:%02lld",
                               static_cast<long long>(date.year), date.month, date.day,
                               static_cast<long long>(of_day / 3600),
                               static_cast<long long>(of_day / 60 % 60),
                               static_cast<long long>(of_day % 60));
    if (decimals > 0) {
        char digits[8];
        std::snprintf(digits, sizeof digits, "%06lld", static_cast<long long>(fraction));
        length += std::snprintf(text + length, sizeof text - static_cast<std::size_t>(length),
                                ".%.*s", decimals, digits);
    }
    std::string out(text, static_cast<std::size_t>(length));
    out.push_back('Z');
    return out;
}

std::optional<std::int64_t> parse_interval_time(std::string_view text) {
    // YYYY-MM-DDTHH:MM:SS[.d{1,6}]Z, the year of four digits.
    if (text.size() < 20 || text[4] != '-' || text[7] != '-' || text[10] != 'T' ||
        text[13] != ':' || text[16] != ':' || text.back() != 'Z') {
        return std::nullopt;
    }
    const auto year = digits_at(text, 0, 4);
    const auto month = digits_at(text, 5, 2);
    const auto day = digits_at(text, 8, 2);
    const auto hour = digits_at(text, 11, 2);
    const auto minute = digits_at(text, 14, 2);
    const auto second = digits_at(text, 17, 2);
    if (!year || !month || !day || !hour || !minute || !second || *month < 1 || *month > 12 ||
        *day < 1 || *day > 31 || *hour > 23 || *minute > 59 || *second > 59) {
        return std::nullopt;
    }
    std::int64_t fraction = 0;
    const std::size_t rest = text.size() - 20;  // the decimals and their point
    if (rest != 0) {
        if (text[19] != '.' || rest < 2 || rest > 7) {
            return std::nullopt;
        }
        const auto decimals = digits_at(text, 20, rest - 1);
        if (!decimals) {
            return std::nullopt;
        }
        fraction = *decimals;
        for (std::size_t missing = rest - 1; missing < 6; ++missing) {
            fraction *= 10;
        }
    } else if (text[19] != 'Z') {
        return std::nullopt;
    }
    const std::int64_t days = days_from_civil(*year, *month, *day);
    // A day past its month's end names another date than it says.
    const civil_date check = civil_from_days(days);
    if (check.month != *month || check.day != *day) {
        return std::nullopt;
    }
    const std::int64_t seconds = days * seconds_per_day + *hour * 3600 + *minute * 60 + *second;
    return seconds * microseconds_per_second + fraction;
}

}  // namespace tallywire
