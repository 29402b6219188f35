// clockpull: asks a web server for the time with an HTTP/1.1 HEAD request and
// sets the system clock from the Date header of its reply, or, asked with -q,
// only shows how far the local clock is from it.
#include "clockpull.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

namespace {

constexpr char help_text[] =
    "\n"
    "Options:\n"
    "  -h, --help    Show this help message and exit\n"
    "  -q, --query   Print the server's time and the offset; set nothing\n"
    "\n"
    "Arguments:\n"
    "  server_ip     The IP address of the time server\n"
    "  port          The port number (default: 80)\n";

// Opens /dev/null on each of descriptors 0, 1 and 2 that is closed (as boot
// scripts and daemons may leave them), so that the socket can never be one
// of them and receive the progress lines. open takes the lowest free
// descriptor, so going up from 0 fills exactly the closed ones.
void open_standard_descriptors()
{
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (fcntl(fd, F_GETFD) == -1 && errno == EBADF && open("/dev/null", O_RDWR) != fd)
            error_exit("Cannot open /dev/null");
    }
}

bool is_option(const char* arg, const char* short_name, const char* long_name)
{
    return std::strcmp(arg, short_name) == 0 || std::strcmp(arg, long_name) == 0;
}

} // namespace

int main(int argc, char* argv[])
{
    open_standard_descriptors();
    // The clock must be set whatever happens to the reader of the progress
    // lines: a write to a closed pipe fails and is let be.
    std::signal(SIGPIPE, SIG_IGN);
    // Line by line, so that progress and errors appear in the order they
    // happen in a file or a pipe too, and survive a kill.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const char* program = argc > 0 ? argv[0] : "clockpull";
    if (argc > 1 && is_option(argv[1], "-h", "--help")) {
        std::printf("Usage: %s <server_ip> [port]\n", program);
        std::fputs(help_text, stdout);
        return 0;
    }
    const bool query = argc > 1 && is_option(argv[1], "-q", "--query");
    const int first = query ? 2 : 1;  // where the server argument is
    if (argc <= first) {
        std::fprintf(stderr, "Usage: %s <server_ip> [port]\n", program);
        std::fprintf(stderr, "Try '%s --help' for more information.\n", program);
        return 1;
    }

    const char* server = argv[first];
    int port = default_port;
    if (argc > first + 1 && !parse_port(argv[first + 1], port)) {
        std::fprintf(stderr, "Error: Invalid port: %s\n", argv[first + 1]);
        return 1;
    }
    // An IPv6 address is written in brackets wherever a port may follow it.
    const server_address address = parse_server(server, port);
    const char* open = address.family == AF_INET6 ? "[" : "";
    const char* close = address.family == AF_INET6 ? "]" : "";
    char request[exchange_buffer_bytes];
    std::snprintf(request, sizeof request, "HEAD / HTTP/1.1\r\nHost: %s%s%s\r\nConnection: close\r\n\r\n", open,
                  server, close);

    std::printf("[*] Connecting to %s%s%s:%d...\n", open, server, close, port);
    if (address.family == 0) {
        errno = EINVAL;
        error_exit("Invalid address / Address not supported");
    }
    char response[exchange_buffer_bytes];
    const std::size_t received = fetch_response(address, request, response, sizeof response);
    const std::time_t arrived = std::time(nullptr);

    const date_search date = search_date(std::string_view(response, received));
    if (date.not_http) {
        std::fputs("Error: the reply is not HTTP.\n", stderr);
        return 1;
    }
    if (!date.found) {
        std::fputs("Error: 'Date' header not found in response.\n", stderr);
        return 1;
    }
    if (date.conflict) {
        std::fputs("Error: conflicting Date fields.\n", stderr);
        return 1;
    }
    // A Date line that ends a full buffer may go on in a folded line unseen.
    const bool complete = date.terminated && !(date.at_end && received == sizeof response - 1);
    const std::string_view folded(response + date.begin, date.end - date.begin);
    char value[exchange_buffer_bytes];
    const std::string_view unfolded(value, unfold(folded, value));
    std::fputs("[*] Server Time String: ", stdout);
    print_untrusted(unfolded);
    std::putchar('\n');

    std::time_t seconds = 0;
    if (!date_seconds(unfolded, complete, seconds))
        return 1;
    return query ? print_offset(seconds, arrived) : set_clock(seconds);
}
