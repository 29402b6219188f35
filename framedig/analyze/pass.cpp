// The pass: the block structure from the preamble codes, and the word-by-word
// state machine for everything out of place (before the first block start,
// after a break, at the end). Well-formed blocks go to fast_block; whole
// blocks to decode.cpp.
#include "analyze/pass.h"

namespace {

void clear_block(analysis& facts, int channels)
{
    for (int ch = 0; ch < channels; ++ch) {
        channel_facts& cf = facts.per_channel[static_cast<std::size_t>(ch)];
        cf.current = status_block{};
        cf.unjudged_bits |= cf.block_bits;
        cf.block_bits = 0;
    }
}

// The next word starts a frame, with channel 1.
void start_frame(pass_state& p)
{
    p.ch = 0;
    p.frame_words = 0;
    p.frame_whole = true;
    p.cut_frame = false;
    p.frame_bits = 0;
}

void structure_broken(const pass_state& p, analysis& facts)
{
    if (char* line = finding_slot(facts, finding_block))
        std::snprintf(line, finding_text, "block structure broken at frame %lld", p.frame);
}

// A block-start code: in place after a whole block, out of place inside one
// (frames were lost), or where the stream finds its structure again.
void block_start(pass_state& p, analysis& facts)
{
    if (p.in_block)
        structure_broken(p, facts);
    else if (p.pending)
        decode_pending(p, facts);
    if (p.frame_words != 0)  // a word was lost or added: the channels line up again here
        ++p.frame;
    start_frame(p);
    clear_block(facts, p.channels);
    if (facts.first_block_frame < 0)
        facts.first_block_frame = p.frame;
    p.in_block = true;
    p.expect_start = false;
    p.frame_in_block = 0;
}

// Word i is out of place when a frame's first-subframe code is missing from
// a first subframe or found in another; when the next first subframe is out
// of place too, a word was lost or slipped in and the frames have shifted
// (a single wrong code leaves them where they were).
bool frames_shifted(const pass_state& p, const std::uint8_t* buf, std::size_t i, std::size_t end)
{
    const auto c = static_cast<std::size_t>(p.channels);
    const auto code = [buf](std::size_t k) { return load_word(buf + k * word_bytes) & preamble_mask; };
    const bool out_of_place = p.ch == 0 ? p.frame_in_block > 0 && code(i) != p.first_code : code(i) == p.first_code || code(i) == 0;
    const std::size_t next = i + c - static_cast<std::size_t>(p.ch);
    return out_of_place && next < end && code(next) != p.first_code;
}

// A block-start code inside a block, and another where this block ends: a
// stray code, the frames are in place.
bool stray_block_code(const pass_state& p, const std::uint8_t* buf, std::size_t i, std::size_t end)
{
    const std::size_t at = static_cast<std::size_t>(p.frame_in_block) * static_cast<std::size_t>(p.channels) +
                           static_cast<std::size_t>(p.ch);
    if (!p.in_block || at == 0)
        return false;
    const std::size_t next = i + p.block_words - at;
    return next < end && (load_word(buf + next * word_bytes) & preamble_mask) == p.block_code;
}

// The frames shifted: the block is broken here, and the structure is found
// again at the next block-start code.
void frames_shifted_here(pass_state& p, analysis& facts)
{
    structure_broken(p, facts);
    clear_block(facts, p.channels);
    p.in_block = false;
}

void block_start_missing(pass_state& p, analysis& facts)
{
    structure_broken(p, facts);
    if (p.pending)
        reject_pending(p, facts);
    p.expect_start = false;
}

void frame_done(pass_state& p, analysis& facts, bool bitstream)
{
    if (p.cut_frame)
        facts.leading_words = p.frame_words;
    if (p.frame_whole) {
        ++facts.frames;
        if (bitstream) {
            bitstream_frame(facts.silence, p.frame);
        } else if (p.frame_bits == 0) {
            silence_from(facts.silence, p.frame);
        } else {
            audio_frame(facts.silence, p.frame);
            timeline_pcm(facts.content, p.frame);
        }
    }
    ++p.frame;
    start_frame(p);
}

void slow_word(pass_state& p, analysis& facts, std::uint32_t w)
{
    channel_facts& cf = facts.per_channel[static_cast<std::size_t>(p.ch)];
    const auto odd = static_cast<unsigned>(__builtin_parity(w & parity_covered_mask));
    cf.parity_errors += odd;
    if (odd != 0)
        note_parity_error(facts, p.frame, p.ch + 1);
    p.parity_bits |= w;
    cf.invalid_frames += (w >> validity_bit_pos) & 1U;
    cf.audio_bits |= w & audio_mask;
    if (p.in_block && ((w >> status_bit_pos) & 1U) != 0)
        cf.current[static_cast<std::size_t>(p.frame_in_block >> 3)] |= static_cast<std::uint8_t>(1U << (p.frame_in_block & 7));
    // Most words cannot start or continue a burst preamble.
    const bool pa = burst_pa_mode(w) >= 0;
    p.pa_seen = p.pa_seen || pa;
    if (p.bursts.state != 0 || pa) {
        if (const int type = burst_feed(p.bursts, w); type >= 0)
            burst_found(facts, p.word - 3, type, p.bursts.found_pc, p.bursts.found_bits);
    }
    const bool bitstream = facts.bitstream_until > p.frame;
    if (bitstream) {
        cf.signal.tone.have_previous = false;
    } else {
        signal_sample(cf.signal, w, p.frame);
        (p.in_block ? cf.block_bits : cf.unjudged_bits) |= w & audio_mask;
        p.frame_bits |= w & audio_mask;
    }
    ++p.word;
    ++p.frame_words;
    if (++p.ch < p.channels)
        return;
    frame_done(p, facts, bitstream);
    if (p.in_block && ++p.frame_in_block == frames_per_block) {
        for (int ch = 0; ch < p.channels; ++ch) {
            channel_facts& c = facts.per_channel[static_cast<std::size_t>(ch)];
            c.pending = c.current;
            c.pending_bits = c.block_bits;
            c.current = status_block{};
            c.block_bits = 0;
        }
        p.pending_frame = p.frame - frames_per_block;
        block_complete(p, facts);
    }
}

} // namespace

void note_parity_error(analysis& facts, long long frame, int channel)
{
    if (facts.first_parity_frame < 0) {
        facts.first_parity_frame = frame;
        facts.first_parity_channel = channel;
    }
}

bool pass_begin(pass_state& p, analysis& facts, const preamble_codes& codes, long long first_block)
{
    const int channels = facts.channels;
    p.channels = channels;
    facts.content.channels = channels;
    p.block_words = static_cast<std::size_t>(channels) * static_cast<std::size_t>(frames_per_block);
    p.preambles = codes.usable;
    p.block_code = codes.block;
    p.first_code = codes.first;
    p.in_block = !codes.usable;
    if (!unwrapper_init(p.unwrapper))
        return false;
    if (!codes.usable)
        facts.first_block_frame = 0;
    // Word 0 belongs to the channel that puts the first block start on a frame boundary.
    const auto skew = codes.usable ? static_cast<int>((channels - first_block % channels) % channels) : 0;
    p.ch = skew;
    p.frame_whole = skew == 0;
    p.cut_frame = skew != 0;
    // The per-channel facts come zero-filled; these start elsewhere.
    for (int ch = 0; ch < channels; ++ch) {
        channel_facts& cf = facts.per_channel[static_cast<std::size_t>(ch)];
        cf.short_bit = -1;
        cf.signal = signal_sums{};
    }
    // The fast path keeps a block of history and a block to work on in the
    // 1 MiB read buffer, which is ample up to 682 channels.
    constexpr std::size_t fast_channels = 682;
    p.fast = static_cast<std::size_t>(channels) <= fast_channels;
    if (!p.fast)
        return true;
    p.lanes.lanes = lanes_for(channels);
    const std::size_t n = p.lanes.lanes;
    constexpr std::size_t unsigned_sums = 3;  // any, common and the V counts
    const auto c = static_cast<std::size_t>(channels);
    p.lane_words = zeroed_array<std::uint32_t>(n * unsigned_sums);
    p.lane_signed = zeroed_array<std::int32_t>(n);
    p.lane_floats = zeroed_array<float>(2 * n);
    p.status_memory = zeroed_array<std::uint32_t>(static_cast<std::size_t>(status_words) * c);
    p.rise_memory = zeroed_array<std::uint8_t>(p.block_words);
    p.frame_before = zeroed_array<std::uint8_t>(c * word_bytes);
    if (!p.lane_words || !p.lane_signed || !p.lane_floats || !p.status_memory || !p.rise_memory || !p.frame_before)
        return false;
    lane_sums& l = p.lanes;
    l.any = p.lane_words.get();
    l.common = p.lane_words.get() + n;
    p.invalid_lanes = p.lane_words.get() + 2 * n;
    l.sum = p.lane_signed.get();
    l.squares = p.lane_floats.get();
    l.peak = p.lane_floats.get() + n;
    return true;
}

std::size_t pass_words(pass_state& p, analysis& facts, const std::uint8_t* buf, std::size_t begin, std::size_t end,
                       bool at_end)
{
    const std::size_t reserve = p.fast ? p.block_words : 0;
    std::size_t i = begin;
    std::size_t slow_from = begin;  // the run of words taken one by one
    while (i < end && (at_end || end - i > reserve)) {
        const std::uint32_t w = load_word(buf + i * word_bytes);
        if (p.preambles) {
            if ((w & preamble_mask) == p.block_code && stray_block_code(p, buf, i, end))
                structure_broken(p, facts);
            else if ((w & preamble_mask) == p.block_code)
                block_start(p, facts);
            else if (p.expect_start)
                block_start_missing(p, facts);
            else if (p.in_block && p.first_code != 0 && frames_shifted(p, buf, i, end))
                frames_shifted_here(p, facts);
        }
        if (p.fast && p.in_block && p.frame_in_block == 0 && p.ch == 0 && end - i >= p.block_words &&
            fast_block(p, facts, buf, i)) {
            unwrap_words(p, facts, buf + slow_from * word_bytes, i - slow_from, p.pa_seen);
            p.pa_seen = false;
            unwrap_words(p, facts, buf + i * word_bytes, p.block_words, p.lanes.sync);
            i += p.block_words;
            slow_from = i;
            continue;
        }
        slow_word(p, facts, w);
        ++i;
    }
    unwrap_words(p, facts, buf + slow_from * word_bytes, i - slow_from, p.pa_seen);
    p.pa_seen = false;
    return i;
}

void pass_end(pass_state& p, analysis& facts)
{
    decode_rest(p, facts);
    if (p.cut_frame)
        facts.leading_words = p.frame_words;
    facts.words = p.word;
    facts.trailing_bytes += static_cast<long long>(p.cut_frame ? 0 : p.frame_words) * static_cast<long long>(word_bytes);
    facts.parity_carried = (p.parity_bits & (1U << 31)) != 0;
    facts.nothing_received = p.parity_bits == 0 && p.word > 0;
    silence_end(facts.silence, p.frame);
    timeline_end(facts.content, p.frame);
}
