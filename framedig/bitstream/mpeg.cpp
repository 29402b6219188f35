// MPEG-1 and MPEG-2 audio, layers 1 to 3 (ISO 11172-3, ISO 13818-3): a
// 32-bit header (11-bit sync, version, layer, bit rate, rate, padding,
// mode) whose fields give the frame's length. Free-format streams, which
// give no length, are not recognised.
#include "bitstream/codecs.h"

namespace {

constexpr std::size_t header_bytes = 4;

// Bit rates in kbps by bit rate index 1-14: MPEG-1 layers 1, 2, 3, then
// MPEG-2 and 2.5 layer 1, and layers 2 and 3.
constexpr std::array<std::array<int, 15>, 5> bitrates = {{
    {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
    {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
    {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
}};
constexpr std::array<int, 3> mpeg1_rates = {44100, 48000, 32000};

} // namespace

long parse_mpeg(const std::uint8_t* p, std::size_t avail, bool complete, frame_info& info)
{
    if (avail < header_bytes)
        return complete ? 0 : frame_needs_more;
    if (p[0] != 0xFF || (p[1] & 0xE0U) != 0xE0U)
        return 0;
    const unsigned version = (p[1] >> 3) & 3U;      // 0: 2.5, 2: MPEG-2, 3: MPEG-1
    const unsigned layer_code = (p[1] >> 1) & 3U;   // 3: layer 1, 2: layer 2, 1: layer 3
    const unsigned bitrate_index = p[2] >> 4;
    const unsigned rate_index = (p[2] >> 2) & 3U;
    const unsigned padding = (p[2] >> 1) & 1U;
    const unsigned mode = p[3] >> 6;
    if (version == 1 || layer_code == 0 || bitrate_index == 0 || bitrate_index == 15 || rate_index == 3 || (p[3] & 3U) == 2)
        return 0;
    const int layer = 4 - static_cast<int>(layer_code);
    const bool mpeg1 = version == 3;
    const std::size_t table = mpeg1 ? static_cast<std::size_t>(layer - 1) : layer == 1 ? 3 : 4;
    const long long bitrate = static_cast<long long>(bitrates[table][bitrate_index]) * 1000;
    const int rate = mpeg1_rates[rate_index] >> (version == 3 ? 0 : version == 2 ? 1 : 2);
    int samples = layer == 1 ? 384 : 1152;
    if (layer == 3 && !mpeg1)
        samples = 576;
    const std::size_t length = layer == 1 ? static_cast<std::size_t>((12 * bitrate / rate + padding) * 4)
                                          : static_cast<std::size_t>(samples / 8 * bitrate / rate + padding);
    info.codec = codec_mpeg;
    info.length = length;
    info.samples = samples;
    info.has_metadata = true;
    info.mpeg_version = version == 3 ? 10 : version == 2 ? 20 : 25;
    codec_metadata& meta = info.meta;
    meta = {};
    meta.keys = key_layer | key_sample_rate | key_bitrate | key_channels;
    meta.layer = layer;
    meta.sample_rate_hz = rate;
    meta.bitrate_bps = bitrate;
    meta.channels = mode == 3 ? 1 : 2;
    return static_cast<long>(length);
}
