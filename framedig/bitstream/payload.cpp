// Burst payloads as bytes: words unpacked by their mode, byte-swapped
// payloads recognised and undone, and MAT frames stripped of their codes.
#include "bitstream/bursts.h"

#include <cstring>

namespace {

// The codes a MAT frame carries at its start, in its middle and at its end.
constexpr std::array<std::uint8_t, 20> mat_start = {0x07, 0x9E, 0x00, 0x03, 0x84, 0x01, 0x01, 0x01, 0x80, 0x00,
                                                    0x56, 0xA5, 0x3B, 0xF4, 0x81, 0x83, 0x49, 0x80, 0x77, 0xE0};
constexpr std::array<std::uint8_t, 12> mat_middle = {0xC3, 0xC1, 0x42, 0x49, 0x3B, 0xFA, 0x82, 0x83, 0x49, 0x80, 0x77, 0xE0};
constexpr std::array<std::uint8_t, 16> mat_end = {0xC3, 0xC2, 0xC0, 0xC4, 0x00, 0x00, 0x00, 0x00,
                                                  0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x97, 0x11};
constexpr std::size_t mat_middle_at = 30708;
constexpr std::size_t mat_end_at = mat_payload_bytes - mat_end.size();
constexpr std::size_t sync_search_bytes = 16;

template <std::size_t N> bool code_at(const std::uint8_t* p, const std::array<std::uint8_t, N>& code)
{
    return std::memcmp(p, code.data(), N) == 0;
}

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

std::size_t mat_content(const std::uint8_t* payload, std::size_t n, std::uint8_t* out)
{
    if (n != mat_payload_bytes || !code_at(payload, mat_start) || !code_at(payload + mat_middle_at, mat_middle) ||
        !code_at(payload + mat_end_at, mat_end))
        return 0;
    const std::size_t first = mat_middle_at - mat_start.size();
    std::memcpy(out, payload + mat_start.size(), first);
    const std::size_t second = mat_end_at - mat_middle_at - mat_middle.size();
    std::memcpy(out + first, payload + mat_middle_at + mat_middle.size(), second);
    return first + second;
}
