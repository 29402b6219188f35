// clockpull: sets the system clock from a web server's Date header, or only
// shows how far the local clock is from it.
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

// What the reply says, from the bytes received so far.
struct date_search {
    bool headers_done = false;  // the final response's header section has ended
    bool not_http = false;      // a response does not begin with a status line "HTTP/1.x NNN"
    bool found = false;         // a Date field of the final response was seen
    bool conflict = false;      // another Date field of it reads differently
    bool terminated = false;    // the last Date field's last line ended (CRLF or LF) within the bytes
    bool at_end = false;        // and it ended the bytes: a folded line may still follow unseen
    std::size_t begin = 0;      // the first Date field's value: bytes [begin, end) of the
    std::size_t end = 0;        // reply, any obs-fold still in it
};

// The HTTP exchange (http.cpp) and the reading of the reply (reply.cpp).
[[noreturn]] void error_exit(const char* message);
bool parse_port(const char* text, int& port);
server_address parse_server(const char* text, int port);
bool status_line_ok(std::string_view line, bool ended);
std::size_t unfold(std::string_view raw, char* out);
date_search search_date(std::string_view reply);
std::size_t fetch_response(const server_address& server, const char* request, char* response, std::size_t size);
void print_untrusted(std::string_view text);

// Date conversion and clock setting (clock.cpp).
bool parse_http_date(std::string_view value, std::tm& tm);
long long days_from_civil(int year, int month, int day);
std::time_t utc_seconds(const std::tm& tm);
bool date_seconds(std::string_view value, bool complete, std::time_t& seconds);
int set_clock(std::time_t seconds);
int print_offset(std::time_t seconds, std::time_t arrived);
