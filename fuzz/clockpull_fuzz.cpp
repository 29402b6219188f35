// Treats arbitrary bytes as a server's reply: the Date search, the unfolding
// and the date conversion run on them exactly as the entry function runs them
// on its 4096-byte receive buffer. The bytes are also given to the date parser
// directly, so that it meets every kind of value, and to the argument parsers.
#include "clockpull.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::array<char, exchange_buffer_bytes> response{};
    const std::size_t length = std::min(size, response.size() - 1);
    std::memcpy(response.data(), data, length);
    const std::string_view reply(response.data(), length);

    std::tm tm{};
    if (parse_http_date(reply, tm))
        (void)utc_seconds(tm);
    const date_search date = search_date(reply);
    if (date.found) {
        std::array<char, exchange_buffer_bytes> value{};
        const std::size_t unfolded = unfold(reply.substr(date.begin, date.end - date.begin), value.data());
        if (parse_http_date(std::string_view(value.data(), unfolded), tm))
            (void)utc_seconds(tm);
    }
    int port = 0;
    (void)parse_port(response.data(), port);
    (void)parse_server(response.data(), port);
    return 0;
}
