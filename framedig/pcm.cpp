// PCM extraction: every subframe word becomes one little-endian sample,
// channels left interleaved as captured.
#include "iec958.h"

#include <array>

// Sign-extends an unsigned sample field of the given width in place.
int sig_pad(std::int32_t& value, int bits)
{
    const std::int32_t max_positive = (std::int32_t{1} << (bits - 1)) - 1;
    if (value > max_positive)
        value = static_cast<std::int32_t>(static_cast<std::uint32_t>(value) | ~((std::uint32_t{1} << bits) - 1));
    return 0;
}

bool pcm_bits_supported(int bits)
{
    return bits == 16 || bits == 20 || bits == 24;
}

// Converts count words (bits must be supported) and returns the number of
// bytes written to out: 2 per sample at 16 bits, 4 otherwise. Every width is
// taken with its most significant bit at bit 27.
std::size_t pcm_convert(const std::uint8_t* words, std::size_t count, int bits, std::uint8_t* out)
{
    const int shift = sample_msb_pos + 1 - bits;
    const std::uint32_t field = (std::uint32_t{1} << bits) - 1;
    const std::size_t sample_bytes = bits == 16 ? 2 : 4;
    for (std::size_t i = 0; i < count; ++i) {
        auto sample = static_cast<std::int32_t>((load_word(words + i * word_bytes) >> shift) & field);
        if (bits != 16)
            sig_pad(sample, bits);
        const auto u = static_cast<std::uint32_t>(sample);
        std::uint8_t* o = out + i * sample_bytes;
        o[0] = static_cast<std::uint8_t>(u);
        o[1] = static_cast<std::uint8_t>(u >> 8);
        if (sample_bytes == 4) {
            o[2] = static_cast<std::uint8_t>(u >> 16);
            o[3] = static_cast<std::uint8_t>(u >> 24);
        }
    }
    return count * sample_bytes;
}

// Returns 0 when the input ended normally, 1 on an unsupported width (found
// only once a whole word has been read), a read error or a failed write; the
// caller reports the failed write.
int iec_pcm(std::FILE* in, int bits, std::FILE* out, bool wav)
{
    constexpr std::size_t chunk_words = read_chunk_bytes / word_bytes;
    std::array<std::uint8_t, chunk_words * word_bytes> words{};
    std::array<std::uint8_t, chunk_words * 4> samples{};

    skip_header(in, wav);
    std::size_t count = 0;
    while ((count = read_units(in, words.data(), word_bytes, chunk_words)) > 0) {
        if (!pcm_bits_supported(bits)) {
            std::printf("Unsupported sample bits: %d\n", bits);
            return 1;
        }
        const std::size_t bytes = pcm_convert(words.data(), count, bits, samples.data());
        if (std::fwrite(samples.data(), 1, bytes, out) != bytes)
            return 1;
    }
    return input_result(in);
}
