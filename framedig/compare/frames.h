// Both files as streams of frames (frames.cpp), and how two frames compare.
#pragma once

#include "compare/reference.h"

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
    unsigned block_code = 0;      // a capture's preamble codes; first_code 0 when they do not mark frames
    unsigned first_code = 0;
    std::size_t unchecked = 0;    // frames up to the block start where shifted frames line up again
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

