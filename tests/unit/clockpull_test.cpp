#include "clockpull.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

namespace {

using namespace std::literals;

TEST(FindDateHeader, MatchesTheHeaderFieldOnly)
{
    struct {
        const char* name;
        const char* response;
        const char* value;  // null: not found
    } const cases[] = {
        {"plain", "HTTP/1.1 200 OK\r\nDate: Sun, 06 Nov 1994 08:49:37 GMT\r\nServer: x\r\n\r\n",
         "Sun, 06 Nov 1994 08:49:37 GMT"},
        {"name in any case", "HTTP/1.1 200 OK\r\ndate: a\r\n\r\n", "a"},
        {"blanks and tabs after the colon", "HTTP/1.1 200 OK\r\nDATE:\t  b\r\n\r\n", "b"},
        {"no blank after the colon", "HTTP/1.1 200 OK\r\nDate:c\r\n\r\n", "c"},
        {"X-Date before Date is skipped", "HTTP/1.1 200 OK\r\nX-Date: wrong\r\nDate: right\r\n\r\n", "right"},
        {"Last-Modified before Date", "HTTP/1.1 200 OK\r\nLast-Modified: old\r\nDate: new\r\n\r\n", "new"},
        {"value runs to the end of the text", "HTTP/1.1 200 OK\r\nDate: cut off", "cut off"},
        {"first of two Date headers", "HTTP/1.1 200 OK\r\nDate: one\r\nDate: two\r\n\r\n", "one"},
        {"any status", "HTTP/1.1 404 Not Found\r\nDate: d\r\n\r\n", "d"},
        {"only X-Date", "HTTP/1.1 200 OK\r\nX-Date: wrong\r\n\r\n", nullptr},
        {"longer name starting with Date", "HTTP/1.1 200 OK\r\nDates: wrong\r\n\r\n", nullptr},
        {"blank before the colon", "HTTP/1.1 200 OK\r\nDate : wrong\r\n\r\n", nullptr},
        {"Date in the value of another header", "HTTP/1.1 200 OK\r\nVia: Date: wrong\r\n\r\n", nullptr},
        {"Date after the header block", "HTTP/1.1 200 OK\r\nServer: x\r\n\r\nDate: body\r\n", nullptr},
        {"no line before it", "Date: first line\r\n\r\n", nullptr},
        {"empty response", "", nullptr},
    };
    for (const auto& c : cases) {
        std::string buf = c.response;
        const char* found = find_date_header(buf.data());
        if (c.value == nullptr)
            EXPECT_EQ(found, nullptr) << c.name;
        else
            EXPECT_STREQ(found, c.value) << c.name;
    }
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

TEST(HeaderBlockComplete, NeedsTheEmptyLine)
{
    const std::string done = "HTTP/1.1 200 OK\r\nDate: x\r\n\r\n";
    EXPECT_TRUE(header_block_complete(done.data(), done.size()));
    EXPECT_FALSE(header_block_complete(done.data(), done.size() - 1));
    // Counted bytes, not the zero-terminated text: a zero byte does not hide the end.
    const std::string_view with_zero = "HTTP/1.1 200 OK\r\nX: \0\r\n\r\n"sv;
    EXPECT_TRUE(header_block_complete(with_zero.data(), with_zero.size()));
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

TEST(UtcSeconds, ConvertsAsUtcAndRestoresTz)
{
    struct {
        const char* date;
        long long seconds;  // -1: rejected by the conversion
    } const cases[] = {
        {"Sun, 06 Nov 1994 08:49:37 GMT", 784111777},
        {"Sunday, 06 Nov 1994 08:49:37 GMT", 784111777},
        {"sun, 06 nov 1994 08:49:37 gmt", 784111777},
        {"Mon, 06 Nov 1994 08:49:37 GMT", 784111777},  // the weekday is not checked
        {"Sun, 06 Nov 1994 08:49:37 +0900", 784111777},  // the zone is never read
        {"Thu, 01 Jan 1970 00:00:00 GMT", 0},
        {"Wed, 31 Dec 1969 23:59:59 GMT", -1},
        {"Thu, 31 Apr 2025 12:00:00 GMT", 1746100800},  // rolls into 1 May
        {"Tue, 19 Jan 2038 03:14:08 GMT", 2147483648},
    };
    for (const char* zone : {"JST-9", "EST5EDT", "UTC", static_cast<const char*>(nullptr)}) {
        const auto saved = set_tz(zone);
        for (const auto& c : cases) {
            std::tm tm{};
            ASSERT_TRUE(parse_http_date(c.date, tm)) << c.date;
            EXPECT_EQ(static_cast<long long>(utc_seconds(tm)), c.seconds) << c.date << " with TZ " << (zone ? zone : "unset");
            const char* now = std::getenv("TZ");
            if (zone == nullptr)
                EXPECT_EQ(now, nullptr);
            else
                EXPECT_STREQ(now, zone);
        }
        set_tz(saved ? saved->c_str() : nullptr);
    }
}

TEST(ParseHttpDate, RejectsOtherForms)
{
    for (const char* date : {"Sunday, 06-Nov-94 08:49:37 GMT", "Sun Nov  6 08:49:37 1994", "Sun 06 Nov 1994 08:49:37 GMT",
                             "", "Sun, 06 Nov 1994", "Sun, 06 Foo 1994 08:49:37 GMT", "Sun, 06 Nov 1994 25:00:00 GMT"}) {
        std::tm tm{};
        EXPECT_FALSE(parse_http_date(date, tm)) << '"' << date << '"';
    }
}

} // namespace
