// The codec families by row, the shared bit reader and CRC, and the
// metadata by key.
#include "bitstream/codecs.h"

#include <cstring>

namespace {

// Each family with its parser, the IEC 61937 data types that carry it and
// the first 16-bit word of its frames. TrueHD travels inside MAT frames
// (type 22), which begin with their own start code.
constexpr std::array<codec_family, 5> families = {{
    {codec_ac3, "AC-3", parse_ac3, check_ac3_crc, {1}, 0x0B77, 0xFFFF},
    {codec_eac3, "E-AC-3", parse_ac3, check_ac3_crc, {21}, 0x0B77, 0xFFFF},
    {codec_dts, "DTS", parse_dts, nullptr, {11, 12, 13, 17}, 0x7FFE, 0xFFFF},
    {codec_truehd, "TrueHD", parse_truehd, nullptr, {22}, 0x079E, 0xFFFF},
    {codec_mpeg, "MPEG audio", parse_mpeg, nullptr, {4, 5, 6, 8, 9}, 0xFFE0, 0xFFE0},
}};

struct mpeg_name {
    int version;
    int layer;
    const char* name;
};
constexpr std::array<mpeg_name, 9> mpeg_names = {{
    {10, 1, "MPEG-1 layer 1"}, {10, 2, "MPEG-1 layer 2"}, {10, 3, "MPEG-1 layer 3"},
    {20, 1, "MPEG-2 layer 1"}, {20, 2, "MPEG-2 layer 2"}, {20, 3, "MPEG-2 layer 3"},
    {25, 1, "MPEG-2.5 layer 1"}, {25, 2, "MPEG-2.5 layer 2"}, {25, 3, "MPEG-2.5 layer 3"},
}};

// Four tables for four bytes a step: table k holds what byte value i, k bytes
// before the end of the step, adds to the register.
using crc_tables = std::array<std::array<std::uint16_t, 256>, 4>;
constexpr crc_tables make_crc_tables()
{
    crc_tables t{};
    for (unsigned i = 0; i < 256; ++i) {
        unsigned crc = i << 8;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x8000U) != 0 ? (crc << 1) ^ 0x8005U : crc << 1;
        t[0][i] = static_cast<std::uint16_t>(crc);
    }
    for (std::size_t k = 1; k < t.size(); ++k) {
        for (unsigned i = 0; i < 256; ++i) {
            const unsigned before = t[k - 1][i];
            t[k][i] = static_cast<std::uint16_t>(((before << 8) & 0xFFFFU) ^ t[0][before >> 8]);
        }
    }
    return t;
}
constexpr crc_tables crc_table = make_crc_tables();

// The keys in the order the reports give them.
struct key_row {
    metadata_key key;
    const char* json;
};
constexpr std::array<key_row, 10> key_rows = {{
    {key_layer, "layer"},       {key_sample_rate, "sample_rate_hz"}, {key_bitrate, "bitrate_kbps"},
    {key_acmod, "acmod"},       {key_lfe, "lfe"},                    {key_channels, "channels"},
    {key_dialnorm, "dialnorm_db"}, {key_bsmod, "bsmod"},             {key_substreams, "substreams"},
    {key_hd, "hd"},
}};

// A bit rate in kbps: whole where it is (DTS has 1411.2).
void print_kbps(std::FILE* out, long long bps)
{
    if (bps % 1000 == 0)
        std::fprintf(out, "%lld", bps / 1000);
    else
        std::fprintf(out, "%lld.%lld", bps / 1000, bps % 1000 / 100);
}

} // namespace

bool operator==(const codec_metadata& a, const codec_metadata& b)
{
    return a.keys == b.keys && a.sample_rate_hz == b.sample_rate_hz && a.bitrate_bps == b.bitrate_bps &&
           a.acmod == b.acmod && a.lfe == b.lfe && a.channels == b.channels && a.dialnorm_db == b.dialnorm_db &&
           a.bsmod == b.bsmod && a.substreams == b.substreams && a.hd == b.hd && a.layer == b.layer;
}

const codec_family* family_of_burst(int type)
{
    for (const codec_family& family : families)
        for (const int t : family.burst_types)
            if (t != 0 && t == type)
                return &family;
    return nullptr;
}

const codec_family* family_of_codec(codec_id codec)
{
    for (const codec_family& family : families)
        if (family.codec == codec)
            return &family;
    return nullptr;
}

crc_state frame_crc(const std::uint8_t* frame, const frame_info& info)
{
    const codec_family* family = family_of_codec(info.codec);
    return family != nullptr && family->crc != nullptr ? family->crc(frame, info) : crc_unchecked;
}

long parse_any(const std::uint8_t* p, std::size_t avail, bool complete, frame_info& info)
{
    for (const codec_family& family : families) {
        if (family.codec == codec_eac3)
            continue;  // the AC-3 parser reads both
        frame_info tried = info;
        const long length = family.parse(p, avail, complete, tried);
        if (length != 0) {
            info = tried;
            return length;
        }
    }
    return 0;
}

const char* frame_codec_name(const frame_info& info)
{
    if (info.codec == codec_dts && info.meta.hd)
        return "DTS-HD";
    if (info.codec == codec_mpeg)
        for (const mpeg_name& row : mpeg_names)
            if (row.version == info.mpeg_version && row.layer == info.meta.layer)
                return row.name;
    const codec_family* family = family_of_codec(info.codec);
    return family != nullptr ? family->name : "unknown";
}

std::uint16_t crc16_8005(const std::uint8_t* p, std::size_t n)
{
    unsigned crc = 0;
    std::size_t i = 0;
    for (; i + 4 <= n; i += 4) {
        const unsigned top = crc ^ (static_cast<unsigned>(p[i]) << 8 | p[i + 1]);
        crc = crc_table[3][top >> 8] ^ crc_table[2][top & 0xFFU] ^ crc_table[1][p[i + 2]] ^ crc_table[0][p[i + 3]];
    }
    for (; i < n; ++i)
        crc = ((crc << 8) & 0xFFFFU) ^ crc_table[0][((crc >> 8) ^ p[i]) & 0xFFU];
    return static_cast<std::uint16_t>(crc);
}

unsigned read_bits(bit_reader& r, int n)
{
    unsigned value = 0;
    for (int i = 0; i < n; ++i, ++r.pos) {
        unsigned bit = 0;
        if (r.pos < r.bits)
            bit = (r.p[r.pos / 8] >> (7 - r.pos % 8)) & 1U;
        else
            r.overrun = true;
        value = (value << 1) | bit;
    }
    return value;
}

void write_metadata_json(std::FILE* out, const codec_metadata& meta)
{
    const char* separator = "";
    std::fputc('{', out);
    for (const key_row& row : key_rows) {
        if ((meta.keys & row.key) == 0)
            continue;
        std::fprintf(out, "%s\"%s\":", separator, row.json);
        separator = ",";
        switch (row.key) {
        case key_layer: std::fprintf(out, "%d", meta.layer); break;
        case key_sample_rate: std::fprintf(out, "%d", meta.sample_rate_hz); break;
        case key_bitrate:
            if (meta.bitrate_bps == 0)
                std::fputs("null", out);  // DTS: open, variable or lossless
            else
                print_kbps(out, meta.bitrate_bps);
            break;
        case key_acmod: std::fprintf(out, "\"%s\"", meta.acmod.data()); break;
        case key_lfe: std::fputs(meta.lfe ? "true" : "false", out); break;
        case key_channels: std::fprintf(out, "%d", meta.channels); break;
        case key_dialnorm: std::fprintf(out, "%d", meta.dialnorm_db); break;
        case key_bsmod: std::fprintf(out, "%d", meta.bsmod); break;
        case key_substreams: std::fprintf(out, "%d", meta.substreams); break;
        case key_hd: std::fputs(meta.hd ? "true" : "false", out); break;
        }
    }
    std::fputc('}', out);
}

namespace {

// One key's piece of the text; empty when it says nothing worth a word.
void metadata_piece(const codec_metadata& meta, metadata_key key, char* piece, std::size_t size)
{
    piece[0] = '\0';
    switch (key) {
    case key_layer: std::snprintf(piece, size, "layer %d", meta.layer); break;
    case key_sample_rate: std::snprintf(piece, size, "%d Hz", meta.sample_rate_hz); break;
    case key_bitrate:
        if (meta.bitrate_bps % 1000 == 0 && meta.bitrate_bps != 0)
            std::snprintf(piece, size, "%lld kbps", meta.bitrate_bps / 1000);
        else if (meta.bitrate_bps != 0)
            std::snprintf(piece, size, "%lld.%lld kbps", meta.bitrate_bps / 1000, meta.bitrate_bps % 1000 / 100);
        break;
    case key_acmod: std::snprintf(piece, size, "%s%s", meta.acmod.data(), meta.lfe ? " + LFE" : ""); break;
    case key_lfe:
        if (meta.lfe && (meta.keys & key_acmod) == 0)
            std::snprintf(piece, size, "LFE");
        break;
    case key_channels: std::snprintf(piece, size, "%d channels", meta.channels); break;
    case key_dialnorm: std::snprintf(piece, size, "dialnorm %d dB", meta.dialnorm_db); break;
    case key_bsmod: std::snprintf(piece, size, "bsmod %d", meta.bsmod); break;
    case key_substreams: std::snprintf(piece, size, "%d substreams", meta.substreams); break;
    case key_hd:
        if (meta.hd)
            std::snprintf(piece, size, "extension substream");
        break;
    }
}

} // namespace

// For example "48000 Hz, 448 kbps, 3/2 + LFE, 6 channels, dialnorm -27 dB, bsmod 0".
void metadata_text(const codec_metadata& meta, char* text, std::size_t size)
{
    std::size_t used = 0;
    text[0] = '\0';
    for (const key_row& row : key_rows) {
        std::array<char, 48> piece{};
        if ((meta.keys & row.key) != 0)
            metadata_piece(meta, row.key, piece.data(), piece.size());
        if (piece[0] != '\0' && used < size)
            used += static_cast<std::size_t>(std::snprintf(text + used, size - used, "%s%s", used > 0 ? ", " : "", piece.data()));
    }
}
