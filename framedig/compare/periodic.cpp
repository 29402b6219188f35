// A capture that began inside a periodic stretch of the reference (a pure
// tone) fits it at every period: the search finds the earliest place its
// first frames fit, which may line them up with the reference's silence
// before the tone, or with nothing at all. The end of the sound tells which
// period holds: the capture is taken to have run to the end of the
// reference's sound, when the period allows that and the frames confirm it.
#include "compare/compare.h"

namespace {

// The last frame with sound from frame from on, reading s to its end; -1
// when there is none or s cannot be read again.
long long last_sound(frame_stream& s, long long from)
{
    if (!rewind_stream(s, from))
        return -1;
    long long last = -1;
    for (long long idx = from; fill_to(s, idx); ++idx)
        last = has_sound(frame_at(s, idx), s.channels) ? idx : last;
    return last;
}

bool holds(const agreement& a)
{
    return a.agreeing > 0 && a.agreeing >= std::min(a.informative, 16LL) && 8 * a.agreeing >= 7 * a.informative;
}

// Whether the capture's frames from its first sound agree with the
// reference at offset.
bool confirmed(frame_stream& ref, frame_stream& cap, long long offset)
{
    const long long first = cap.onset - offset;
    return first >= ref.onset && rewind_stream(ref, first) && rewind_stream(cap, cap.onset) &&
           holds(agree(ref, first, cap, cap.onset, search_telling));
}

} // namespace

long long periodic_start(frame_stream& ref, frame_stream& cap, long long offset, long long& period)
{
    const bool late = offset <= cap.onset - ref.onset;  // the capture's first sound lines up inside the reference
    period = reference_period(ref, std::max(ref.onset, cap.onset - offset));
    if (period == 0 || ref.origin < 0 || cap.origin < 0) {
        period = late ? period : 0;
        return offset;
    }
    // The earliest place for the capture's first sound inside the reference's sound.
    long long start = offset;
    if (cap.onset - start < ref.onset)
        start -= (ref.onset - (cap.onset - start) + period - 1) / period * period;
    const long long ref_last = last_sound(ref, ref.onset);
    const long long cap_last = last_sound(cap, cap.onset);
    const long long ends = cap_last - ref_last;  // the offset that lines up both ends
    const bool ends_fit = ref_last >= 0 && cap_last >= 0 && ends < start && (start - ends) % period == 0;
    bool moved = false;
    if (ends_fit && confirmed(ref, cap, ends)) {
        offset = ends;
        moved = true;
    } else if (start != offset && confirmed(ref, cap, start)) {
        offset = start;
        moved = true;
    }
    rewind_stream(ref, ref.onset);
    rewind_stream(cap, cap.onset);
    period = late || moved ? period : 0;
    return offset;
}

bool sound_ends_line_up(frame_stream& ref, frame_stream& cap, long long offset)
{
    const long long ref_last = last_sound(ref, ref.onset);
    const long long cap_last = last_sound(cap, cap.onset);
    const bool lined_up = ref_last >= 0 && cap_last >= 0 && cap_last - ref_last == offset;
    return rewind_stream(ref, ref.onset) && rewind_stream(cap, cap.onset) && lined_up;
}
