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

} // namespace

// Returns 0 when no V bit differed from its channel's first frame (or nothing
// was read), 1 on a difference, an allocation failure, a read error or a
// failed write; the caller reports the failed write.
//
// Words are read in chunks and counted off channel by channel, so no frame
// needs to fit in memory and no counter can overflow, whatever the channel
// count. Only the V bits are kept, a byte per channel for the first frame
// and one for the frame being read, which is reported once it is whole.
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
    if (!words || !frameV) {
        std::puts("Failed to allocate memory for block.");
        return 1;
    }
    if (channels == 0)
        return 0;

    long long frame_number = 1;  // of the frame being read
    int ch = 0;                  // from 0
    bool differs = true;         // the frame being read has lines to write
    int result = 0;
    skip_header(in, wav);
    std::size_t count = 0;
    while ((count = read_units(in, words.get(), word_bytes, chunk_words)) > 0) {
        for (std::size_t i = 0; i < count; ++i) {
            const auto index = static_cast<std::size_t>(ch);
            const auto v = static_cast<std::uint8_t>((load_word(words.get() + i * word_bytes) >> validity_bit_pos) & 1U);
            (frame_number == 1 ? firstV : frameV)[index] = v;
            differs = differs || v != firstV[index];
            if (++ch < channels)
                continue;
            if (differs && !report_frame(out, frame_number, firstV.get(), frameV.get(), channels, result))
                return 1;
            ch = 0;
            ++frame_number;
            differs = false;
        }
    }
    return input_result(in) != 0 ? 1 : result;
}
