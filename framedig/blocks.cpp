// Whole-block primitives: status gather, V masks, and the per-lane sums that
// let the analysis take a well-formed block in one pass.
#include "blocks.h"

#include <algorithm>
#include <bit>
#include <cstring>

void gather_status_words(const std::uint8_t* block, int channels, std::uint32_t* words)
{
    const auto c = static_cast<std::size_t>(channels);
    std::fill(words, words + status_words * c, 0U);
    for (std::size_t f = 0; f < static_cast<std::size_t>(frames_per_block); ++f) {
        const std::uint8_t* frame = block + f * c * word_bytes;
        std::uint32_t* out = words + f / bits_per_status_word * c;
        const auto shift = static_cast<unsigned>(f % bits_per_status_word);
        for (std::size_t ch = 0; ch < c; ++ch)
            out[ch] |= ((load_word(frame + ch * word_bytes) >> status_bit_pos) & 1U) << shift;
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

namespace {

// Four words at a time in the compilers' vector types (GCC and Clang, on
// x86-64 and arm64): left to themselves, their vectorisers keep too few of
// these sums in registers.
using u32x4 [[gnu::vector_size(16)]] = std::uint32_t;
using u16x8 [[gnu::vector_size(16)]] = std::uint16_t;
using i32x4 [[gnu::vector_size(16)]] = std::int32_t;
using f32x4 [[gnu::vector_size(16)]] = float;
constexpr std::size_t vector_words = 4;
constexpr std::uint32_t sync_mask = 0xFFFFU << burst_word_shift;
constexpr std::uint32_t sync_word = burst_pa << burst_word_shift;

u32x4 load4(const std::uint8_t* p)
{
    u32x4 v;
    std::memcpy(&v, p, sizeof v);
    if constexpr (std::endian::native == std::endian::big)
        v = (v >> 24) | ((v >> 8) & 0xFF00U) | ((v << 8) & 0xFF0000U) | (v << 24);
    return v;
}

template <class T, class V> void store4(T* out, const V& v)
{
    static_assert(sizeof v == vector_words * sizeof(T));
    std::memcpy(out, &v, sizeof v);
}

template <class V> bool any_lane(const V& v)
{
    bool set = false;
    for (std::size_t k = 0; k < sizeof v / sizeof v[0]; ++k)
        set = set || v[k] != 0;
    return set;
}

struct vector_sums {
    u32x4 any{};
    u32x4 common = ~u32x4{};
    u32x4 codes{};
    u32x4 sync{};
    u32x4 differ{};
    u16x8 odd{};
    i32x4 sum{};
    f32x4 squares{};
    f32x4 peak{};
};

void add_words(vector_sums& s, u32x4 w, u32x4 earlier, u32x4 code)
{
    s.any |= w;
    s.common &= w | __builtin_convertvector(w == 0, u32x4);
    s.codes -= __builtin_convertvector((w & preamble_mask) == code, u32x4);
    s.sync |= __builtin_convertvector((w & sync_mask) == sync_word, u32x4);
    s.differ |= w ^ earlier;
    const i32x4 sample = __builtin_convertvector(w << (31 - sample_msb_pos), i32x4) >> (31 - sample_msb_pos + audio_lsb_pos);
    s.sum += sample;
    const f32x4 value = __builtin_convertvector(sample, f32x4);
    const f32x4 square = value * value;
    s.squares += square;
    s.peak = square > s.peak ? square : s.peak;
}

// The parity of bits 4-31 of two vectors of words at once: each word folded
// to 16 bits, the eight halves folded on in 16-bit lanes; bit 0 of a half
// ends up set when its word holds an odd number of ones.
u16x8 odd_halves(u32x4 a, u32x4 b)
{
    a &= parity_covered_mask;
    b &= parity_covered_mask;
    const u32x4 both = ((a ^ (a >> 16)) & 0xFFFFU) | ((b ^ (b << 16)) & 0xFFFF0000U);
    u16x8 t = std::bit_cast<u16x8>(both);
    t ^= t >> 8;
    t ^= t >> 4;
    t ^= t >> 2;
    t ^= t >> 1;
    return t & 1U;
}

} // namespace

// Each group of four lanes is one pass down the run, two strips at a time,
// with its sums in registers; for stereo that is the only pass.
void scan_lanes(const std::uint8_t* words, const std::uint8_t* earlier, std::size_t count, unsigned code,
                lane_sums& sums)
{
    const u32x4 code4 = u32x4{} + code;
    const std::size_t step = sums.lanes;
    vector_sums run;
    for (std::size_t v = 0; v < step; v += vector_words) {
        vector_sums s;
        for (std::size_t i = v; i + step < count; i += 2 * step) {
            const u32x4 a = load4(words + i * word_bytes);
            const u32x4 b = load4(words + (i + step) * word_bytes);
            add_words(s, a, load4(earlier + i * word_bytes), code4);
            add_words(s, b, load4(earlier + (i + step) * word_bytes), code4);
            s.odd |= odd_halves(a, b);
        }
        store4(sums.any + v, s.any);
        store4(sums.common + v, s.common);
        store4(sums.sum + v, s.sum);
        store4(sums.squares + v, s.squares);
        store4(sums.peak + v, s.peak);
        run.codes += s.codes;
        run.sync |= s.sync;
        run.differ |= s.differ;
        run.odd |= s.odd;
    }
    sums.codes = 0;
    for (std::size_t k = 0; k < vector_words; ++k)
        sums.codes += run.codes[k];
    sums.odd = any_lane(run.odd);
    sums.sync = any_lane(run.sync);
    sums.status_differs = any_lane(run.differ & (1U << status_bit_pos));
}

void count_lane_bits(const std::uint8_t* words, std::size_t count, std::size_t lanes, int bit, std::uint32_t* counts)
{
    for (std::size_t v = 0; v < lanes; v += vector_words) {
        u32x4 n{};
        for (std::size_t i = v; i < count; i += lanes)
            n += (load4(words + i * word_bytes) >> bit) & 1U;
        for (std::size_t k = 0; k < vector_words; ++k)
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
