#include "clockpull.h"

#include <gtest/gtest.h>

#include <sys/socket.h>

#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

namespace {

using namespace std::literals;

TEST(SearchDate, TakesTheFinalResponsesDateField)
{
    struct {
        const char* name;
        std::string_view response;
        const char* value;  // null: not found
        bool terminated;
    } const cases[] = {
        {"plain", "HTTP/1.1 200 OK\r\nDate: Sun, 06 Nov 1994 08:49:37 GMT\r\nServer: x\r\n\r\n",
         "Sun, 06 Nov 1994 08:49:37 GMT", true},
        {"name in any case", "HTTP/1.1 200 OK\r\ndate: a\r\n\r\n", "a", true},
        {"blanks and tabs around the value", "HTTP/1.1 200 OK\r\nDATE:\t  b \t\r\n\r\n", "b", true},
        {"no blank after the colon", "HTTP/1.1 200 OK\r\nDate:c\r\n\r\n", "c", true},
        {"X-Date before Date is skipped", "HTTP/1.1 200 OK\r\nX-Date: wrong\r\nDate: right\r\n\r\n", "right", true},
        {"first of two Date fields", "HTTP/1.1 200 OK\r\nDate: one\r\nDate: two\r\n\r\n", "one", true},
        {"any final status", "HTTP/1.1 404 Not Found\r\nDate: d\r\n\r\n", "d", true},
        {"bare LF line ends", "HTTP/1.1 200 OK\nServer: x\nDate: e\n\n", "e", true},
        {"zero byte in an earlier field", "HTTP/1.1 200 OK\r\nX: \0\r\nDate: f\r\n\r\n"sv, "f", true},
        {"control byte kept in the value", "HTTP/1.1 200 OK\r\nDate: g\x1b[2Jh\r\n\r\n", "g\x1b[2Jh", true},
        {"interim responses skipped", "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 103 Early Hints\r\nDate: early\r\n\r\n"
                                      "HTTP/1.1 200 OK\r\nDate: final\r\n\r\n", "final", true},
        {"cut by the end of the bytes", "HTTP/1.1 200 OK\r\nDate: Sun, 06 Nov 1994 08:49:3", "Sun, 06 Nov 1994 08:49:3", false},
        {"cut between CR and LF", "HTTP/1.1 200 OK\r\nDate: h\r", "h\r", false},
        {"only an interim Date", "HTTP/1.1 103 Early Hints\r\nDate: early\r\n\r\n", nullptr, false},
        {"only X-Date", "HTTP/1.1 200 OK\r\nX-Date: wrong\r\n\r\n", nullptr, false},
        {"longer name starting with Date", "HTTP/1.1 200 OK\r\nDates: wrong\r\n\r\n", nullptr, false},
        {"blank before the colon", "HTTP/1.1 200 OK\r\nDate : wrong\r\n\r\n", nullptr, false},
        {"Date in the value of another field", "HTTP/1.1 200 OK\r\nVia: Date: wrong\r\n\r\n", nullptr, false},
        {"Date after the header block", "HTTP/1.1 200 OK\r\nServer: x\r\n\r\nDate: body\r\n", nullptr, false},
        {"no line before it", "Date: first line\r\n\r\n", nullptr, false},
        {"empty response", "", nullptr, false},
    };
    for (const auto& c : cases) {
        const date_search found = search_date(c.response);
        ASSERT_EQ(found.found, c.value != nullptr) << c.name;
        if (c.value != nullptr) {
            EXPECT_EQ(c.response.substr(found.begin, found.end - found.begin), c.value) << c.name;
            EXPECT_EQ(found.terminated, c.terminated) << c.name;
        }
    }
}

TEST(SearchDate, HeadersEndAtTheFinalResponsesEmptyLine)
{
    EXPECT_TRUE(search_date("HTTP/1.1 200 OK\r\nDate: x\r\n\r\n").headers_done);
    EXPECT_TRUE(search_date("HTTP/1.1 200 OK\nDate: x\n\n").headers_done);
    EXPECT_FALSE(search_date("HTTP/1.1 200 OK\r\nDate: x\r\n\r").headers_done);
    EXPECT_FALSE(search_date("HTTP/1.1 103 Early Hints\r\nLink: x\r\n\r\n").headers_done);
    EXPECT_FALSE(search_date("HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\n").headers_done);
}

TEST(ParseServer, Ipv4DottedDecimalOrIpv6Literal)
{
    struct {
        const char* text;
        int family;  // 0: refused
    } const cases[] = {
        {"127.0.0.1", AF_INET}, {"192.0.2.255", AF_INET}, {"::1", AF_INET6}, {"2001:db8::5", AF_INET6},
        {"::ffff:127.0.0.1", AF_INET6}, {"127.1", 0}, {"127.000.0.1", 0}, {"127.0.0.256", 0},
        {"localhost", 0}, {"[::1]", 0}, {"::1%lo", 0}, {"", 0}, {"-x", 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(parse_server(c.text, 80).family, c.family) << c.text;
}

TEST(ParsePort, DecimalFrom1To65535Only)
{
    struct {
        const char* text;
        int port;  // 0: rejected
    } const cases[] = {
        {"80", 80},    {"8080", 8080}, {"1", 1},  {"65535", 65535}, {"00080", 80}, {"0000000000000000443", 443},
        {"0", 0},      {"65536", 0},   {"65616", 0}, {"-1", 0},      {"+80", 0},    {" 80", 0},
        {"80abc", 0},  {"abc", 0},     {"", 0},   {"99999999999", 0}, {"0x50", 0},
    };
    for (const auto& c : cases) {
        int port = -7;
        EXPECT_EQ(parse_port(c.text, port), c.port != 0) << '"' << c.text << '"';
        EXPECT_EQ(port, c.port != 0 ? c.port : -7) << '"' << c.text << '"';
    }
}

// Sets TZ (or removes it) for one test and puts the old state back.
std::optional<std::string> set_tz(const char* value)
{
    const char* old = std::getenv("TZ");
    std::optional<std::string> saved = old != nullptr ? std::optional<std::string>(old) : std::nullopt;
    if (value != nullptr)
        setenv("TZ", value, 1);
    else
        unsetenv("TZ");
    tzset();
    return saved;
}

TEST(UtcSeconds, ParsesTheThreeFormsAndConvertsAsUtc)
{
    constexpr long long refused = -2;
    struct {
        const char* date;
        long long seconds;  // -1: rejected by the conversion; refused: not parsed
    } const cases[] = {
        {"Sun, 06 Nov 1994 08:49:37 GMT", 784111777},
        {"Sunday, 06-Nov-94 08:49:37 GMT", 784111777},
        {"Sun Nov  6 08:49:37 1994", 784111777},
        {"Sun Nov 06 08:49:37 1994 GMT", 784111777},
        {"Sunday, 06 Nov 1994 08:49:37 GMT", 784111777},
        {"sun, 06 nov 1994 08:49:37 utc", 784111777},
        {"Sun,  06 Nov 1994 08:49:37", 784111777},         // no zone is GMT; blanks may repeat
        {"Mon, 06 Nov 1994 08:49:37 GMT", 784111777},      // the weekday is not checked
        {"Thursday, 01-Jan-70 00:00:00 GMT", 0},           // 69-99 are 19xx
        {"Wednesday, 31-Dec-68 23:59:59 GMT", 3124223999}, // 00-68 are 20xx
        {"Thu, 29 Feb 2024 12:00:00 GMT", 1709208000},
        {"Sat, 31 Dec 2016 23:59:60 GMT", 1483228800},     // a leap second is the next minute's 00
        {"Tue, 19 Jan 2038 03:14:08 GMT", 2147483648},
        {"Wed, 31 Dec 1969 23:59:59 GMT", -1},
        {"Thu, 30 Feb 2023 12:00:00 GMT", refused},
        {"Thu, 29 Feb 2100 12:00:00 GMT", refused},
        {"Thu, 31 Apr 2025 12:00:00 GMT", refused},
        {"Sun, 00 Nov 1994 08:49:37 GMT", refused},
        {"Sun, 06 Nov 1994 24:00:00 GMT", refused},
        {"Sun, 06 Nov 1994 08:60:00 GMT", refused},
        {"Sun, 06 Nov 1994 08:49:61 GMT", refused},
        {"Sun, 06 Nov 1994 08:49:37 PST", refused},
        {"Sun, 06 Nov 1994 08:49:37 +0500", refused},
        {"Sun, 06 Nov 1994 08:49:37 GMT junk", refused},
        {"Sun, 06 Nov 1994 08:49:37GMT", refused},
        {"Sun, 06 Nov 1994 08:49:3", refused},
        {"Sun, 06 Nov 94 08:49:37 GMT", refused},
        {"Sunday, 06-Nov-1994 08:49:37 GMT", refused},
        {"Sun 06 Nov 1994 08:49:37 GMT", refused},
        {"Sun, 06 Foo 1994 08:49:37 GMT", refused},
        {"Son, 06 Nov 1994 08:49:37 GMT", refused},
        {"Sun,\t06 Nov 1994 08:49:37 GMT", refused},
        {"Sun, 06 Nov 1994 8:49:37 GMT", refused},
        {"", refused},
    };
    for (const char* zone : {"JST-9", "EST5EDT", static_cast<const char*>(nullptr)}) {
        const auto saved = set_tz(zone);
        for (const auto& c : cases) {
            std::tm tm{};
            const bool parsed = parse_http_date(c.date, tm);
            EXPECT_EQ(parsed, c.seconds != refused) << c.date;
            if (parsed) {
                EXPECT_EQ(static_cast<long long>(utc_seconds(tm)), c.seconds) << c.date << " with TZ " << (zone ? zone : "unset");
            }
            const char* now = std::getenv("TZ");
            if (zone == nullptr)
                EXPECT_EQ(now, nullptr);
            else
                EXPECT_STREQ(now, zone);
        }
        set_tz(saved ? saved->c_str() : nullptr);
    }
}

} // namespace
