// Validity report: each channel's V bit in the first frame, then every later
// frame and channel in which it differs.
#include "iec958.h"

// Returns 0 when no V bit differed from its channel's first frame (or nothing
// was read), 1 on a difference, an allocation failure, a read error or a
// failed write; the caller reports the failed write.
int iec_validity(std::FILE* in, std::FILE* out, bool wav, int channels)
{
    auto firstV = channels < 0 ? nullptr : zeroed_array<std::int32_t>(static_cast<std::size_t>(channels));
    if (!firstV) {
        std::puts("Failed to allocate memory for firstV.");
        return 1;
    }
    const std::size_t frame_bytes = word_bytes * static_cast<std::size_t>(channels);
    const std::size_t chunk_frames = units_per_chunk(frame_bytes);
    auto frames = zeroed_array<std::uint8_t>(frame_bytes * chunk_frames);
    if (!frames) {
        std::puts("Failed to allocate memory for block.");
        return 1;
    }

    long long frame_number = 0;
    int result = 0;
    skip_header(in, wav);
    std::size_t count = 0;
    while ((count = read_units(in, frames.get(), frame_bytes, chunk_frames)) > 0) {
        for (std::size_t i = 0; i < count; ++i) {
            ++frame_number;
            const std::uint8_t* frame = frames.get() + i * frame_bytes;
            for (int ch = 1; ch <= channels; ++ch) {
                const auto index = static_cast<std::size_t>(ch - 1);
                const auto v = static_cast<std::int32_t>((load_word(frame + index * word_bytes) >> validity_bit_pos) & 1U);
                int written = 0;
                if (frame_number == 1) {
                    firstV[index] = v;
                    written = std::fprintf(out, "The validity bit of channel %d is: %d.\n", ch, v);
                } else if (v != firstV[index]) {
                    result = 1;
                    written = std::fprintf(out, "Sample %lld, channel %d has different validity value: %d.\n",
                                           frame_number, ch, v);
                }
                if (written < 0)
                    return 1;
            }
        }
    }
    return input_result(in) != 0 ? 1 : result;
}
