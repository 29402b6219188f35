// PCM extraction: every subframe word becomes one little-endian sample,
// channels left interleaved as captured.
#include "iec958.h"

#include <array>
#include <memory>
#include <new>

// Sign-extends an unsigned sample field of the given width in place: a field
// above the largest positive value gets every bit above its top bit set.
int sig_pad(std::int32_t& value, int bits)
{
    const int unused = 32 - bits;
    value = static_cast<std::int32_t>(static_cast<std::uint32_t>(value) << unused) >> unused;
    return 0;
}

bool pcm_bits_supported(int bits)
{
    return bits == 16 || bits == 20 || bits == 24;
}

namespace {

// Every width is taken with its most significant bit at bit 27.
template <int Bits> std::uint32_t sample_of(std::uint32_t word)
{
    constexpr int shift = sample_msb_pos + 1 - Bits;
    constexpr std::uint32_t field = (std::uint32_t{1} << Bits) - 1;
    auto sample = static_cast<std::int32_t>((word >> shift) & field);
    if constexpr (Bits != 16)
        sig_pad(sample, Bits);
    return static_cast<std::uint32_t>(sample);
}

// One loop per width, so the compiler can vectorise it. Samples are made a
// group at a time in a local array and then copied over the words they came
// from: stored in place directly, 2-byte samples would trail the 4-byte
// words they are read from, and the compiler, unable to tell that apart from
// an overlap, would convert one word at a time.
template <int Bits> std::size_t convert_words(std::uint8_t* buf, std::size_t count)
{
    constexpr std::size_t sample_bytes = Bits == 16 ? 2 : 4;
    using sample_type = std::conditional_t<Bits == 16, std::uint16_t, std::uint32_t>;
    constexpr std::size_t group = 32;
    std::array<std::uint8_t, group * sample_bytes> samples{};
    std::size_t i = 0;
    for (; i + group <= count; i += group) {
        for (std::size_t k = 0; k < group; ++k)
            store_le(samples.data() + k * sample_bytes,
                     static_cast<sample_type>(sample_of<Bits>(load_word(buf + (i + k) * word_bytes))));
        std::memcpy(buf + i * sample_bytes, samples.data(), samples.size());
    }
    for (; i < count; ++i)
        store_le(buf + i * sample_bytes, static_cast<sample_type>(sample_of<Bits>(load_word(buf + i * word_bytes))));
    return count * sample_bytes;
}

} // namespace

// Converts count words in place (bits must be supported) and returns the
// number of sample bytes now at the start of buf: 2 per sample at 16 bits, 4
// otherwise. Samples are never longer than words, so each word is read
// before its bytes are overwritten, and one buffer serves for both.
std::size_t pcm_convert(std::uint8_t* buf, std::size_t count, int bits)
{
    switch (bits) {
    case 16: return convert_words<16>(buf, count);
    case 20: return convert_words<20>(buf, count);
    default: return convert_words<24>(buf, count);
    }
}

// Returns 0 when the input ended normally, 1 on an unsupported width (found
// only once a whole word has been read), a read error or a failed write; the
// caller reports the failed write.
int iec_pcm(std::FILE* in, int bits, std::FILE* out, bool wav)
{
    // On the heap: embedded systems run with small stacks. Filled by each
    // read, so it need not be zeroed.
    constexpr std::size_t chunk_words = pcm_chunk_bytes / word_bytes;
    const std::unique_ptr<std::uint8_t[]> buf(new (std::nothrow) std::uint8_t[pcm_chunk_bytes]);
    if (!buf) {
        std::puts("Failed to allocate memory for samples.");
        return 1;
    }

    skip_header(in, wav);
    std::size_t count = 0;
    while ((count = read_units(in, buf.get(), word_bytes, chunk_words)) > 0) {
        if (!pcm_bits_supported(bits)) {
            std::printf("Unsupported sample bits: %d\n", bits);
            return 1;
        }
        const std::size_t bytes = pcm_convert(buf.get(), count, bits);
        if (std::fwrite(buf.get(), 1, bytes, out) != bytes)
            return 1;
    }
    return input_result(in);
}
