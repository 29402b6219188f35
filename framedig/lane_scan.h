// The lane scan of blocks.h written once for any vector width W (words at a
// time), in the compilers' vector types (GCC and Clang, x86-64 and arm64).
// Left to themselves, their vectorisers keep too few of these sums in
// registers. blocks.cpp instantiates W = 4 for every machine; on x86-64,
// blocks_x86.cpp instantiates W = 8 for processors with AVX2. Vectors are
// passed by reference only, so that no calling convention depends on W.
#pragma once

#include "blocks.h"

#include <algorithm>
#include <bit>
#include <cstring>

template <int W> struct lane_vectors {
    using u32 [[gnu::vector_size(4 * W)]] = std::uint32_t;
    using u16 [[gnu::vector_size(4 * W)]] = std::uint16_t;
    using i32 [[gnu::vector_size(4 * W)]] = std::int32_t;
    using f32 [[gnu::vector_size(4 * W)]] = float;

    u32 any{};
    u32 common = ~u32{};
    u32 codes{};
    u32 sync{};
    u32 differ{};
    u16 odd{};
    i32 sum{};
    f32 squares{};
    f32 peak{};
};

template <int W> [[gnu::always_inline]] inline void load_words(typename lane_vectors<W>::u32& v, const std::uint8_t* p)
{
    std::memcpy(&v, p, sizeof v);
    if constexpr (std::endian::native == std::endian::big)
        v = (v >> 24) | ((v >> 8) & 0xFF00U) | ((v << 8) & 0xFF0000U) | (v << 24);
}

template <int W>
[[gnu::always_inline]] inline void add_words(lane_vectors<W>& s, const typename lane_vectors<W>::u32& w,
                                             const typename lane_vectors<W>::u32& earlier, std::uint32_t code)
{
    using u32 = typename lane_vectors<W>::u32;
    using i32 = typename lane_vectors<W>::i32;
    using f32 = typename lane_vectors<W>::f32;
    // A burst's Pa in 16-bit mode (bits 12-27), 20-bit mode (bits 8-27) and 24-bit mode (bits 4-27).
    constexpr std::uint32_t sync_mask = 0xFFFFU << burst_word_shift;
    constexpr std::uint32_t sync_word = burst_pa << burst_word_shift;
    constexpr std::uint32_t sync_mask_20 = 0xFFFFFU << 8;
    constexpr std::uint32_t sync_word_20 = 0x6F872U << 8;
    constexpr std::uint32_t sync_mask_24 = 0xFFFFFFU << 4;
    constexpr std::uint32_t sync_word_24 = 0x96F872U << 4;
    s.any |= w;
    s.common &= w | __builtin_convertvector(w == 0, u32);
    s.codes -= __builtin_convertvector((w & preamble_mask) == code, u32);
    s.sync |= __builtin_convertvector((w & sync_mask) == sync_word, u32) |
              __builtin_convertvector((w & sync_mask_20) == sync_word_20, u32) |
              __builtin_convertvector((w & sync_mask_24) == sync_word_24, u32);
    s.differ |= w ^ earlier;
    const i32 sample = __builtin_convertvector(w << (31 - sample_msb_pos), i32) >> (31 - sample_msb_pos + audio_lsb_pos);
    s.sum += sample;
    const f32 value = __builtin_convertvector(sample, f32);
    const f32 square = value * value;
    s.squares += square;
    s.peak = square > s.peak ? square : s.peak;
}

// The parity of bits 4-31 of two vectors of words at once: each word folded
// to 16 bits, the halves folded on in 16-bit lanes; bit 0 of a half ends up
// set when its word holds an odd number of ones.
template <int W>
[[gnu::always_inline]] inline void add_parity(lane_vectors<W>& s, const typename lane_vectors<W>::u32& first,
                                              const typename lane_vectors<W>::u32& second)
{
    using u32 = typename lane_vectors<W>::u32;
    const u32 a = first & parity_covered_mask;
    const u32 b = second & parity_covered_mask;
    const u32 both = ((a ^ (a >> 16)) & 0xFFFFU) | ((b ^ (b << 16)) & 0xFFFF0000U);
    typename lane_vectors<W>::u16 t;
    std::memcpy(&t, &both, sizeof t);
    t ^= t >> 8;
    t ^= t >> 4;
    t ^= t >> 2;
    t ^= t >> 1;
    s.odd |= t & 1U;
}

template <class V> [[gnu::always_inline]] inline bool any_lane(const V& v)
{
    bool set = false;
    for (std::size_t k = 0; k < sizeof v / sizeof v[0]; ++k)
        set = set || v[k] != 0;
    return set;
}

// Each group of W lanes is one pass down the run, two strips at a time, with
// its sums in registers. With 4 lanes and W = 8 a vector holds two strips,
// and its halves are folded together at the end.
template <int W>
[[gnu::always_inline]] inline void scan_lane_groups(const std::uint8_t* words, const std::uint8_t* earlier, std::size_t count,
                                                    unsigned code, lane_sums& out)
{
    using u32 = typename lane_vectors<W>::u32;
    constexpr auto width = static_cast<std::size_t>(W);
    const std::size_t lanes = out.lanes;
    const std::size_t stride = std::max(lanes, width);
    std::fill(out.any, out.any + lanes, 0U);
    std::fill(out.common, out.common + lanes, ~0U);
    std::fill(out.sum, out.sum + lanes, 0);
    std::fill(out.squares, out.squares + lanes, 0.0F);
    std::fill(out.peak, out.peak + lanes, 0.0F);
    lane_vectors<W> run;
    for (std::size_t v = 0; v < lanes; v += width) {
        lane_vectors<W> s;
        for (std::size_t i = v; i + stride < count; i += 2 * stride) {
            u32 a;
            u32 b;
            u32 a_earlier;
            u32 b_earlier;
            load_words<W>(a, words + i * word_bytes);
            load_words<W>(b, words + (i + stride) * word_bytes);
            load_words<W>(a_earlier, earlier + i * word_bytes);
            load_words<W>(b_earlier, earlier + (i + stride) * word_bytes);
            add_words<W>(s, a, a_earlier, code);
            add_words<W>(s, b, b_earlier, code);
            add_parity<W>(s, a, b);
        }
        for (std::size_t k = 0; k < width; ++k) {
            const std::size_t q = (v + k) % lanes;
            out.any[q] |= s.any[k];
            out.common[q] &= s.common[k];
            out.sum[q] += s.sum[k];
            out.squares[q] += s.squares[k];
            out.peak[q] = std::max(out.peak[q], s.peak[k]);
        }
        run.codes += s.codes;
        run.sync |= s.sync;
        run.differ |= s.differ;
        run.odd |= s.odd;
    }
    out.codes = 0;
    for (std::size_t k = 0; k < width; ++k)
        out.codes += run.codes[k];
    out.odd = any_lane(run.odd);
    out.sync = any_lane(run.sync);
    out.status_differs = any_lane(run.differ & (1U << status_bit_pos));
}

// The instantiation for every machine (blocks.cpp).
void scan_lanes_by_4(const std::uint8_t* words, const std::uint8_t* earlier, std::size_t count, unsigned code,
                     lane_sums& sums);
