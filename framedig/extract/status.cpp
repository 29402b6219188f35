// Channel status report: the 192 status bits of every channel in every block,
// each checked against channel 1 of the first block.
#include "blocks.h"

#include <array>
#include <charconv>
#include <new>
#include <string_view>

// Word number (1-6) of a channel's (1-based) status in one block: bit n holds
// the C bit of frame 32 * (word - 1) + n, so status bit 0 is the least
// significant bit of word 1. The report takes all channels of a block at once
// (gather_status_words); this one at a time is the model it is tested against.
std::uint32_t status_word(const std::uint8_t* block, int channels, int channel, int word)
{
    std::uint32_t result = 0;
    const int first_frame = bits_per_status_word * (word - 1);
    for (int n = 0; n < bits_per_status_word; ++n) {
        const auto index = static_cast<std::size_t>(first_frame + n) * static_cast<std::size_t>(channels) +
                           static_cast<std::size_t>(channel - 1);
        const std::uint32_t c_bit = (load_word(block + index * word_bytes) >> status_bit_pos) & 1U;
        result |= c_bit << n;
    }
    return result;
}

namespace {

constexpr std::string_view disagreement =
    "Error happens: different channel status information between"
    "                                 channel ";

// The report's text, gathered in one buffer and written a buffer at a time.
// The buffer is flushed whenever one more channel's lines might not fit.
constexpr std::size_t text_bytes = std::size_t{64} * 1024;
constexpr std::size_t number_bytes = 11;  // -2147483648 or 4294967295
constexpr std::size_t channel_text_bytes =
    status_words * (std::string_view("The th status of channel  is: .\n").size() + disagreement.size() +
                    std::string_view(", word  and channel 1.\n").size() + 5 * number_bytes);

struct text {
    std::array<char, text_bytes> bytes;
    std::size_t used = 0;
};

void put(text& t, std::string_view s)
{
    s.copy(t.bytes.data() + t.used, s.size());
    t.used += s.size();
}

template <class T> void put_number(text& t, T value)
{
    char* start = t.bytes.data() + t.used;
    t.used += static_cast<std::size_t>(std::to_chars(start, start + number_bytes, value).ptr - start);
}

// Writes what the buffer holds; false on a failed write.
bool flush(std::FILE* out, text& t)
{
    const bool written = std::fwrite(t.bytes.data(), 1, t.used, out) == t.used;
    t.used = 0;
    return written;
}

// Adds the six status lines of one channel (from 1) to the report. Any word
// that differs from the reference gets a disagreement line and sets failed.
void report_channel(text& t, const std::uint32_t* words, int channels, int ch,
                    const std::array<std::uint32_t, status_words>& reference, bool& failed)
{
    for (int j = 1; j <= status_words; ++j) {
        const std::uint32_t word = words[static_cast<std::size_t>((j - 1) * channels + ch - 1)];
        put(t, "The ");
        put_number(t, j);
        put(t, "th status of channel ");
        put_number(t, ch);
        put(t, " is: ");
        put_number(t, word);
        put(t, ".\n");
        if (word != reference[static_cast<std::size_t>(j - 1)]) {
            failed = true;
            put(t, disagreement);
            put_number(t, ch);
            put(t, ", word ");
            put_number(t, j);
            put(t, " and channel 1.\n");
        }
    }
}

} // namespace

// Returns 0 when every status word agreed with the reference (or nothing was
// read), 1 on a disagreement, an allocation failure, a read error or a failed
// write; the caller reports the failed write.
int iec_status(std::FILE* in, std::FILE* out, bool wav, int channels)
{
    const auto block_bytes = frames_per_block * word_bytes * static_cast<std::size_t>(channels);
    const std::size_t chunk_blocks = units_per_chunk(block_bytes);
    const bool in_range = channels >= 0 && channels <= max_status_channels;
    auto oneblock = in_range ? zeroed_array<std::uint8_t>(block_bytes * chunk_blocks) : nullptr;
    if (!oneblock) {
        std::puts("Failed to allocate memory for oneblock.");
        return 1;
    }
    // The status words of every channel of one block, word by word.
    auto cstatus = zeroed_array<std::uint32_t>(status_words * static_cast<std::size_t>(channels) + 1);
    const std::unique_ptr<text> report(new (std::nothrow) text);
    if (!cstatus || !report) {
        std::puts("Fail to allocate memory for cstatus.");
        return 1;
    }

    std::array<std::uint32_t, status_words> reference{};
    bool first_block = true;
    bool failed = false;
    skip_header(in, wav);
    std::size_t count = 0;
    while ((count = read_units(in, oneblock.get(), block_bytes, chunk_blocks)) > 0) {
        for (std::size_t b = 0; b < count; ++b) {
            gather_status_words(oneblock.get() + b * block_bytes, channels, cstatus.get());
            if (first_block) {
                for (std::size_t j = 0; j < status_words; ++j)
                    reference[j] = cstatus[j * static_cast<std::size_t>(channels)];
                first_block = false;
            }
            for (int ch = 1; ch <= channels; ++ch) {
                if (report->used + channel_text_bytes > text_bytes && !flush(out, *report))
                    return 1;
                report_channel(*report, cstatus.get(), channels, ch, reference, failed);
            }
        }
        if (!flush(out, *report))
            return 1;
    }

    int result = input_result(in);
    if (failed) {
        std::puts("Status bit self-checking failure!");
        result = 1;
    }
    return result;
}
