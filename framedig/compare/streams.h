// The comparison's working parts: both files as streams of frames, the
// alignment, the realignment after a mismatch and the sums the diagnosis
// is drawn from.
#pragma once

#include "compare/reference.h"

// ---- Frames of both files (frames.cpp) ----

inline constexpr long long ring_frames = 65536;  // frames held of each file (a power of two)
inline constexpr std::size_t io_bytes = std::size_t{256} * 1024;

// One file as a sequence of frames of signed samples at the compared
// precision. Frames before the onset are silent, so they need not be held.
struct frame_stream {
    std::FILE* file = nullptr;
    bool capture = false;  // subframe words; otherwise reference samples
    int channels = 0;
    std::size_t sample_bytes = 0;
    int precision = 0;
    long long data_bytes = -1;  // the reference's data chunk; -1 to the end of the file
    long long byte_limit = -1;  // what is left of it to read
    long long origin = -1;      // file offset of frame 0; -1 when the file cannot be positioned
    heap_array<std::int32_t> ring;
    heap_array<std::int32_t> zero;  // a silent frame
    long long first = 0;  // the first frame (frames before the first read are all zero words)
    long long begin = 0;  // frames held: [begin, end)
    long long end = 0;
    bool ended = false;   // no more whole frames to read
    long long onset = -1; // the first frame with sound; frames before it are silent
    bool has_sound = false;
    long long quiet_from = 0;  // frames known to be silent although no longer held: [quiet_from, quiet_to)
    long long quiet_to = 0;
    heap_array<std::uint8_t> io;
    std::size_t io_size = 0;
    std::size_t io_pos = 0;
    std::size_t io_len = 0;
    std::uint32_t sample_or = 0;  // of every sample decoded: its lowest bit in use
    bool low_bits = false;        // capture bits below the precision were set
};

// Where a capture's frames begin and how many channels they hold, as its
// preamble codes show; found in its first chunk.
struct capture_layout {
    int channels = 0;           // 0 when the codes do not tell
    long long skipped = 0;      // words, all zero, before the first one held in the read buffer
    long long block_word = -1;  // a block's first word in the read buffer; -1 when not found
    bool non_audio = false;     // channel status bit 1 of the first block
};

// Reads the capture's first chunk into s.io (skipping words that are all
// zero, as a receiver writes before it locks) and finds the layout.
capture_layout probe_capture(frame_stream& s, int channels_given);
bool open_stream(frame_stream& s, std::FILE* file, bool capture, int channels, std::size_t sample_bytes, int precision);
// Starts the capture stream at its first whole frame and reads the non-audio bit.
void start_capture(frame_stream& s, capture_layout& layout);
// Reads on until frame idx is decoded; the ring keeps at least three
// quarters of its frames before the newest.
bool load_until(frame_stream& s, long long idx);
// True when frame idx is held, reading on as far as needed.
inline bool fill_to(frame_stream& s, long long idx)
{
    return idx < s.end ? idx >= s.begin : load_until(s, idx);
}
// Frame indexes are never negative, and the ring's size is a power of two.
inline const std::int32_t* frame_at(const frame_stream& s, long long idx)
{
    return s.ring.get() + (idx & (ring_frames - 1)) * s.channels;
}
// The frame when it is held or known to be silent; null when it is neither
// (past the end, or no longer held).
inline const std::int32_t* known_frame(frame_stream& s, long long idx)
{
    if (fill_to(s, idx))
        return frame_at(s, idx);
    return idx >= 0 && idx < s.begin && (idx < s.onset || (idx >= s.quiet_from && idx < s.quiet_to)) ? s.zero.get() : nullptr;
}
// Reads from frame idx again; false when the file cannot be positioned.
bool rewind_stream(frame_stream& s, long long idx);
// Finds the first frame with sound from the stream's position on, keeping
// only the ring: sets s.onset (the end when there is none) and s.has_sound.
void find_onset(frame_stream& s);

inline bool frames_equal(const std::int32_t* a, const std::int32_t* b, int channels)
{
    for (int ch = 0; ch < channels; ++ch)
        if (a[ch] != b[ch])
            return false;
    return true;
}
bool has_sound(const std::int32_t* frame, int channels);
// A frame that tells offsets apart: it holds sound and differs from the one before.
bool informative(const std::int32_t* frame, const std::int32_t* before, int channels);

// A reference frame x and a capture frame y compared, each with the frame
// before it: whether they are equal, and whether either tells offsets apart.
struct frame_match {
    bool equal;
    bool telling;
};
inline frame_match match_frames(const std::int32_t* x, const std::int32_t* x_before, const std::int32_t* y,
                                const std::int32_t* y_before, int channels)
{
    std::uint32_t sound_x = 0;
    std::uint32_t sound_y = 0;
    std::uint32_t change_x = 0;
    std::uint32_t change_y = 0;
    std::uint32_t differ = 0;
    for (int ch = 0; ch < channels; ++ch) {
        const auto a = static_cast<std::uint32_t>(x[ch]);
        const auto b = static_cast<std::uint32_t>(y[ch]);
        sound_x |= a;
        sound_y |= b;
        change_x |= a ^ static_cast<std::uint32_t>(x_before[ch]);
        change_y |= b ^ static_cast<std::uint32_t>(y_before[ch]);
        differ |= a ^ b;
    }
    return {differ == 0, (sound_x != 0 && change_x != 0) || (sound_y != 0 && change_y != 0)};
}
// The frame before idx, for match_frames: silent before the file's start.
inline const std::int32_t* frame_before(frame_stream& s, long long idx)
{
    const std::int32_t* frame = known_frame(s, idx - 1);
    return frame != nullptr ? frame : s.zero.get();
}

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

// ---- What the diagnosis is drawn from (diagnose.cpp, fit.cpp) ----

__extension__ using wide = __int128;

// The sums of one capture channel against the reference samples it carries,
// from its first mismatch on: exact integers, however long the capture.
struct channel_sums {
    bool started = false;
    bool loud_before = false;    // a loud frame had matched before it began
    long long from_frame = 0;    // capture frame of the first mismatch
    long long n = 0;
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
