// Frames of both files: each streams through a ring of frames of signed
// samples at the compared precision, decoded in bulk from chunked reads.
// The capture's preamble codes say where its frames begin.
#include "compare/frames.h"

#include <sys/stat.h>

#include <cstring>

namespace {

// Decodes n frames from p into the ring at frame index at: one loop per
// kind of sample, so that each stays simple enough for the compiler.
void decode_frames(frame_stream& s, const std::uint8_t* p, long long at, std::size_t n)
{
    const auto samples = n * static_cast<std::size_t>(s.channels);
    std::int32_t* out = s.ring.get() + (at & (ring_frames - 1)) * s.channels;
    std::uint32_t seen = 0;
    if (s.capture) {
        const int drop = 32 - s.precision;
        for (std::size_t k = 0; k < samples; ++k) {
            const std::uint32_t w = load_word(p + k * word_bytes) & audio_mask;
            seen |= w;
            out[k] = static_cast<std::int32_t>(w << (31 - sample_msb_pos)) >> drop;
        }
        const int unused = sample_msb_pos + 1 - s.precision;  // bits below the compared sample
        s.low_bits = s.low_bits || (seen & ((1U << unused) - 1)) != 0;
        seen >>= unused;
    } else if (s.sample_bytes == 2) {
        for (std::size_t k = 0; k < samples; ++k) {
            out[k] = static_cast<std::int16_t>(p[2 * k] | (p[2 * k + 1] << 8));
            seen |= static_cast<std::uint32_t>(out[k]);
        }
    } else if (s.sample_bytes == 3) {
        // Four bytes loaded, the fourth dropped: the read buffer has a spare word at its end.
        for (std::size_t k = 0; k < samples; ++k) {
            out[k] = static_cast<std::int32_t>(load_word(p + 3 * k) << 8) >> 8;
            seen |= static_cast<std::uint32_t>(out[k]);
        }
    } else {
        for (std::size_t k = 0; k < samples; ++k) {
            out[k] = static_cast<std::int32_t>(load_word(p + 4 * k)) >> 8;  // the top 24 of 32 bits
            seen |= static_cast<std::uint32_t>(out[k]);
        }
    }
    s.sample_or |= seen;
}

// Refills the read buffer behind what is left in it; false at the end.
bool read_more(frame_stream& s)
{
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
    return got > 0;
}

unsigned code_in(const frame_stream& s, std::size_t word)
{
    return load_word(s.io.get() + word * word_bytes) & preamble_mask;
}

// How many of the n frames in the read buffer are in place. A word lost or
// slipped in shifts the frames after it off their first-subframe codes (two
// frames in a row: one wrong code is not a shift); the words are then
// followed to the next block-start code, where the frames line up again.
std::size_t frames_in_place(frame_stream& s, std::size_t n)
{
    if (s.unchecked > 0 || s.first_code == 0)
        return s.first_code == 0 ? n : std::min(n, s.unchecked);
    const auto c = static_cast<std::size_t>(s.channels);
    const std::size_t base = s.io_pos / word_bytes;
    const auto off = [&s, c, base](std::size_t k) {
        const unsigned code = code_in(s, base + k * c);
        return code != s.first_code && code != s.block_code;
    };
    // Frames in place are the rule, and a shift lasts: every 32nd frame is
    // checked, then each one from the last checked in place.
    constexpr std::size_t stride = 32;
    std::size_t k = 0;
    while (k + stride < n && !off(k + stride))
        k += stride;
    while (k + 1 < n && !(off(k) && off(k + 1)))
        ++k;
    if (k + 1 >= n || k > 0)
        return k + 1 >= n ? n : k;
    for (std::size_t w = base; w < s.io_len / word_bytes; ++w) {
        if (code_in(s, w) == s.block_code) {
            s.io_pos += (w - base) % c * word_bytes;
            s.unchecked = (w - base) / c;
            return 0;
        }
    }
    return n;  // no block start to line up with in the buffer: the frames as they are
}

// Decodes the frames that the read buffer holds (reading more when it holds
// none) into the ring, dropping the oldest; at most a quarter of the ring at
// a time, and never across its end, so the recent past stays held.
bool load_frames(frame_stream& s)
{
    const std::size_t frame_bytes = s.sample_bytes * static_cast<std::size_t>(s.channels);
    if (frame_bytes == 0 || s.ended)
        return false;
    if (s.io_len - s.io_pos < frame_bytes && (!read_more(s) || s.io_len < frame_bytes)) {
        s.ended = s.io_len < frame_bytes;
        if (s.ended)
            return false;
    }
    std::size_t n = (s.io_len - s.io_pos) / frame_bytes;
    n = std::min<std::size_t>(n, ring_frames / 4);
    n = std::min<std::size_t>(n, static_cast<std::size_t>(ring_frames - (s.end & (ring_frames - 1))));
    if (s.capture) {
        n = frames_in_place(s, n);
        s.unchecked -= std::min(s.unchecked, n);
    }
    decode_frames(s, s.io.get() + s.io_pos, s.end, n);
    s.io_pos += n * frame_bytes;
    s.end += static_cast<long long>(n);
    s.begin = std::max(s.begin, s.end - ring_frames);
    return true;
}

// The current offset in a regular file; -1 for a stream that cannot be positioned.
long long seekable_offset(std::FILE* file)
{
    struct stat st {};
    const int fd = fileno(file);
    if (fd < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        return -1;
    return std::ftell(file);
}

std::uint32_t word_in(const frame_stream& s, long long word)
{
    return load_word(s.io.get() + static_cast<std::size_t>(word) * word_bytes);
}

} // namespace

bool load_until(frame_stream& s, long long idx)
{
    while (s.end <= idx)
        if (!load_frames(s))
            return false;
    return idx >= s.begin;
}

bool open_stream(frame_stream& s, std::FILE* file, bool capture, int channels, std::size_t sample_bytes, int precision)
{
    s.file = file;
    s.capture = capture;
    s.channels = channels;
    s.sample_bytes = sample_bytes;
    s.precision = precision;
    s.byte_limit = s.data_bytes;
    if (!s.io) {
        s.io_size = std::max(io_bytes, sample_bytes * static_cast<std::size_t>(channels));
        s.io = zeroed_array<std::uint8_t>(s.io_size + word_bytes);  // a spare word for the 24-bit loads
        s.origin = seekable_offset(file);
    }
    s.ring = zeroed_array<std::int32_t>(static_cast<std::size_t>(ring_frames) * static_cast<std::size_t>(channels));
    s.zero = zeroed_array<std::int32_t>(static_cast<std::size_t>(channels));
    return s.io && s.ring && s.zero;
}

capture_layout probe_capture(frame_stream& s, int channels_given)
{
    capture_layout layout;
    s.io_size = io_bytes;
    s.io = zeroed_array<std::uint8_t>(s.io_size + word_bytes);
    s.origin = seekable_offset(s.file);
    if (!s.io)
        return layout;
    // Words that are all zero carry no preamble code: read past them.
    for (;;) {
        const bool more = read_more(s);
        const std::size_t words = s.io_len / word_bytes;
        std::size_t w = 0;
        while (w < words && word_in(s, static_cast<long long>(w)) == 0)
            ++w;
        s.io_pos = w * word_bytes;
        layout.skipped += static_cast<long long>(w);
        if (w < words || !more)
            break;
    }
    read_more(s);  // a full buffer for the detection, when the file has it
    const preamble_codes codes = detect_preambles(s.io.get(), s.io_len / word_bytes, channels_given);
    if (codes.usable) {
        layout.channels = codes.channels;
        layout.block_word = static_cast<long long>(codes.start);
        s.block_code = codes.block;
        s.first_code = codes.first;
    }
    return layout;
}

void start_capture(frame_stream& s, capture_layout& layout)
{
    const auto channels = static_cast<long long>(s.channels);
    const long long phase = layout.block_word >= 0 ? (layout.skipped + layout.block_word) % channels : 0;
    const long long first = layout.skipped <= phase ? 0 : (layout.skipped - phase + channels - 1) / channels;
    const long long skip = std::min(phase + first * channels - layout.skipped,
                                    static_cast<long long>(s.io_len / word_bytes));
    s.io_pos = static_cast<std::size_t>(skip) * word_bytes;
    s.begin = s.end = first;  // the frames before, all zero words, are silent
    if (s.origin >= 0)
        s.origin += phase * static_cast<long long>(word_bytes);
    // The non-audio bit: status bit 1, the C bit of channel 1 in a block's second frame.
    const long long word = (layout.block_word >= 0 ? layout.block_word : skip) + channels;
    layout.non_audio = word < static_cast<long long>(s.io_len / word_bytes) && ((word_in(s, word) >> status_bit_pos) & 1U) != 0;
}

bool rewind_stream(frame_stream& s, long long idx)
{
    const auto frame_bytes = static_cast<long long>(s.sample_bytes) * s.channels;
    if (s.origin < 0 || std::fseek(s.file, s.origin + idx * frame_bytes, SEEK_SET) != 0)
        return false;
    s.begin = s.end = idx;
    s.ended = false;
    s.io_pos = s.io_len = 0;
    s.unchecked = 0;
    s.byte_limit = s.data_bytes < 0 ? -1 : std::max(0LL, s.data_bytes - idx * frame_bytes);
    return true;
}

void find_onset(frame_stream& s)
{
    long long idx = s.begin;
    while (fill_to(s, idx)) {
        for (const long long stop = s.end; idx < stop; ++idx) {
            if (has_sound(frame_at(s, idx), s.channels)) {
                s.onset = idx;
                s.has_sound = true;
                return;
            }
        }
    }
    s.onset = idx;
    s.has_sound = false;
}

bool has_sound(const std::int32_t* frame, int channels)
{
    std::int32_t any = 0;
    for (int ch = 0; ch < channels; ++ch)
        any |= frame[ch];
    return any != 0;
}

bool informative(const std::int32_t* frame, const std::int32_t* before, int channels)
{
    return has_sound(frame, channels) && (before == nullptr || !frames_equal(frame, before, channels));
}
