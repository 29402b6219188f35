// Channel status report: the 192 status bits of every channel in every block,
// each checked against channel 1 of the first block.
#include "iec958.h"

#include <array>

// Word number (1-6) of a channel's (1-based) status in one block: bit n holds
// the C bit of frame 32 * (word - 1) + n, so status bit 0 is the least
// significant bit of word 1.
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

// Writes the six status lines of one channel of one block into cstatus and
// the report. The first channel of the first block sets the reference; any
// other word that differs from it gets a disagreement line and sets failed.
// Returns false on a failed write.
bool report_channel(std::FILE* out, const std::uint8_t* block, int channels, int ch, std::uint32_t* cstatus,
                    std::array<std::uint32_t, status_words>& reference, bool set_reference, bool& failed)
{
    for (int j = 1; j <= status_words; ++j) {
        cstatus[j - 1] = status_word(block, channels, ch, j);
        const std::uint32_t word = cstatus[j - 1];
        std::uint32_t& ref = reference[static_cast<std::size_t>(j - 1)];
        if (std::fprintf(out, "The %dth status of channel %d is: %u.\n", j, ch, word) < 0)
            return false;
        if (set_reference) {
            ref = word;
        } else if (word != ref) {
            failed = true;
            if (std::fprintf(out,
                             "Error happens: different channel status information between"
                             "                                 channel %d, word %d and channel 1.\n",
                             ch, j) < 0)
                return false;
        }
    }
    return true;
}

} // namespace

// Returns 0 when every status word agreed with the reference (or nothing was
// read), 1 on a disagreement, an allocation failure, a read error or a failed
// write; the caller reports the failed write.
int iec_status(std::FILE* in, std::FILE* out, bool wav, int channels)
{
    auto cstatus = zeroed_array<std::uint32_t>(status_words);
    if (!cstatus) {
        std::puts("Fail to allocate memory for cstatus.");
        return 1;
    }
    const auto block_bytes = frames_per_block * word_bytes * static_cast<std::size_t>(channels);
    const std::size_t chunk_blocks = units_per_chunk(block_bytes);
    auto oneblock = channels < 0 || channels > max_status_channels ? nullptr
                                                                   : zeroed_array<std::uint8_t>(block_bytes * chunk_blocks);
    if (!oneblock) {
        std::puts("Failed to allocate memory for oneblock.");
        return 1;
    }

    std::array<std::uint32_t, status_words> reference{};
    bool first_channel = true;
    bool failed = false;
    skip_header(in, wav);
    std::size_t count = 0;
    while ((count = read_units(in, oneblock.get(), block_bytes, chunk_blocks)) > 0) {
        for (std::size_t b = 0; b < count; ++b) {
            for (int ch = 1; ch <= channels; ++ch) {
                if (!report_channel(out, oneblock.get() + b * block_bytes, channels, ch, cstatus.get(), reference,
                                    first_channel, failed))
                    return 1;
                first_channel = false;
            }
        }
    }

    int result = input_result(in);
    if (failed) {
        std::puts("Status bit self-checking failure!");
        result = 1;
    }
    return result;
}
