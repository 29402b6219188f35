// The HTTP side: port argument, one HEAD exchange over IPv4, Date header search.
#include "clockpull.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

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

// True once the received bytes hold the empty line that ends the headers.
bool header_block_complete(const char* text, std::size_t length)
{
    return std::string_view(text, length).find("\r\n\r\n") != std::string_view::npos;
}

// Connects to server:port, sends the request and receives the start of the
// reply into response, zero-terminated. Receiving goes on until the header
// block is complete, the server closes or the buffer is full, so headers
// split over several segments are still read whole. Any failed step ends the
// run through error_exit.
void fetch_response(const char* server, int port, const char* request, char* response, std::size_t size)
{
    const int sock = socket(AF_INET, SOCK_STREAM, 0);
    if (sock < 0)
        error_exit("Socket creation failed");
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    if (inet_pton(AF_INET, server, &addr.sin_addr) <= 0)
        error_exit("Invalid address / Address not supported");
    if (connect(sock, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) < 0)
        error_exit("Connection failed");

    std::puts("[*] Sending HTTP HEAD request...");
    if (send(sock, request, std::strlen(request), 0) < 0)
        error_exit("Send failed");

    std::memset(response, 0, size);
    std::size_t received = 0;
    while (received < size - 1) {
        const ssize_t n = recv(sock, response + received, size - 1 - received, 0);
        if (n < 0)
            error_exit("Receive failed");
        if (n == 0)
            break;
        received += static_cast<std::size_t>(n);
        if (header_block_complete(response, received))
            break;
    }
    close(sock);
}

// Finds the Date header as HTTP defines a header field: "Date" at the start
// of a header line, in any case, then a colon and optional blanks or tabs.
// The value is cut at the next CRLF and returned; null when there is none
// before the end of the header block or of the text.
char* find_date_header(char* response)
{
    for (char* line = std::strstr(response, "\r\n"); line != nullptr; line = std::strstr(line, "\r\n")) {
        line += 2;
        if (line[0] == '\r' && line[1] == '\n')
            return nullptr;
        if (strncasecmp(line, "Date", 4) == 0 && line[4] == ':') {
            char* value = line + 5;
            value += std::strspn(value, " \t");
            if (char* end = std::strstr(value, "\r\n"); end != nullptr)
                *end = '\0';
            return value;
        }
    }
    return nullptr;
}
