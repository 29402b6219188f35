// Live use: `arecord ... | framedig --analyze -i /dev/stdin -o report.txt`
// ended with Ctrl-C. The two signals stay blocked while the analysis works
// and are let in only while it waits for input (ppoll with the previous
// mask), so a signal can never slip in between the check and a read that
// then blocks. After the first, both signals get their default action back:
// a second one ends the run at once, while the report is written.
#include "analyze/live.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace {

// The one flag a signal handler sets: the process's only global.
volatile std::sig_atomic_t stop_requested = 0;

extern "C" void request_stop(int /*signal*/)
{
    stop_requested = 1;
}

bool ignored(int signal)
{
    struct sigaction current {};
    return sigaction(signal, nullptr, &current) == 0 && current.sa_handler == SIG_IGN;
}

// Puts back what the signals did before, normally their default action, and
// lets them in again.
void restore(live_input& live)
{
    if (!live.watching)
        return;
    live.watching = false;
    sigaction(SIGINT, &live.previous_int, nullptr);
    sigaction(SIGTERM, &live.previous_term, nullptr);
    sigprocmask(SIG_SETMASK, &live.previous_mask, nullptr);
}

void stop(live_input& live)
{
    live.ended = true;
    live.stopped = true;
    restore(live);
}

} // namespace

void live_begin(live_input& live, std::FILE* in)
{
    live.in = in;
    live.fd = fileno(in);
    stop_requested = 0;
    if (live.fd < 0)
        return;
    struct sigaction action {};
    action.sa_handler = request_stop;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: a blocked wait returns at once
    sigset_t both;
    sigemptyset(&both);
    sigaddset(&both, SIGINT);
    sigaddset(&both, SIGTERM);
    sigprocmask(SIG_BLOCK, &both, &live.previous_mask);
    live.watching = true;
    for (const auto& [signal, previous] : {std::pair{SIGINT, &live.previous_int}, std::pair{SIGTERM, &live.previous_term}})
        sigaction(signal, ignored(signal) ? nullptr : &action, previous);
}

void live_end(live_input* live)
{
    restore(*live);
}

std::size_t live_read(live_input& live, std::uint8_t* buf, std::size_t size)
{
    if (live.ended || size == 0)
        return 0;
    if (live.fd < 0) {
        const std::size_t got = std::fread(buf, 1, size, live.in);
        live.failed = std::ferror(live.in) != 0;
        live.ended = got == 0 || live.failed;
        return got;
    }
    for (;;) {
        if (stop_requested != 0) {
            stop(live);
            return 0;
        }
        pollfd wait{live.fd, POLLIN, 0};
        if (ppoll(&wait, 1, nullptr, &live.previous_mask) < 0) {
            if (errno == EINTR)
                continue;
            // Some inputs cannot be polled; reading them tells.
        }
        const ssize_t got = read(live.fd, buf, size);
        if (got > 0)
            return static_cast<std::size_t>(got);
        if (got < 0 && errno == EINTR)
            continue;
        live.ended = true;
        live.failed = got < 0;
        return 0;
    }
}

std::size_t live_fill(live_input& live, std::uint8_t* buf, std::size_t size)
{
    std::size_t filled = 0;
    while (filled < size) {
        const std::size_t got = live_read(live, buf + filled, size - filled);
        if (got == 0)
            break;
        filled += got;
    }
    return filled;
}
