// Primitives over whole frames and blocks of captured subframe words, shared
// by the analysis and the extraction reports. Each works on contiguous words
// in loops of vector operations and keeps no state.
#pragma once

#include "iec958.h"

// The C bits of every channel of one block (192 frames of `channels` words)
// as status words: bit n of words[j * channels + ch] is the C bit of frame
// 32 * j + n of channel ch (from 0), so status bit 0 is the least significant
// bit of word 0. words holds status_words * channels entries.
void gather_status_words(const std::uint8_t* block, int channels, std::uint32_t* words);

// One channel's 24 status bytes from those words.
void status_bytes_of(const std::uint32_t* words, int channels, int channel, std::uint8_t* bytes);

// The V bits of one frame of up to 32 channels: bit ch for channel ch (from 0).
std::uint32_t frame_validity_mask(const std::uint8_t* frame, int channels);

// The sample of a word: bits 4-27 as a signed 24-bit number.
inline std::int32_t word_sample(std::uint32_t w)
{
    return static_cast<std::int32_t>(w << (31 - sample_msb_pos)) >> (31 - sample_msb_pos + audio_lsb_pos);
}

// Sums over a run of whole frames, taken `lanes` words at a time: lane p
// holds what the words p, p + lanes, p + 2 lanes ... carry. lanes is the
// least multiple of both 4 and the channel count, so lane p belongs to
// channel p % channels. Each array has `lanes` entries. A lane may see at
// most 192 words, so that no 32-bit sum overflows.
struct lane_sums {
    std::size_t lanes;
    std::uint32_t* any;     // OR of the words
    std::uint32_t* common;  // AND of the words that are not zero (nothing received)
    std::int32_t* sum;      // sum of the samples
    float* squares;         // sum of the samples squared
    float* peak;            // largest sample squared
    // Over the whole run:
    std::uint32_t codes;    // words whose preamble code is the one asked for
    bool odd;               // a word whose bits 4-31 hold an odd number of ones
    bool sync;              // a word holding a burst Pa, in 16-, 20- or 24-bit mode
    bool status_differs;    // a C bit that differs from the word `count` words earlier
};

std::size_t lanes_for(int channels);

// Fills the sums over count words: an even number of strips of sums.lanes
// words, as a block always is. earlier points to the run of count words
// before these, or to these when there is none.
void scan_lanes(const std::uint8_t* words, const std::uint8_t* earlier, std::size_t count, unsigned code,
                lane_sums& sums);

// Adds bit `bit` of every word to its lane's count (lanes as above).
void count_lane_bits(const std::uint8_t* words, std::size_t count, std::size_t lanes, int bit, std::uint32_t* counts);

// flags[i] = 1 where word i's sample is >= 0 and its channel's sample a
// frame earlier was < 0 (a rising zero crossing), else 0. before holds the
// frame in front of the run.
void rise_flags(const std::uint8_t* words, const std::uint8_t* before, std::size_t count, int channels,
                std::uint8_t* flags);
