// Compressed audio frames: one small parser per codec (ac3.cpp, dts.cpp,
// truehd.cpp, mpeg.cpp), the table that names them (codecs.cpp), and what a
// frame header says about the stream.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>

enum codec_id { codec_none, codec_ac3, codec_eac3, codec_dts, codec_truehd, codec_mpeg };

// The metadata keys, one bit each; a codec's frames carry some of them.
enum metadata_key : unsigned {
    key_sample_rate = 1U << 0,
    key_bitrate = 1U << 1,
    key_acmod = 1U << 2,
    key_lfe = 1U << 3,
    key_channels = 1U << 4,
    key_dialnorm = 1U << 5,
    key_bsmod = 1U << 6,
    key_substreams = 1U << 7,
    key_hd = 1U << 8,
    key_layer = 1U << 9,
};

struct codec_metadata {
    unsigned keys = 0;             // which of the fields below the frame gives
    int sample_rate_hz = 0;
    long long bitrate_bps = 0;     // DTS has 1411.2 kbps
    std::array<char, 8> acmod{};   // "3/2", "2/0", "1+1"
    bool lfe = false;
    int channels = 0;              // with the LFE channel
    int dialnorm_db = 0;
    int bsmod = 0;
    int substreams = 0;            // E-AC-3: syncframes of one program period
    bool hd = false;               // DTS: an extension substream follows the core
    int layer = 0;
};

bool operator==(const codec_metadata& a, const codec_metadata& b);

enum crc_state { crc_unchecked, crc_good, crc_bad };

// What a parser finds in one frame header. Parsers of the same stream are
// handed the previous frame's info, which carries what a codec remembers
// between frames (TrueHD's substream count).
struct frame_info {
    codec_id codec = codec_none;
    std::size_t length = 0;      // bytes of the whole frame
    int samples = 0;             // per channel
    bool has_metadata = false;   // TrueHD units without a major sync have none
    codec_metadata meta;
    crc_state crc = crc_unchecked;  // set by whoever checks it (frame_crc)
    int mpeg_version = 0;        // 10 for MPEG-1, 20 for MPEG-2, 25 for MPEG-2.5
    bool eac3_independent = false;
    int eac3_substream = 0;
    bool lossless = false;       // DTS-HD: a lossless (XLL) component
    bool major_sync = false;     // TrueHD: the unit restarts the stream
    int truehd_substreams = 0;   // from the last major sync
};

// A parser reads the header at p, where avail bytes lie; complete says no
// bytes follow them. It returns the frame's length and fills info, 0 when p
// does not start a frame, or frame_needs_more when avail is too short to
// tell and more may come. A CRC check reads the whole frame that a parser
// has described.
inline constexpr long frame_needs_more = -1;
using frame_parser = long (*)(const std::uint8_t* p, std::size_t avail, bool complete, frame_info& info);
using frame_crc_check = crc_state (*)(const std::uint8_t* frame, const frame_info& info);

long parse_ac3(const std::uint8_t* p, std::size_t avail, bool complete, frame_info& info);
long parse_dts(const std::uint8_t* p, std::size_t avail, bool complete, frame_info& info);
long parse_truehd(const std::uint8_t* p, std::size_t avail, bool complete, frame_info& info);
long parse_mpeg(const std::uint8_t* p, std::size_t avail, bool complete, frame_info& info);
crc_state check_ac3_crc(const std::uint8_t* frame, const frame_info& info);

// One row per codec family: its name, its parser and CRC check (null where
// its frames carry none that is checked here), the IEC 61937 data types that
// carry it and the 16-bit words its frames begin with (for a payload that
// arrived byte-swapped).
struct codec_family {
    codec_id codec;
    const char* name;
    frame_parser parse;
    frame_crc_check crc;
    std::array<int, 6> burst_types;  // 0 ends the list
    std::uint16_t sync;
    std::uint16_t sync_mask;
};

const codec_family* family_of_burst(int type);
const codec_family* family_of_codec(codec_id codec);
// The CRC state of a whole frame that a parser described.
crc_state frame_crc(const std::uint8_t* frame, const frame_info& info);
// The frame at p in any known codec (0 when none).
long parse_any(const std::uint8_t* p, std::size_t avail, bool complete, frame_info& info);
// The codec's name for one frame: "AC-3", "E-AC-3", "DTS", "DTS-HD",
// "TrueHD", "MPEG-1 layer 2", ...
const char* frame_codec_name(const frame_info& info);

// CRC-16 with the polynomial x^16 + x^15 + x^2 + 1, MSB first, from 0.
std::uint16_t crc16_8005(const std::uint8_t* p, std::size_t n);

// Reads big-endian bit fields; reading past the end gives zeros and sets overrun.
struct bit_reader {
    const std::uint8_t* p;
    std::size_t bits;
    std::size_t pos = 0;
    bool overrun = false;
};
unsigned read_bits(bit_reader& r, int n);

// The metadata by key, as a JSON object and as one line of text.
void write_metadata_json(std::FILE* out, const codec_metadata& meta);
void metadata_text(const codec_metadata& meta, char* text, std::size_t size);
