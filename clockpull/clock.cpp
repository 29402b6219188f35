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
// Day and month names may be short or long and in any case, and blanks may be
// repeated; the weekday is not checked against the date. A zone, where given,
// must be GMT or UTC. Anything else, such as a control byte, an impossible
// date or trailing text, is refused.
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

// Converts the record as UTC whatever the local zone is: TZ is set to UTC
// around mktime, then put back as it was (or removed again). Returns -1 when
// mktime does, or when the old TZ could not be saved.
std::time_t utc_seconds(std::tm& tm)
{
    const char* old = std::getenv("TZ");
    const std::unique_ptr<char, decltype([](char* p) { std::free(p); })> saved(old != nullptr ? strdup(old) : nullptr);
    if (old != nullptr && !saved)
        return -1;

    setenv("TZ", "UTC", 1);
    tzset();
    const std::time_t seconds = std::mktime(&tm);
    if (saved)
        setenv("TZ", saved.get(), 1);
    else
        unsetenv("TZ");
    tzset();
    return seconds;
}

// Sets the system clock to the whole second the Date value names and reports
// the new local time. A value whose line the reply did not finish is never
// used: it may be cut inside the seconds. Returns the exit status.
int set_clock_from(std::string_view date_value, bool complete)
{
    std::tm tm{};
    if (!complete || !parse_http_date(date_value, tm)) {
        std::fputs("Error: Failed to parse date string.\n", stderr);
        return 1;
    }
    const std::time_t seconds = utc_seconds(tm);
    if (seconds == -1) {
        std::fputs("Error: Failed to convert time structure.\n", stderr);
        return 1;
    }
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
