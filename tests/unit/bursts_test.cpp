// Burst payloads and the unwrapper, on captures built word by word
// (frames.h): payload bytes in each mode, byte-swapped payloads, MAT frames,
// and the items a capture yields whatever its chunks.
#include "bitstream/bursts.h"
#include "frames.h"

#include <gtest/gtest.h>

#include <array>

namespace {

TEST(Payload, WordsToBytesInEachMode)
{
    struct {
        const char* name;
        int mode;
        std::vector<std::uint32_t> words;
        std::vector<std::uint8_t> bytes;
    } const cases[] = {
        {"16-bit: bits 12-27, high byte first", 0, {0x0ABCD000, 0x01234FFF}, {0xAB, 0xCD, 0x12, 0x34}},
        {"24-bit: bits 4-27", 2, {0x0ABCDEF0, 0x01234560}, {0xAB, 0xCD, 0xEF, 0x12, 0x34, 0x56}},
        {"20-bit: two words make five bytes", 1, {0x0ABCDE00, 0x01234500}, {0xAB, 0xCD, 0xE1, 0x23, 0x45}},
        {"20-bit: an odd word leaves half a byte", 1, {0x0ABCDE00}, {0xAB, 0xCD, 0xE0}},
    };
    for (const auto& c : cases) {
        std::vector<std::uint8_t> capture;
        for (const std::uint32_t w : c.words)
            put_value(capture, w, 0);
        std::vector<std::uint8_t> out(c.words.size() * 3, 0xEE);
        out.resize(unpack_payload(capture.data(), c.words.size(), c.mode, out.data()));
        EXPECT_EQ(out, c.bytes) << c.name;
    }
}

TEST(Payload, SwappedSyncWords)
{
    struct {
        const char* name;
        std::vector<std::uint8_t> start;
        codec_id codec;
        bool swapped;
    } const cases[] = {
        {"AC-3 as sent", {0x0B, 0x77, 0x12, 0x34}, codec_ac3, false},
        {"AC-3 swapped", {0x77, 0x0B, 0x34, 0x12}, codec_ac3, true},
        {"DTS behind a DTS-HD header, swapped", {1, 0, 0, 0, 0, 0, 0, 0, 0xFE, 0xFE, 0x5C, 0x07, 0xFE, 0x7F, 0x01, 0x80}, codec_dts, true},
        {"MPEG as sent", {0xFF, 0xFD, 0xE4, 0x04}, codec_mpeg, false},
        {"MPEG swapped", {0xFD, 0xFF, 0x04, 0xE4}, codec_mpeg, true},
        {"MAT start code swapped", {0x9E, 0x07, 0x03, 0x00}, codec_truehd, true},
        {"no sync at all", {0x00, 0x00, 0x12, 0x34}, codec_ac3, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(payload_swapped(*family_of_codec(c.codec), c.start.data(), c.start.size()), c.swapped) << c.name;
    std::vector<std::uint8_t> odd = {1, 2, 3, 4, 5};
    swap_bytes16(odd.data(), odd.size());
    EXPECT_EQ(odd, (std::vector<std::uint8_t>{2, 1, 4, 3, 5}));
}

TEST(Payload, MatCodesAreTakenOut)
{
    std::vector<std::uint8_t> payload(mat_payload_bytes, 0x55);
    const std::vector<std::uint8_t> start = {0x07, 0x9E, 0x00, 0x03, 0x84, 0x01, 0x01, 0x01, 0x80, 0x00,
                                             0x56, 0xA5, 0x3B, 0xF4, 0x81, 0x83, 0x49, 0x80, 0x77, 0xE0};
    const std::vector<std::uint8_t> middle = {0xC3, 0xC1, 0x42, 0x49, 0x3B, 0xFA, 0x82, 0x83, 0x49, 0x80, 0x77, 0xE0};
    const std::vector<std::uint8_t> end = {0xC3, 0xC2, 0xC0, 0xC4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x97, 0x11};
    std::copy(start.begin(), start.end(), payload.begin());
    std::copy(middle.begin(), middle.end(), payload.begin() + 30708);
    std::copy(end.begin(), end.end(), payload.end() - 16);
    payload[20] = 0xA1;
    payload[30720] = 0xB2;
    payload[61407] = 0xC3;
    std::vector<std::uint8_t> out(mat_payload_bytes);
    ASSERT_EQ(mat_content(payload.data(), payload.size(), out.data()), mat_payload_bytes - 48);
    EXPECT_EQ(out[0], 0xA1);
    EXPECT_EQ(out[30708 - 20], 0xB2) << "the bytes after the middle code follow those before it";
    EXPECT_EQ(out[mat_payload_bytes - 49], 0xC3);
    payload[30708] = 0;
    EXPECT_EQ(mat_content(payload.data(), payload.size(), out.data()), 0U) << "a middle code out of place";
}

TEST(Bursts, LengthUnitsAndPeriods)
{
    struct {
        int type;
        unsigned pc;
        bool bytes;
        long long period;
    } const cases[] = {
        {1, 1, false, 1536},      {21, 21, true, 6144},      {22, 22, true, 15360}, {11, 11, false, 512},
        {13, 13, false, 2048},    {17, 0x0411, true, 8192},  {17, 0x0011, true, 512}, {4, 4, false, 384},
        {5, 5, false, 1152},      {3, 3, false, 0},          {30, 30, false, 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(burst_length_in_bytes(c.type), c.bytes) << c.type;
        EXPECT_EQ(burst_period_frames(c.type, c.pc), c.period) << c.type << " " << c.pc;
    }
}

// An item with its bytes copied, for they last only until the next one.
struct item_copy {
    burst_item item;
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
            items.push_back({item, std::vector<std::uint8_t>(item.data, item.data + item.length)});
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
        EXPECT_EQ(items[0].item.kind, item_burst) << feed;
        EXPECT_EQ(items[0].item.word, 1) << feed;
        EXPECT_EQ(items[1].item.kind, item_frame) << feed;
        EXPECT_EQ(items[1].item.info.codec, codec_ac3) << feed;
        EXPECT_EQ(items[1].bytes, ac3) << feed;
        EXPECT_EQ(items[3].item.word, 3073) << feed;
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
        EXPECT_EQ(items[0].item.kind, item_burst) << c.name;
        EXPECT_EQ(items[0].item.type, static_cast<int>(c.type)) << c.name;
        for (std::size_t k = 0; k < c.frames.size(); ++k) {
            EXPECT_EQ(items[k + 1].item.kind, item_frame) << c.name;
            EXPECT_EQ(items[k + 1].bytes, c.frames[k]) << c.name << ", frame " << k;
            EXPECT_EQ(items[k + 1].item.swapped, c.swapped) << c.name;
            EXPECT_EQ(items[k + 1].item.info.codec, c.codec) << c.name;
        }
    }
}

// The word-by-word search that the analysis runs: each row is a sequence
// of words (values shifted into their mode's place), and the data type, Pc
// and word size it must report at the last word, or -1.
TEST(Bursts, SearchFindsPreamblesInEachMode)
{
    const auto in_mode = [](int mode, std::uint32_t value) {
        return value << burst_modes[static_cast<std::size_t>(mode)].shift;
    };
    struct {
        const char* name;
        std::vector<std::uint32_t> words;
        int type;
        unsigned pc;
        int bits;
    } const cases[] = {
        {"16-bit AC-3", {in_mode(0, 0xF872), in_mode(0, 0x4E1F), in_mode(0, 0x0001), in_mode(0, 0x3000)}, 1, 1, 16},
        {"20-bit AC-3", {in_mode(1, 0x6F872), in_mode(1, 0x54E1F), in_mode(1, 0x00001), in_mode(1, 0x3000)}, 1, 1, 20},
        {"24-bit E-AC-3 with Pc bits above the type", {in_mode(2, 0x96F872), in_mode(2, 0xA54E1F), in_mode(2, 0x000315), in_mode(2, 0x800)}, 21, 0x315, 24},
        {"16-bit Pa, 20-bit Pb: no burst", {in_mode(0, 0xF872), in_mode(1, 0x54E1F), in_mode(1, 0x00001), in_mode(1, 0x3000)}, -1, 0, 0},
        {"Pa twice, then the rest", {in_mode(0, 0xF872), in_mode(0, 0xF872), in_mode(0, 0x4E1F), in_mode(0, 0x0003), in_mode(0, 0x20)}, 3, 3, 16},
        {"a 24-bit Pa after a 16-bit one", {in_mode(0, 0xF872), in_mode(2, 0x96F872), in_mode(2, 0xA54E1F), in_mode(2, 0x0B), in_mode(2, 0x100)}, 11, 0xB, 24},
        {"Pb without Pa", {in_mode(0, 0x4E1F), in_mode(0, 0x0001), in_mode(0, 0x3000), in_mode(0, 0)}, -1, 0, 0},
    };
    for (const auto& c : cases) {
        burst_search search;
        int found = -1;
        for (std::size_t i = 0; i < c.words.size(); ++i) {
            const int type = burst_feed(search, c.words[i] | 0x8U);
            if (i + 1 < c.words.size())
                EXPECT_EQ(type, -1) << c.name << ", word " << i;
            else
                found = type;
        }
        EXPECT_EQ(found, c.type) << c.name;
        if (c.type >= 0) {
            EXPECT_EQ(search.found_pc, c.pc) << c.name;
            EXPECT_EQ(search.found_bits, c.bits) << c.name;
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
        EXPECT_EQ(items[1].item.mode_bits, m.bits);
        EXPECT_EQ(items[1].bytes, ac3) << m.bits;
    }
}

TEST(Unwrap, LengthsPastThePayloadBufferAreCut)
{
    for (const int mode : {1, 2}) {
        const burst_mode& m = burst_modes[static_cast<std::size_t>(mode)];
        std::vector<std::uint8_t> capture;
        for (const std::uint32_t value : {m.pa, m.pb, 1U, (1U << m.bits) - 1})
            put_value(capture, value, m.shift);
        for (std::size_t k = 0; k < 40000; ++k)
            put_value(capture, 0x0ABCDE, m.shift);
        const auto items = unwrap_all(capture, 4096);
        ASSERT_GE(items.size(), 1U) << m.bits;
        EXPECT_EQ(items[0].bytes.size(), max_payload_bytes) << m.bits;
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
        if (item.item.kind == item_frame)
            frames.push_back(item);
    ASSERT_EQ(frames.size(), units.size());
    for (std::size_t k = 0; k < units.size(); ++k) {
        EXPECT_EQ(frames[k].bytes, units[k].second) << "unit " << k;
        EXPECT_EQ(frames[k].item.info.codec, codec_truehd) << "unit " << k;
    }
    EXPECT_EQ(frames[3].item.word, 0) << "a unit begun in the first MAT frame belongs to its burst";
    EXPECT_EQ(frames[4].item.word, 61440 / 2);
}

} // namespace
