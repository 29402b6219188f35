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

// ---- Reports (reference_report.cpp) ----

using finding_line = std::array<char, reference_finding_text>;
inline constexpr std::size_t max_reference_findings = 8 + 2 * reference_events;
// Writes the findings, one line each, in the order the reports list them,
// and returns how many there are (none exactly when the capture is bit-exact).
std::size_t reference_findings(const comparison& facts, std::array<finding_line, max_reference_findings>& lines);
void write_reference_text(std::FILE* out, const comparison& facts);
void write_reference_json(std::FILE* out, const comparison& facts);
