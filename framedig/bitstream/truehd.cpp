// TrueHD access units: a 4-byte header (check nibble, length in 16-bit
// words, input timing), a major sync (0xF8726FBA, with the rate and the
// channel assignments) in the units that restart the stream, then the
// substream directory. The check nibble makes the header's and the
// directory's nibbles XOR to 0xF; a unit without a major sync is only
// recognised once a major sync has said how many substreams there are.
#include "bitstream/codecs.h"

#include <algorithm>

namespace {

constexpr std::uint32_t major_sync = 0xF8726FBA;
constexpr std::uint16_t major_sync_signature = 0xB752;
constexpr std::size_t major_sync_bytes = 28;  // from the format sync to its CRC
constexpr std::size_t header_bytes = 4;
constexpr std::size_t min_unit_bytes = 6;
constexpr int samples_at_48k = 40;

// Rates by the format info's first nibble (0 where the code is invalid).
constexpr std::array<int, 16> sample_rates = {48000, 96000, 192000, 0, 0, 0, 0, 0,
                                              44100, 88200, 176400, 0, 0, 0, 0, 0};
// Channels that each bit of the 8-channel assignment adds: L/R, C, LFE, Ls/Rs,
// Tfl/Tfr, Lsc/Rsc, Lb/Rb, Cb, Tc, Lsd/Rsd, Lw/Rw, Tfc, LFE2. The 6-channel
// assignment uses the first five.
constexpr std::array<int, 13> assignment_channels = {2, 1, 1, 2, 2, 2, 2, 1, 1, 2, 2, 1, 1};

int assigned_channels(unsigned assignment)
{
    int channels = 0;
    for (std::size_t bit = 0; bit < assignment_channels.size(); ++bit)
        if ((assignment >> bit) & 1U)
            channels += assignment_channels[bit];
    return channels;
}

unsigned nibble_xor(const std::uint8_t* p, std::size_t n)
{
    unsigned x = 0;
    for (std::size_t i = 0; i < n; ++i)
        x ^= static_cast<unsigned>(p[i] >> 4) ^ (p[i] & 0xFU);
    return x;
}

// The check nibble over the header and the directory of the given number of
// substreams (an entry has a second word when its top bit says so).
bool check_nibble_ok(const std::uint8_t* p, std::size_t length, int substreams)
{
    unsigned x = nibble_xor(p, header_bytes);
    std::size_t at = header_bytes;
    for (int s = 0; s < substreams; ++s) {
        if (at + 2 > length)
            return false;
        const std::size_t entry = (p[at] & 0x80U) != 0 ? 4 : 2;
        if (at + entry > length)
            return false;
        x ^= nibble_xor(p + at, entry);
        at += entry;
    }
    return x == 0xF;
}

bool parse_major_sync(const std::uint8_t* p, frame_info& info)
{
    const std::uint32_t format = (static_cast<std::uint32_t>(p[8]) << 24) | (static_cast<std::uint32_t>(p[9]) << 16) |
                                 (static_cast<std::uint32_t>(p[10]) << 8) | p[11];
    const int rate = sample_rates[format >> 28];
    const auto signature = static_cast<std::uint16_t>((p[12] << 8) | p[13]);
    const int substreams = p[20] >> 4;
    if (rate == 0 || signature != major_sync_signature || substreams == 0)
        return false;
    const unsigned six = (format >> 15) & 0x1FU;
    const unsigned eight = format & 0x1FFFU;
    info.truehd_substreams = substreams;
    info.samples = samples_at_48k * (rate % 44100 == 0 ? rate / 44100 : rate / 48000);
    info.has_metadata = true;
    codec_metadata& meta = info.meta;
    meta = {};
    meta.keys = key_sample_rate | key_channels;
    meta.sample_rate_hz = rate;
    meta.channels = eight != 0 ? assigned_channels(eight) : six != 0 ? assigned_channels(six) : 2;
    return true;
}

} // namespace

long parse_truehd(const std::uint8_t* p, std::size_t avail, bool complete, frame_info& info)
{
    if (avail < header_bytes + 4)
        return complete ? 0 : frame_needs_more;
    const std::size_t length = static_cast<std::size_t>(((p[0] & 0xFU) << 8) | p[1]) * 2;
    if (length < min_unit_bytes)
        return 0;
    const bool has_major_sync =
        ((static_cast<std::uint32_t>(p[4]) << 24) | (static_cast<std::uint32_t>(p[5]) << 16) |
         (static_cast<std::uint32_t>(p[6]) << 8) | p[7]) == major_sync;
    if (has_major_sync) {
        if (avail < header_bytes + major_sync_bytes)
            return complete ? 0 : frame_needs_more;
        if (length < header_bytes + major_sync_bytes || !parse_major_sync(p, info))
            return 0;
    } else {
        if (info.codec != codec_truehd || info.truehd_substreams == 0)
            return 0;
        if (avail < length && avail < header_bytes + 4 * static_cast<std::size_t>(info.truehd_substreams))
            return complete ? 0 : frame_needs_more;
        if (!check_nibble_ok(p, std::min(length, avail), info.truehd_substreams))
            return 0;
        info.has_metadata = false;
    }
    info.codec = codec_truehd;
    info.length = length;
    info.major_sync = has_major_sync;
    return static_cast<long>(length);
}
