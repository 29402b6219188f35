// Whole-block primitives: status gather, V masks, and the per-lane sums that
// let the analysis take a well-formed block in one pass.
#include "blocks.h"
#include "lane_scan.h"

#include <algorithm>

// Taken in strips of lanes_for(channels) words, as the lane scan takes them:
// a strip holds lanes / channels whole frames, and lane p of a strip holds
// frame p / channels of it, channel p % channels. Four lanes at a time
// collect their C bits over the strips of 32 frames, shifted by the strip's
// first frame; each lane's bits then go to its channel's word, shifted on by
// the lane's frame within the strip.
void gather_status_words(const std::uint8_t* block, int channels, std::uint32_t* words)
{
    constexpr std::size_t width = 4;
    using u32 = lane_vectors<width>::u32;
    const auto c = static_cast<std::size_t>(channels);
    const std::size_t lanes = lanes_for(channels);
    const std::size_t strip_frames = lanes / c;
    const std::size_t strips = bits_per_status_word / strip_frames;
    std::fill(words, words + status_words * c, 0U);
    for (std::size_t j = 0; j < status_words; ++j) {
        const std::uint8_t* run = block + j * bits_per_status_word * c * word_bytes;
        std::uint32_t* out = words + j * c;
        for (std::size_t v = 0; v < lanes; v += width) {
            u32 bits{};
            for (std::size_t s = 0; s < strips; ++s) {
                u32 w;
                load_words<width>(w, run + (s * lanes + v) * word_bytes);
                bits |= ((w >> status_bit_pos) & 1U) << static_cast<unsigned>(s * strip_frames);
            }
            for (std::size_t k = 0; k < width; ++k)
                out[(v + k) % c] |= bits[k] << ((v + k) / c);
        }
    }
}

void status_bytes_of(const std::uint32_t* words, int channels, int channel, std::uint8_t* bytes)
{
    for (std::size_t i = 0; i < status_bytes; ++i) {
        const std::uint32_t word = words[i / 4 * static_cast<std::size_t>(channels) + static_cast<std::size_t>(channel)];
        bytes[i] = static_cast<std::uint8_t>(word >> (8 * (i % 4)));
    }
}

std::uint32_t frame_validity_mask(const std::uint8_t* frame, int channels)
{
    std::uint32_t mask = 0;
    for (int ch = 0; ch < channels && ch < 32; ++ch)
        mask |= ((load_word(frame + static_cast<std::size_t>(ch) * word_bytes) >> validity_bit_pos) & 1U) << ch;
    return mask;
}

std::size_t lanes_for(int channels)
{
    const auto c = static_cast<std::size_t>(channels);
    return c % 4 == 0 ? c : c % 2 == 0 ? 2 * c : 4 * c;
}

void scan_lanes_by_4(const std::uint8_t* words, const std::uint8_t* earlier, std::size_t count, unsigned code,
                     lane_sums& sums)
{
    scan_lane_groups<4>(words, earlier, count, code, sums);
}

void count_lane_bits(const std::uint8_t* words, std::size_t count, std::size_t lanes, int bit, std::uint32_t* counts)
{
    constexpr std::size_t width = 4;
    using u32 = lane_vectors<width>::u32;
    for (std::size_t v = 0; v < lanes; v += width) {
        u32 n{};
        for (std::size_t i = v; i < count; i += lanes) {
            u32 w;
            load_words<width>(w, words + i * word_bytes);
            n += (w >> bit) & 1U;
        }
        for (std::size_t k = 0; k < width; ++k)
            counts[v + k] += n[k];
    }
}

void rise_flags(const std::uint8_t* words, const std::uint8_t* before, std::size_t count, int channels,
                std::uint8_t* flags)
{
    const auto c = std::min(static_cast<std::size_t>(channels), count);
    for (std::size_t i = 0; i < c; ++i)
        flags[i] = static_cast<std::uint8_t>(((load_word(before + i * word_bytes) & ~load_word(words + i * word_bytes)) >> sample_msb_pos) & 1U);
    for (std::size_t i = c; i < count; ++i)
        flags[i] = static_cast<std::uint8_t>(
            ((load_word(words + (i - c) * word_bytes) & ~load_word(words + i * word_bytes)) >> sample_msb_pos) & 1U);
}
