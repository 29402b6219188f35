// Comparison of a capture with the file that was played: the reference file,
// the facts that one pass establishes and their two report writers.
#pragma once

#include "bitstream/reader.h"
#include "iec958.h"

#include <array>

// ---- The reference file (wav.cpp, reference.cpp) ----

struct wav_format {
    int channels = 0;
    int bits = 0;               // 16, 24 or 32 per sample
    long long frames = -1;      // whole frames in the data chunk; -1 while unknown (read to the end)
    long long data_bytes = -1;  // what the data chunk holds; -1 for "to the end of the file"
};

// Reads the RIFF, RF64 or BW64 chunks up to the start of the data chunk,
// checking every size against what the file holds. On success returns null
// and leaves the stream at the first sample; otherwise returns what is wrong,
// for the message "Reference file error: <what>."
const char* read_wav_header(std::FILE* in, wav_format& format);

inline constexpr auto close_file = [](std::FILE* f) { std::fclose(f); };
using file_handle = std::unique_ptr<std::FILE, std::remove_const_t<decltype(close_file)>>;

// What the reference holds decides which comparison runs: PCM samples from
// a WAV file, or a compressed stream (elementary, or IEC 61937 bursts).
enum class reference_kind { pcm, bitstream };

// The bytes that recognition read from a reference that cannot be rewound
// (a pipe), handed out again before the rest of it.
struct replay_state {
    const std::uint8_t* head = nullptr;
    std::size_t size = 0;
    std::size_t pos = 0;
    std::FILE* rest = nullptr;
};

struct reference_file {
    file_handle file;
    const char* path = "";
    reference_kind kind = reference_kind::pcm;
    wav_format format;
    // What recognition read from the start of the file, and what it found.
    heap_array<std::uint8_t> head;
    std::size_t head_size = 0;
    bool whole = false;  // the head is the whole file
    stream_kind stream = stream_unknown;
    codec_id codec = codec_none;
    std::size_t codec_offset = 0;
    // What the PCM comparison reads: the file, or for a pipe a replay of
    // the head and then the rest.
    replay_state replay;
    file_handle replay_file;
    std::FILE* samples = nullptr;
};

// Opens the reference for reading; prints the message and returns false when it cannot.
bool open_reference_file(reference_file& reference, const char* path);
// Reads and checks what the reference holds before any output is created;
// prints the one line that says what is wrong and returns false.
bool check_reference(reference_file& reference);
// Compares the capture with the checked reference; returns 0 when the capture
// is bit-exact, 1 otherwise and on every error. The caller reports a failed write.
int iec_reference(std::FILE* in, std::FILE* out, bool wav, int channels, bool channels_given, reference_file& reference,
                  bool json);

// ---- What the comparison establishes (compare.cpp, diagnose.cpp) ----

inline constexpr std::size_t reference_events = 20;  // dropped, repeated or inserted runs kept
inline constexpr std::size_t reference_finding_text = 200;
inline constexpr int max_diagnosed_channels = 16;  // channels whose relation to the reference is examined
inline constexpr std::size_t max_diagnoses = 3 * max_diagnosed_channels + 3;

struct frame_event {
    long long frame;  // capture frame where the run of mismatches began
    long long count;
};

// One line of the diagnosis: what explains that the capture is not bit-exact.
enum class diagnosis_kind { channel_map, polarity, gain, word_length, dc_offset, skew, unrelated };
enum class word_cut { truncated, rounded, dithered };

struct diagnosis {
    diagnosis_kind kind = diagnosis_kind::unrelated;
    int channel = 0;           // 1-based capture channel; 0: every channel (a gain)
    double gain_db = 0;
    long long value = 0;       // dc_offset: the constant; skew: frames; word_length: bits
    long long from_frame = -1; // gain: capture frame where it began; -1 from the start
    word_cut how = word_cut::truncated;
};

struct comparison {
    const char* reference_path = "";
    wav_format reference;
    int precision = 0;              // bits compared: 16 or 24
    bool aligned = false;
    bool by_relation = false;       // aligned through the channels' relation, not equal samples
    long long offset = 0;           // capture frame that lines up with reference frame 0
    long long period = 0;           // the reference repeats every period frames around the offset (0: no)
    long long compared = 0;
    long long mismatched = 0;
    bool have_mismatch = false;
    long long mismatch_frame = 0;   // the first one
    int mismatch_channel = 0;
    long long expected = 0;
    long long got = 0;
    long long largest_difference = 0;
    std::array<frame_event, reference_events> dropped{};
    std::array<frame_event, reference_events> repeated{};  // the frames played just before, again
    std::array<frame_event, reference_events> inserted{};  // frames that were never played there
    long long dropped_runs = 0;
    long long repeated_runs = 0;
    long long inserted_runs = 0;
    long long dropped_frames = 0;
    long long repeated_frames = 0;
    long long inserted_frames = 0;
    long long missing_before = 0;   // reference frames before the capture began
    long long missing_after = 0;    // reference frames after the capture ended
    bool sound_before = false;      // some of them hold sound
    bool sound_after = false;
    long long uncompared_lead = 0;  // lead frames no longer held to compare
    bool low_bits_set = false;      // capture bits below the compared precision
    bool capture_has_audio = false;
    bool capture_non_audio = false; // its channel status says so
    std::array<diagnosis, max_diagnoses> diagnoses{};
    std::size_t diagnosed = 0;
    std::array<int, max_diagnosed_channels> channel_map{};  // with a channel_map: reference channel per capture channel, 0 for none
};

bool bit_exact(const comparison& facts);
long long missing_frames(const comparison& facts);
double constant_gain_db(const comparison& facts, bool& found);

// ---- Reports (reference_report.cpp, reference_json.cpp) ----

using finding_line = std::array<char, reference_finding_text>;
inline constexpr std::size_t max_reference_findings = 8 + 3 * (reference_events + 1);
inline constexpr std::size_t max_reference_notes = 4;
// Writes the findings, one line each, in the order the reports list them,
// and returns how many there are (none exactly when the capture is bit-exact).
std::size_t reference_findings(const comparison& facts, std::array<finding_line, max_reference_findings>& lines);
// The notes: what the reader should know although it is no fault.
std::size_t reference_notes(const comparison& facts, std::array<finding_line, max_reference_notes>& lines);
// One plain line for a diagnosis.
void diagnosis_text(const comparison& facts, const diagnosis& entry, finding_line& line);
const char* diagnosis_name(diagnosis_kind kind);
const char* word_cut_name(word_cut how);
void write_reference_text(std::FILE* out, const comparison& facts);
void write_reference_json(std::FILE* out, const comparison& facts);
