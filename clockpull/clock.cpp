// The clock side: the Date value parsed as an HTTP-date, converted as UTC and set.
#include "clockpull.h"

#include <sys/time.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <strings.h>

namespace {

constexpr std::array<std::string_view, 7> long_days = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                                       "Thursday", "Friday", "Saturday"};
constexpr std::array<std::string_view, 7> short_days = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr std::array<std::string_view, 12> months = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                     "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr std::array<std::string_view, 2> utc_zones = {"GMT", "UTC"};

// The small readers below each take one element off the front of the text
// and return false, leaving the text in any state, when it is not there.

bool take_word(std::string_view& s, std::string_view word)
{
    if (s.size() < word.size() || strncasecmp(s.data(), word.data(), word.size()) != 0)
        return false;
    s.remove_prefix(word.size());
    return true;
}

// Index of the first name of the table that starts the text, in any case.
template <std::size_t N> bool take_name(std::string_view& s, const std::array<std::string_view, N>& names, int& index)
{
    for (std::size_t i = 0; i < N; ++i) {
        if (take_word(s, names[i])) {
            index = static_cast<int>(i);
            return true;
        }
    }
    return false;
}

bool take_char(std::string_view& s, char c)
{
    return take_word(s, std::string_view(&c, 1));
}

// One or more blanks.
bool take_blanks(std::string_view& s)
{
    const std::size_t n = s.find_first_not_of(' ');
    s.remove_prefix(n == std::string_view::npos ? s.size() : n);
    return n != 0;
}

bool take_number(std::string_view& s, std::size_t min_digits, std::size_t max_digits, int& value)
{
    std::size_t n = 0;
    value = 0;
    while (n < s.size() && n < max_digits && s[n] >= '0' && s[n] <= '9')
        value = value * 10 + (s[n++] - '0');
    s.remove_prefix(n);
    return n >= min_digits;
}

bool take_time(std::string_view& s, std::tm& tm)
{
    return take_number(s, 2, 2, tm.tm_hour) && take_char(s, ':') && take_number(s, 2, 2, tm.tm_min) &&
           take_char(s, ':') && take_number(s, 2, 2, tm.tm_sec);
}

// The end of the value: nothing, or blanks and then GMT or UTC and blanks.
// A date with no zone is GMT; any other zone would set a wrong time.
bool take_zone_and_end(std::string_view& s)
{
    int zone = 0;
    if (s.empty())
        return true;
    if (!take_blanks(s))
        return false;
    if (!s.empty() && (!take_name(s, utc_zones, zone) || (!s.empty() && !take_blanks(s))))
        return false;
    return s.empty();
}

bool is_leap_year(int year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

// Day within its month, hour 0-23, minute 0-59, second 0-60 (a leap second,
// which the conversion carries into the next minute).
bool fields_in_range(const std::tm& tm)
{
    constexpr std::array<int, 12> month_days = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const int year = tm.tm_year + 1900;
    const int days = month_days[static_cast<std::size_t>(tm.tm_mon)] + (tm.tm_mon == 1 && is_leap_year(year) ? 1 : 0);
    return tm.tm_mday >= 1 && tm.tm_mday <= days && tm.tm_hour <= 23 && tm.tm_min <= 59 && tm.tm_sec <= 60;
}

} // namespace

// Parses an HTTP-date in any of its three forms into a zeroed record:
//   Sun, 06 Nov 1994 08:49:37 GMT     (IMF-fixdate)
//   Sunday, 06-Nov-94 08:49:37 GMT    (two-digit year: 69-99 are 19xx, 00-68 are 20xx)
//   Sun Nov  6 08:49:37 1994          (asctime, always GMT)
// Weekday names may be short or long, month names are three letters, both in
// any case, and blanks may be repeated; the weekday is not checked against
// the date. A zone, where given, must be GMT or UTC. Anything else, such as a
// control byte, an impossible date or trailing text, is refused.
bool parse_http_date(std::string_view value, std::tm& tm)
{
    tm = std::tm{};
    std::string_view s = value;
    int weekday = 0;
    int year = 0;
    if (!take_name(s, long_days, weekday) && !take_name(s, short_days, weekday))
        return false;
    if (take_char(s, ',')) {
        if (!take_blanks(s) || !take_number(s, 1, 2, tm.tm_mday))
            return false;
        if (take_char(s, '-')) {
            if (!take_name(s, months, tm.tm_mon) || !take_char(s, '-') || !take_number(s, 2, 2, year) ||
                !take_blanks(s) || !take_time(s, tm))
                return false;
            year += year >= 69 ? 1900 : 2000;
        } else if (!take_blanks(s) || !take_name(s, months, tm.tm_mon) || !take_blanks(s) ||
                   !take_number(s, 4, 4, year) || !take_blanks(s) || !take_time(s, tm)) {
            return false;
        }
    } else if (!take_blanks(s) || !take_name(s, months, tm.tm_mon) || !take_blanks(s) ||
               !take_number(s, 1, 2, tm.tm_mday) || !take_blanks(s) || !take_time(s, tm) || !take_blanks(s) ||
               !take_number(s, 4, 4, year)) {
        return false;
    }
    if (!take_zone_and_end(s))
        return false;
    tm.tm_year = year - 1900;
    return fields_in_range(tm);
}

// Days from 1970-01-01 to a date of the Gregorian calendar (month 1-12),
// negative before it. Years are counted from 1 March, so that a leap day ends
// its year, in eras of 400 years, which all have the same 146097 days.
long long days_from_civil(int year, int month, int day)
{
    constexpr int days_per_era = 146097;
    constexpr int days_before_1970 = 719468;  // from 0000-03-01 to 1970-01-01
    const int y = month <= 2 ? year - 1 : year;
    const int era = (y >= 0 ? y : y - 399) / 400;
    const int year_of_era = y - era * 400;
    const int month_from_march = (month + 9) % 12;
    const int day_of_year = (153 * month_from_march + 2) / 5 + day - 1;
    const int day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
    return static_cast<long long>(era) * days_per_era + day_of_era - days_before_1970;
}

// Converts the record as UTC by counting days and seconds, so that no zone
// database can change the result (the "right" zones count leap seconds). TZ
// is set to UTC around the conversion all the same, then put back as it was
// (or removed again), so that the closing line is in the zone the run began
// with. Returns -1 for a time before 1970, which no clock is set to, or when
// the old TZ could not be saved.
std::time_t utc_seconds(const std::tm& tm)
{
    constexpr long long seconds_per_day = 86400;
    constexpr long long seconds_per_hour = 3600;
    constexpr long long seconds_per_minute = 60;
    const char* old = std::getenv("TZ");
    const std::unique_ptr<char, decltype([](char* p) { std::free(p); })> saved(old != nullptr ? strdup(old) : nullptr);
    if (old != nullptr && !saved)
        return -1;

    setenv("TZ", "UTC", 1);
    tzset();
    const long long seconds = days_from_civil(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday) * seconds_per_day +
                              tm.tm_hour * seconds_per_hour + tm.tm_min * seconds_per_minute + tm.tm_sec;
    if (saved)
        setenv("TZ", saved.get(), 1);
    else
        unsetenv("TZ");
    tzset();
    return seconds < 0 ? -1 : static_cast<std::time_t>(seconds);
}

// Parses the Date value and converts it, reporting a failure. A value whose
// field the reply did not finish is never used: it may be cut inside the
// seconds, or go on in a folded line.
bool date_seconds(std::string_view value, bool complete, std::time_t& seconds)
{
    std::tm tm{};
    if (!complete || !parse_http_date(value, tm)) {
        std::fputs("Error: Failed to parse date string.\n", stderr);
        return false;
    }
    seconds = utc_seconds(tm);
    if (seconds == -1) {
        std::fputs("Error: Failed to convert time structure.\n", stderr);
        return false;
    }
    return true;
}

// Sets the system clock to the whole second and reports the new local time.
// Returns the exit status.
int set_clock(std::time_t seconds)
{
    std::printf("[*] Setting system time to timestamp: %ld\n", static_cast<long>(seconds));
    const timeval tv{seconds, 0};
    if (settimeofday(&tv, nullptr) != 0) {
        std::perror("settimeofday failed (Are you root?)");
        return 1;
    }
    std::puts("[SUCCESS] System time updated successfully!");
    const std::time_t now = std::time(nullptr);
    std::printf("Current Local Time: %s", std::ctime(&now));
    return 0;
}

// The query: the server's second, and how far it is ahead of the local clock
// when the reply arrived (negative when the local clock is ahead). Sets
// nothing; returns the exit status.
int print_offset(std::time_t seconds, std::time_t arrived)
{
    std::printf("[*] Server timestamp: %lld\n", static_cast<long long>(seconds));
    std::printf("[*] Offset: %+lld s\n", static_cast<long long>(seconds) - static_cast<long long>(arrived));
    return 0;
}
