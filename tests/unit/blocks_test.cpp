// The block-level primitives against plain word-by-word references, on
// random words and on the channel counts whose lane layouts differ.
#include "blocks.h"
#include "lane_scan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <random>
#include <vector>

namespace {

std::vector<std::uint8_t> to_bytes(const std::vector<std::uint32_t>& words)
{
    std::vector<std::uint8_t> bytes(words.size() * 4);
    for (std::size_t i = 0; i < words.size(); ++i)
        store_le(bytes.data() + 4 * i, words[i]);
    return bytes;
}

// Random words, with some samples zero and some words carrying Pa, code 8 or
// bad parity, as a block of a real capture might.
std::vector<std::uint32_t> random_block(int channels, std::mt19937& rng)
{
    std::vector<std::uint32_t> words(static_cast<std::size_t>(192 * channels));
    for (std::uint32_t& w : words) {
        w = static_cast<std::uint32_t>(rng());
        if (rng() % 7 == 0)
            w &= 0xF000000FU;  // digital silence
        if (rng() % 11 == 0)
            w = 0;  // nothing received
        if (rng() % 50 == 0)
            w = (w & 0xF0000FFFU) | (0xF872U << 12);
    }
    return words;
}

struct lane_memory {
    std::vector<std::uint32_t> any, common;
    std::vector<std::int32_t> sum;
    std::vector<float> squares, peak;
    lane_sums sums{};
    explicit lane_memory(std::size_t lanes)
        : any(lanes), common(lanes), sum(lanes), squares(lanes), peak(lanes)
    {
        sums = {lanes, any.data(), common.data(), sum.data(), squares.data(), peak.data(), 0, false, false, false};
    }
};

TEST(Blocks, LaneSumsAgreeWithWordByWordSums)
{
    std::mt19937 rng(13);  // NOLINT(cert-msc32-c,cert-msc51-cpp): the same words in every run
    for (const int channels : {1, 2, 3, 4, 5, 6, 8, 12}) {
        for (int round = 0; round < 4; ++round) {
            const auto words = random_block(channels, rng);
            auto earlier_words = words;
            if (round % 2 == 1)
                earlier_words[static_cast<std::size_t>(rng() % words.size())] ^= 1U << 30;
            const auto bytes = to_bytes(words);
            const auto earlier = to_bytes(earlier_words);
            const std::size_t lanes = lanes_for(channels);
            ASSERT_EQ(lanes % 4, 0U);
            ASSERT_EQ(lanes % static_cast<std::size_t>(channels), 0U);
            // The scan this machine runs, and the four-word scan every machine has.
            lane_memory m(lanes);
            scan_lanes(bytes.data(), earlier.data(), words.size(), 8, m.sums);
            lane_memory narrow(lanes);
            scan_lanes_by_4(bytes.data(), earlier.data(), words.size(), 8, narrow.sums);

            std::vector<std::uint32_t> any(lanes, 0);
            std::vector<std::uint32_t> common(lanes, ~0U);
            std::vector<std::int64_t> sum(lanes, 0);
            std::vector<double> squares(lanes, 0);
            std::vector<double> peak(lanes, 0);
            std::uint32_t codes = 0;
            bool odd = false;
            bool sync = false;
            for (std::size_t i = 0; i < words.size(); ++i) {
                const std::uint32_t w = words[i];
                const std::size_t q = i % lanes;
                any[q] |= w;
                if (w != 0)
                    common[q] &= w;
                const double s = word_sample(w);
                sum[q] += word_sample(w);
                squares[q] += s * s;
                peak[q] = std::max(peak[q], s * s);
                codes += (w & 0xFU) == 8 ? 1U : 0U;
                odd = odd || std::popcount(w & 0xFFFFFFF0U) % 2 != 0;
                sync = sync || ((w >> 12) & 0xFFFFU) == 0xF872U;
            }
            const std::string at = "channels " + std::to_string(channels) + " round " + std::to_string(round);
            EXPECT_EQ(m.sums.codes, codes) << at;
            EXPECT_EQ(m.sums.odd, odd) << at;
            EXPECT_EQ(m.sums.sync, sync) << at;
            EXPECT_EQ(m.sums.status_differs, round % 2 == 1) << at;
            EXPECT_EQ(narrow.sums.codes, codes) << at;
            EXPECT_EQ(narrow.sums.odd, odd) << at;
            EXPECT_EQ(narrow.sums.status_differs, round % 2 == 1) << at;
            EXPECT_EQ(narrow.any, m.any) << at;
            EXPECT_EQ(narrow.common, m.common) << at;
            EXPECT_EQ(narrow.sum, m.sum) << at;
            for (std::size_t q = 0; q < lanes; ++q) {
                EXPECT_NEAR(narrow.squares[q], squares[q], squares[q] * 1e-5) << at << " lane " << q;
                EXPECT_EQ(narrow.peak[q], m.peak[q]) << at << " lane " << q;
                EXPECT_EQ(m.any[q], any[q]) << at << " lane " << q;
                EXPECT_EQ(m.common[q], common[q]) << at << " lane " << q;
                EXPECT_EQ(m.sum[q], sum[q]) << at << " lane " << q;
                EXPECT_NEAR(m.squares[q], squares[q], squares[q] * 1e-5) << at << " lane " << q;
                EXPECT_NEAR(m.peak[q], peak[q], peak[q] * 1e-6) << at << " lane " << q;
            }
        }
    }
}

// One word of a block of digital silence holds the value; the scan must
// flag a burst's Pa in each mode, anywhere in the block, and nothing else.
TEST(Blocks, SyncWordsOfEachBurstMode)
{
    struct {
        const char* name;
        std::uint32_t word;
        bool sync;
    } const cases[] = {
        {"16-bit Pa in bits 12-27", 0xF872U << 12, true},
        {"20-bit Pa in bits 8-27", 0x6F872U << 8, true},
        {"24-bit Pa in bits 4-27", 0x96F872U << 4, true},
        {"16-bit Pa with its other bits set", (0xF872U << 12) | 0xB0000FFFU, true},
        {"20-bit Pa one bit off", (0x6F873U << 8), false},
        {"24-bit Pa one bit off", (0x96F870U << 4), false},
        {"the 16-bit Pa shifted into the 20-bit position", 0xF872U << 8, false},
        {"a 16-bit Pb", 0x4E1FU << 12, false},
    };
    for (const int channels : {2, 8}) {
        const std::size_t count = std::size_t{192} * static_cast<std::size_t>(channels);
        for (const auto& c : cases) {
            for (const std::size_t at : {std::size_t{0}, std::size_t{100}, count - 1}) {
                std::vector<std::uint32_t> words(count, 0x4U);
                words[at] = c.word;
                const auto bytes = to_bytes(words);
                const std::size_t lanes = lanes_for(channels);
                lane_memory m(lanes);
                scan_lanes(bytes.data(), bytes.data(), words.size(), 8, m.sums);
                lane_memory narrow(lanes);
                scan_lanes_by_4(bytes.data(), bytes.data(), words.size(), 8, narrow.sums);
                EXPECT_EQ(m.sums.sync, c.sync) << c.name << ", word " << at << " of " << channels << " channels";
                EXPECT_EQ(narrow.sums.sync, c.sync) << c.name << ", word " << at << " of " << channels << " channels";
            }
        }
    }
}

TEST(Blocks, OddParityFoundInEveryPosition)
{
    // One bad word anywhere in an otherwise even block must be seen.
    for (const int channels : {1, 2, 6}) {
        const auto count = std::size_t{192} * static_cast<std::size_t>(channels);
        lane_memory m(lanes_for(channels));
        for (std::size_t bad = 0; bad < count; bad += 7) {
            std::vector<std::uint32_t> words(count, 0x00123000U);  // bits 4-31 hold four ones
            words[bad] ^= 1U << 31;
            const auto bytes = to_bytes(words);
            scan_lanes(bytes.data(), bytes.data(), count, 8, m.sums);
            EXPECT_TRUE(m.sums.odd) << channels << " channels, word " << bad;
        }
        const auto even = to_bytes(std::vector<std::uint32_t>(count, 0x00123000U));
        scan_lanes(even.data(), even.data(), count, 8, m.sums);
        EXPECT_FALSE(m.sums.odd) << channels << " channels";
    }
}

TEST(Blocks, StatusGatherMatchesTheExtractionReport)
{
    std::mt19937 rng(7);  // NOLINT(cert-msc32-c,cert-msc51-cpp): the same words in every run
    for (const int channels : {1, 2, 3, 5, 6, 8, 12, 33}) {
        const auto block = to_bytes(random_block(channels, rng));
        std::vector<std::uint32_t> words(static_cast<std::size_t>(6 * channels));
        gather_status_words(block.data(), channels, words.data());
        for (int ch = 0; ch < channels; ++ch) {
            std::array<std::uint8_t, 24> bytes{};
            status_bytes_of(words.data(), channels, ch, bytes.data());
            for (int j = 1; j <= 6; ++j) {
                const std::uint32_t expected = status_word(block.data(), channels, ch + 1, j);
                EXPECT_EQ(words[static_cast<std::size_t>((j - 1) * channels + ch)], expected) << channels << " " << ch << " " << j;
                for (int b = 0; b < 4; ++b)
                    EXPECT_EQ(bytes[static_cast<std::size_t>(4 * (j - 1) + b)], static_cast<std::uint8_t>(expected >> (8 * b)));
            }
        }
    }
}

TEST(Blocks, ValidityMaskAndLaneBitCounts)
{
    std::vector<std::uint32_t> wide(32, 0);
    wide[31] = 0x10000000U;
    struct validity_case {
        const char* name;
        std::vector<std::uint32_t> frame;
        std::uint32_t mask;
    };
    const std::vector<validity_case> cases = {
        {"none set", {0x0FFFFFFFU, 0xEFFFFFFFU}, 0},
        {"channel 2 only", {0x00000000U, 0x10000000U}, 2},
        {"all of three", {0x10000000U, 0x10000000U, 0xF0000000U}, 7},
        {"channel 32 of 32", wide, 0x80000000U},
    };
    for (const auto& c : cases)
        EXPECT_EQ(frame_validity_mask(to_bytes(c.frame).data(), static_cast<int>(c.frame.size())), c.mask) << c.name;
    std::vector<std::uint32_t> words(384, 0);
    for (std::size_t i = 1; i < words.size(); i += 2)  // channel 2 of a stereo block
        words[i] = i % 4 == 1 ? 0x10000000U : 0;
    std::vector<std::uint32_t> counts(4, 0);
    count_lane_bits(to_bytes(words).data(), words.size(), 4, validity_bit_pos, counts.data());
    EXPECT_EQ(counts, (std::vector<std::uint32_t>{0, 96, 0, 0}));
}

TEST(Blocks, RiseFlagsMarkRisingZeroCrossingsPerChannel)
{
    // Two channels: a sample's sign against its own channel's previous one.
    const auto w = [](std::int32_t sample) { return static_cast<std::uint32_t>(sample) << 4; };
    const std::vector<std::uint32_t> words = {w(-5), w(3), w(0), w(-2), w(4), w(-1), w(-3), w(0)};
    const std::vector<std::uint32_t> before = {w(1), w(-1)};
    std::vector<std::uint8_t> flags(words.size());
    rise_flags(to_bytes(words).data(), to_bytes(before).data(), words.size(), 2, flags.data());
    EXPECT_EQ(flags, (std::vector<std::uint8_t>{0, 1, 1, 0, 0, 0, 0, 1}));
}

} // namespace
