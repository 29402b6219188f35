// Treats arbitrary bytes as a server's reply: the header search and the date
// conversion run on them exactly as the entry function runs them on its
// zero-terminated 4096-byte receive buffer.
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

    (void)header_block_complete(response.data(), length);
    int port = 0;
    (void)parse_port(response.data(), port);
    if (const char* date = find_date_header(response.data()); date != nullptr) {
        std::tm tm{};
        if (parse_http_date(date, tm))
            (void)utc_seconds(tm);
    }
    return 0;
}
