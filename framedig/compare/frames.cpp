// Frames of both files: each streams through a ring of frames of signed
// samples at the compared precision, decoded in bulk from chunked reads.
#include "compare/reference.h"

#include <cstring>

namespace {

// Decodes n frames from p into the ring at frame index at: one loop per
// kind of sample, so that each stays simple enough for the compiler.
void decode_frames(frame_stream& s, const std::uint8_t* p, long long at, std::size_t n)
{
    const auto samples = n * static_cast<std::size_t>(s.channels);
    std::int32_t* out = s.ring.get() + (at & (ring_frames - 1)) * s.channels;
    if (s.capture) {
        std::uint32_t seen = 0;
        const int drop = 32 - s.precision;
        for (std::size_t k = 0; k < samples; ++k) {
            const std::uint32_t w = load_word(p + k * word_bytes) & audio_mask;
            seen |= w;
            out[k] = static_cast<std::int32_t>(w << (31 - sample_msb_pos)) >> drop;
        }
        const int unused = sample_msb_pos + 1 - s.precision;  // bits below the compared sample
        s.has_audio = s.has_audio || seen != 0;
        s.low_bits = s.low_bits || (seen & ((1U << unused) - 1)) != 0;
    } else if (s.sample_bytes == 2) {
        for (std::size_t k = 0; k < samples; ++k)
            out[k] = static_cast<std::int16_t>(p[2 * k] | (p[2 * k + 1] << 8));
    } else if (s.sample_bytes == 3) {
        // Four bytes loaded, the fourth dropped: the read buffer has a spare word at its end.
        for (std::size_t k = 0; k < samples; ++k)
            out[k] = static_cast<std::int32_t>(load_word(p + 3 * k) << 8) >> 8;
    } else {
        for (std::size_t k = 0; k < samples; ++k)
            out[k] = static_cast<std::int32_t>(load_word(p + 4 * k)) >> 8;  // the top 24 of 32 bits
    }
}

// Decodes the frames that the read buffer holds (reading more when it holds
// none) into the ring, dropping the oldest; at most a quarter of the ring at
// a time, and never across its end, so the recent past stays held.
bool load_frames(frame_stream& s)
{
    const std::size_t frame_bytes = s.sample_bytes * static_cast<std::size_t>(s.channels);
    if (frame_bytes == 0)
        return false;
    if (s.io_len - s.io_pos < frame_bytes) {
        std::memmove(s.io.get(), s.io.get() + s.io_pos, s.io_len - s.io_pos);
        s.io_len -= s.io_pos;
        s.io_pos = 0;
        std::size_t want = s.io_size - s.io_len;
        if (s.byte_limit >= 0)
            want = static_cast<std::size_t>(std::min<long long>(static_cast<long long>(want), s.byte_limit));
        const std::size_t got = read_units(s.file, s.io.get() + s.io_len, 1, want);
        s.io_len += got;
        if (s.byte_limit >= 0)
            s.byte_limit -= static_cast<long long>(got);
        if (s.io_len < frame_bytes)
            return false;
    }
    std::size_t n = (s.io_len - s.io_pos) / frame_bytes;
    n = std::min<std::size_t>(n, ring_frames / 4);
    n = std::min<std::size_t>(n, static_cast<std::size_t>(ring_frames - (s.end & (ring_frames - 1))));
    decode_frames(s, s.io.get() + s.io_pos, s.end, n);
    s.io_pos += n * frame_bytes;
    s.end += static_cast<long long>(n);
    s.begin = std::max(s.begin, s.end - ring_frames);
    return true;
}

} // namespace

// True when frame idx is held, reading on as far as needed.
bool load_until(frame_stream& s, long long idx)
{
    while (s.end <= idx)
        if (!load_frames(s))
            return false;
    return idx >= s.begin;
}

bool all_zero(const std::int32_t* frame, int channels)
{
    for (int ch = 0; ch < channels; ++ch)
        if (frame[ch] != 0)
            return false;
    return true;
}

// Whether n frames from reference frame i agree with n frames from capture
// frame j; fewer where the reference ends first, but at least one.
bool match_at(frame_stream& ref, long long i, frame_stream& cap, long long j, long long n)
{
    for (long long k = 0; k < n; ++k) {
        if (!fill_to(ref, i + k))
            return k > 0;
        if (!fill_to(cap, j + k) || !frames_equal(frame_at(ref, i + k), frame_at(cap, j + k), ref.channels))
            return false;
    }
    return true;
}

// The nearest realignment: s > 0 when s reference frames are missing from
// the capture here, s < 0 when the capture repeats -s frames, 0 for none.
long long realignment(frame_stream& ref, long long i, frame_stream& cap, long long j)
{
    for (long long s = 1; s <= search_frames; ++s) {
        if (match_at(ref, i + s, cap, j, match_frames))
            return s;
        if (match_at(ref, i, cap, j + s, match_frames))
            return -s;
    }
    return 0;
}


bool open_stream(frame_stream& s, std::FILE* file, bool capture, int channels, std::size_t sample_bytes, int precision)
{
    s.file = file;
    s.capture = capture;
    s.channels = channels;
    s.sample_bytes = sample_bytes;
    s.precision = precision;
    s.io_size = std::max(io_bytes, sample_bytes * static_cast<std::size_t>(channels));
    s.io = zeroed_array<std::uint8_t>(s.io_size + word_bytes);  // a spare word for the 24-bit loads
    s.ring = zeroed_array<std::int32_t>(static_cast<std::size_t>(ring_frames) * static_cast<std::size_t>(channels));
    return s.io && s.ring;
}

