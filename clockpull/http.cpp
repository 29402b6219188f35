// The HTTP side: port and address arguments and one HEAD exchange bounded by
// a deadline.
#include "clockpull.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

// Reports a failed system call as perror does and ends the run.
void error_exit(const char* message)
{
    std::perror(message);
    std::exit(1);
}

// A port is a decimal number from 1 to 65535, digits only; leading zeros are fine.
bool parse_port(const char* text, int& port)
{
    long value = 0;
    for (const char* p = text; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9')
            return false;
        value = value * 10 + (*p - '0');
        if (value > max_port)
            return false;
    }
    if (value < 1)
        return false;
    port = static_cast<int>(value);
    return true;
}

// The socket address for an IPv4 dotted-decimal or an IPv6 literal; family 0
// for anything else. inet_pton takes only the strict forms ("127.1" is not
// an IPv4 address) and never looks a name up.
server_address parse_server(const char* text, int port)
{
    server_address server;
    auto* v4 = reinterpret_cast<sockaddr_in*>(&server.addr);
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&server.addr);
    if (inet_pton(AF_INET, text, &v4->sin_addr) == 1) {
        server.family = v4->sin_family = AF_INET;
        v4->sin_port = htons(static_cast<std::uint16_t>(port));
    } else if (inet_pton(AF_INET6, text, &v6->sin6_addr) == 1) {
        server.family = v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(static_cast<std::uint16_t>(port));
    } else {
        server = server_address{};
    }
    return server;
}

namespace {

long long monotonic_ms()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// Waits until the socket is ready for events, or fails with ETIMEDOUT once
// the deadline has passed. A slow trickle of bytes cannot stretch it: every
// wait gets only the time that is left.
bool wait_ready(int sock, short events, long long deadline)
{
    for (;;) {
        const long long left = deadline - monotonic_ms();
        if (left <= 0) {
            errno = ETIMEDOUT;
            return false;
        }
        pollfd ready{sock, events, 0};
        const int n = poll(&ready, 1, static_cast<int>(left));
        if (n > 0)
            return true;
        if (n == 0)
            errno = ETIMEDOUT;
        if (n == 0 || errno != EINTR)
            return false;
    }
}

bool try_again(ssize_t result)
{
    return result < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR);
}

} // namespace

// Connects, sends the request and receives the start of the reply into
// response, zero-terminated; returns the number of bytes received. Receiving
// goes on until the final response's headers are complete, the reply shows
// it is not HTTP, the server closes or the buffer is full, all within the
// exchange deadline. The socket is
// non-blocking and sends never raise SIGPIPE. Any failed step ends the run
// through error_exit.
std::size_t fetch_response(const server_address& server, const char* request, char* response, std::size_t size)
{
    const long long deadline = monotonic_ms() + exchange_deadline_ms;
    const int sock = socket(server.family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (sock < 0)
        error_exit("Socket creation failed");
    const socklen_t addr_len = server.family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
    if (connect(sock, reinterpret_cast<const sockaddr*>(&server.addr), addr_len) < 0) {
        if (errno != EINPROGRESS || !wait_ready(sock, POLLOUT, deadline))
            error_exit("Connection failed");
        int error = 0;
        socklen_t error_len = sizeof error;
        if (getsockopt(sock, SOL_SOCKET, SO_ERROR, &error, &error_len) < 0)
            error_exit("Connection failed");
        if (error != 0) {
            errno = error;
            error_exit("Connection failed");
        }
    }

    std::puts("[*] Sending HTTP HEAD request...");
    const std::size_t length = std::strlen(request);
    for (std::size_t sent = 0; sent < length;) {
        if (!wait_ready(sock, POLLOUT, deadline))
            error_exit("Send failed");
        const ssize_t n = send(sock, request + sent, length - sent, MSG_NOSIGNAL);
        if (n < 0 && !try_again(n))
            error_exit("Send failed");
        sent += n > 0 ? static_cast<std::size_t>(n) : 0;
    }

    std::memset(response, 0, size);
    std::size_t received = 0;
    while (received < size - 1) {
        if (!wait_ready(sock, POLLIN, deadline))
            error_exit("Receive failed");
        const ssize_t n = recv(sock, response + received, size - 1 - received, 0);
        if (try_again(n))
            continue;
        if (n < 0)
            error_exit("Receive failed");
        if (n == 0)
            break;
        received += static_cast<std::size_t>(n);
        const date_search reply = search_date(std::string_view(response, received));
        if (reply.headers_done || reply.not_http)
            break;
    }
    close(sock);
    return received;
}

namespace {

// Printable ASCII: from the blank to the tilde.
constexpr unsigned char first_printable = 0x20;
constexpr unsigned char last_printable = 0x7E;

} // namespace

// Prints bytes that came from the server; control bytes (tab included), DEL
// and every byte from 0x80 up (C1 controls on 8-bit terminals, parts of UTF-8
// sequences such as a right-to-left override) are shown as \xHH so that they
// cannot act on the terminal. A Date value is ASCII.
void print_untrusted(std::string_view text)
{
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < first_printable || byte > last_printable)
            std::printf("\\x%02X", byte);
        else
            std::putchar(c);
    }
}
