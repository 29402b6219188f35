// The comparison itself: every reference frame against the capture frame
// the alignment lines up with it; a run of mismatches is corrupted samples
// unless the frames after it agree at another offset (frames dropped or
// repeated). The sums the diagnosis needs are kept on the way.
#include "compare/compare.h"

#include <algorithm>
#include <cstdlib>

namespace {

constexpr long long block_frames = 16;       // frames compared at a time on a matching stretch
constexpr long long first_backoff = 16;      // frames before a realignment is looked for again
constexpr long long last_backoff = 1LL << 20;
constexpr long long stretch_frames = 1024;   // frames compared one by one at a time

// When the next mismatch is looked into: the alignment was seen to hold up
// to trusted, and a failed search waits until next_search.
struct realign_state {
    long long trusted = 0;
    long long next_search = 0;
    long long backoff = first_backoff;
};

void record_event(std::array<frame_event, reference_events>& events, long long& runs, long long& frames, long long at,
                  long long count)
{
    if (runs < static_cast<long long>(events.size()))
        events[static_cast<std::size_t>(runs)] = {at, count};
    ++runs;
    frames += count;
}

// How many whole runs of 16 frames from reference frame i and capture frame
// q match, compared without a branch per sample: most of a bit-exact
// capture goes through here.
long long matching_blocks(frame_stream& ref, long long i, frame_stream& cap, long long q)
{
    const int channels = ref.channels;
    const long long samples = block_frames * channels;
    long long done = 0;
    while (fill_to(ref, i + done + block_frames - 1) &&
           fill_to(cap, q + done + block_frames - 1) && ((i + done) & (ring_frames - 1)) + block_frames <= ring_frames &&
           ((q + done) & (ring_frames - 1)) + block_frames <= ring_frames) {
        const std::int32_t* a = frame_at(ref, i + done);
        const std::int32_t* b = frame_at(cap, q + done);
        std::uint32_t differ = 0;
        for (long long k = 0; k < samples; ++k)
            differ |= static_cast<std::uint32_t>(a[k] ^ b[k]);
        if (differ != 0)
            break;
        done += block_frames;
    }
    return done;
}

// Counts the mismatches among n frames (same says which are equal): the
// first one, and the largest difference, in loops without a branch per sample.
void count_mismatches(comparison& facts, const std::int32_t* expected, const std::int32_t* got, int channels, long long n,
                      const bool* same, long long capture_frame)
{
    std::int32_t largest = 0;
    for (long long k = 0; k < n * channels; ++k)
        largest = std::max(largest, std::abs(got[k] - expected[k]));  // 24-bit samples: no overflow
    facts.largest_difference = std::max<long long>(facts.largest_difference, largest);
    for (long long f = 0; f < n; ++f) {
        facts.mismatched += same[f] ? 0 : 1;
        for (int ch = 0; !same[f] && !facts.have_mismatch && ch < channels; ++ch) {
            if (got[f * channels + ch] != expected[f * channels + ch]) {
                facts.have_mismatch = true;
                facts.mismatch_frame = capture_frame + f;
                facts.mismatch_channel = ch + 1;
                facts.expected = expected[f * channels + ch];
                facts.got = got[f * channels + ch];
            }
        }
    }
}

// At a mismatch the alignment was seen to go on, or not: if not, the shift
// that the frames after it agree at (0 for none). Searches back off while
// they find nothing, so the cost stays linear.
long long after_mismatch(realign_state& state, const resumption& resumed, frame_stream& ref, long long i, frame_stream& cap,
                         long long q)
{
    state.trusted = q + resumed.seen;
    if (resumed.holds) {
        state.backoff = first_backoff;
        state.next_search = 0;
        return 0;
    }
    if (q < state.next_search)
        return 0;
    const long long shift = realignment(ref, i, cap, q);
    if (shift != 0) {
        state = realign_state{};
        return shift;
    }
    state.next_search = q + state.backoff;
    state.backoff = std::min(2 * state.backoff, last_backoff);
    return 0;
}

// How many frames from reference frame i and capture frame q both rings
// hold in one piece, up to stretch_frames.
long long held_stretch(const frame_stream& ref, long long i, const frame_stream& cap, long long q)
{
    if (i < ref.begin || q < cap.begin || i >= ref.end || q >= cap.end)
        return 0;
    return std::min({stretch_frames, ref.end - i, cap.end - q, ring_frames - (i & (ring_frames - 1)),
                     ring_frames - (q & (ring_frames - 1))});
}

// For each of n frames: whether it is equal in both, and whether it tells
// offsets apart (bits 1 and 2 of seen). Fixed is the channel count when it
// is known at compile time, else 0.
template <int fixed>
void look_at(const std::int32_t* expected, const std::int32_t* before_ref, const std::int32_t* got,
             const std::int32_t* before_cap, int channels, long long n, std::uint8_t* seen)
{
    const int count = fixed > 0 ? fixed : channels;
    for (long long k = 0; k < n; ++k) {
        const frame_match m = match_frames(expected + k * count, before_ref, got + k * count, before_cap, count);
        seen[k] = static_cast<std::uint8_t>((m.equal ? 1 : 0) | (m.telling ? 2 : 0));
        before_ref = expected + k * count;
        before_cap = got + k * count;
    }
}

// Compares the n frames held from reference frame i and capture frame q one
// by one, up to a shift (which it sets); returns the frames compared. Whether
// the alignment goes on after a mismatch is read from the frames after it,
// which this pass has already looked at.
long long compare_stretch(comparison& facts, diagnosis_sums& sums, realign_state& state, frame_stream& ref, long long i,
                          frame_stream& cap, long long q, long long n, long long& shift)
{
    constexpr std::uint8_t equal = 1;
    constexpr std::uint8_t telling = 2;
    const int channels = ref.channels;
    const std::int32_t* expected = frame_at(ref, i);
    const std::int32_t* got = frame_at(cap, q);
    std::array<std::uint8_t, stretch_frames> seen{};
    if (channels == 2)  // the common case, with the channel loop unrolled
        look_at<2>(expected, frame_before(ref, i), got, frame_before(cap, q), channels, n, seen.data());
    else
        look_at<0>(expected, frame_before(ref, i), got, frame_before(cap, q), channels, n, seen.data());
    std::array<bool, stretch_frames> same{};
    long long k = 0;
    for (; k < n; ++k) {
        same[static_cast<std::size_t>(k)] = (seen[static_cast<std::size_t>(k)] & equal) != 0;
        if (same[static_cast<std::size_t>(k)])
            continue;
        if (!facts.by_relation && q + k >= state.trusted) {
            resume_tally tally;
            int verdict = 0;
            long long j = k;
            for (; j < n && verdict == 0; ++j)
                verdict = resume_verdict(tally, (seen[static_cast<std::size_t>(j)] & telling) != 0,
                                         (seen[static_cast<std::size_t>(j)] & equal) != 0);
            const resumption resumed = verdict != 0 ? resumption{verdict > 0, j - k} : alignment_resumes(ref, i + k, cap, q + k);
            shift = after_mismatch(state, resumed, ref, i + k, cap, q + k);
            if (shift != 0)
                break;
        }
    }
    facts.compared += k;
    count_mismatches(facts, expected, got, channels, k, same.data(), q);
    add_frames(sums, ref, i, expected, got, q, k, same.data());
    return k;
}

// The reference frames from i on, which the capture lacks: how many, and
// whether any holds sound.
void count_tail(comparison& facts, frame_stream& ref, long long i)
{
    for (const std::int32_t* frame = known_frame(ref, i); frame != nullptr; frame = known_frame(ref, ++i)) {
        ++facts.missing_after;
        facts.sound_after = facts.sound_after || has_sound(frame, ref.channels);
    }
}

} // namespace

void compare_streams(comparison& facts, frame_stream& ref, frame_stream& cap, const channel_relation& relation)
{
    diagnosis_sums sums;
    start_sums(sums, ref.channels, facts.precision, facts.by_relation ? &relation : nullptr);
    long long i = std::max(0LL, -facts.offset);
    // A capture whose first sound lines up inside the reference's sound
    // began there: the silence before its first sound (a receiver locking)
    // is no part of what was played.
    if (facts.aligned && !facts.by_relation && cap.has_sound && cap.onset - facts.offset > std::max(i, ref.onset))
        i = cap.onset - facts.offset;
    long long q = i + facts.offset;
    if (facts.aligned) {
        facts.missing_before = i;
        facts.sound_before = ref.onset < i;
        // Frames before both files' first sound are silent in both.
        const long long lead = std::min(ref.onset - i, cap.onset - q);
        if (lead > 0) {
            facts.compared += lead;
            i += lead;
            q += lead;
        }
    }
    realign_state state;
    while (facts.aligned) {
        const std::int32_t* x = known_frame(ref, i);
        const std::int32_t* y = known_frame(cap, q);
        if (x == nullptr && i >= ref.begin)
            break;  // the reference ended
        if (y == nullptr && q >= cap.begin) {
            count_tail(facts, ref, i);
            break;
        }
        if (x == nullptr || y == nullptr) {  // no longer held
            ++facts.uncompared_lead;
            ++i;
            ++q;
            continue;
        }
        if (i >= ref.begin && q >= cap.begin && !sums.active) {
            const long long run = matching_blocks(ref, i, cap, q);
            add_matching(sums, ref, i, run);
            facts.compared += run;
            i += run;
            q += run;
            if (run > 0)
                continue;
        }
        long long shift = 0;
        long long step = held_stretch(ref, i, cap, q);
        if (step > 0) {
            step = compare_stretch(facts, sums, state, ref, i, cap, q, step, shift);
        } else {  // a frame known to be silent, not held
            const bool same = frames_equal(x, y, ref.channels);
            if (!same && !facts.by_relation && q >= state.trusted)
                shift = after_mismatch(state, alignment_resumes(ref, i, cap, q), ref, i, cap, q);
            if (shift == 0) {
                ++facts.compared;
                count_mismatches(facts, x, y, ref.channels, 1, &same, q);
                add_frames(sums, ref, i, x, y, q, 1, &same);
                step = 1;
            }
        }
        i += step;
        q += step;
        if (shift > 0)
            record_event(facts.dropped, facts.dropped_runs, facts.dropped_frames, q, shift);
        else if (shift < 0 && played_before(ref, i, cap, q, -shift))
            record_event(facts.repeated, facts.repeated_runs, facts.repeated_frames, q, -shift);
        else if (shift < 0)
            record_event(facts.inserted, facts.inserted_runs, facts.inserted_frames, q, -shift);
        i += std::max(shift, 0LL);
        q += std::max(-shift, 0LL);
    }
    flush_sums(sums);
    while (fill_to(ref, ref.end))  // the reference to its end, for its length
        ;
    facts.reference.frames = ref.end;
    facts.low_bits_set = cap.low_bits;
    facts.capture_has_audio = cap.sample_or != 0 || cap.low_bits;
    diagnose(facts, sums, cap.sample_or, ref.sample_or);
}
