// The unwrapper on built captures; the helpers the analysis uses (codec
// statistics, timeline, link rates); and the comparison's frame ring,
// reference recognition and problem record.
#include "compare/passthrough.h"
#include "frames.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct item_copy {
    burst_item_kind kind;
    long long word;
    int type;
    int mode_bits;
    bool swapped;
    codec_id codec;
    std::vector<std::uint8_t> bytes;
};

std::vector<item_copy> unwrap_all(const std::vector<std::uint8_t>& capture, std::size_t feed_words)
{
    burst_unwrapper u;
    EXPECT_TRUE(unwrapper_init(u));
    std::vector<item_copy> items;
    const std::size_t words = capture.size() / 4;
    for (std::size_t at = 0; at < words; at += feed_words) {
        unwrap_feed(u, capture.data() + at * 4, std::min(feed_words, words - at));
        burst_item item;
        while (unwrap_next(u, item))
            items.push_back({item.kind, item.word, item.type, item.mode_bits, item.swapped, item.info.codec,
                             std::vector<std::uint8_t>(item.data, item.data + item.length)});
    }
    return items;
}

const std::vector<std::uint8_t> ac3 = ac3_frame(0, 8, 0, 2, false, 31, 256);

TEST(Unwrap, BurstsAndTheirFramesWhateverTheChunks)
{
    std::vector<std::uint8_t> capture;
    put_value(capture, 0x1234);  // a word before the first burst
    put_burst(capture, 1, ac3, false, 3072);
    put_burst(capture, 1, ac3, false, 3072);
    for (const std::size_t feed : {std::size_t{1}, std::size_t{3}, std::size_t{1000}, std::size_t{100000}}) {
        const auto items = unwrap_all(capture, feed);
        ASSERT_EQ(items.size(), 4U) << feed;
        EXPECT_EQ(items[0].kind, item_burst) << feed;
        EXPECT_EQ(items[0].word, 1) << feed;
        EXPECT_EQ(items[1].kind, item_frame) << feed;
        EXPECT_EQ(items[1].codec, codec_ac3) << feed;
        EXPECT_EQ(items[1].bytes, ac3) << feed;
        EXPECT_EQ(items[3].word, 3073) << feed;
        EXPECT_EQ(items[3].bytes, ac3) << feed;
    }
}

TEST(Unwrap, TableOfBursts)
{
    auto swapped = ac3;
    swap_bytes16(swapped.data(), swapped.size());
    const auto eac3_a = eac3_frame({});
    eac3_fields dependent;
    dependent.strmtyp = 1;
    const auto eac3_b = eac3_frame(dependent);
    auto two = eac3_a;
    two.insert(two.end(), eac3_b.begin(), eac3_b.end());
    auto padded = ac3;
    padded.resize(ac3.size() + 64, 0);
    std::vector<std::uint8_t> dts_hd = {0, 1, 0, 0, 0, 0, 0, 0, 0xFE, 0xFE, 0, 0};
    std::vector<std::uint8_t> core = {0x7F, 0xFE, 0x80, 0x01, 0xFC, 0x3C, 0x75, 0xB0, 0xB6, 0xC0, 0x01, 0x38, 0, 3, 0xEF, 0x7F};
    fill_frame(core, 1884);
    dts_hd.insert(dts_hd.end(), core.begin(), core.end());
    // bytes: Pd counts bytes; swapped: the frames arrived byte-swapped.
    struct {
        const char* name;
        std::vector<std::uint8_t> payload;
        std::vector<std::vector<std::uint8_t>> frames;
        unsigned type;
        codec_id codec;
        bool bytes;
        bool swapped;
    } const cases[] = {
        {"AC-3", ac3, {ac3}, 1, codec_ac3, false, false},
        {"AC-3 with its 16-bit words byte-swapped", swapped, {ac3}, 1, codec_ac3, false, true},
        {"E-AC-3: two syncframes in one burst", two, {eac3_a, eac3_b}, 21, codec_eac3, true, false},
        {"zeros after the last frame are no frame", padded, {ac3}, 1, codec_ac3, false, false},
        {"DTS-HD: its header is not part of the frame", dts_hd, {core}, 17, codec_dts, true, false},
        {"a pause carries no frame", {0, 0, 0, 0}, {}, 3, codec_none, false, false},
        {"an unknown type is one frame of its payload", {1, 2, 3, 4}, {{1, 2, 3, 4}}, 30, codec_none, false, false},
        {"a payload no parser knows", {9, 9, 9, 9}, {{9, 9, 9, 9}}, 1, codec_none, false, false},
    };
    for (const auto& c : cases) {
        std::vector<std::uint8_t> capture;
        put_burst(capture, c.type, c.payload, c.bytes, 8192);
        const auto items = unwrap_all(capture, 4096);
        ASSERT_EQ(items.size(), 1 + c.frames.size()) << c.name;
        EXPECT_EQ(items[0].kind, item_burst) << c.name;
        EXPECT_EQ(items[0].type, static_cast<int>(c.type)) << c.name;
        for (std::size_t k = 0; k < c.frames.size(); ++k) {
            EXPECT_EQ(items[k + 1].kind, item_frame) << c.name;
            EXPECT_EQ(items[k + 1].bytes, c.frames[k]) << c.name << ", frame " << k;
            EXPECT_EQ(items[k + 1].swapped, c.swapped) << c.name;
            EXPECT_EQ(items[k + 1].codec, c.codec) << c.name;
        }
    }
}

TEST(Unwrap, TwentyAndTwentyFourBitModes)
{
    for (const int mode : {1, 2}) {
        const burst_mode& m = burst_modes[static_cast<std::size_t>(mode)];
        std::vector<std::uint8_t> capture;
        put_value(capture, m.pa, m.shift);
        put_value(capture, m.pb, m.shift);
        put_value(capture, 1, m.shift);
        put_value(capture, static_cast<std::uint32_t>(ac3.size() * 8), m.shift);
        // The payload's bits, most significant first, in words of the mode's size.
        std::size_t bit = 0;
        while (bit < ac3.size() * 8) {
            std::uint32_t value = 0;
            for (int k = 0; k < m.bits; ++k, ++bit)
                value = value << 1 | (bit < ac3.size() * 8 ? (ac3[bit / 8] >> (7 - bit % 8)) & 1U : 0U);
            put_value(capture, value, m.shift);
        }
        put_value(capture, 0, m.shift);
        const auto items = unwrap_all(capture, 7);
        ASSERT_EQ(items.size(), 2U) << m.bits;
        EXPECT_EQ(items[1].mode_bits, m.bits);
        EXPECT_EQ(items[1].bytes, ac3) << m.bits;
    }
}

TEST(Unwrap, AnUnfinishedLastBurstIsDropped)
{
    std::vector<std::uint8_t> capture;
    put_burst(capture, 1, ac3, false, 3072);
    put_burst(capture, 1, ac3, false, 3072);
    capture.resize(capture.size() - std::size_t{3072} * 4 + std::size_t{40} * 4);
    const auto items = unwrap_all(capture, 100);
    EXPECT_EQ(items.size(), 2U);
}

// TrueHD units in MAT frames: codes taken out, zeros skipped, a unit split by
// the middle code or by the end of its MAT frame joined again.
TEST(Unwrap, TrueHdUnitsAcrossCodesAndFrames)
{
    const auto major = [] {
        bit_writer w;
        w.put(0, 4);
        w.put(48, 12);
        w.put(0, 16);
        w.put(0xF8726FBA, 32);
        w.put(1U << 15 | 1U, 32);
        w.put(0xB752, 16);
        w.put(0, 48);
        w.put(0x10, 8);
        w.put(0, 88);
        std::vector<std::uint8_t> unit = w.bytes;
        fill_frame(unit, 96);
        return unit;
    }();
    // A unit after the major sync: its check nibble over header and one directory entry.
    const auto minor = [](std::uint8_t tag) {
        std::vector<std::uint8_t> unit = {0x00, 20, tag, 0x00, 0x10, 0x00};
        unsigned x = 0;
        for (const std::uint8_t b : unit)
            x ^= static_cast<unsigned>(b >> 4) ^ (b & 0xFU);
        unit[0] = static_cast<std::uint8_t>((x ^ 0xFU) << 4);
        fill_frame(unit, 40);
        return unit;
    };
    const std::vector<std::uint8_t> start = {0x07, 0x9E, 0x00, 0x03, 0x84, 0x01, 0x01, 0x01, 0x80, 0x00,
                                             0x56, 0xA5, 0x3B, 0xF4, 0x81, 0x83, 0x49, 0x80, 0x77, 0xE0};
    const std::vector<std::uint8_t> middle = {0xC3, 0xC1, 0x42, 0x49, 0x3B, 0xFA, 0x82, 0x83, 0x49, 0x80, 0x77, 0xE0};
    const std::vector<std::uint8_t> end = {0xC3, 0xC2, 0xC0, 0xC4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x97, 0x11};
    // The TrueHD bytes of two MAT frames, then split at the codes.
    std::vector<std::uint8_t> content(2 * (mat_payload_bytes - 48), 0);
    const std::size_t half = 30708 - 20;
    const std::size_t frame_bytes = mat_payload_bytes - 48;
    const std::vector<std::pair<std::size_t, std::vector<std::uint8_t>>> units = {
        {0, major}, {96, minor(1)}, {half - 10, minor(2)}, {frame_bytes - 6, minor(3)}, {frame_bytes + 200, minor(4)}};
    for (const auto& [at, unit] : units)
        std::copy(unit.begin(), unit.end(), content.begin() + static_cast<long>(at));
    std::vector<std::uint8_t> capture;
    for (int f = 0; f < 2; ++f) {
        const auto part = content.begin() + static_cast<long>(f) * static_cast<long>(frame_bytes);
        std::vector<std::uint8_t> payload = start;
        payload.insert(payload.end(), part, part + static_cast<long>(half));
        payload.insert(payload.end(), middle.begin(), middle.end());
        payload.insert(payload.end(), part + static_cast<long>(half), part + static_cast<long>(frame_bytes));
        payload.insert(payload.end(), end.begin(), end.end());
        put_burst(capture, 22, payload, true, 61440 / 2);
    }
    const auto items = unwrap_all(capture, 5000);
    std::vector<item_copy> frames;
    for (const auto& item : items)
        if (item.kind == item_frame)
            frames.push_back(item);
    ASSERT_EQ(frames.size(), units.size());
    for (std::size_t k = 0; k < units.size(); ++k) {
        EXPECT_EQ(frames[k].bytes, units[k].second) << "unit " << k;
        EXPECT_EQ(frames[k].codec, codec_truehd) << "unit " << k;
    }
    EXPECT_EQ(frames[3].word, 0) << "a unit begun in the first MAT frame belongs to its burst";
    EXPECT_EQ(frames[4].word, 61440 / 2);
}

TEST(CodecStats, MetadataChangesCrcsAndSubstreams)
{
    const auto info_of = [](const std::vector<std::uint8_t>& frame) {
        frame_info info;
        parse_ac3(frame.data(), frame.size(), true, info);
        info.crc = frame_crc(frame.data(), info);
        return info;
    };
    codec_stats ac3_stats;
    auto bad = ac3;
    bad[100] ^= 1;
    for (const auto& frame : {ac3, bad, ac3_frame(0, 8, 0, 2, false, 20, 256), ac3})
        codec_stats_add(ac3_stats, info_of(frame));
    codec_stats_finish(ac3_stats);
    EXPECT_EQ(ac3_stats.frames, 4);
    EXPECT_EQ(ac3_stats.crc_errors, 1);
    EXPECT_EQ(ac3_stats.first_crc_error, 1);
    EXPECT_EQ(ac3_stats.metadata_changes, 2) << "dialnorm -31 to -20 and back";
    EXPECT_STREQ(ac3_stats.name, "AC-3");

    eac3_fields dependent;
    dependent.strmtyp = 1;
    dependent.acmod = 7;
    codec_stats eac3_stats;
    for (const auto& frame : {eac3_frame({}), eac3_frame(dependent), eac3_frame({}), eac3_frame(dependent)})
        codec_stats_add(eac3_stats, info_of(frame));
    codec_stats_finish(eac3_stats);
    EXPECT_EQ(eac3_stats.metadata.substreams, 2);
    EXPECT_EQ(eac3_stats.metadata_changes, 0) << "dependent substreams describe themselves";
    EXPECT_STREQ(eac3_stats.metadata.acmod.data(), "2/0");

    frame_info truehd;
    truehd.codec = codec_truehd;
    codec_stats truehd_stats;
    for (const int rate : {48000, 0, 48000, 96000}) {
        truehd.has_metadata = rate != 0;
        truehd.meta.sample_rate_hz = rate != 0 ? rate : truehd.meta.sample_rate_hz;
        codec_stats_add(truehd_stats, truehd);
    }
    EXPECT_EQ(truehd_stats.frames, 4);
    EXPECT_EQ(truehd_stats.metadata_changes, 1) << "only major syncs are compared";
}

TEST(Timeline, ContentGapsAndPauses)
{
    struct event {
        char what;  // b: burst of the type, p: PCM, e: the end
        long long frame;
        int type;
    };
    struct {
        const char* name;
        std::vector<event> events;
        std::string contents;  // the entries, "frame:name" joined by blanks
        std::vector<std::pair<long long, long long>> gaps;
        long long pauses;
    } const cases[] = {
        {"steady AC-3", {{'b', 0, 1}, {'b', 1536, 1}, {'b', 3072, 1}, {'e', 4608, 0}}, "0:AC-3", {}, 0},
        {"a burst missing: a gap, silence where it was due", {{'b', 0, 1}, {'b', 1536, 1}, {'b', 4608, 1}},
         "0:AC-3 3072:silence 4608:AC-3", {{3072, 1536}}, 0},
        {"a pause burst fills the gap", {{'b', 0, 1}, {'b', 1536, 3}, {'b', 4608, 1}}, "0:AC-3 1536:pause 4608:AC-3", {}, 1},
        {"PCM between bursts is no gap", {{'b', 0, 21}, {'p', 9000, 0}, {'b', 30000, 21}}, "0:E-AC-3 9000:PCM 30000:E-AC-3", {}, 0},
        {"a switch of type", {{'p', 0, 0}, {'b', 100, 1}, {'b', 1636, 11}}, "0:PCM 100:AC-3 1636:DTS-I", {}, 0},
        {"the stream stops before the capture ends", {{'b', 0, 1}, {'e', 5000, 0}}, "0:AC-3 1536:silence", {}, 0},
        {"the capture ends within a period", {{'b', 0, 1}, {'e', 1000, 0}}, "0:AC-3", {}, 0},
    };
    for (const auto& c : cases) {
        timeline t;
        for (const event& e : c.events) {
            if (e.what == 'b')
                timeline_burst(t, e.frame, e.type, static_cast<unsigned>(e.type));
            else if (e.what == 'p')
                timeline_pcm(t, e.frame);
            else
                timeline_end(t, e.frame);
        }
        std::string contents;
        for (long long k = 0; k < t.entry_count; ++k) {
            std::array<char, 16> text{};
            const timeline_entry& entry = t.entries[static_cast<std::size_t>(k)];
            if (k > 0)
                contents.append(" ");
            contents.append(std::to_string(entry.frame));
            contents.append(":");
            contents.append(content_name(entry, text.data(), text.size()));
        }
        EXPECT_EQ(contents, c.contents) << c.name;
        ASSERT_EQ(t.gap_count, static_cast<long long>(c.gaps.size())) << c.name;
        for (std::size_t k = 0; k < c.gaps.size(); ++k) {
            EXPECT_EQ(t.gaps[k].frame, c.gaps[k].first) << c.name;
            EXPECT_EQ(t.gaps[k].length, c.gaps[k].second) << c.name;
        }
        EXPECT_EQ(t.pauses, c.pauses) << c.name;
    }
    timeline many;
    for (int k = 0; k < 25; ++k) {
        timeline_pcm(many, 10000LL * k);
        timeline_burst(many, 10000LL * k + 5000, 1, 1);
    }
    EXPECT_EQ(many.entry_count, 50) << "every switch is counted, the first 20 are kept";
    EXPECT_EQ(many.entries[19].frame, 95000);
    EXPECT_DOUBLE_EQ(frames_to_ms(1536, 48000), 32.0);
}

TEST(LinkRate, WhatEachStreamNeeds)
{
    struct {
        const char* name;
        int status;
        int type;
        codec_id codec;
        int rate;
        bool lossless;
        const char* finding;  // empty when the rates agree or cannot be told
    } const cases[] = {
        {"E-AC-3 at 48 kHz over a 48 kHz link", 48000, 21, codec_eac3, 48000, false, "channel status says 48 kHz, but E-AC-3 at 48 kHz needs 192 kHz"},
        {"E-AC-3 at 48 kHz over 192 kHz", 192000, 21, codec_eac3, 48000, false, ""},
        {"AC-3 at 44.1 kHz over 48 kHz", 48000, 1, codec_ac3, 44100, false, "channel status says 48 kHz, but AC-3 at 44.1 kHz needs 44.1 kHz"},
        {"AC-3 at its rate", 48000, 1, codec_ac3, 48000, false, ""},
        {"TrueHD over 48 kHz", 48000, 22, codec_truehd, 48000, false, "channel status says 48 kHz, but TrueHD at 48 kHz needs 192 kHz"},
        {"TrueHD over HDMI's high bit rate link, stated as 768 kHz", 768000, 22, codec_truehd, 48000, false, ""},
        {"TrueHD at 44.1 kHz needs 176.4 kHz", 192000, 22, codec_truehd, 44100, false, "channel status says 192 kHz, but TrueHD at 44.1 kHz needs 176.4 kHz"},
        {"lossless DTS-HD over 48 kHz", 48000, 17, codec_dts, 48000, true, "channel status says 48 kHz, but DTS-HD at 48 kHz needs 192 kHz"},
        {"DTS-HD without a lossless part: not told", 48000, 17, codec_dts, 48000, false, ""},
        {"DTS core at its rate", 48000, 11, codec_dts, 48000, false, ""},
        {"no rate in the status", 0, 21, codec_eac3, 48000, false, ""},
    };
    for (const auto& c : cases) {
        frame_info info;
        info.codec = c.codec;
        info.meta.sample_rate_hz = c.rate;
        info.meta.hd = c.type == 17;
        info.lossless = c.lossless;
        std::array<char, 120> text{};
        EXPECT_EQ(rate_mismatch(c.status, c.type, info, text.data(), text.size()), *c.finding != '\0') << c.name;
        EXPECT_STREQ(text.data(), c.finding) << c.name;
    }
}

TEST(FrameRing, HoldsLookaheadAfterWrappingEarly)
{
    frame_ring ring;
    ASSERT_TRUE(ring_init(ring, std::size_t{64} * 1024, 1024));
    const auto frame_bytes = [](long long n) {
        std::vector<std::uint8_t> bytes(1000 + static_cast<std::size_t>(n % 7) * 100);
        for (std::size_t i = 0; i < bytes.size(); ++i)
            bytes[i] = static_cast<std::uint8_t>(n * 31 + static_cast<long long>(i));
        return bytes;
    };
    // Steady: the frames of the last 8 kept; then 40 more held at once.
    for (long long n = 0; n < 200; ++n) {
        while (ring.first < n - 8)
            ring_drop(ring);
        const auto bytes = frame_bytes(n);
        ASSERT_TRUE(ring_push(ring, bytes.data(), bytes.size(), n, false)) << n;
    }
    long long n = 200;
    for (; n < 260; ++n) {
        const auto bytes = frame_bytes(n);
        if (!ring_push(ring, bytes.data(), bytes.size(), n, false))
            break;
    }
    EXPECT_GE(n - ring.first, 50) << "space freed by the early wrap is used again";
    for (long long k = ring.first; k < ring.end; ++k) {
        const auto bytes = frame_bytes(k);
        ASSERT_EQ(ring_at(ring, k).length, bytes.size()) << k;
        EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), ring_data(ring, k))) << "frame " << k << " kept whole";
        EXPECT_EQ(ring_at(ring, k).capture_frame, k);
    }
    ring_drop(ring);
    const auto bytes = frame_bytes(n);
    EXPECT_TRUE(ring_push(ring, bytes.data(), bytes.size(), n, false)) << "room again after a drop";
}

TEST(Recognise, ByContent)
{
    const auto riff = [](const std::vector<std::uint8_t>& data) {
        std::vector<std::uint8_t> file = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E'};
        file.resize(44, 0);
        file.insert(file.end(), data.begin(), data.end());
        return file;
    };
    std::vector<std::uint8_t> burst = {0x72, 0xF8, 0x1F, 0x4E, 0x01, 0x00, 0x00, 0x08};  // AC-3, in 16-bit little-endian words
    std::vector<std::uint8_t> sine;
    sine.reserve(4000);
    for (int i = 0; i < 4000; ++i)
        sine.push_back(static_cast<std::uint8_t>(i * i));
    auto frames = ac3;
    frames.insert(frames.end(), ac3.begin(), ac3.end());
    std::vector<std::uint8_t> junk = {'j', 'u', 'n', 'k'};
    junk.insert(junk.end(), frames.begin(), frames.end());
    std::vector<std::uint8_t> lonely = ac3;
    lonely.insert(lonely.end(), 300, 0x11);
    std::vector<std::uint8_t> id3 = {'I', 'D', '3', 4, 0, 0, 0, 0, 1, 0};  // 128 bytes of tag
    id3.resize(id3.size() + 128, 0xFF);
    std::vector<std::uint8_t> mp2(1152, 0);
    mp2[0] = 0xFF, mp2[1] = 0xFD, mp2[2] = 0xE4, mp2[3] = 0x04;
    id3.insert(id3.end(), mp2.begin(), mp2.end());
    id3.insert(id3.end(), mp2.begin(), mp2.end());
    auto raw = sine;
    raw.insert(raw.begin() + 100, burst.begin(), burst.end());
    const auto e = eac3_frame({});
    auto eac3 = e;
    eac3.insert(eac3.end(), e.begin(), e.end());
    const std::string text = "this is not audio at all";
    struct {
        const char* name;
        std::vector<std::uint8_t> file;
        stream_kind kind;
        codec_id codec;
        std::size_t offset;
    } const cases[] = {
        {"a PCM WAV file", riff(sine), stream_pcm_wav, codec_none, 0},
        {"IEC 61937 in a WAV file", riff(raw), stream_iec61937, codec_ac3, 0},
        {"raw IEC 61937 after a while", raw, stream_iec61937, codec_ac3, 0},
        {"AC-3 frames", frames, stream_elementary, codec_ac3, 0},
        {"E-AC-3 frames", eac3, stream_elementary, codec_eac3, 0},
        {"bytes before the frames", junk, stream_elementary, codec_ac3, 4},
        {"a frame the next bytes do not confirm", lonely, stream_unknown, codec_none, 0},
        {"one frame and the end of the file", ac3, stream_elementary, codec_ac3, 0},
        {"MPEG audio behind an ID3 tag", id3, stream_elementary, codec_mpeg, 138},
        {"text", std::vector<std::uint8_t>(text.begin(), text.end()), stream_unknown, codec_none, 0},
    };
    for (const auto& c : cases) {
        codec_id codec = codec_none;
        std::size_t offset = 0;
        EXPECT_EQ(recognise_stream(c.file.data(), c.file.size(), true, codec, offset), c.kind) << c.name;
        EXPECT_EQ(codec, c.codec) << c.name;
        EXPECT_EQ(offset, c.offset) << c.name;
    }
}

TEST(Problems, TheEarliestInTheCaptureComesFirst)
{
    passthrough facts;
    facts.aligned = true;
    EXPECT_TRUE(passthrough_exact(facts));
    note_problem(facts, problem_corrupted, 1, 5, 500, 12);
    EXPECT_EQ(facts.first_kind, problem_corrupted);
    note_problem(facts, problem_extra, 1, 3, 100);
    note_problem(facts, problem_missing, 2, 3, 100);
    EXPECT_EQ(facts.first_kind, problem_missing) << "at one frame, missing is listed before extra";
    note_problem(facts, problem_corrupted, 3, 9, 700, 40);
    EXPECT_EQ(facts.problems[problem_corrupted].count, 4);
    EXPECT_EQ(facts.problems[problem_corrupted].capture_frame, 500) << "the earliest of a kind is kept";
    EXPECT_EQ(facts.problems[problem_corrupted].byte, 12);
    note_problem(facts, problem_corrupted, 1, 1, 50, 0);
    EXPECT_EQ(facts.first_kind, problem_corrupted);
    EXPECT_EQ(facts.problems[problem_corrupted].byte, 0);
    EXPECT_FALSE(passthrough_exact(facts));
    note_problem(facts, problem_missing_after, 7, 90, 9000);
    EXPECT_EQ(missing_total(facts), 9);
}

} // namespace
