// Comparison of a capture's IEC 61937 bursts with the compressed stream that
// was played: both turned into codec frames and matched in order.
#pragma once

#include "bitstream/reader.h"
#include "bitstream/timeline.h"
#include "compare/reference.h"

#include <array>

// ---- Frames held of each side (frame_ring.cpp) ----

struct held_frame {
    std::size_t offset = 0;   // in the ring's bytes
    std::size_t length = 0;
    std::uint64_t key = 0;    // a quick fingerprint: equal frames have equal keys
    long long capture_frame = 0;  // capture frames: where the burst began
    bool swapped = false;
};

// Frames in order, their bytes kept whole in one buffer that wraps.
struct frame_ring {
    heap_array<std::uint8_t> bytes;
    std::size_t byte_capacity = 0;
    heap_array<held_frame> frames;
    std::size_t frame_capacity = 0;  // a power of two
    long long first = 0;             // frames held: [first, end)
    long long end = 0;
    std::size_t write = 0;           // where the newest frame's bytes end
};

bool ring_init(frame_ring& ring, std::size_t bytes, std::size_t frames);
std::uint64_t frame_key(const std::uint8_t* p, std::size_t n);
// Appends a frame; false when it does not fit without dropping one.
bool ring_push(frame_ring& ring, const std::uint8_t* data, std::size_t length, long long capture_frame, bool swapped);
void ring_drop(frame_ring& ring);
const held_frame& ring_at(const frame_ring& ring, long long n);
const std::uint8_t* ring_data(const frame_ring& ring, long long n);
bool frames_same(const frame_ring& a, long long i, const frame_ring& b, long long j);
// The first byte where the two frames differ (the shorter one's length when
// one is a prefix of the other).
std::size_t first_difference(const frame_ring& a, long long i, const frame_ring& b, long long j);

// ---- What the comparison establishes (passthrough.cpp, passthrough_match.cpp) ----

inline constexpr std::size_t reference_ring_bytes = std::size_t{4} * 1024 * 1024;
inline constexpr std::size_t reference_ring_frames = 16384;
inline constexpr std::size_t capture_ring_bytes = std::size_t{1024} * 1024;
inline constexpr std::size_t capture_ring_frames = 4096;
inline constexpr long long behind_frames = 64;  // matched frames kept to recognise repeats
inline constexpr std::size_t capture_chunk_bytes = std::size_t{256} * 1024;
inline constexpr std::size_t problem_text = 48;

enum problem_kind { problem_missing_before, problem_missing, problem_repeated, problem_corrupted, problem_extra,
                    problem_missing_after, problem_swapped, problem_kinds };

struct problem {
    long long count = 0;
    long long codec_frame = -1;    // in the reference, from 0
    long long capture_frame = -1;
    long long byte = -1;           // corrupted: the first differing byte
};

struct passthrough {
    const char* reference_path = "";
    stream_kind kind = stream_unknown;
    codec_id codec = codec_none;
    const char* codec_name = "";
    bool have_metadata = false;
    codec_metadata metadata;         // of the reference's first frame that has any
    long long codec_frames = 0;      // the reference's
    long long skipped_bytes = 0;     // reference bytes that belong to no frame
    long long crc_errors = 0;        // reference frames that fail their CRC
    long long first_crc_error = -1;
    int channels = 2;                // of the capture, for frame numbers
    long long capture_frames = 0;
    long long data_bursts = 0;       // data bursts in the capture (not NULL or pause)
    bool aligned = false;
    long long offset = 0;            // capture frame where the first matched burst begins
    long long matched = 0;
    long long swapped_frames = 0;    // capture frames that arrived byte-swapped
    long long swapped_matched = 0;
    bool byte_swapped = false;       // all of them did
    std::array<problem, problem_kinds> problems{};
    problem_kind first_kind = problem_kinds;  // the earliest problem in the capture
};

bool passthrough_exact(const passthrough& facts);
long long missing_total(const passthrough& facts);
// Counts a problem and keeps the first of its kind and the earliest of all.
void note_problem(passthrough& facts, problem_kind kind, long long count, long long codec_frame, long long capture_frame,
                  long long byte = -1);

// Both sides of the comparison as it runs. A frame read but not yet held
// (its ring was full) waits as pending: its bytes stay valid until the next read.
struct passthrough_run {
    stream_reader reference;
    codec_stats stats;
    frame_ring ref;
    bool ref_done = false;
    bool ref_pending = false;
    const std::uint8_t* ref_data = nullptr;
    std::size_t ref_length = 0;
    std::FILE* capture = nullptr;
    bool detect_channels = false;
    burst_unwrapper unwrapper;
    heap_array<std::uint8_t> chunk;
    frame_ring cap;
    bool cap_done = false;
    bool cap_pending = false;
    burst_item cap_item;
    long long words = 0;
    long long keep_ref_from = 0;  // reference frames before it may be dropped
    long long keep_cap_from = 0;
};

bool reference_has(passthrough_run& run, passthrough& facts, long long n);
bool capture_has(passthrough_run& run, passthrough& facts, long long n);
// Reference frame j and capture frame m are the first pair that matches;
// false when none does.
bool align_passthrough(passthrough_run& run, passthrough& facts, long long& j, long long& m);
void match_passthrough(passthrough_run& run, passthrough& facts);

// Compares the capture's bursts with a reference recognised as a compressed
// stream. Returns 0 when the capture is bit-exact, 1 otherwise and on every
// error.
int compare_bitstream(std::FILE* in, std::FILE* out, bool wav, int channels, bool channels_given, reference_file& reference,
                      bool json);
int compare_passthrough(std::FILE* in, passthrough_run& run, passthrough& facts, std::FILE* out, bool wav, int channels,
                        bool channels_given, bool json);

// ---- Reports (passthrough_report.cpp) ----

void write_passthrough_text(std::FILE* out, const passthrough& facts);
void write_passthrough_json(std::FILE* out, const passthrough& facts);
