// DTS (ETSI TS 102 114) in its 16-bit big-endian form: a core frame (sync
// 0x7FFE8001) that an extension substream (sync 0x64582025) may follow,
// which makes it DTS-HD; a substream may also stand alone.
#include "bitstream/codecs.h"

namespace {

constexpr std::uint32_t core_sync = 0x7FFE8001;
constexpr std::uint32_t substream_sync = 0x64582025;
constexpr std::uint32_t lossless_sync = 0x41A29547;  // XLL, the lossless component
constexpr std::size_t core_header_bytes = 16;
constexpr std::size_t substream_header_bytes = 16;
constexpr std::size_t min_core_bytes = 96;

// Sample rates by SFREQ (0 where the code is invalid).
constexpr std::array<int, 16> sample_rates = {0, 8000, 16000, 32000, 0, 0, 11025, 22050,
                                              44100, 0, 0, 12000, 24000, 48000, 0, 0};
// Bit rates by RATE in units of 100 bit/s; 0 for open, variable and lossless.
constexpr std::array<int, 32> bitrates = {320,   560,   640,   960,   1120,  1280,  1920,  2240,
                                          2560,  3200,  3840,  4480,  5120,  5760,  6400,  7680,
                                          9600,  10240, 11520, 12800, 13440, 14080, 14112, 14720,
                                          15360, 19200, 20480, 30720, 38400, 0,     0,     0};
// Full-band channels by AMODE; above 15 the layout is user defined.
constexpr std::array<int, 16> amode_channels = {1, 2, 2, 2, 2, 3, 3, 4, 4, 5, 6, 6, 6, 7, 8, 8};

std::uint32_t be32(const std::uint8_t* p)
{
    return (static_cast<std::uint32_t>(p[0]) << 24) | (static_cast<std::uint32_t>(p[1]) << 16) |
           (static_cast<std::uint32_t>(p[2]) << 8) | p[3];
}

// The length of the extension substream at p, 0 when there is none.
std::size_t substream_length(const std::uint8_t* p, std::size_t avail)
{
    if (avail < substream_header_bytes || be32(p) != substream_sync)
        return 0;
    bit_reader r{p + 4, (substream_header_bytes - 4) * 8};
    read_bits(r, 8);  // user defined bits
    read_bits(r, 2);  // substream index
    const bool long_header = read_bits(r, 1) != 0;
    read_bits(r, long_header ? 12 : 8);  // header size
    return read_bits(r, long_header ? 20 : 16) + 1;
}

bool holds_lossless(const std::uint8_t* p, std::size_t n)
{
    for (std::size_t i = 0; i + 4 <= n; ++i)
        if (p[i] == 0x41 && be32(p + i) == lossless_sync)
            return true;
    return false;
}

// A substream's fields describe its assets in depth; what framing needs is
// the length, and whether a lossless component is inside.
long parse_substream_only(const std::uint8_t* p, std::size_t avail, bool complete, frame_info& info)
{
    if (avail < substream_header_bytes)
        return complete ? 0 : frame_needs_more;
    const std::size_t length = substream_length(p, avail);
    if (length < substream_header_bytes)
        return 0;
    if (avail < length && !complete)
        return frame_needs_more;
    info.codec = codec_dts;
    info.length = length;
    info.samples = 0;
    info.has_metadata = false;
    info.meta = {};
    info.lossless = avail >= length && holds_lossless(p, length);
    return static_cast<long>(length);
}

} // namespace

long parse_dts(const std::uint8_t* p, std::size_t avail, bool complete, frame_info& info)
{
    if (avail < 4)
        return complete ? 0 : frame_needs_more;
    if (be32(p) == substream_sync)
        return parse_substream_only(p, avail, complete, info);
    if (be32(p) != core_sync)
        return 0;
    if (avail < core_header_bytes)
        return complete ? 0 : frame_needs_more;
    bit_reader r{p + 4, (core_header_bytes - 4) * 8};
    read_bits(r, 1 + 5 + 1);  // FTYPE, SHORT, CPF
    const unsigned nblks = read_bits(r, 7);
    const std::size_t core_length = read_bits(r, 14) + 1;
    const unsigned amode = read_bits(r, 6);
    const unsigned sfreq = read_bits(r, 4);
    const unsigned rate = read_bits(r, 5);
    read_bits(r, 10);  // MIX through ASPF
    const unsigned lff = read_bits(r, 2);
    if (nblks < 5 || core_length < min_core_bytes || sample_rates[sfreq] == 0 || lff == 3)
        return 0;
    // An extension substream right after the core belongs to the frame.
    std::size_t length = core_length;
    if (avail < core_length + substream_header_bytes && !complete)
        return frame_needs_more;
    const std::size_t extension = avail > core_length ? substream_length(p + core_length, avail - core_length) : 0;
    if (extension >= substream_header_bytes) {
        length += extension;
        if (avail < length && !complete)
            return frame_needs_more;
    }
    info.codec = codec_dts;
    info.length = length;
    info.samples = static_cast<int>(nblks + 1) * 32;
    info.has_metadata = true;
    info.lossless = extension > 0 && avail >= length && holds_lossless(p + core_length, extension);
    codec_metadata& meta = info.meta;
    meta = {};
    meta.keys = key_sample_rate | key_channels | key_lfe | key_bitrate | key_hd;
    meta.sample_rate_hz = sample_rates[sfreq];
    meta.bitrate_bps = static_cast<long long>(bitrates[rate]) * 100;
    meta.lfe = lff != 0;
    meta.channels = (amode < amode_channels.size() ? amode_channels[amode] : 0) + (meta.lfe ? 1 : 0);
    meta.hd = extension > 0;
    return static_cast<long>(length);
}
