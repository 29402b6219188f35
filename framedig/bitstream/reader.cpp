// A compressed stream read from a file: recognised by its first bytes, then
// read frame by frame through one buffer, resynchronising past bytes that
// belong to no frame.
#include "bitstream/reader.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr std::size_t search_bytes = std::size_t{64} * 1024;  // how far in a first frame is looked for
constexpr std::size_t id3_header_bytes = 10;

std::uint16_t le16(const std::uint8_t* p)
{
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

// The first IEC 61937 burst of a known codec in 16-bit little-endian words.
std::size_t find_burst(const std::uint8_t* p, std::size_t n, codec_id& codec)
{
    for (std::size_t at = 0; at + 8 <= n; at += 2) {
        if (le16(p + at) != burst_pa || le16(p + at + 2) != burst_pb || le16(p + at + 6) == 0)
            continue;
        if (const codec_family* family = family_of_burst(le16(p + at + 4) & static_cast<int>(burst_type_mask))) {
            codec = family->codec;
            return at;
        }
    }
    return n;
}

// Past an ID3v2 tag in front of MPEG audio.
std::size_t after_id3(const std::uint8_t* p, std::size_t n)
{
    if (n < id3_header_bytes || std::memcmp(p, "ID3", 3) != 0)
        return 0;
    std::size_t size = 0;
    for (int i = 6; i < 10; ++i)
        size = (size << 7) | (p[i] & 0x7FU);
    return id3_header_bytes + size + ((p[5] & 0x10U) != 0 ? id3_header_bytes : 0);
}

// An MPEG layer 3 frame that holds an encoder's summary (Xing, Info or
// VBRI) instead of audio; players skip it, and so does the passthrough.
bool summary_frame(const std::uint8_t* p, std::size_t length, const frame_info& info)
{
    if (info.codec != codec_mpeg || info.meta.layer != 3)
        return false;
    const bool mono = (p[3] >> 6) == 3;
    const std::size_t side = info.mpeg_version == 10 ? (mono ? 17 : 32) : (mono ? 9 : 17);
    const std::size_t at = 4 + ((p[1] & 1U) == 0 ? 2 : 0) + side;
    const auto tag = [&](std::size_t pos, const char* name) { return pos + 4 <= length && std::memcmp(p + pos, name, 4) == 0; };
    return tag(at, "Xing") || tag(at, "Info") || tag(4 + 32, "VBRI");
}

// The first frame that the next one confirms (or that ends the file).
std::size_t find_frame(const std::uint8_t* p, std::size_t n, bool complete, codec_id& codec)
{
    const std::size_t limit = std::min(n, search_bytes);
    for (std::size_t at = after_id3(p, n); at < limit; ++at) {
        frame_info first;
        const long length = parse_any(p + at, n - at, complete, first);
        if (length <= 0)
            continue;
        const std::size_t next = at + static_cast<std::size_t>(length);
        frame_info second = first;
        const long following = next < n ? family_of_codec(first.codec)->parse(p + next, n - next, complete, second) : 0;
        const bool confirmed = following > 0 || following == frame_needs_more || (next >= n && (complete || n >= recognise_bytes));
        if (!confirmed || (following > 0 && second.codec != first.codec))
            continue;
        codec = first.codec;
        return at;
    }
    return n;
}

// Keeps at least the longest frame's bytes unread in the buffer, unless the
// file ends first.
void refill(stream_reader& r)
{
    if (r.eof || r.end - r.start >= reader_lookahead_bytes)
        return;
    std::memmove(r.buf.get(), r.buf.get() + r.start, r.end - r.start);
    r.end -= r.start;
    r.start = 0;
    const std::size_t want = r.capacity - r.end;
    const std::size_t got = read_units(r.file, r.buf.get() + r.end, 1, want);
    r.end += got;
    r.eof = got < want;
}

bool next_elementary(stream_reader& r, const std::uint8_t*& data, std::size_t& length, frame_info& info)
{
    const codec_family* family = family_of_codec(r.codec);
    for (;;) {
        refill(r);
        const std::size_t avail = r.end - r.start;
        if (avail == 0)
            return false;
        const std::uint8_t* p = r.buf.get() + r.start;
        frame_info tried = r.info;
        const long n = family->parse(p, avail, r.eof, tried);
        if (n > 0 && static_cast<std::size_t>(n) <= avail) {
            r.start += static_cast<std::size_t>(n);
            r.info = tried;
            if (r.frames == 0 && summary_frame(p, static_cast<std::size_t>(n), tried)) {
                r.skipped_bytes += n;
                continue;
            }
            data = p;
            length = static_cast<std::size_t>(n);
            info = tried;
            ++r.frames;
            return true;
        }
        if (n != 0 && r.eof) {  // a frame cut off by the end of the file
            r.skipped_bytes += static_cast<long long>(avail);
            r.start = r.end;
            return false;
        }
        ++r.start;  // no frame here (or one longer than any frame can be)
        ++r.skipped_bytes;
    }
}

bool next_from_bursts(stream_reader& r, const std::uint8_t*& data, std::size_t& length, frame_info& info)
{
    for (;;) {
        burst_item item;
        while (unwrap_next(r.unwrapper, item)) {
            if (item.kind != item_frame)
                continue;
            if (item.info.codec == codec_none || family_of_codec(item.info.codec) != family_of_codec(r.codec)) {
                r.skipped_bytes += static_cast<long long>(item.length);
                continue;
            }
            data = item.data;
            length = item.length;
            info = item.info;
            ++r.frames;
            return true;
        }
        refill(r);
        const std::size_t samples = std::min((r.end - r.start) / 2, iec_chunk_samples);
        if (samples == 0)
            return false;
        for (std::size_t k = 0; k < samples; ++k)
            store_le(r.words.get() + k * word_bytes, static_cast<std::uint32_t>(le16(r.buf.get() + r.start + 2 * k)) << burst_word_shift);
        r.start += 2 * samples;
        unwrap_feed(r.unwrapper, r.words.get(), samples);
    }
}

} // namespace

stream_kind recognise_stream(const std::uint8_t* p, std::size_t n, bool complete, codec_id& codec, std::size_t& offset)
{
    codec_id burst_codec = codec_none;
    const std::size_t burst = find_burst(p, n, burst_codec);
    if (n >= 12 && looks_like_riff(p, n) && std::memcmp(p + 8, "WAVE", 4) == 0) {
        if (burst == n)
            return stream_pcm_wav;
        codec = burst_codec;
        offset = 0;
        return stream_iec61937;
    }
    codec_id frame_codec = codec_none;
    const std::size_t frame = find_frame(p, n, complete, frame_codec);
    if (burst < frame) {
        codec = burst_codec;
        offset = 0;
        return stream_iec61937;
    }
    if (frame < n) {
        codec = frame_codec;
        offset = frame;
        return stream_elementary;
    }
    return stream_unknown;
}

bool open_reader(stream_reader& r, std::FILE* file, const std::uint8_t* head, std::size_t n, stream_kind kind,
                 codec_id codec, std::size_t offset, bool complete)
{
    r.file = file;
    r.kind = kind;
    r.codec = codec;
    // A file read whole already needs no more room than it takes.
    r.capacity = complete ? std::max<std::size_t>(n, 1) : reader_buffer_bytes;
    r.buf = zeroed_array<std::uint8_t>(r.capacity);
    if (!r.buf || n > r.capacity)
        return false;
    std::memcpy(r.buf.get(), head, n);
    r.start = offset;
    r.end = n;
    r.eof = complete;
    r.skipped_bytes = static_cast<long long>(offset);
    if (kind != stream_iec61937)
        return true;
    r.words = zeroed_array<std::uint8_t>(iec_chunk_samples * word_bytes);
    return r.words && unwrapper_init(r.unwrapper);
}

bool reader_next(stream_reader& r, const std::uint8_t*& data, std::size_t& length, frame_info& info)
{
    return r.kind == stream_iec61937 ? next_from_bursts(r, data, length, info)
                                     : next_elementary(r, data, length, info);
}
