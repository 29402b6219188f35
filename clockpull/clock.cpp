// The clock side: the Date value parsed, converted as UTC and set.
#include "clockpull.h"

#include <sys/time.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

// Parses an HTTP date such as "Sun, 06 Nov 1994 08:49:37 GMT" into a zeroed
// record; whatever follows the seconds (the zone) is ignored.
bool parse_http_date(const char* value, std::tm& tm)
{
    tm = std::tm{};
    return strptime(value, "%a, %d %b %Y %H:%M:%S", &tm) != nullptr;
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
// the new local time. Returns the exit status.
int set_clock_from(const char* date_value)
{
    std::tm tm{};
    if (!parse_http_date(date_value, tm)) {
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
