#include "clockpull.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

namespace {

using namespace std::literals;

std::string unfolded(std::string_view raw)
{
    std::string out(raw.size(), '\0');
    out.resize(unfold(raw, out.data()));
    return out;
}

TEST(SearchDate, TakesTheFinalResponsesDateField)
{
    enum outcome { value, none, not_http, conflict };
    struct {
        const char* name;
        std::string_view response;
        outcome expected;
        bool terminated;
        const char* value;  // unfolded, when a value is expected
    } const cases[] = {
        {"plain", "HTTP/1.1 200 OK\r\nDate: Sun, 06 Nov 1994 08:49:37 GMT\r\nServer: x\r\n\r\n", value,
         true, "Sun, 06 Nov 1994 08:49:37 GMT"},
        {"name in any case", "HTTP/1.1 200 OK\r\ndate: a\r\n\r\n", value, true, "a"},
        {"blanks and tabs around the value", "HTTP/1.1 200 OK\r\nDATE:\t  b \t\r\n\r\n", value, true, "b"},
        {"no blank after the colon", "HTTP/1.1 200 OK\r\nDate:c\r\n\r\n", value, true, "c"},
        {"X-Date before Date is skipped", "HTTP/1.1 200 OK\r\nX-Date: wrong\r\nDate: right\r\n\r\n", value, true,
         "right"},
        {"two equal Date fields", "HTTP/1.1 200 OK\r\nDate: one\r\nDate: one\r\n\r\n", value, true, "one"},
        {"equal once unfolded", "HTTP/1.1 200 OK\r\nDate: a b\r\nDate: a\r\n\tb\r\n\r\n", value, true, "a b"},
        {"two Date fields that differ", "HTTP/1.1 200 OK\r\nDate: one\r\nDate: two\r\n\r\n", conflict, false,
         nullptr},
        {"differ only in case", "HTTP/1.1 200 OK\r\nDate: one\r\nX: y\r\ndate: ONE\r\n\r\n", conflict, false,
         nullptr},
        {"differ only in a folded part", "HTTP/1.1 200 OK\r\nDate: a\r\n b\r\nDate: a\r\n c\r\n\r\n", conflict,
         false, nullptr},
        {"folded zone", "HTTP/1.1 200 OK\r\nDate: Sun, 06 Nov 1994 08:49:37\r\n +0500\r\n\r\n", value,
         true, "Sun, 06 Nov 1994 08:49:37 +0500"},
        {"tab-folded, bare LF", "HTTP/1.1 200 OK\nDate: Sun, 06 Nov\n\t1994 08:49:37 GMT\n\n", value,
         true, "Sun, 06 Nov 1994 08:49:37 GMT"},
        {"value only on the folded line", "HTTP/1.1 200 OK\r\nDate:\r\n  d \r\n\r\n", value, true, "d"},
        {"blank folded line", "HTTP/1.1 200 OK\r\nDate: e\r\n \t\r\nServer: x\r\n\r\n", value, true, "e"},
        {"fold of another field", "HTTP/1.1 200 OK\r\nDate: f\r\nX: y\r\n Date: wrong\r\n\r\n", value, true, "f"},
        {"fold right after the status line", "HTTP/1.1 200 OK\r\n Date: wrong\r\n\r\n", none, false, nullptr},
        {"any final status", "HTTP/1.1 404 Not Found\r\nDate: d\r\n\r\n", value, true, "d"},
        {"status line without a reason", "HTTP/1.0 200\r\nDate: d\r\n\r\n", value, true, "d"},
        {"bare LF line ends", "HTTP/1.1 200 OK\nServer: x\nDate: e\n\n", value, true, "e"},
        {"zero byte in an earlier field", "HTTP/1.1 200 OK\r\nX: \0\r\nDate: f\r\n\r\n"sv, value, true, "f"},
        {"control byte kept in the value", "HTTP/1.1 200 OK\r\nDate: g\x1b[2Jh\r\n\r\n", value, true, "g\x1b[2Jh"},
        {"interim responses skipped", "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 103 Early Hints\r\nDate: early\r\n\r\n"
                                      "HTTP/1.1 200 OK\r\nDate: final\r\n\r\n", value, true, "final"},
        {"interim Date differs from the final one", "HTTP/1.1 103 Early Hints\r\nDate: early\r\n\r\n"
                                                    "HTTP/1.1 200 OK\r\nDate: final\r\nDate: final\r\n\r\n",
         value, true, "final"},
        {"cut by the end of the bytes", "HTTP/1.1 200 OK\r\nDate: Sun, 06 Nov 1994 08:49:3", value, false,
         "Sun, 06 Nov 1994 08:49:3"},
        {"cut between CR and LF", "HTTP/1.1 200 OK\r\nDate: h\r", value, false, "h\r"},
        {"cut inside a folded line", "HTTP/1.1 200 OK\r\nDate: i\r\n +05", value, false, "i +05"},
        {"only an interim Date", "HTTP/1.1 103 Early Hints\r\nDate: early\r\n\r\n", none, false, nullptr},
        {"only X-Date", "HTTP/1.1 200 OK\r\nX-Date: wrong\r\n\r\n", none, false, nullptr},
        {"longer name starting with Date", "HTTP/1.1 200 OK\r\nDates: wrong\r\n\r\n", none, false, nullptr},
        {"blank before the colon", "HTTP/1.1 200 OK\r\nDate : wrong\r\n\r\n", none, false, nullptr},
        {"Date in the value of another field", "HTTP/1.1 200 OK\r\nVia: Date: wrong\r\n\r\n", none, false, nullptr},
        {"Date after the header block", "HTTP/1.1 200 OK\r\nServer: x\r\n\r\nDate: body\r\n", none, false, nullptr},
        {"status line cut short", "HTTP/1.1 2", none, false, nullptr},
        {"empty response", "", none, false, nullptr},
        {"no status line before it", "Date: first line\r\n\r\n", not_http, false, nullptr},
        {"a mail server's banner", "220 mail ESMTP\r\nDate: Sun, 06 Nov 1994 08:49:37 GMT\r\n\r\n", not_http, false,
         nullptr},
        {"binary bytes", "\x16\x03\x01\x02\0\r\nDate: d\r\n\r\n"sv, not_http, false, nullptr},
        {"empty line before an interim response", "\r\nHTTP/1.1 103 Early Hints\r\nDate: early\r\n\r\n"
                                                  "HTTP/1.1 200 OK\r\nDate: final\r\n\r\n", not_http, false, nullptr},
        {"empty line between responses", "HTTP/1.1 100 Continue\r\n\r\n\r\nHTTP/1.1 103 Early Hints\r\n"
                                         "Date: early\r\n\r\nHTTP/1.1 200 OK\r\nDate: final\r\n\r\n", not_http,
         false, nullptr},
        {"judged as soon as it cannot be HTTP", "SSH-2.0-x", not_http, false, nullptr},
    };
    for (const auto& c : cases) {
        const date_search found = search_date(c.response);
        EXPECT_EQ(found.not_http, c.expected == not_http) << c.name;
        EXPECT_EQ(found.found, c.expected == value || c.expected == conflict) << c.name;
        EXPECT_EQ(found.conflict, c.expected == conflict) << c.name;
        if (c.expected == value) {
            EXPECT_EQ(unfolded(c.response.substr(found.begin, found.end - found.begin)), c.value) << c.name;
            EXPECT_EQ(found.terminated, c.terminated) << c.name;
        }
    }
}

TEST(SearchDate, KnowsWhenAFoldedLineMayStillFollow)
{
    struct {
        const char* name;
        std::string_view response;
        bool terminated;
        bool at_end;
    } const cases[] = {
        {"Date line ends the bytes", "HTTP/1.1 200 OK\r\nDate: a\r\n", true, true},
        {"folded line ends the bytes", "HTTP/1.1 200 OK\r\nDate: a\r\n b\r\n", true, true},
        {"another line begun", "HTTP/1.1 200 OK\r\nDate: a\r\nS", true, false},
        {"header section ended", "HTTP/1.1 200 OK\r\nDate: a\r\n\r\n", true, false},
        {"second Date field cut", "HTTP/1.1 200 OK\r\nDate: a\r\nDate: a", false, false},
    };
    for (const auto& c : cases) {
        const date_search found = search_date(c.response);
        EXPECT_TRUE(found.found) << c.name;
        EXPECT_EQ(found.terminated, c.terminated) << c.name;
        EXPECT_EQ(found.at_end, c.at_end) << c.name;
    }
}

TEST(Unfold, EachObsFoldBecomesOneBlank)
{
    struct {
        const char* name;
        std::string_view raw;
        std::string_view expected;
    } const cases[] = {
        {"nothing to unfold", "Sun, 06 Nov 1994 08:49:37 GMT", "Sun, 06 Nov 1994 08:49:37 GMT"},
        {"CRLF and a blank", "08:49:37\r\n +0500", "08:49:37 +0500"},
        {"bare LF and a tab", "08:49:37\n\tGMT", "08:49:37 GMT"},
        {"blanks on both sides", "Nov \t\r\n \t 1994", "Nov 1994"},
        {"two folds", "a\r\n b\r\n\tc", "a b c"},
        {"blanks without a line end kept", "a  \t b", "a  \t b"},
        {"a CR without a LF kept", "a\rb", "a\rb"},
        {"zero byte kept", "a\0b"sv, "a\0b"sv},
        {"empty", "", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(unfolded(c.raw), c.expected) << c.name;
}

TEST(StatusLine, HttpOneVersionAndThreeDigits)
{
    struct {
        const char* line;
        bool ended;
        bool ok;
    } const cases[] = {
        {"HTTP/1.1 200 OK", true, true},   {"HTTP/1.0 503 Service Unavailable", true, true},
        {"HTTP/1.1 200", true, true},      {"HTTP/1.1 103 Early Hints", true, true},
        {"HTTP/1.1 200 ", true, true},     {"HTTP/1.1 20", false, true},
        {"", false, true},                 {"HTT", false, true},
        {"", true, false},                 {"HTTP/1.1 20", true, false},
        {"HTTP/1.1 2000 OK", true, false}, {"HTTP/1.1 2OO OK", true, false},
        {"HTTP/2 200", true, false},       {"HTTP/1.1  200 OK", true, false},
        {"http/1.1 200 OK", true, false},  {"HTTP/1.1 200\tOK", true, false},
        {"HTTP/11 200 OK", true, false},   {"220 mail ESMTP", false, false},
        {" HTTP/1.1 200 OK", true, false}, {"\x16\x03", false, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(status_line_ok(c.line, c.ended), c.ok) << '"' << c.line << "\" ended " << c.ended;
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

TEST(DaysFromCivil, CountsLeapYearsAcrossTheEdges)
{
    struct {
        int year, month, day;
        long long days;
    } const cases[] = {
        {1970, 1, 1, 0},         {1969, 12, 31, -1},      {1970, 3, 1, 59},       {1972, 2, 29, 789},
        {1972, 3, 1, 790},       {1994, 11, 6, 9075},     {2000, 2, 29, 11016},   {2000, 3, 1, 11017},
        {2000, 12, 31, 11322},   {2001, 1, 1, 11323},     {2016, 12, 31, 17166},  {2024, 2, 29, 19782},
        {2038, 1, 19, 24855},    {2038, 1, 20, 24856},    {2068, 12, 31, 36159},  {2099, 12, 31, 47481},
        {2100, 2, 28, 47540},    {2100, 3, 1, 47541},     {2106, 2, 7, 49710},    {2400, 2, 29, 157113},
        {1900, 3, 1, -25508},    {1600, 2, 29, -135081},  {0, 3, 1, -719468},     {0, 1, 1, -719528},
        {9999, 12, 31, 2932896},
    };
    for (const auto& c : cases)
        EXPECT_EQ(days_from_civil(c.year, c.month, c.day), c.days) << c.year << '-' << c.month << '-' << c.day;
}

// Sets an environment variable (or removes it) for one test, makes the C
// library read the zone again and returns the old value for putting back.
std::optional<std::string> set_env(const char* name, const char* value)
{
    const char* old = std::getenv(name);
    std::optional<std::string> saved = old != nullptr ? std::optional<std::string>(old) : std::nullopt;
    if (value != nullptr)
        setenv(name, value, 1);
    else
        unsetenv(name);
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
        {"Tue, 19 Jan 2038 03:14:07 GMT", 2147483647},
        {"Thu, 01 Jan 1970 00:00:00 GMT", 0},
        {"Sun, 28 Feb 2100 23:59:59 GMT", 4107542399},     // 2100 is no leap year
        {"Mon, 01 Mar 2100 00:00:00 GMT", 4107542400},
        {"Tue, 29 Feb 2000 12:00:00 GMT", 951825600},      // 2000 is one
        {"Sun, 07 Feb 2106 06:28:16 GMT", 4294967296},     // past 32 unsigned bits
        {"Fri, 31 Dec 9999 23:59:59 GMT", 253402300799},
        {"Wed, 31 Dec 1969 23:59:59 GMT", -1},
        {"Wednesday, 31-Dec-69 23:59:58 GMT", -1},         // no time before 1970 is taken
        {"Thu, 01 Jan 0000 00:00:00 GMT", -1},
        {"Thu, 30 Feb 2023 12:00:00 GMT", refused},
        {"Sun, 06 November 1994 08:49:37 GMT", refused},   // month names are three letters
        {"Sunday, 06-November-94 08:49:37 GMT", refused},
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
    // The "right" zone database counts leap seconds; an HTTP date never does.
    constexpr const char* right = "/usr/share/zoneinfo/right";
    struct {
        const char* tz;  // null: unset
        const char* tzdir;
    } const zones[] = {
        {"JST-9", nullptr}, {"EST5EDT", nullptr}, {nullptr, nullptr}, {"UTC", right}, {"Europe/Berlin", right},
    };
    for (const auto& z : zones) {
        if (z.tzdir != nullptr && access(z.tzdir, F_OK) != 0)
            continue;  // this machine has no such zone database
        const auto saved_tz = set_env("TZ", z.tz);
        const auto saved_tzdir = set_env("TZDIR", z.tzdir);
        for (const auto& c : cases) {
            std::tm tm{};
            const bool parsed = parse_http_date(c.date, tm);
            EXPECT_EQ(parsed, c.seconds != refused) << c.date;
            if (parsed) {
                EXPECT_EQ(static_cast<long long>(utc_seconds(tm)), c.seconds)
                    << c.date << " with TZ " << (z.tz ? z.tz : "unset") << " from "
                    << (z.tzdir ? z.tzdir : "the default");
            }
            const char* now = std::getenv("TZ");
            if (z.tz == nullptr)
                EXPECT_EQ(now, nullptr);
            else
                EXPECT_STREQ(now, z.tz);
        }
        set_env("TZDIR", saved_tzdir ? saved_tzdir->c_str() : nullptr);
        set_env("TZ", saved_tz ? saved_tz->c_str() : nullptr);
    }
}

} // namespace
