// The comparison's working parts: the alignment, the realignment after a
// mismatch, the sums the diagnosis is drawn from, and the comparison itself.
#pragma once

#include "compare/frames.h"

// ---- Alignment (align.cpp, search.cpp, relate.cpp) ----

// How each capture channel relates to the reference when they were aligned
// through that relation: the reference channel it carries (-1 for none) and
// its delay in frames against the offset.
struct channel_relation {
    std::array<int, max_diagnosed_channels> source{};
    std::array<long long, max_diagnosed_channels> skew{};
};

// Agreement of the frames from reference frame i and capture frame q.
struct agreement {
    long long informative = 0;  // frames that tell offsets apart
    long long agreeing = 0;     // of those, the ones equal in both
    long long leading = 0;      // of those, the ones before the first that differs
    long long compared = 0;
};
// Compares until n frames tell offsets apart, within confirm_frames.
agreement agree(frame_stream& ref, long long i, frame_stream& cap, long long q, long long n);

inline constexpr long long confirm_frames = 8192;  // frames a candidate offset is checked over at most
inline constexpr long long onset_telling = 64;     // telling frames that check the onsets' offset
inline constexpr long long search_telling = 256;   // telling frames that check an offset found by searching
inline constexpr long long window_frames = 1024;   // frames searched for in the other file
inline constexpr long long window_count = 4;

// Each returns true and sets offset when it finds the capture in the reference.
bool search_late_start(frame_stream& ref, frame_stream& cap, long long& offset);
bool search_late_reference(frame_stream& ref, frame_stream& cap, long long& offset);
long long reference_period(frame_stream& ref, long long i);
bool relate_channels(frame_stream& ref, frame_stream& cap, channel_relation& relation, long long& offset);
// For a capture whose first sound was found at offset inside the
// reference: the period the reference repeats with there (0: none) and the
// offset among those it allows that puts the capture's first sound inside
// the reference's and lines up the ends of both files' sound where it can.
long long periodic_start(frame_stream& ref, frame_stream& cap, long long offset, long long& period);
// Whether the last sounds of both files line up at offset (both files are
// read to their ends, then again from their onsets).
bool sound_ends_line_up(frame_stream& ref, frame_stream& cap, long long offset);
// Sets facts.aligned, offset, period and by_relation (with relation).
void align(comparison& facts, frame_stream& ref, frame_stream& cap, channel_relation& relation);

// ---- Realignment after a mismatch (realign.cpp) ----

inline constexpr long long search_frames = 16384;  // how far a realignment is looked for, either way

struct resumption {
    bool holds;       // the current alignment goes on after the mismatch
    long long seen;   // capture frames looked at to tell
};
// The frames after a mismatch, one by one: the alignment goes on when nearly
// all of the first frames that tell offsets apart agree (a click or a
// corrupted sample among them); otherwise a shift may explain them better.
struct resume_tally {
    long long telling = 0;
    long long agreeing = 0;
};
inline constexpr long long resume_telling = 8;  // telling frames that decide
// 1 when it goes on, -1 when it may not, 0 while it cannot yet tell.
inline int resume_verdict(resume_tally& tally, bool telling, bool equal)
{
    if (!telling)
        return 0;
    ++tally.telling;
    tally.agreeing += equal ? 1 : 0;
    if (tally.telling < resume_telling)
        return 0;
    return 8 * tally.agreeing >= 7 * tally.telling ? 1 : -1;
}
resumption alignment_resumes(frame_stream& ref, long long i, frame_stream& cap, long long q);
// The smallest shift that the frames after a mismatch agree at, with sound:
// s > 0 when s reference frames are missing from the capture, s < 0 when the
// capture repeats -s frames, 0 for none.
long long realignment(frame_stream& ref, long long i, frame_stream& cap, long long q);
// Whether the n capture frames from q, which the capture has in excess,
// are the n reference frames before i again (a buffer played twice), not
// frames that were never played there (silence or other content).
bool played_before(frame_stream& ref, long long i, frame_stream& cap, long long q, long long n);

// ---- What the diagnosis is drawn from (diagnose.cpp, fit.cpp) ----

__extension__ using wide = __int128;

// The sums of one capture channel against the reference samples it carries,
// from its first mismatch on: exact integers, however long the capture.
struct channel_sums {
    bool started = false;
    bool loud_before = false;    // a loud frame had matched before it began
    long long from_frame = 0;    // capture frame of the first mismatch
    long long n = 0;             // samples summed
    long long zeroed = 0;        // samples zero in the capture where the reference's are not, not summed
    std::int64_t sx = 0;
    std::int64_t sy = 0;
    wide sxx = 0;
    wide sxy = 0;
    wide syy = 0;
    std::int32_t error_min = 0;  // of captured minus expected: both 0 when every sample is equal
    std::int32_t error_max = 0;
    std::array<long long, max_diagnosed_channels> carries{};  // samples equal to reference channel r's
    bool may_carry = true;       // another channel's samples, all of them so far
};

inline constexpr int pending_frames = 256;  // frames gathered before their sums are taken
using pending_samples = std::array<std::int32_t, std::size_t{pending_frames} * max_diagnosed_channels>;

struct diagnosis_sums {
    std::array<channel_sums, max_diagnosed_channels> channel{};
    int channels = 0;               // diagnosed: at most max_diagnosed_channels
    bool active = false;            // some channel has begun
    bool loud_matched = false;      // a loud frame matched
    long long clean = 0;            // frames matched since the last mismatch
    long long loud_clean = 0;       // loud ones among them
    std::int32_t loud = 0;          // a sample this large is loud
    channel_relation relation;
    bool mapped = false;            // channels compared through the relation
    // Frames gathered (their first channels), summed in tight loops once
    // they fill: the reference's, the samples each channel carries, the capture's.
    pending_samples expected{};
    pending_samples carried{};
    pending_samples got{};
    int pending = 0;
    std::array<int, max_diagnosed_channels> pending_from{};  // where each channel's samples begin
};

void start_sums(diagnosis_sums& sums, int channels, int precision, const channel_relation* relation);
// Adds n capture frames from q (got) against reference frames from i
// (expected), one after the other in memory; same says which are equal.
void add_frames(diagnosis_sums& sums, frame_stream& ref, long long i, const std::int32_t* expected, const std::int32_t* got,
                long long q, long long n, const bool* same);
// Adds n matching frames from reference frame i, all held, while no channel has begun.
void add_matching(diagnosis_sums& sums, const frame_stream& ref, long long i, long long n);
// Sums the samples still gathered.
void flush_sums(diagnosis_sums& sums);
// Fits captured = gain * expected + offset; false when the samples cannot tell.
struct linear_fit {
    double gain;
    double offset;
    double rms;  // of what the fit leaves
};
bool fit_line(const channel_sums& sums, linear_fit& fit);
void diagnose(comparison& facts, const diagnosis_sums& sums, std::uint32_t capture_or, std::uint32_t reference_or);

// ---- The comparison (compare.cpp) ----

void compare_streams(comparison& facts, frame_stream& ref, frame_stream& cap, const channel_relation& relation);
