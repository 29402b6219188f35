// Detection of the preamble codes that capture hardware stores in bits 0-3
// of every word: which code starts a block, which starts a frame, and so
// how many channels a frame holds.
//
// Real captures are not clean at the start: a receiver delivers zero words
// until it locks, a glitch leaves a stray code, a short capture holds a
// single block start. So every code is tried in turn as the block-start
// code, anchored at a few of its occurrences, and a candidate is accepted
// only when the whole window agrees with it: the frame pattern it implies
// holds for nearly every word, the code occurs about once a block, and where
// it recurs a whole number of blocks apart, the shortest such spacing is one
// block. Zero words are nothing received and count for neither. A word
// lost or slipped in shifts the frames that follow: the predicted structure
// starts again at the next block-start code.
#include "iec958.h"

#include <algorithm>
#include <array>

namespace {

constexpr unsigned codes = 16;
constexpr std::size_t max_anchors = 8;       // occurrences of a code tried as a block start
constexpr std::size_t pattern_frames = 4;    // frames after the anchor that must repeat frame 1
// One block of this many channels fills the 1 MiB detection window.
constexpr std::size_t max_channels = 1365;
// The share of words that must agree: nine tenths.
constexpr std::size_t agree_tenths = 9;
constexpr auto block_frames = static_cast<std::size_t>(frames_per_block);

unsigned code_at(const std::uint8_t* buf, std::size_t word)
{
    return load_word(buf + word * word_bytes) & preamble_mask;
}

bool is_zero(const std::uint8_t* buf, std::size_t word)
{
    return load_word(buf + word * word_bytes) == 0;
}

// True when, from block start s, frame 1 shows a code in its first subframe
// that no other subframe and not the block start carries, and the frames
// after it repeat frame 1's codes: a frame of C words.
bool frame_pattern_holds(const std::uint8_t* buf, std::size_t count, std::size_t s, unsigned block, std::size_t c)
{
    if (s + 3 * c > count)
        return false;
    const unsigned first = code_at(buf, s + c);
    if (first == block)
        return false;
    for (std::size_t j = 1; j < c; ++j) {
        const unsigned other = code_at(buf, s + c + j);
        if (other == block || other == first)
            return false;
    }
    for (std::size_t f = 2; f <= pattern_frames && s + (f + 1) * c <= count; ++f)
        for (std::size_t j = 0; j < c; ++j)
            if (code_at(buf, s + f * c + j) != code_at(buf, s + c + j))
                return false;
    return true;
}

// The channel count a block start at s suggests: the shortest frame whose
// pattern holds, or else, for captures whose codes mark only block starts,
// the distance to the next block start in whole blocks. 0 when neither.
std::size_t channels_at(const std::uint8_t* buf, std::size_t count, std::size_t s, unsigned block, bool by_pattern)
{
    if (by_pattern) {
        for (std::size_t c = 1; c <= max_channels && s + 3 * c <= count; ++c)
            if (frame_pattern_holds(buf, count, s, block, c))
                return c;
        return 0;
    }
    for (std::size_t i = s + 1; i < count; ++i)
        if (code_at(buf, i) == block)
            return (i - s) % block_frames == 0 ? std::min((i - s) / block_frames, max_channels + 1) : 0;
    return 0;
}

struct candidate {
    bool holds = false;
    std::size_t mismatches = 0;
    std::size_t checked = 0;
    std::size_t start = 0;  // the first predicted block start that carries the code
    unsigned first = 0;
};

// Checks every non-zero word of the window against the structure that a
// block start at s with C channels predicts: the block code where a block
// starts, frame 1's codes everywhere else; and the block code's own spacing.
// Stops once too many words disagree.
candidate check_structure(const std::uint8_t* buf, std::size_t count, std::size_t s, unsigned block, std::size_t c)
{
    candidate result;
    if (c == 0 || c > max_channels || s + 2 * c > count)
        return result;
    for (std::size_t j = 0; j < c; ++j) {
        if (code_at(buf, s + c + j) == block)
            return result;
    }
    const std::size_t max_mismatches = count / 10;
    const std::size_t period = c * block_frames;
    // The shortest spacing of two block-start codes in a row that is a whole
    // number of blocks: lost frames make others, but this one is the block.
    std::size_t shortest_blocks = 0;
    std::size_t last_code = count;
    std::size_t block_codes = 0;
    bool have_start = false;
    // Word p is subframe j of frame f of its predicted block, counted from s.
    const std::size_t offset = (period - s % period) % period;
    std::size_t j = offset % c;
    std::size_t f = offset / c;
    for (std::size_t p = 0; p < count; ++p) {
        if (!is_zero(buf, p)) {
            const unsigned code = code_at(buf, p);
            const bool block_start = j == 0 && f == 0;
            ++result.checked;
            if (code == block) {
                ++block_codes;
                if (last_code < p && (p - last_code) % block_frames == 0 && (shortest_blocks == 0 || p - last_code < shortest_blocks))
                    shortest_blocks = p - last_code;
                last_code = p;
                if (block_start && !have_start) {
                    have_start = true;
                    result.start = p;
                }
            }
            if (code != (block_start ? block : code_at(buf, s + c + j)) && ++result.mismatches > max_mismatches)
                return result;
            // A block-start code out of place and none where this block
            // ends: a word lost or slipped in shifted the frames, so the
            // prediction follows the code.
            if (code == block && !block_start) {
                const std::size_t block_end = p + period - (f * c + j);
                if (block_end >= count || code_at(buf, block_end) != block) {
                    j = 0;
                    f = 0;
                    if (!have_start) {
                        have_start = true;
                        result.start = p;
                    }
                }
            }
        }
        if (++j == c) {
            j = 0;
            f = f + 1 == block_frames ? 0 : f + 1;
        }
    }
    result.first = code_at(buf, s + c);
    // About one block-start code a block: lost or repeated frames, stray
    // codes and a join change that little; a wrong frame does not.
    const bool one_a_block = 3 * block_codes * period >= 2 * result.checked &&
                             block_codes * period <= 2 * result.checked + 2 * period;
    result.holds = have_start && one_a_block && result.mismatches * 10 <= result.checked * (10 - agree_tenths) &&
                   (shortest_blocks == 0 || shortest_blocks == period);
    return result;
}

// The codes in order of rarity: a block-start code is the rarest in a clean
// capture, so it is usually the first one tried.
std::array<unsigned, codes> codes_by_rarity(const std::uint8_t* buf, std::size_t count, std::array<std::size_t, codes>& seen)
{
    for (std::size_t i = 0; i < count; ++i)
        if (!is_zero(buf, i))
            ++seen[code_at(buf, i)];
    std::array<unsigned, codes> order{};
    for (unsigned k = 0; k < codes; ++k)
        order[k] = k;
    std::stable_sort(order.begin(), order.end(), [&seen](unsigned a, unsigned b) { return seen[a] < seen[b]; });
    return order;
}

} // namespace

// Tries each code that occurs, rarest first, as the block-start code at up
// to max_anchors of its occurrences, with the channel count given or the one
// the codes around the anchor suggest; keeps the candidate that agrees best.
preamble_codes detect_preambles(const std::uint8_t* buf, std::size_t count, int channels_given)
{
    std::array<std::size_t, codes> seen{};
    const std::array<unsigned, codes> order = codes_by_rarity(buf, count, seen);
    preamble_codes best{};
    candidate best_fit;
    for (const unsigned block : order) {
        if (seen[block] == 0)
            continue;
        std::size_t anchors = 0;
        for (std::size_t s = 0; s < count && anchors < max_anchors; ++s) {
            if (is_zero(buf, s) || code_at(buf, s) != block)
                continue;
            ++anchors;
            for (const bool by_pattern : {true, false}) {
                const std::size_t c = channels_given > 0 ? static_cast<std::size_t>(channels_given)
                                                         : channels_at(buf, count, s, block, by_pattern);
                const candidate fit = check_structure(buf, count, s, block, c);
                // Agreement compared as mismatches per word checked, without division.
                if (fit.holds && (!best.usable || fit.mismatches * best_fit.checked < best_fit.mismatches * fit.checked)) {
                    best = {true, block, fit.first, static_cast<int>(c), fit.start};
                    best_fit = fit;
                }
                if (channels_given > 0)
                    break;
            }
            if (best.usable && best_fit.mismatches == 0)
                return best;
        }
    }
    return best;
}
