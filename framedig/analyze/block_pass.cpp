// The fast path: a block whose structure is in place is taken whole. One
// vector pass (scan_lanes) gives every sum; word-by-word work runs only where
// the sums show something to look at: V bits to count, a parity error, a
// burst sync word, the zero crossings of a tone.
#include "analyze/pass.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

namespace {

bool frame_silent(const std::uint8_t* frame, std::size_t channels)
{
    std::uint32_t bits = 0;
    for (std::size_t ch = 0; ch < channels; ++ch)
        bits |= load_word(frame + ch * word_bytes);
    return (bits & audio_mask) == 0;
}

// Frames of silence on every channel at the start of a block, or at its end.
int silent_frames(const std::uint8_t* block, std::size_t channels, bool from_end)
{
    int f = 0;
    while (f < frames_per_block) {
        const int frame = from_end ? frames_per_block - 1 - f : f;
        if (!frame_silent(block + static_cast<std::size_t>(frame) * channels * word_bytes, channels))
            break;
        ++f;
    }
    return f;
}

void count_parity_errors(const pass_state& p, analysis& facts, const std::uint8_t* block, long long first_frame)
{
    const auto c = static_cast<std::size_t>(p.channels);
    for (std::size_t i = 0; i < p.block_words; ++i) {
        if (__builtin_parity(load_word(block + i * word_bytes) & parity_covered_mask) != 0) {
            ++facts.per_channel[i % c].parity_errors;
            note_parity_error(facts, first_frame + static_cast<long long>(i / c), static_cast<int>(i % c) + 1);
        }
    }
}

void count_invalid(const pass_state& p, analysis& facts, const std::uint8_t* block)
{
    const std::size_t n = p.lanes.lanes;
    std::fill(p.invalid_lanes, p.invalid_lanes + n, 0U);
    count_lane_bits(block, p.block_words, n, validity_bit_pos, p.invalid_lanes);
    for (std::size_t q = 0; q < n; ++q)
        facts.per_channel[q % static_cast<std::size_t>(p.channels)].invalid_frames += p.invalid_lanes[q];
}

void find_bursts(pass_state& p, analysis& facts, const std::uint8_t* block)
{
    for (std::size_t i = 0; i < p.block_words; ++i) {
        const std::uint32_t w = load_word(block + i * word_bytes);
        if (p.bursts.state == 0 && burst_pa_mode(w) < 0)
            continue;
        if (const int type = burst_feed(p.bursts, w); type >= 0)
            burst_found(facts, p.word + static_cast<long long>(i) - 3, type, p.bursts.found_pc, p.bursts.found_bits);
    }
}

std::int32_t sample_at(const std::uint8_t* block, std::size_t word)
{
    return word_sample(load_word(block + word * word_bytes));
}

// The rising zero crossings of channels that may carry a tone, found from
// flags eight at a time; then each channel's last sample carries on.
void track_tones(pass_state& p, analysis& facts, const std::uint8_t* block, long long first_frame)
{
    const auto c = static_cast<std::size_t>(p.channels);
    const lane_sums& l = p.lanes;
    bool wanted = false;
    std::uint8_t* before = p.frame_before.get();
    for (std::size_t ch = 0; ch < c; ++ch) {
        const tone_track& tone = facts.per_channel[ch].signal.tone;
        const std::int32_t last = tone.have_previous ? tone.previous : 0;
        store_le(before + ch * word_bytes, static_cast<std::uint32_t>(last) << audio_lsb_pos);
        // A rise needs a negative sample and a positive one in the block,
        // or a negative one just before a first that is not.
        std::uint32_t any = 0;
        std::uint32_t common = ~0U;
        for (std::size_t q = ch; q < l.lanes; q += c) {
            any |= l.any[q];
            common &= l.common[q];
        }
        const std::uint32_t sign = 1U << sample_msb_pos;
        const bool rises_at_start = last < 0 && sample_at(block, ch) >= 0;
        wanted = wanted || (tone.candidate && (rises_at_start || ((any & sign) != 0 && (common & sign) == 0)));
    }
    if (wanted) {
        std::uint8_t* flags = p.rise_memory.get();
        rise_flags(block, before, p.block_words, p.channels, flags);
        // 32 flags at a time, in four 64-bit words; a set flag is a set
        // byte, found by its lowest bit. A block is 192 frames: 6 * channels times 32 words.
        std::array<std::uint64_t, 4> group{};
        for (std::size_t i = 0; i < p.block_words; i += sizeof group) {
            std::memcpy(group.data(), flags + i, sizeof group);
            if ((group[0] | group[1] | group[2] | group[3]) == 0)
                continue;
            for (std::size_t g = 0; g < group.size(); ++g) {
                for (std::uint64_t eight = group[g]; eight != 0; eight &= eight - 1) {
                    const std::size_t word = i + 8 * g + static_cast<std::size_t>(std::countr_zero(eight)) / 8;
                    tone_track& tone = facts.per_channel[word % c].signal.tone;
                    if (!tone.candidate)
                        continue;
                    const std::int32_t earlier = word < c ? word_sample(load_word(before + word * word_bytes))
                                                          : sample_at(block, word - c);
                    tone_crossing(tone, earlier, sample_at(block, word), first_frame + static_cast<long long>(word / c));
                }
            }
        }
    }
    for (std::size_t ch = 0; ch < c; ++ch) {
        tone_track& tone = facts.per_channel[ch].signal.tone;
        tone.previous = sample_at(block, p.block_words - c + ch);
        tone.have_previous = true;
    }
}

// The lanes of each channel into its signal sums.
void add_signal(const pass_state& p, analysis& facts)
{
    const lane_sums& l = p.lanes;
    const auto c = static_cast<std::size_t>(p.channels);
    for (std::size_t ch = 0; ch < c; ++ch) {
        channel_facts& cf = facts.per_channel[ch];
        signal_sums& s = cf.signal;
        std::uint32_t any = 0;
        for (std::size_t q = ch; q < l.lanes; q += c) {
            s.sum += l.sum[q];
            s.squares += static_cast<double>(l.squares[q]);
            s.peak_square = std::max(s.peak_square, static_cast<double>(l.peak[q]));
            s.common &= l.common[q];
            any |= l.any[q];
        }
        s.samples += frames_per_block;
        s.any |= any;
        cf.pending_bits = any & audio_mask;
    }
}

void add_silence(const pass_state& p, analysis& facts, const std::uint8_t* block, std::uint32_t any, long long first_frame)
{
    const auto c = static_cast<std::size_t>(p.channels);
    if ((any & audio_mask) == 0) {
        silence_from(facts.silence, first_frame);
        return;
    }
    const int lead = silent_frames(block, c, false);
    if (lead > 0)
        silence_from(facts.silence, first_frame);
    audio_frame(facts.silence, first_frame + lead);
    timeline_pcm(facts.content, first_frame + lead);
    if (const int tail = silent_frames(block, c, true); tail > 0)
        silence_from(facts.silence, first_frame + frames_per_block - tail);
}

} // namespace

bool fast_block(pass_state& p, analysis& facts, const std::uint8_t* buf, std::size_t at)
{
    const std::uint8_t* block = buf + at * word_bytes;
    // The block before, whole and decoded, for its C bits.
    const bool history = p.last_block_end == p.word && at >= p.block_words && facts.blocks > 0;
    const lane_sums& l = p.lanes;
    scan_lanes(block, history ? block - p.block_words * word_bytes : block, p.block_words, p.block_code, p.lanes);
    std::uint32_t any = 0;
    for (std::size_t q = 0; q < l.lanes; ++q)
        any |= l.any[q];
    // The caller saw the block-start code in the first word; another one
    // inside breaks the block, and the word-by-word path reports it.
    if (p.preambles && l.codes != 1)
        return false;
    // A word lost or slipped in shifts the last frame off its first-subframe code.
    if (p.preambles && p.first_code != 0 &&
        (load_word(block + (p.block_words - static_cast<std::size_t>(p.channels)) * word_bytes) & preamble_mask) != p.first_code)
        return false;

    const bool same = history && !l.status_differs;
    if (!same)
        gather_status_words(block, p.channels, p.status_memory.get());
    const long long first_frame = p.frame;
    for (int ch = 0; ch < p.channels; ++ch) {
        channel_facts& cf = facts.per_channel[static_cast<std::size_t>(ch)];
        if (same)
            cf.pending = cf.last;
        else
            status_bytes_of(p.status_memory.get(), p.channels, ch, cf.pending.data());
        for (auto q = static_cast<std::size_t>(ch); q < l.lanes; q += static_cast<std::size_t>(p.channels))
            cf.audio_bits |= l.any[q] & audio_mask;
    }
    p.parity_bits |= any;
    if (((any >> validity_bit_pos) & 1U) != 0)
        count_invalid(p, facts, block);
    if (l.odd)
        count_parity_errors(p, facts, block, first_frame);
    if (l.sync || p.bursts.state != 0)
        find_bursts(p, facts, block);

    if (facts.bitstream_until > first_frame) {
        for (int ch = 0; ch < p.channels; ++ch) {
            channel_facts& cf = facts.per_channel[static_cast<std::size_t>(ch)];
            cf.signal.tone.have_previous = false;
            cf.pending_bits = 0;
        }
        bitstream_frame(facts.silence, first_frame);
    } else {
        add_signal(p, facts);
        track_tones(p, facts, block, first_frame);
        add_silence(p, facts, block, any, first_frame);
    }
    p.word += static_cast<long long>(p.block_words);
    p.frame += frames_per_block;
    facts.frames += frames_per_block;
    p.pending_frame = first_frame;
    block_complete(p, facts);
    return true;
}
