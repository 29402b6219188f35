// Reading the capture for the analysis, also live from a device: SIGINT or
// SIGTERM stops the reading at once, and the report covers what was read.
#pragma once

#include <csignal>
#include <cstddef>
#include <cstdint>
#include <cstdio>

struct live_input {
    std::FILE* in = nullptr;
    int fd = -1;            // read directly when the stream has one
    bool ended = false;     // end of data, a stop or a read error
    bool stopped = false;   // by SIGINT or SIGTERM
    bool failed = false;    // a read error
    bool watching = false;  // the handlers are installed
    sigset_t previous_mask{};
    struct sigaction previous_int {};
    struct sigaction previous_term {};
};

// Installs the handlers (unless the signal is ignored, as in a background
// job) and blocks both signals but while waiting for input; live_end puts
// everything back.
void live_begin(live_input& live, std::FILE* in);
void live_end(live_input* live);
// Reads what arrives, up to size bytes; 0 once the input has ended.
std::size_t live_read(live_input& live, std::uint8_t* buf, std::size_t size);
// Reads until size bytes have arrived or the input has ended.
std::size_t live_fill(live_input& live, std::uint8_t* buf, std::size_t size);
