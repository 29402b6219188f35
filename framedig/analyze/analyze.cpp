// Analysis: finds the block structure from the preamble codes in the first
// MiB after any leading zero words, then streams the capture through the
// pass; the findings decide the exit status.
#include "analyze/analysis.h"
#include "analyze/live.h"
#include "analyze/pass.h"

#include <cstring>
#include <memory>
#include <new>

namespace {

// The preamble codes are detected in the first MiB; the rest of the capture
// streams through the same buffer, read a piece at a time so that the words
// are still in the cache when the pass takes them.
constexpr std::size_t window_bytes = std::size_t{1024} * 1024;
constexpr std::size_t read_piece_bytes = std::size_t{256} * 1024;
constexpr std::size_t zero_chunk_words = std::size_t{16} * 1024;

std::size_t first_nonzero_word(const std::uint8_t* buf, std::size_t words)
{
    std::size_t i = 0;
    while (i < words && load_word(buf + i * word_bytes) == 0)
        ++i;
    return i;
}

// Reads the first window, counting and dropping the zero words in front of
// it: a receiver delivers them until it locks. Returns the bytes held.
std::size_t read_window(live_input& live, std::uint8_t* buf, long long& zero_words)
{
    std::size_t filled = live_fill(live, buf, window_bytes);
    for (;;) {
        const std::size_t words = filled / word_bytes;
        const std::size_t zeros = first_nonzero_word(buf, words);
        zero_words += static_cast<long long>(zeros);
        const std::size_t kept = filled - zeros * word_bytes;
        std::memmove(buf, buf + zeros * word_bytes, kept);
        filled = kept + live_fill(live, buf + kept, window_bytes - kept);
        if (zeros < words || live.ended)
            return filled;
    }
}

// Feeds the pass the leading zero words, which were not kept. False when
// memory runs out.
bool pass_zero_words(pass_state& p, analysis& facts, long long count)
{
    if (count == 0)
        return true;
    const auto zeros = zeroed_array<std::uint8_t>(zero_chunk_words * word_bytes);
    if (!zeros)
        return false;
    for (long long left = count; left > 0;) {
        const auto n = static_cast<std::size_t>(std::min<long long>(left, static_cast<long long>(zero_chunk_words)));
        pass_words(p, facts, zeros.get(), 0, n, true);
        left -= static_cast<long long>(n);
    }
    return true;
}

// Streams the window and the rest of the capture through the pass. Each
// refill keeps a block of history (for the fast path's status comparison)
// and the words the pass has not taken yet. Returns the bytes of a trailing
// incomplete word.
std::size_t pass_stream(pass_state& p, analysis& facts, live_input& live, std::uint8_t* buf, std::size_t filled)
{
    std::size_t begin = 0;
    for (;;) {
        const bool at_end = live.ended;
        const std::size_t end = filled / word_bytes;
        const std::size_t stop = pass_words(p, facts, buf, begin, end, at_end);
        if (at_end)
            return filled - end * word_bytes;
        const std::size_t history = p.fast ? std::min(stop, p.block_words) : 0;
        const std::size_t keep_from = (stop - history) * word_bytes;
        std::memmove(buf, buf + keep_from, filled - keep_from);
        filled -= keep_from;
        begin = history;
        filled += live_read(live, buf + filled, std::min(read_piece_bytes, window_bytes - filled));
    }
}

// The channel count: given, or what the codes say; 0 when nothing tells it
// (an empty capture, or one of zero words). -1 after printing the error.
int channel_count(analysis& facts, const preamble_codes& found, const std::uint8_t* buf, std::size_t words, int given)
{
    facts.channels_detected = given == 0;
    if (given != 0) {
        // -c that the codes contradict: frames are counted by -c, but the
        // status blocks that framing assembles are made up.
        if (!found.usable && words > 0) {
            const preamble_codes own = detect_preambles(buf, words, 0);
            facts.preamble_channels = own.usable ? own.channels : 0;
            facts.status_made_up = own.usable;
        }
        return given;
    }
    if (found.usable)
        return found.channels;
    if (words == 0)
        return 0;
    std::puts("Error: channel number(-c) could not be detected; please give -c.");
    return -1;
}

// The sample rate of a canonical WAV header, 0 when it is not one.
int wav_header_rate(const std::uint8_t* header)
{
    constexpr std::size_t rate_at = 24;
    if (std::memcmp(header, "RIFF", 4) != 0 || std::memcmp(header + 8, "WAVE", 4) != 0)
        return 0;
    const std::uint32_t rate = load_word(header + rate_at);
    constexpr std::uint32_t highest_rate = 1U << 24;
    return rate < highest_rate ? static_cast<int>(rate) : 0;
}

} // namespace

// Returns 0 when the report lists no findings, 1 when it lists any and on
// every error; the caller reports a failed write.
int iec_analyze(std::FILE* in, std::FILE* out, bool wav, int channels, bool json)
{
    const std::unique_ptr<analysis> facts(new (std::nothrow) analysis());
    auto buf = zeroed_array<std::uint8_t>(window_bytes);
    if (!facts || !buf) {
        std::puts("Failed to allocate memory for analysis.");
        return 1;
    }
    live_input live;
    live_begin(live, in);
    // cppcheck-suppress unreadVariable ; it puts the signals back on every return
    const std::unique_ptr<live_input, decltype(&live_end)> restore(&live, live_end);
    if (wav && live_fill(live, buf.get(), wav_header_bytes) == wav_header_bytes)
        facts->wav_rate_hz = wav_header_rate(buf.get());
    long long zero_words = 0;
    const std::size_t filled = read_window(live, buf.get(), zero_words);
    const std::size_t words = filled / word_bytes;
    const preamble_codes found = words > 0 ? detect_preambles(buf.get(), words, channels) : preamble_codes{};
    const int count = channel_count(*facts, found, buf.get(), words, channels);
    if (count < 0)
        return 1;
    facts->channels = count;
    facts->preambles = found.usable;
    facts->block_code = found.block;
    facts->first_code = found.first;
    std::size_t trailing = filled;
    if (count > 0) {
        pass_state p;
        facts->per_channel = zeroed_array<channel_facts>(static_cast<std::size_t>(count));
        if (!facts->per_channel || !pass_begin(p, *facts, found, zero_words + static_cast<long long>(found.start)) ||
            !pass_zero_words(p, *facts, zero_words)) {
            std::puts("Failed to allocate memory for analysis.");
            return 1;
        }
        trailing = pass_stream(p, *facts, live, buf.get(), filled);
        pass_end(p, *facts);
    } else {
        facts->words = zero_words;
        facts->nothing_received = zero_words > 0;
    }
    if (live.failed) {
        std::puts("Meet error during reading origin iec stream: 1");
        return 1;
    }
    facts->interrupted = live.stopped;
    facts->trailing_bytes += static_cast<long long>(trailing);
    signal_results(*facts);
    add_closing_findings(*facts);
    if (json)
        write_json_report(out, *facts);
    else
        write_text_report(out, *facts);
    return finding_total(*facts) == 0 ? 0 : 1;
}
