// What the bursts of a capture tell over time, gathered by pure helpers that
// are fed in stream order: codec frames per type with their metadata and
// CRCs (codec_stats), the sequence of content with its gaps (timeline), and
// the link rate that a stream needs against the one its status indicates.
#pragma once

#include "bitstream/bursts.h"

#include <array>

// ---- Codec frames of one stream (stats.cpp) ----

struct codec_stats {
    codec_id codec = codec_none;
    const char* name = "";          // of the first frame, "DTS-HD" for one with an extension
    long long frames = 0;
    long long crc_errors = 0;
    long long first_crc_error = -1;  // frame, from 0
    bool have_metadata = false;
    codec_metadata metadata;        // the first frame's that has any (with E-AC-3's substream count)
    codec_metadata last;
    long long metadata_changes = 0;  // frames whose metadata differs from the one before
    int programs = 0;               // E-AC-3: independent substream 0 frames seen, up to 2
    int program_frames = 0;         // E-AC-3: syncframes of the first program period
};

// Adds one frame. Metadata is compared between frames that carry it:
// TrueHD's major syncs, E-AC-3's independent substream 0.
void codec_stats_add(codec_stats& stats, const frame_info& info);
// Settles what only the end tells (E-AC-3's substream count).
void codec_stats_finish(codec_stats& stats);

// ---- Content over time (timeline.cpp) ----

inline constexpr std::size_t timeline_entries = 20;
inline constexpr std::size_t timeline_gaps = 20;

enum content_kind { content_none, content_bursts, content_pcm, content_pause, content_silence };

struct timeline_entry {
    long long frame;
    content_kind kind;
    int type;  // the data type, for content_bursts
};

struct burst_gap {
    long long frame;   // where the next burst was due
    long long length;  // frames until it came (or until the capture ended)
    int type;          // of the burst before the gap
};

struct timeline {
    // Subframes per frame of the capture: a burst's period counts frames of
    // two, so a high bit rate stream in eight channels repeats in a quarter.
    int channels = 2;
    std::array<timeline_entry, timeline_entries> entries{};
    long long entry_count = 0;  // switches of content, all of them
    std::array<burst_gap, timeline_gaps> gaps{};
    long long gap_count = 0;
    long long pauses = 0;
    content_kind current = content_none;
    int current_type = -1;
    long long last_data_frame = -1;  // where the last data burst began
    long long last_period = 0;       // and its type's repetition period
    int last_type = 0;
    bool paused_since = false;       // a pause burst came after it
    bool pcm_since = false;          // linear PCM came after it
    long long pcm_from = 0;          // from this frame on
};

// A burst began at this capture frame (pause bursts included; NULL bursts
// say nothing and are not fed).
void timeline_burst(timeline& t, long long frame, int type, unsigned pc);
// Linear PCM (audio bits outside any burst) at this frame; feed it when the
// content switches, not for every frame. PCM that began at the frame of the
// next burst's Pa is that burst's preamble, and its entry gives way to the burst.
void timeline_pcm(timeline& t, long long frame);
// The capture ended after this many frames: a last burst without a successor
// leaves a gap only when the capture went on past its period.
void timeline_end(timeline& t, long long frames);
// The content's name for the reports: the type name, "PCM", "pause" or "silence".
const char* content_name(const timeline_entry& entry, char* text, std::size_t size);
double frames_to_ms(long long frames, int rate_hz);

// ---- The rate a stream needs (timeline.cpp) ----

// The IEC 60958 frame rate that frames of this burst type need: E-AC-3 four
// times its sample rate, TrueHD and lossless DTS-HD 192 kHz, AC-3, DTS and
// MPEG audio their sample rate; 0 when it cannot be told.
int link_rate_needed_hz(int type, const frame_info& info);
// When the status rate disagrees with the need: writes "channel status says
// R1, but TYPE at R2 needs R3" and returns true.
bool rate_mismatch(int status_rate_hz, int type, const frame_info& info, char* text, std::size_t size);
