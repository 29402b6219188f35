// AC-3 and E-AC-3 (ATSC A/52): sync word 0x0B77; bsid up to 8 is AC-3, 11
// to 16 E-AC-3; and their CRCs.
#include "bitstream/codecs.h"

#include <cstring>

namespace {

constexpr std::array<int, 3> sample_rates = {48000, 44100, 32000};
constexpr std::array<int, 3> reduced_rates = {24000, 22050, 16000};  // E-AC-3 fscod2
// Bit rates by frmsizecod / 2, in kbps.
constexpr std::array<int, 19> bitrates = {32, 40, 48, 56, 64, 80, 96, 112, 128, 160,
                                          192, 224, 256, 320, 384, 448, 512, 576, 640};
constexpr std::array<int, 4> blocks_per_frame = {1, 2, 3, 6};
constexpr int samples_per_block = 256;

struct channel_mode {
    const char* name;
    int channels;
};
constexpr std::array<channel_mode, 8> acmodes = {{
    {"1+1", 2}, {"1/0", 1}, {"2/0", 2}, {"3/0", 3}, {"2/1", 3}, {"3/1", 4}, {"2/2", 4}, {"3/2", 5},
}};

void set_channels(codec_metadata& meta, unsigned acmod, bool lfe)
{
    const channel_mode& mode = acmodes[acmod];
    std::memcpy(meta.acmod.data(), mode.name, std::strlen(mode.name) + 1);
    meta.lfe = lfe;
    meta.channels = mode.channels + (lfe ? 1 : 0);
}

// Words of an AC-3 frame: fixed per rate, except that 44.1 kHz frames
// alternate between two lengths (the odd frmsizecod is the longer one).
std::size_t ac3_frame_bytes(unsigned fscod, unsigned frmsizecod)
{
    const int kbps = bitrates[frmsizecod / 2];
    if (fscod == 0)
        return static_cast<std::size_t>(kbps) * 4;
    if (fscod == 2)
        return static_cast<std::size_t>(kbps) * 6;
    return (static_cast<std::size_t>(kbps) * 1536000 / 44100 / 16 + (frmsizecod & 1U)) * 2;
}

long parse_ac3_frame(const std::uint8_t* p, std::size_t avail, frame_info& info)
{
    bit_reader r{p, avail * 8};
    read_bits(r, 32);  // sync word, crc1
    const unsigned fscod = read_bits(r, 2);
    const unsigned frmsizecod = read_bits(r, 6);
    read_bits(r, 5);  // bsid
    const unsigned bsmod = read_bits(r, 3);
    const unsigned acmod = read_bits(r, 3);
    if (fscod == 3 || frmsizecod >= 2 * bitrates.size())
        return 0;
    if ((acmod & 1U) != 0 && acmod != 1)
        read_bits(r, 2);  // cmixlev
    if ((acmod & 4U) != 0)
        read_bits(r, 2);  // surmixlev
    if (acmod == 2)
        read_bits(r, 2);  // dsurmod
    const bool lfe = read_bits(r, 1) != 0;
    const unsigned dialnorm = read_bits(r, 5);
    if (r.overrun)
        return frame_needs_more;
    const std::size_t length = ac3_frame_bytes(fscod, frmsizecod);
    info.codec = codec_ac3;
    info.length = length;
    info.samples = 6 * samples_per_block;
    info.has_metadata = true;
    codec_metadata& meta = info.meta;
    meta = {};
    meta.keys = key_sample_rate | key_bitrate | key_acmod | key_lfe | key_channels | key_dialnorm | key_bsmod;
    meta.sample_rate_hz = sample_rates[fscod];
    meta.bitrate_bps = static_cast<long long>(bitrates[frmsizecod / 2]) * 1000;
    set_channels(meta, acmod, lfe);
    meta.dialnorm_db = dialnorm == 0 ? -31 : -static_cast<int>(dialnorm);
    meta.bsmod = static_cast<int>(bsmod);
    return static_cast<long>(length);
}

// E-AC-3's bit stream information as far as bsmod, which follows the
// mixing metadata.
bool skip_eac3_mixing(bit_reader& r, unsigned strmtyp, unsigned acmod, bool lfe, int blocks)
{
    if (acmod > 2)
        read_bits(r, 2);  // dmixmod
    if ((acmod & 1U) != 0 && acmod > 2)
        read_bits(r, 6);  // ltrtcmixlev, lorocmixlev
    if ((acmod & 4U) != 0)
        read_bits(r, 6);  // ltrtsurmixlev, lorosurmixlev
    if (lfe && read_bits(r, 1) != 0)
        read_bits(r, 5);  // lfemixlevcod
    if (strmtyp != 0)
        return true;
    if (read_bits(r, 1) != 0)
        read_bits(r, 6);  // pgmscl
    if (acmod == 0 && read_bits(r, 1) != 0)
        read_bits(r, 6);  // pgmscl2
    if (read_bits(r, 1) != 0)
        read_bits(r, 6);  // extpgmscl
    const unsigned mixdef = read_bits(r, 2);
    if (mixdef == 1) {
        read_bits(r, 5);  // premixcmpsel, drcsrc, premixcmpscl
    } else if (mixdef == 2) {
        read_bits(r, 12);
    } else if (mixdef == 3) {
        const unsigned bytes = read_bits(r, 5) + 2;
        for (unsigned i = 0; i < bytes; ++i)
            read_bits(r, 8);
    }
    if (acmod < 2) {
        if (read_bits(r, 1) != 0)
            read_bits(r, 14);  // panmean, paninfo
        if (acmod == 0 && read_bits(r, 1) != 0)
            read_bits(r, 14);
    }
    if (read_bits(r, 1) != 0) {  // frmmixcfginfoe
        if (blocks == 1) {
            read_bits(r, 5);
        } else {
            for (int blk = 0; blk < blocks; ++blk)
                if (read_bits(r, 1) != 0)
                    read_bits(r, 5);
        }
    }
    return true;
}

long parse_eac3_frame(const std::uint8_t* p, std::size_t avail, bool complete, frame_info& info)
{
    bit_reader r{p, avail * 8};
    read_bits(r, 16);
    const unsigned strmtyp = read_bits(r, 2);
    const unsigned substreamid = read_bits(r, 3);
    const std::size_t length = (std::size_t{read_bits(r, 11)} + 1) * 2;
    const unsigned fscod = read_bits(r, 2);
    const unsigned fscod2_or_blocks = read_bits(r, 2);
    if (strmtyp == 3 || (fscod == 3 && fscod2_or_blocks == 3) || length < 8)
        return 0;
    const int blocks = fscod == 3 ? 6 : blocks_per_frame[fscod2_or_blocks];
    const unsigned acmod = read_bits(r, 3);
    const bool lfe = read_bits(r, 1) != 0;
    read_bits(r, 5);  // bsid
    const unsigned dialnorm = read_bits(r, 5);
    if (read_bits(r, 1) != 0)
        read_bits(r, 8);  // compr
    if (acmod == 0) {
        read_bits(r, 5);  // dialnorm2
        if (read_bits(r, 1) != 0)
            read_bits(r, 8);
    }
    if (strmtyp == 1 && read_bits(r, 1) != 0)
        read_bits(r, 16);  // chanmap
    if (read_bits(r, 1) != 0)
        skip_eac3_mixing(r, strmtyp, acmod, lfe, blocks);
    const unsigned bsmod = read_bits(r, 1) != 0 ? read_bits(r, 3) : 0;  // infomdate
    const bool short_frame = r.pos > length * 8;
    if (r.overrun || short_frame) {
        if (!complete && avail < length)
            return frame_needs_more;
        return 0;
    }
    info.codec = codec_eac3;
    info.length = length;
    info.samples = blocks * samples_per_block;
    info.has_metadata = true;
    info.eac3_independent = strmtyp != 1;
    info.eac3_substream = static_cast<int>(substreamid);
    codec_metadata& meta = info.meta;
    meta = {};
    meta.keys = key_sample_rate | key_acmod | key_lfe | key_channels | key_dialnorm | key_bsmod | key_substreams;
    meta.sample_rate_hz = fscod == 3 ? reduced_rates[fscod2_or_blocks] : sample_rates[fscod];
    set_channels(meta, acmod, lfe);
    meta.dialnorm_db = dialnorm == 0 ? -31 : -static_cast<int>(dialnorm);
    meta.bsmod = static_cast<int>(bsmod);
    meta.substreams = 1;
    return static_cast<long>(length);
}

} // namespace

long parse_ac3(const std::uint8_t* p, std::size_t avail, bool complete, frame_info& info)
{
    if (avail < 6)
        return complete ? 0 : frame_needs_more;
    if (p[0] != 0x0B || p[1] != 0x77)
        return 0;
    const auto bsid = static_cast<unsigned>(p[5] >> 3);
    if (bsid <= 8) {
        const long length = parse_ac3_frame(p, avail, info);
        return length == frame_needs_more && complete ? 0 : length;
    }
    if (bsid >= 11 && bsid <= 16)
        return parse_eac3_frame(p, avail, complete, info);
    return 0;
}

// AC-3's crc1 covers the words after the sync word up to 5/8 of the frame,
// crc2 the rest; E-AC-3's one CRC covers the whole frame after the sync word.
crc_state check_ac3_crc(const std::uint8_t* frame, const frame_info& info)
{
    const std::size_t length = info.length;
    if (info.codec == codec_eac3)
        return crc16_8005(frame + 2, length - 2) == 0 ? crc_good : crc_bad;
    const std::size_t words = length / 2;
    const std::size_t five_eighths = 2 * ((words >> 1) + (words >> 3));
    const bool good = crc16_8005(frame + 2, five_eighths - 2) == 0 && crc16_8005(frame + five_eighths, length - five_eighths) == 0;
    return good ? crc_good : crc_bad;
}
