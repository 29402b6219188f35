// clockpull: asks a web server for the time with an HTTP/1.1 HEAD request and
// sets the system clock from the Date header of its reply.
#include "clockpull.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr char help_text[] =
    "\n"
    "Options:\n"
    "  -h, --help    Show this help message and exit\n"
    "\n"
    "Arguments:\n"
    "  server_ip     The IP address of the time server\n"
    "  port          The port number (default: 80)\n";

} // namespace

int main(int argc, char* argv[])
{
    const char* program = argc > 0 ? argv[0] : "clockpull";
    if (argc < 2) {
        std::fprintf(stderr, "Usage: %s <server_ip> [port]\n", program);
        std::fprintf(stderr, "Try '%s --help' for more information.\n", program);
        return 1;
    }
    if (std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "--help") == 0) {
        std::printf("Usage: %s <server_ip> [port]\n", program);
        std::fputs(help_text, stdout);
        return 0;
    }

    const char* server = argv[1];
    int port = default_port;
    if (argc > 2 && !parse_port(argv[2], port)) {
        std::fprintf(stderr, "Error: Invalid port: %s\n", argv[2]);
        return 1;
    }
    char request[exchange_buffer_bytes];
    std::snprintf(request, sizeof request, "HEAD / HTTP/1.1\r\nHost: %s\r\nConnection: close\r\n\r\n", server);

    std::printf("[*] Connecting to %s:%d...\n", server, port);
    char response[exchange_buffer_bytes];
    fetch_response(server, port, request, response, sizeof response);

    const char* date = find_date_header(response);
    if (date == nullptr) {
        std::fputs("Error: 'Date' header not found in response.\n", stderr);
        return 1;
    }
    std::printf("[*] Server Time String: %s\n", date);
    return set_clock_from(date);
}
