// The codec parsers on frames built bit by bit (frames.h): lengths,
// metadata, CRCs, and what is no frame.
#include "frames.h"

#include <gtest/gtest.h>

#include <array>
#include <string>

namespace {

TEST(Crc16, CheckValueOfTheAc3Polynomial)
{
    const std::string digits = "123456789";
    EXPECT_EQ(crc16_8005(reinterpret_cast<const std::uint8_t*>(digits.data()), digits.size()), 0xFEE8);
}

struct ac3_case {
    const char* name;
    unsigned fscod, frmsizecod, bsmod, acmod;
    bool lfe;
    unsigned dialnorm;
    std::size_t length;
    int rate;
    long long bitrate;
    const char* mode;
    int channels;
    int dialnorm_db;
};

TEST(Ac3, HeaderTable)
{
    const ac3_case cases[] = {
        {"48 kHz 192 kbps stereo with dsurmod before lfeon", 0, 20, 0, 2, false, 31, 768, 48000, 192000, "2/0", 2, -31},
        {"3/2 with both mix levels, LFE, dialnorm 27", 0, 30, 3, 7, true, 27, 1792, 48000, 448000, "3/2", 6, -27},
        {"44.1 kHz, odd frmsizecod is one word longer", 1, 1, 1, 1, false, 20, 140, 44100, 32000, "1/0", 1, -20},
        {"44.1 kHz, even frmsizecod", 1, 0, 1, 1, false, 20, 138, 44100, 32000, "1/0", 1, -20},
        {"32 kHz 640 kbps 1+1, dialnorm 0 reads as -31", 2, 36, 7, 0, false, 0, 3840, 32000, 640000, "1+1", 2, -31},
        {"2/1 has a surround mix level only", 0, 8, 2, 4, true, 1, 256, 48000, 64000, "2/1", 4, -1},
    };
    for (const ac3_case& c : cases) {
        const auto frame = ac3_frame(c.fscod, c.frmsizecod, c.bsmod, c.acmod, c.lfe, c.dialnorm, c.length);
        frame_info info;
        ASSERT_EQ(parse_ac3(frame.data(), frame.size(), true, info), static_cast<long>(c.length)) << c.name;
        EXPECT_EQ(info.codec, codec_ac3) << c.name;
        EXPECT_EQ(info.meta.sample_rate_hz, c.rate) << c.name;
        EXPECT_EQ(info.meta.bitrate_bps, c.bitrate) << c.name;
        EXPECT_STREQ(info.meta.acmod.data(), c.mode) << c.name;
        EXPECT_EQ(info.meta.lfe, c.lfe) << c.name;
        EXPECT_EQ(info.meta.channels, c.channels) << c.name;
        EXPECT_EQ(info.meta.dialnorm_db, c.dialnorm_db) << c.name;
        EXPECT_EQ(info.meta.bsmod, static_cast<int>(c.bsmod)) << c.name;
        EXPECT_EQ(frame_crc(frame.data(), info), crc_good) << c.name;
        EXPECT_EQ(info.samples, 1536) << c.name;
    }
}

TEST(Ac3, EachCrcCatchesAFlipInItsPart)
{
    const auto good = ac3_frame(0, 20, 0, 2, false, 31, 768);
    for (const std::size_t at : {std::size_t{3}, std::size_t{200}, std::size_t{479}, std::size_t{480}, std::size_t{767}}) {
        auto frame = good;
        frame[at] ^= 0x10;
        frame_info info;
        ASSERT_EQ(parse_ac3(frame.data(), frame.size(), true, info), 768) << at;
        EXPECT_EQ(frame_crc(frame.data(), info), crc_bad) << "flip at byte " << at;
    }
    frame_info info;
    EXPECT_EQ(parse_ac3(good.data(), 100, false, info), 768) << "a header is enough for the length";
    info.codec = codec_mpeg;
    EXPECT_EQ(frame_crc(good.data(), info), crc_unchecked) << "MPEG audio: no CRC checked";
}

TEST(Ac3, NotAFrame)
{
    const auto good = ac3_frame(0, 20, 0, 2, false, 31, 768);
    struct {
        const char* name;
        std::size_t byte;
        std::uint8_t value;
    } const cases[] = {
        {"sync word", 1, 0x78}, {"reserved rate", 4, 0xD4}, {"frmsizecod past the table", 4, 0x26}, {"bsid 10", 5, 0x50},
    };
    for (const auto& c : cases) {
        auto frame = good;
        frame[c.byte] = c.value;
        frame_info info;
        EXPECT_EQ(parse_ac3(frame.data(), frame.size(), true, info), 0) << c.name;
    }
    frame_info info;
    EXPECT_EQ(parse_ac3(good.data(), 5, false, info), frame_needs_more);
    EXPECT_EQ(parse_ac3(good.data(), 5, true, info), 0);
}

TEST(Eac3, HeaderTable)
{
    struct {
        const char* name;
        eac3_fields fields;
        int rate;
        int samples;
        const char* mode;
        int channels;
        int bsmod;
    } const cases[] = {
        {"independent 2/0 without metadata", {}, 48000, 1536, "2/0", 2, 0},
        {"5.1 with mixing and informational metadata", {0, 0, 256, 0, 3, 7, true, 20, true, true, 5}, 48000, 1536, "3/2", 6, 5},
        {"one block at 44.1 kHz", {0, 0, 128, 1, 0, 1, false, 31, false, true, 2}, 44100, 256, "1/0", 1, 2},
        {"reduced rate: fscod 3, fscod2 gives 24 kHz", {0, 0, 128, 3, 0, 2, false, 31, true, true, 1}, 24000, 1536, "2/0", 2, 1},
        {"dependent substream 2/1 with mixing", {1, 0, 192, 0, 3, 4, false, 31, true, true, 4}, 48000, 1536, "2/1", 3, 4},
        {"1+1 with pan and dialnorm2", {0, 2, 128, 2, 2, 0, false, 9, true, true, 6}, 32000, 768, "1+1", 2, 6},
    };
    for (const auto& c : cases) {
        const auto frame = eac3_frame(c.fields);
        frame_info info;
        ASSERT_EQ(parse_ac3(frame.data(), frame.size(), true, info), static_cast<long>(c.fields.length)) << c.name;
        EXPECT_EQ(info.codec, codec_eac3) << c.name;
        EXPECT_EQ(info.meta.sample_rate_hz, c.rate) << c.name;
        EXPECT_EQ(info.samples, c.samples) << c.name;
        EXPECT_STREQ(info.meta.acmod.data(), c.mode) << c.name;
        EXPECT_EQ(info.meta.channels, c.channels) << c.name;
        EXPECT_EQ(info.meta.bsmod, c.bsmod) << c.name;
        EXPECT_EQ(info.meta.dialnorm_db, -static_cast<int>(c.fields.dialnorm)) << c.name;
        EXPECT_EQ(info.eac3_independent, c.fields.strmtyp != 1) << c.name;
        EXPECT_EQ(info.eac3_substream, static_cast<int>(c.fields.substream)) << c.name;
        EXPECT_EQ(frame_crc(frame.data(), info), crc_good) << c.name;
        EXPECT_EQ(info.meta.keys & key_bitrate, 0U) << c.name;
        auto flipped = frame;
        flipped[flipped.size() / 2] ^= 1;
        parse_ac3(flipped.data(), flipped.size(), true, info);
        EXPECT_EQ(frame_crc(flipped.data(), info), crc_bad) << c.name;
    }
}

// A DTS core header, and an extension substream header of the given size.
std::vector<std::uint8_t> dts_core(unsigned nblks, std::size_t length, unsigned amode, unsigned sfreq, unsigned rate,
                                   unsigned lff)
{
    bit_writer w;
    w.put(0x7FFE8001, 32);
    w.put(1, 1);
    w.put(31, 5);
    w.put(0, 1);
    w.put(nblks, 7);
    w.put(static_cast<unsigned>(length - 1), 14);
    w.put(amode, 6);
    w.put(sfreq, 4);
    w.put(rate, 5);
    w.put(0, 10);
    w.put(lff, 2);
    std::vector<std::uint8_t> frame = w.bytes;
    fill_frame(frame, length);
    return frame;
}

std::vector<std::uint8_t> dts_substream(std::size_t length, bool long_header)
{
    bit_writer w;
    w.put(0x64582025, 32);
    w.put(0, 8);
    w.put(0, 2);
    w.put(long_header ? 1 : 0, 1);
    w.put(15, long_header ? 12 : 8);
    w.put(static_cast<unsigned>(length - 1), long_header ? 20 : 16);
    std::vector<std::uint8_t> frame = w.bytes;
    fill_frame(frame, length);
    return frame;
}

TEST(Dts, CoreAndExtensionTable)
{
    struct {
        const char* name;
        unsigned nblks, amode, sfreq, rate, lff;
        std::size_t core, extension;
        bool long_header, lossless;
        int samples, channels, sample_rate;
        long long bitrate;
    } const cases[] = {
        {"5.1 at 48 kHz, 768 kbps, 512 samples", 15, 9, 13, 15, 1, 1884, 0, false, false, 512, 6, 48000, 768000},
        {"stereo 1411.2 kbps at 44.1 kHz, 1024 samples", 31, 2, 8, 22, 0, 2048, 0, false, false, 1024, 2, 44100, 1411200},
        {"with an extension substream: DTS-HD", 15, 9, 13, 15, 2, 1000, 3000, false, false, 512, 6, 48000, 768000},
        {"long substream header, lossless inside", 15, 2, 13, 24, 0, 1000, 70000, true, true, 512, 2, 48000, 1536000},
        {"lossless core rate: no bit rate", 15, 2, 13, 31, 0, 1000, 0, false, false, 512, 2, 48000, 0},
    };
    for (const auto& c : cases) {
        auto frame = dts_core(c.nblks, c.core, c.amode, c.sfreq, c.rate, c.lff);
        if (c.extension > 0) {
            auto extension = dts_substream(c.extension, c.long_header);
            if (c.lossless) {
                const std::array<std::uint8_t, 4> xll = {0x41, 0xA2, 0x95, 0x47};
                std::copy(xll.begin(), xll.end(), extension.begin() + 64);
            }
            frame.insert(frame.end(), extension.begin(), extension.end());
        }
        frame.resize(frame.size() + 8);  // what follows the frame
        frame_info info;
        ASSERT_EQ(parse_dts(frame.data(), frame.size(), true, info), static_cast<long>(c.core + c.extension)) << c.name;
        EXPECT_EQ(info.samples, c.samples) << c.name;
        EXPECT_EQ(info.meta.channels, c.channels) << c.name;
        EXPECT_EQ(info.meta.lfe, c.lff != 0) << c.name;
        EXPECT_EQ(info.meta.sample_rate_hz, c.sample_rate) << c.name;
        EXPECT_EQ(info.meta.bitrate_bps, c.bitrate) << c.name;
        EXPECT_EQ(info.meta.hd, c.extension > 0) << c.name;
        EXPECT_EQ(info.lossless, c.lossless) << c.name;
        EXPECT_STREQ(frame_codec_name(info), c.extension > 0 ? "DTS-HD" : "DTS") << c.name;
        frame_info partial;
        EXPECT_EQ(parse_dts(frame.data(), c.core + 4, false, partial), frame_needs_more) << c.name;
    }
    frame_info info;
    const auto alone = dts_substream(500, false);
    EXPECT_EQ(parse_dts(alone.data(), alone.size(), true, info), 500) << "a substream without a core";
    EXPECT_FALSE(info.has_metadata);
    for (const auto& bad : {dts_core(4, 1000, 2, 13, 15, 0), dts_core(15, 95, 2, 13, 15, 0), dts_core(15, 1000, 2, 4, 15, 0),
                            dts_core(15, 1000, 2, 13, 15, 3)})
        EXPECT_EQ(parse_dts(bad.data(), bad.size(), true, info), 0) << "too few blocks, too short, a bad rate or LFE code";
}

// A TrueHD unit: header with its check nibble, an optional major sync, one
// substream directory entry, then data.
std::vector<std::uint8_t> truehd_unit(std::size_t length, bool major, unsigned rate_code, unsigned six, unsigned eight,
                                      unsigned substreams)
{
    bit_writer w;
    w.put(0, 4);
    w.put(static_cast<unsigned>(length / 2), 12);
    w.put(0x1234, 16);
    if (major) {
        w.put(0xF8726FBA, 32);
        w.put(rate_code << 28 | six << 15 | eight, 32);
        w.put(0xB752, 16);
        w.put(0, 32);
        w.put(0x8000, 16);
        w.put(substreams << 4, 8);
        for (int i = 0; i < 11; ++i)
            w.put(0, 8);
    }
    for (unsigned s = 0; s < substreams; ++s)
        w.put(0x1000 + s, 16);
    std::vector<std::uint8_t> unit = w.bytes;
    unsigned x = 0;
    const std::size_t directory = major ? 32 : 4;
    for (std::size_t i = 0; i < 4; ++i)
        x ^= static_cast<unsigned>(unit[i] >> 4) ^ (unit[i] & 0xFU);
    for (std::size_t i = directory; i < directory + std::size_t{2} * substreams; ++i)
        x ^= static_cast<unsigned>(unit[i] >> 4) ^ (unit[i] & 0xFU);
    unit[0] = static_cast<std::uint8_t>(unit[0] | ((x ^ 0xFU) << 4));
    fill_frame(unit, length);
    return unit;
}

TEST(TrueHd, MajorSyncThenUnits)
{
    struct {
        const char* name;
        unsigned rate_code, six, eight, substreams;
        int rate, channels, samples;
    } const cases[] = {
        {"48 kHz stereo", 0, 1, 1, 1, 48000, 2, 40},
        {"96 kHz 5.1 from the 8-channel assignment", 1, 0x0F, 0x0F, 2, 96000, 6, 80},
        {"192 kHz 7.1: L/R, C, LFE, Ls/Rs, Lb/Rb", 2, 0x0F, 0x4F, 3, 192000, 8, 160},
        {"44.1 kHz, only the 6-channel assignment", 8, 0x0B, 0, 1, 44100, 5, 40},
    };
    for (const auto& c : cases) {
        const auto first = truehd_unit(96, true, c.rate_code, c.six, c.eight, c.substreams);
        frame_info info;
        ASSERT_EQ(parse_truehd(first.data(), first.size(), true, info), 96) << c.name;
        EXPECT_TRUE(info.major_sync && info.has_metadata) << c.name;
        EXPECT_EQ(info.meta.sample_rate_hz, c.rate) << c.name;
        EXPECT_EQ(info.meta.channels, c.channels) << c.name;
        EXPECT_EQ(info.samples, c.samples) << c.name;
        EXPECT_EQ(info.truehd_substreams, static_cast<int>(c.substreams)) << c.name;
        auto next = truehd_unit(40, false, 0, 0, 0, c.substreams);
        EXPECT_EQ(parse_truehd(next.data(), next.size(), true, info), 40) << c.name;
        EXPECT_FALSE(info.has_metadata) << c.name;
        EXPECT_EQ(info.meta.sample_rate_hz, c.rate) << "the last major sync's metadata stays: " << c.name;
        next[4] ^= 0x01;
        EXPECT_EQ(parse_truehd(next.data(), next.size(), true, info), 0) << "a wrong check nibble: " << c.name;
        frame_info fresh;
        next[4] ^= 0x01;
        EXPECT_EQ(parse_truehd(next.data(), next.size(), true, fresh), 0) << "no major sync seen yet: " << c.name;
    }
    auto bad = truehd_unit(96, true, 3, 1, 1, 1);
    frame_info info;
    EXPECT_EQ(parse_truehd(bad.data(), bad.size(), true, info), 0) << "a reserved rate";
}

TEST(Mpeg, HeaderTable)
{
    struct {
        const char* name;
        std::array<std::uint8_t, 4> header;
        long length;
        int layer, rate, channels, samples;
        long long bitrate;
        const char* codec;
    } const cases[] = {
        {"MPEG-1 layer 2, 48 kHz, 384 kbps", {0xFF, 0xFD, 0xE4, 0x04}, 1152, 2, 48000, 2, 1152, 384000, "MPEG-1 layer 2"},
        {"MPEG-1 layer 1, 44.1 kHz, 32 kbps, padded", {0xFF, 0xFF, 0x12, 0xC0}, 36, 1, 44100, 1, 384, 32000, "MPEG-1 layer 1"},
        {"MPEG-1 layer 3, 44.1 kHz, 128 kbps, padded", {0xFF, 0xFB, 0x92, 0x00}, 418, 3, 44100, 2, 1152, 128000, "MPEG-1 layer 3"},
        {"MPEG-2 layer 3, 22.05 kHz, 64 kbps", {0xFF, 0xF3, 0x80, 0xC0}, 208, 3, 22050, 1, 576, 64000, "MPEG-2 layer 3"},
        {"MPEG-2.5 layer 3, 8 kHz, 8 kbps", {0xFF, 0xE3, 0x18, 0x00}, 72, 3, 8000, 2, 576, 8000, "MPEG-2.5 layer 3"},
    };
    for (const auto& c : cases) {
        frame_info info;
        ASSERT_EQ(parse_mpeg(c.header.data(), c.header.size(), true, info), c.length) << c.name;
        EXPECT_EQ(info.meta.layer, c.layer) << c.name;
        EXPECT_EQ(info.meta.sample_rate_hz, c.rate) << c.name;
        EXPECT_EQ(info.meta.channels, c.channels) << c.name;
        EXPECT_EQ(info.samples, c.samples) << c.name;
        EXPECT_EQ(info.meta.bitrate_bps, c.bitrate) << c.name;
        EXPECT_STREQ(frame_codec_name(info), c.codec) << c.name;
    }
    for (const std::array<std::uint8_t, 4> bad : {std::array<std::uint8_t, 4>{0xFF, 0xFD, 0x04, 0x04},  // free format
                                                  {0xFF, 0xED, 0xE4, 0x04},                          // reserved version
                                                  {0xFF, 0xF9, 0xE4, 0x04},                          // reserved layer
                                                  {0xFF, 0xFD, 0xF4, 0x04},                          // bit rate 15
                                                  {0xFF, 0xFD, 0xEC, 0x04},                          // reserved rate
                                                  {0xFF, 0xFD, 0xE4, 0x06}}) {                       // reserved emphasis
        frame_info info;
        EXPECT_EQ(parse_mpeg(bad.data(), bad.size(), true, info), 0) << int{bad[1]} << " " << int{bad[2]};
    }
}

} // namespace
