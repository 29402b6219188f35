// Validity report: each channel's V bit in the first frame, then every later
// frame and channel in which it differs.
#include "iec958.h"

namespace {

// Writes the lines of one whole frame: the first frame's bits, or the
// channels whose bit differs from it. Returns false on a failed write.
bool report_frame(std::FILE* out, long long frame_number, const std::uint8_t* firstV, const std::uint8_t* frameV,
                  int channels, int& result)
{
    for (int ch = 0; ch < channels; ++ch) {
        const auto index = static_cast<std::size_t>(ch);
        int written = 0;
        if (frame_number == 1) {
            written = std::fprintf(out, "The validity bit of channel %d is: %d.\n", ch + 1, firstV[index]);
        } else if (frameV[index] != firstV[index]) {
            result = 1;
            written = std::fprintf(out, "Sample %lld, channel %d has different validity value: %d.\n", frame_number,
                                   ch + 1, frameV[index]);
        }
        if (written < 0)
            return false;
    }
    return true;
}

// True when the V bit of each of count words equals the pattern's: whole
// frames that all repeat the first frame's bits. One pass of XORs and ORs
// over contiguous words, which the compiler vectorises.
bool alike(const std::uint8_t* words, const std::uint32_t* pattern, std::size_t count)
{
    std::uint32_t differ = 0;
    for (std::size_t i = 0; i < count; ++i)
        differ |= load_word(words + i * word_bytes) ^ pattern[i];
    return (differ & (1U << validity_bit_pos)) == 0;
}

} // namespace

// Returns 0 when no V bit differed from its channel's first frame (or nothing
// was read), 1 on a difference, an allocation failure, a read error or a
// failed write; the caller reports the failed write.
//
// Words are read in chunks and counted off channel by channel, so no frame
// needs to fit in memory and no counter can overflow, whatever the channel
// count. Only the V bits are kept, a byte per channel for the first frame
// and one for the frame being read, which is reported once it is whole.
// Once the first frame is known, the whole frames of a chunk from its first
// frame start are compared with it at once, against a chunk of words that
// repeat its V bits; only a chunk in which something differs (or whose
// frames are longer than it) is counted off word by word.
int iec_validity(std::FILE* in, std::FILE* out, bool wav, int channels)
{
    auto firstV = channels < 0 ? nullptr : zeroed_array<std::uint8_t>(static_cast<std::size_t>(channels));
    if (!firstV) {
        std::puts("Failed to allocate memory for firstV.");
        return 1;
    }
    const std::size_t chunk_words = read_chunk_bytes / word_bytes;
    auto words = zeroed_array<std::uint8_t>(read_chunk_bytes);
    auto frameV = zeroed_array<std::uint8_t>(static_cast<std::size_t>(channels));
    auto pattern = zeroed_array<std::uint32_t>(chunk_words);
    if (!words || !frameV || !pattern) {
        std::puts("Failed to allocate memory for block.");
        return 1;
    }
    if (channels == 0)
        return 0;

    const auto c = static_cast<std::size_t>(channels);
    long long frame_number = 1;  // of the frame being read
    std::size_t ch = 0;          // from 0
    bool differs = true;         // the frame being read has lines to write
    int result = 0;
    skip_header(in, wav);
    std::size_t count = 0;
    while ((count = read_units(in, words.get(), word_bytes, chunk_words)) > 0) {
        bool try_whole = true;
        for (std::size_t i = 0; i < count;) {
            if (ch == 0 && frame_number > 1 && try_whole) {
                try_whole = false;
                const std::size_t whole = (count - i) / c * c;
                if (whole > 0 && alike(words.get() + i * word_bytes, pattern.get(), whole)) {
                    frame_number += static_cast<long long>(whole / c);
                    i += whole;
                    continue;
                }
            }
            const auto v = static_cast<std::uint8_t>((load_word(words.get() + i * word_bytes) >> validity_bit_pos) & 1U);
            ++i;
            (frame_number == 1 ? firstV : frameV)[ch] = v;
            differs = differs || v != firstV[ch];
            if (++ch < c)
                continue;
            if (differs && !report_frame(out, frame_number, firstV.get(), frameV.get(), channels, result))
                return 1;
            if (frame_number == 1) {
                for (std::size_t k = 0; k < chunk_words; ++k)
                    pattern[k] = std::uint32_t{firstV[k % c]} << validity_bit_pos;
            }
            ch = 0;
            ++frame_number;
            differs = false;
        }
    }
    return input_result(in) != 0 ? 1 : result;
}
