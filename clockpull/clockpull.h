// clockpull: sets the system clock from a web server's Date header.
#pragma once

#include <netinet/in.h>

#include <cstddef>
#include <ctime>
#include <string_view>

inline constexpr std::size_t exchange_buffer_bytes = 4096;
inline constexpr int default_port = 80;
inline constexpr int max_port = 65535;
// The whole exchange (connect, send, every receive) must end within this
// time on the monotonic clock, however the server behaves.
inline constexpr int exchange_deadline_ms = 10000;

// A server address: an IPv4 dotted-decimal or an IPv6 literal, never a name.
struct server_address {
    int family = 0;  // AF_INET or AF_INET6; 0 when the text is neither
    sockaddr_storage addr{};
};

// Where the Date value lies in the bytes received so far.
struct date_search {
    bool headers_done = false;  // the final response's header block has ended
    bool found = false;         // a Date field of the final response was seen
    bool terminated = false;    // its line ended (CRLF or LF) within the bytes
    std::size_t begin = 0;      // the value: bytes [begin, end) of the reply
    std::size_t end = 0;
};

// The HTTP exchange (http.cpp) and the reading of the reply (reply.cpp).
[[noreturn]] void error_exit(const char* message);
bool parse_port(const char* text, int& port);
server_address parse_server(const char* text, int port);
date_search search_date(std::string_view reply);
std::size_t fetch_response(const server_address& server, const char* request, char* response, std::size_t size);
void print_untrusted(std::string_view text);

// Date conversion and clock setting (clock.cpp).
bool parse_http_date(std::string_view value, std::tm& tm);
std::time_t utc_seconds(std::tm& tm);
int set_clock_from(std::string_view date_value, bool complete);
