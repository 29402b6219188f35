// clockpull: sets the system clock from a web server's Date header.
#pragma once

#include <cstddef>
#include <ctime>

inline constexpr std::size_t exchange_buffer_bytes = 4096;
inline constexpr int default_port = 80;
inline constexpr int max_port = 65535;

// The HTTP exchange (http.cpp).
[[noreturn]] void error_exit(const char* message);
bool parse_port(const char* text, int& port);
bool header_block_complete(const char* text, std::size_t length);
void fetch_response(const char* server, int port, const char* request, char* response, std::size_t size);
char* find_date_header(char* response);

// Date conversion and clock setting (clock.cpp).
bool parse_http_date(const char* value, std::tm& tm);
std::time_t utc_seconds(std::tm& tm);
int set_clock_from(const char* date_value);
