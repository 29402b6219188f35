// The pass over a capture's words: where blocks start and what each word
// carries. analyze.cpp feeds it the words as they are read.
#pragma once

#include "analyze/analysis.h"
#include "blocks.h"

struct pass_state {
    int channels = 0;
    std::size_t block_words = 0;
    bool preambles = false;
    unsigned block_code = 0;
    unsigned first_code = 0;      // of a frame's first subframe; 0 when the codes mark only blocks
    bool fast = false;            // whole blocks may take the fast path
    long long word = 0;           // index of the next word
    long long frame = 0;          // its frame; frame 0 may be cut at the front
    int ch = 0;                   // its channel (from 0)
    int frame_words = 0;          // words of its frame before it
    bool frame_whole = true;      // its frame began with channel 1
    bool cut_frame = false;       // its frame is the one cut at the front
    int frame_in_block = 0;
    bool in_block = false;        // counting the frames of a block
    bool expect_start = false;    // a block just ended: a block start must follow
    bool pending = false;         // a whole block waits for its successor's start
    long long pending_frame = 0;  // the pending block's first frame
    long long last_block_end = -1;  // word after the latest whole block
    std::uint32_t frame_bits = 0;   // OR of the audio bits of the frame so far
    std::uint32_t parity_bits = 0;  // OR of every word
    burst_search bursts;
    bool pa_seen = false;         // a word of the current run of slow words holds a Pa
    burst_unwrapper unwrapper;
    lane_sums lanes{};
    heap_array<std::uint32_t> lane_words;      // the unsigned lane sums, and V counts
    std::uint32_t* invalid_lanes = nullptr;    // V counts, in lane_words
    heap_array<std::int32_t> lane_signed;
    heap_array<float> lane_floats;
    heap_array<std::uint32_t> status_memory;   // one block's status words
    heap_array<std::uint8_t> rise_memory;      // one block's zero-crossing flags
    heap_array<std::uint8_t> frame_before;     // the samples a block's first frame follows
};

// Sets the pass up for the channel count in facts; first_block is the word
// where the preamble codes put the first block start (ignored without
// codes). False when memory runs out.
bool pass_begin(pass_state& p, analysis& facts, const preamble_codes& codes, long long first_block);
// Takes the words buf[begin, end) and returns where it stopped: before the
// last block's worth of words, which the fast path may still need whole,
// unless at_end. The block_words words before begin must be the previous
// ones of the stream when begin >= block_words.
std::size_t pass_words(pass_state& p, analysis& facts, const std::uint8_t* buf, std::size_t begin, std::size_t end,
                       bool at_end);
void pass_end(pass_state& p, analysis& facts);

// The fast path's part (block_pass.cpp): one well-formed block at word
// `at` of buf, from its first word on. False, with nothing changed, when the
// block is not well-formed after all.
bool fast_block(pass_state& p, analysis& facts, const std::uint8_t* buf, std::size_t at);
// Whole blocks (decode.cpp). A block complete on either path waits for its
// successor's start, or is decoded at once without codes; the pending block
// is decoded when that start arrives in place, rejected when it does not.
void block_complete(pass_state& p, analysis& facts);
void decode_pending(pass_state& p, analysis& facts);
void reject_pending(pass_state& p, analysis& facts);
void decode_rest(pass_state& p, analysis& facts);

void note_parity_error(analysis& facts, long long frame, int channel);

// The words the pass has taken, count of them, handed on to the unwrapper
// whose codec frames go to codec_frame_found; pa says whether any holds a
// Pa. While no burst is under way, words without one are only counted
// (codec_frames.cpp).
void unwrap_words(pass_state& p, analysis& facts, const std::uint8_t* words, std::size_t count, bool pa);
