// Alignment: the capture frame that lines up with reference frame 0, found
// where the reference's first sound appears in the capture.
#include "compare/reference.h"

#include <algorithm>
#include <cmath>

namespace {

// The first non-zero capture frame, when it is near enough to the start
// for the ring to hold what comes after it; -1 otherwise.
long long first_sound(frame_stream& cap)
{
    long long j = 0;
    while (fill_to(cap, j) && all_zero(frame_at(cap, j), cap.channels))
        ++j;
    return fill_to(cap, j) && j < ring_frames / 2 ? j : -1;
}

// A capture that began after the reference: its first non-zero frame, and
// the frames after it, found in the reference's first ring of frames after
// the reference's own first non-zero one.
bool late_start(frame_stream& ref, long long first, frame_stream& cap, long long& offset)
{
    const long long j = first_sound(cap);
    for (long long i = first; j >= 0 && i - first < ring_frames - align_frames && fill_to(ref, i + align_frames); ++i) {
        if (i > j && frames_equal(frame_at(ref, i), frame_at(cap, j), ref.channels) && match_at(ref, i, cap, j, align_frames)) {
            offset = j - i;
            return true;
        }
    }
    return false;
}

// A capture through a volume stage holds no reference frame exactly, but
// the same shape: the offset, near the capture's first sound, at which its
// samples correlate best with the reference's, if that is close to 1.
bool shape_offset(frame_stream& ref, long long first, frame_stream& cap, long long& offset)
{
    const long long start = first_sound(cap);
    if (start < 0 || !fill_to(ref, first + shape_frames - 1))
        return false;
    double best = shape_correlation;
    bool found = false;
    for (long long j = std::max(0LL, start - shape_slack); j <= start + shape_slack; ++j) {
        double xy = 0;
        double xx = 0;
        double yy = 0;
        for (long long k = 0; k < shape_frames && fill_to(cap, j + k); ++k) {
            for (int ch = 0; ch < ref.channels; ++ch) {
                const double x = frame_at(ref, first + k)[ch];
                const double y = frame_at(cap, j + k)[ch];
                xy += x * y;
                xx += x * x;
                yy += y * y;
            }
        }
        if (xx > 0 && yy > 0 && xy / std::sqrt(xx * yy) > best) {
            best = xy / std::sqrt(xx * yy);
            offset = j - first;
            found = true;
        }
    }
    return found;
}

} // namespace

// The offset: the capture frame where the reference's first non-zero frame
// and the frames after it appear, minus that frame's index; negative when
// the capture began after the reference. Returns false when the capture
// never holds them. zero_run is the number of all-zero capture frames just
// before the match.
bool align(comparison& facts, frame_stream& ref, frame_stream& cap, long long& first, long long& zero_run)
{
    first = 0;
    while (fill_to(ref, first) && all_zero(frame_at(ref, first), ref.channels))
        ++first;
    if (!fill_to(ref, first))
        first = 0;  // a silent reference aligns on silence
    if (!fill_to(ref, first))
        return true;  // an empty reference: nothing to look for
    if (late_start(ref, first, cap, facts.offset) || shape_offset(ref, first, cap, facts.offset))
        return true;
    zero_run = 0;
    for (long long j = 0; fill_to(cap, j); ++j) {
        if (frames_equal(frame_at(ref, first), frame_at(cap, j), ref.channels) && match_at(ref, first, cap, j, align_frames)) {
            facts.offset = j - first;
            return true;
        }
        zero_run = all_zero(frame_at(cap, j), cap.channels) ? zero_run + 1 : 0;
    }
    return false;
}
