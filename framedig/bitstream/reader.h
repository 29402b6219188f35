// Reading a compressed stream from a file, frame by frame with bounded
// memory: an elementary stream (AC-3, E-AC-3, DTS, DTS-HD, TrueHD, MPEG
// audio) or IEC 61937 bursts in 16-bit little-endian words, raw or inside
// a WAV file. The kind is recognised by content, not by name.
#pragma once

#include "bitstream/bursts.h"

enum stream_kind { stream_unknown, stream_pcm_wav, stream_elementary, stream_iec61937 };

inline constexpr std::size_t reader_buffer_bytes = std::size_t{1024} * 1024;
inline constexpr std::size_t reader_lookahead_bytes = reader_buffer_bytes / 2;  // the longest frame read
inline constexpr std::size_t recognise_bytes = std::size_t{256} * 1024;
inline constexpr std::size_t iec_chunk_samples = 16384;

struct stream_reader {
    std::FILE* file = nullptr;
    stream_kind kind = stream_unknown;
    codec_id codec = codec_none;
    heap_array<std::uint8_t> buf;
    std::size_t capacity = 0;
    std::size_t start = 0;    // unread bytes are [start, end)
    std::size_t end = 0;
    bool eof = false;
    frame_info info;          // the last frame
    long long skipped_bytes = 0;  // bytes that belong to no frame
    long long frames = 0;
    // IEC 61937: the file's 16-bit words as subframe words for the unwrapper.
    burst_unwrapper unwrapper;
    heap_array<std::uint8_t> words;
};

// A RIFF, RF64 or BW64 file: the first four bytes say so.
inline bool looks_like_riff(const std::uint8_t* p, std::size_t n)
{
    return n >= 4 && (std::memcmp(p, "RIFF", 4) == 0 || std::memcmp(p, "RF64", 4) == 0 || std::memcmp(p, "BW64", 4) == 0);
}

// What the first bytes of a file (up to recognise_bytes of them) hold: a
// WAV file whose data is not IEC 61937 is PCM; offset is where the first
// frame or burst begins.
stream_kind recognise_stream(const std::uint8_t* p, std::size_t n, bool complete, codec_id& codec, std::size_t& offset);

// Takes the bytes already read from the file (the recognised start; the
// whole file when complete) and prepares to read frames; false when memory
// runs out.
bool open_reader(stream_reader& r, std::FILE* file, const std::uint8_t* head, std::size_t n, stream_kind kind,
                 codec_id codec, std::size_t offset, bool complete);
// The next frame of the stream's codec: its bytes (valid until the next
// call) and what its header says. False at the end and on a read error.
bool reader_next(stream_reader& r, const std::uint8_t*& data, std::size_t& length, frame_info& info);
