// After a mismatch: corrupted samples differ, and the alignment goes on
// after them (in silence too); only when it does not, a shift that the
// frames after the mismatch agree at, with sound among them, means frames
// dropped or repeated, and the smallest such shift is taken. Frames in
// excess are repeated when they are those played just before, else inserted.
#include "compare/compare.h"

#include <algorithm>

namespace {

constexpr long long resume_frames = 4096;  // frames looked at to tell whether the alignment goes on
constexpr long long shift_frames = 1024;   // frames a shift is checked over
constexpr long long shift_telling = 16;    // telling frames that agree take a shift at once
constexpr long long shift_least = 4;       // or this many, over all the frames checked
constexpr long long shift_misses = 2;      // corrupted frames a shift may still have (a click at the drop)
constexpr long long shift_budget = 1LL << 20;  // frames compared in one search at most

// Whether the frames from reference frame i and capture frame q agree, but
// for a click or two, with telling frames among them, until either file ends
// or enough are seen. Adds the frames it compared to work.
bool shift_holds(frame_stream& ref, long long i, frame_stream& cap, long long q, long long& work)
{
    long long telling = 0;
    long long missed = 0;
    const std::int32_t* before_ref = frame_before(ref, i);
    const std::int32_t* before_cap = frame_before(cap, q);
    for (long long t = 0; t < shift_frames; ++t) {
        ++work;
        const std::int32_t* x = known_frame(ref, i + t);
        const std::int32_t* y = known_frame(cap, q + t);
        if (x == nullptr || y == nullptr)
            return telling > 0;
        const frame_match m = match_frames(x, before_ref, y, before_cap, ref.channels);
        if (!m.equal && (++missed > shift_misses || telling == 0))
            return false;
        telling += m.equal && m.telling ? 1 : 0;
        if (telling >= shift_telling)
            return true;
        before_ref = x;
        before_cap = y;
    }
    return telling >= shift_least;  // a flat signal: a square wave's transitions
}

// The period the reference's sound repeats with just before frame i (0:
// none, or silence), over frames it still holds.
long long period_before(const frame_stream& ref, long long i)
{
    constexpr long long max_period = 16384;
    constexpr long long over = 4096;
    for (long long period = 1; period <= max_period; ++period) {
        if (i - over - period < ref.begin)
            return 0;
        long long t = 1;
        while (t <= over && frames_equal(frame_at(ref, i - t), frame_at(ref, i - t - period), ref.channels))
            ++t;
        if (t > over) {
            for (t = 1; t <= period; ++t)
                if (has_sound(frame_at(ref, i - t), ref.channels))
                    return period;
            return 0;
        }
    }
    return 0;
}

// Whether the frames from reference frame i and capture frame q are equal
// (silence too), until either file ends or shift_frames are seen.
bool equal_on(frame_stream& ref, long long i, frame_stream& cap, long long q)
{
    for (long long t = 0; t < shift_frames; ++t) {
        const std::int32_t* x = known_frame(ref, i + t);
        const std::int32_t* y = known_frame(cap, q + t);
        if (x == nullptr || y == nullptr)
            return t > 0;
        if (!frames_equal(x, y, ref.channels))
            return false;
    }
    return true;
}

// Frames dropped inside a periodic stretch (a tone) cannot be told from the
// stretch itself: they show where it ends, the capture's sound that much
// earlier than the reference's. A shift of whole periods after which both
// agree, though only in silence, is taken then (and the reverse for
// periods the capture has in excess).
long long periodic_shift(frame_stream& ref, long long i, frame_stream& cap, long long q)
{
    const std::int32_t* expected = known_frame(ref, i);
    const std::int32_t* got = known_frame(cap, q);
    const bool dropped = has_sound(expected, ref.channels) && !has_sound(got, ref.channels);
    const bool repeated = !has_sound(expected, ref.channels) && has_sound(got, ref.channels);
    const long long period = dropped || repeated ? period_before(ref, i) : 0;
    for (long long s = period; period > 0 && s <= search_frames; s += period) {
        if (dropped && equal_on(ref, i + s, cap, q))
            return s;
        if (repeated && equal_on(ref, i, cap, q + s))
            return -s;
    }
    return 0;
}

} // namespace

resumption alignment_resumes(frame_stream& ref, long long i, frame_stream& cap, long long q)
{
    resume_tally tally;
    // Read ahead once: the frames held are taken straight from the rings.
    fill_to(ref, i + resume_frames);
    fill_to(cap, q + resume_frames);
    const long long held = i > ref.begin && q > cap.begin ? std::min({ref.end - i, cap.end - q, resume_frames}) : 0;
    const std::int32_t* before_ref = frame_before(ref, i);
    const std::int32_t* before_cap = frame_before(cap, q);
    for (long long t = 0; t < resume_frames; ++t) {
        const std::int32_t* x = t < held ? frame_at(ref, i + t) : known_frame(ref, i + t);
        const std::int32_t* y = t < held ? frame_at(cap, q + t) : known_frame(cap, q + t);
        if (x == nullptr || y == nullptr)
            return {true, t};
        const frame_match m = match_frames(x, before_ref, y, before_cap, ref.channels);
        if (const int verdict = resume_verdict(tally, m.telling, m.equal); verdict != 0)
            return {verdict > 0, t + 1};
        before_ref = x;
        before_cap = y;
    }
    return {true, resume_frames};  // nothing tells of a shift: silence, or a flat stretch
}

long long realignment(frame_stream& ref, long long i, frame_stream& cap, long long q)
{
    fill_to(ref, i + search_frames + shift_frames);
    fill_to(cap, q + search_frames + shift_frames);
    const std::int32_t* expected = known_frame(ref, i);
    const std::int32_t* got = known_frame(cap, q);
    if (expected == nullptr || got == nullptr)
        return 0;
    long long work = 0;
    for (long long s = 1; s <= search_frames && work < shift_budget; ++s) {
        // A shift must first explain the frame where the mismatch begins.
        const std::int32_t* later = known_frame(ref, i + s);
        if (later != nullptr && frames_equal(later, got, ref.channels) && shift_holds(ref, i + s, cap, q, work))
            return s;
        const std::int32_t* repeated = known_frame(cap, q + s);
        if (repeated != nullptr && frames_equal(expected, repeated, ref.channels) && shift_holds(ref, i, cap, q + s, work))
            return -s;
    }
    return periodic_shift(ref, i, cap, q);
}

bool played_before(frame_stream& ref, long long i, frame_stream& cap, long long q, long long n)
{
    for (long long k = 0; k < n; ++k) {
        const std::int32_t* x = i - n + k >= 0 ? known_frame(ref, i - n + k) : ref.zero.get();
        const std::int32_t* y = known_frame(cap, q + k);
        if (x != nullptr && y != nullptr && !frames_equal(x, y, ref.channels))
            return false;
    }
    return true;
}
