// Comparison of a capture with the WAV file that was played: the reference
// reader, the facts that one pass establishes and their two report writers.
#pragma once

#include "iec958.h"

#include <array>

// ---- The reference WAV file (wav.cpp) ----

struct wav_format {
    int channels = 0;
    int bits = 0;               // 16, 24 or 32 per sample
    long long frames = 0;       // whole frames in the data chunk
    long long data_bytes = 0;   // what the data chunk holds, checked against the file
};

// Reads the RIFF chunks up to the start of the data chunk, checking every
// size against what the file holds. On success returns null and leaves the
// stream at the first sample; otherwise returns what is wrong, for the
// message "Reference file error: <what>."
const char* read_wav_header(std::FILE* in, wav_format& format);

// ---- What the comparison establishes (reference.cpp) ----

inline constexpr std::size_t reference_events = 20;  // dropped or repeated runs kept
inline constexpr std::size_t reference_finding_text = 160;

struct frame_event {
    long long frame;  // capture frame where the run of mismatches began
    long long count;
};

struct comparison {
    const char* reference_path = "";
    wav_format reference;
    int precision = 0;              // bits compared: 16 or 24
    bool aligned = false;
    long long offset = 0;           // capture frame that lines up with reference frame 0
    long long compared = 0;
    long long mismatched = 0;
    bool have_mismatch = false;
    long long mismatch_frame = 0;   // the first one
    int mismatch_channel = 0;
    long long expected = 0;
    long long got = 0;
    long long largest_difference = 0;
    double gain_db = 0;
    bool constant_gain = false;
    std::array<frame_event, reference_events> dropped{};
    std::array<frame_event, reference_events> repeated{};
    long long dropped_runs = 0;
    long long repeated_runs = 0;
    long long dropped_frames = 0;
    long long repeated_frames = 0;
    long long missing_before = 0;   // reference frames before the capture began
    long long missing_after = 0;    // reference frames after the capture ended
    long long uncompared_lead = 0;  // silent lead frames too far back to compare
    bool low_bits_set = false;      // capture bits below the compared precision
    bool capture_has_audio = false;
    bool capture_non_audio = false; // its channel status says so
};

bool bit_exact(const comparison& facts);
long long missing_frames(const comparison& facts);
// Opens the reference and compares; returns 0 when the capture is bit-exact,
// 1 otherwise and on every error. The caller reports a failed write.
int iec_reference(std::FILE* in, std::FILE* out, bool wav, int channels, bool channels_given, const char* reference_path,
                  bool json);
int compare_with_reference(std::FILE* in, std::FILE* reference, const char* reference_path, std::FILE* out, bool wav,
                           int channels, bool channels_given, bool json);

// ---- Frames of both files (frames.cpp) ----

inline constexpr long long ring_frames = 65536;    // frames held of each file (a power of two)
inline constexpr long long align_frames = 64;      // frames that must agree to align
inline constexpr long long match_frames = 32;      // frames that must agree to realign
inline constexpr long long search_frames = 4096;   // how far a realignment is looked for, either way
inline constexpr long long shape_frames = 256;     // frames whose shape must agree where samples do not
inline constexpr long long shape_slack = 16;       // frames either way that a gain stage may move the first sound
inline constexpr double shape_correlation = 0.999;
inline constexpr std::size_t io_bytes = read_chunk_bytes;

// One file as a sequence of frames of signed samples at the compared precision.
struct frame_stream {
    std::FILE* file = nullptr;
    bool capture = false;  // subframe words; otherwise reference samples
    int channels = 0;
    std::size_t sample_bytes = 0;
    int precision = 0;
    long long byte_limit = -1;  // the reference's data chunk
    heap_array<std::int32_t> ring;
    long long begin = 0;  // frames held: [begin, end)
    long long end = 0;
    heap_array<std::uint8_t> io;
    std::size_t io_size = 0;
    std::size_t io_pos = 0;
    std::size_t io_len = 0;
    bool low_bits = false;   // capture bits below the precision were set
    bool has_audio = false;  // capture audio bits were set
};

bool open_stream(frame_stream& s, std::FILE* file, bool capture, int channels, std::size_t sample_bytes, int precision);
// Reads on until frame idx is decoded; the ring keeps at least three
// quarters of its frames before the newest. fill_to is its fast path, inline
// because the comparison calls it for every frame.
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

inline bool frames_equal(const std::int32_t* a, const std::int32_t* b, int channels)
{
    for (int ch = 0; ch < channels; ++ch)
        if (a[ch] != b[ch])
            return false;
    return true;
}
bool all_zero(const std::int32_t* frame, int channels);
bool match_at(frame_stream& ref, long long i, frame_stream& cap, long long j, long long n);
long long realignment(frame_stream& ref, long long i, frame_stream& cap, long long j);

// ---- Alignment (align.cpp) ----

// Sets facts.offset and returns true when the capture holds the reference;
// first is the reference's first non-zero frame, zero_run the number of
// silent capture frames just before it.
bool align(comparison& facts, frame_stream& ref, frame_stream& cap, long long& first, long long& zero_run);

// ---- Reports (reference_report.cpp) ----

using finding_line = std::array<char, reference_finding_text>;
inline constexpr std::size_t max_reference_findings = 8 + 2 * reference_events;
// Writes the findings, one line each, in the order the reports list them,
// and returns how many there are (none exactly when the capture is bit-exact).
std::size_t reference_findings(const comparison& facts, std::array<finding_line, max_reference_findings>& lines);
void write_reference_text(std::FILE* out, const comparison& facts);
void write_reference_json(std::FILE* out, const comparison& facts);
