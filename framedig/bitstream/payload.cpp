// Burst payloads as bytes: words unpacked by their mode, byte-swapped
// payloads recognised and undone.
#include "bitstream/bursts.h"

#include <cstring>

namespace {

constexpr std::size_t sync_search_bytes = 16;

bool sync_at(const codec_family& family, std::uint16_t word)
{
    return (word & family.sync_mask) == family.sync;
}

} // namespace

std::size_t unpack_payload(const std::uint8_t* words, std::size_t count, int mode, std::uint8_t* out)
{
    if (mode == 0) {
        for (std::size_t k = 0; k < count; ++k) {
            const std::uint32_t v = load_word(words + k * word_bytes) >> 12;
            out[2 * k] = static_cast<std::uint8_t>(v >> 8);
            out[2 * k + 1] = static_cast<std::uint8_t>(v);
        }
        return 2 * count;
    }
    if (mode == 2) {
        for (std::size_t k = 0; k < count; ++k) {
            const std::uint32_t v = load_word(words + k * word_bytes) >> 4;
            out[3 * k] = static_cast<std::uint8_t>(v >> 16);
            out[3 * k + 1] = static_cast<std::uint8_t>(v >> 8);
            out[3 * k + 2] = static_cast<std::uint8_t>(v);
        }
        return 3 * count;
    }
    // 20 bits a word: two words make five bytes.
    std::size_t n = 0;
    std::uint64_t bits = 0;
    int held = 0;
    for (std::size_t k = 0; k < count; ++k) {
        bits = (bits << 20) | ((load_word(words + k * word_bytes) >> 8) & 0xFFFFFU);
        held += 20;
        while (held >= 8) {
            held -= 8;
            out[n++] = static_cast<std::uint8_t>(bits >> held);
        }
    }
    if (held > 0)
        out[n++] = static_cast<std::uint8_t>(bits << (8 - held));
    return n;
}

void swap_bytes16(std::uint8_t* p, std::size_t n)
{
    for (std::size_t i = 0; i + 1 < n; i += 2)
        std::swap(p[i], p[i + 1]);
}

bool payload_swapped(const codec_family& family, const std::uint8_t* p, std::size_t n)
{
    for (std::size_t at = 0; at + 2 <= n && at < sync_search_bytes; at += 2) {
        const auto word = static_cast<std::uint16_t>((p[at] << 8) | p[at + 1]);
        const auto swapped = static_cast<std::uint16_t>((p[at + 1] << 8) | p[at]);
        if (sync_at(family, word))
            return false;
        if (sync_at(family, swapped))
            return true;
    }
    return false;
}
