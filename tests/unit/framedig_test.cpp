#include "analyze/analysis.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

std::vector<std::uint8_t> words_to_bytes(const std::vector<std::uint32_t>& words)
{
    std::vector<std::uint8_t> bytes;
    for (const std::uint32_t w : words)
        for (int i = 0; i < 4; ++i)
            bytes.push_back(static_cast<std::uint8_t>(w >> (8 * i)));
    return bytes;
}

struct pcm_case {
    const char* name;
    int bits;
    std::uint32_t word;
    std::vector<std::uint8_t> expected;
};

TEST(PcmConvert, SampleTable)
{
    const std::vector<pcm_case> cases = {
        {"24-bit most negative is sign-extended", 24, 0x08000000, {0x00, 0x00, 0x80, 0xFF}},
        {"24-bit most positive stays positive", 24, 0x07FFFFF0, {0xFF, 0xFF, 0x7F, 0x00}},
        {"24-bit takes the aux nibble as low bits", 24, 0x00000010, {0x01, 0x00, 0x00, 0x00}},
        {"24-bit ignores preamble", 24, 0x0000000F, {0x00, 0x00, 0x00, 0x00}},
        {"20-bit all ones is -1", 20, 0x0FFFFF00, {0xFF, 0xFF, 0xFF, 0xFF}},
        {"20-bit most negative stays at 20-bit scale", 20, 0x08000000, {0x00, 0x00, 0xF8, 0xFF}},
        {"20-bit ignores the aux nibble", 20, 0x000000F0, {0x00, 0x00, 0x00, 0x00}},
        {"20-bit ignores V, U, C and P", 20, 0xF0000000, {0x00, 0x00, 0x00, 0x00}},
        {"24-bit ignores V, U, C and P", 24, 0xF0000000, {0x00, 0x00, 0x00, 0x00}},
        {"16-bit takes bits 12-27", 16, 0x0ABCD000, {0xCD, 0xAB}},
        {"16-bit drops bits below 12", 16, 0x00ABCD00, {0xBC, 0x0A}},
        {"16-bit ignores V, U, C and P", 16, 0xF0000FFF, {0x00, 0x00}},
    };
    for (const auto& c : cases) {
        auto buf = words_to_bytes({c.word});
        buf.resize(pcm_convert(buf.data(), 1, c.bits));
        EXPECT_EQ(buf, c.expected) << c.name;
    }
}

TEST(PcmConvert, KeepsWordOrderAndSize)
{
    // In place, 16-bit samples pack towards the start of the buffer.
    const std::vector<std::uint32_t> words = {0x00001000, 0x00002000, 0x00003000, 0x0FFFF000, 0x08000000,
                                              0x00007000, 0x00008000, 0x00009000, 0x0000A000};
    auto buf = words_to_bytes(words);
    buf.resize(pcm_convert(buf.data(), words.size(), 16));
    EXPECT_EQ(buf, (std::vector<std::uint8_t>{1, 0, 2, 0, 3, 0, 0xFF, 0xFF, 0, 0x80, 7, 0, 8, 0, 9, 0, 0xA, 0}));
    buf = words_to_bytes(words);
    buf.resize(pcm_convert(buf.data(), words.size(), 24));
    EXPECT_EQ(buf[4 * 4 + 2], 0x80);
    EXPECT_EQ(buf[4 * 4 + 3], 0xFF);
    EXPECT_EQ(buf[8 * 4 + 1], 0x0A);
}

// Runs are converted a group of words at a time with the rest one by one:
// each sample of a run must be the one its word makes on its own, whatever
// the run's length around the group size.
TEST(PcmConvert, RunsAgreeWithSingleWords)
{
    struct {
        const char* name;
        std::size_t count;
    } const runs[] = {
        {"nothing", 0},        {"one word, no whole group", 1}, {"one short of a group", 31},
        {"exactly one group", 32}, {"a group and one", 33},     {"groups and a tail", 100},
    };
    for (const int bits : {16, 20, 24}) {
        for (const auto& r : runs) {
            std::vector<std::uint32_t> words(r.count);
            for (std::size_t i = 0; i < r.count; ++i)
                words[i] = static_cast<std::uint32_t>(i * 0x9E3779B9U);  // every bit varies
            auto run = words_to_bytes(words);
            run.resize(pcm_convert(run.data(), words.size(), bits));
            std::vector<std::uint8_t> expected;
            for (const std::uint32_t w : words) {
                auto one = words_to_bytes({w});
                one.resize(pcm_convert(one.data(), 1, bits));
                expected.insert(expected.end(), one.begin(), one.end());
            }
            EXPECT_EQ(run, expected) << bits << " bits, " << r.name;
        }
    }
}

TEST(SigPad, ExtendsOnlyAboveTheLargestPositive)
{
    struct {
        int bits;
        std::int32_t in;
        std::int32_t out;
    } const cases[] = {
        {20, 0, 0},         {20, 524287, 524287}, {20, 524288, -524288},
        {20, 0xFFFFF, -1},  {24, 8388607, 8388607}, {24, 8388608, -8388608},
        {24, 0xFFFFFF, -1},
    };
    for (const auto& c : cases) {
        std::int32_t v = c.in;
        EXPECT_EQ(sig_pad(v, c.bits), 0);
        EXPECT_EQ(v, c.out) << c.bits << " bits, " << c.in;
    }
}

TEST(PcmBits, OnlyTheThreeWidths)
{
    for (int bits = -1; bits <= 33; ++bits)
        EXPECT_EQ(pcm_bits_supported(bits), bits == 16 || bits == 20 || bits == 24) << bits;
}

// A block of C channels in which exactly one subframe carries a C bit must
// show that bit in exactly one status word of exactly one channel.
TEST(StatusWord, EachFrameLandsInItsWordAndBit)
{
    for (int channels : {1, 2, 3}) {
        for (int set_channel = 1; set_channel <= channels; ++set_channel) {
            for (int frame : {0, 1, 31, 32, 100, 191}) {
                std::vector<std::uint32_t> words(static_cast<std::size_t>(192 * channels), 0x0FFFFFFF);
                words[static_cast<std::size_t>(frame * channels + set_channel - 1)] |= 1U << 30;
                const auto block = words_to_bytes(words);
                for (int ch = 1; ch <= channels; ++ch) {
                    for (int j = 1; j <= 6; ++j) {
                        const bool here = ch == set_channel && j == frame / 32 + 1;
                        const std::uint32_t expected = here ? 1U << (frame % 32) : 0;
                        EXPECT_EQ(status_word(block.data(), channels, ch, j), expected)
                            << "C=" << channels << " set ch " << set_channel << " frame " << frame << " read ch "
                            << ch << " word " << j;
                    }
                }
            }
        }
    }
}

// Runs an operation over bytes held in memory and returns its report.
std::string run_report(int (*op)(std::FILE*, std::FILE*, bool, int), const std::vector<std::uint8_t>& bytes,
                       bool wav, int channels, int& result)
{
    std::FILE* in = tmpfile();
    std::FILE* out = tmpfile();
    std::fwrite(bytes.data(), 1, bytes.size(), in);
    std::rewind(in);
    result = op(in, out, wav, channels);
    std::string report(static_cast<std::size_t>(std::ftell(out)), '\0');
    std::rewind(out);
    if (!report.empty()) {
        EXPECT_EQ(std::fread(report.data(), 1, report.size(), out), report.size());
    }
    std::fclose(in);
    std::fclose(out);
    return report;
}

TEST(Validity, ChunkBoundariesDoNotRestartTheFirstFrame)
{
    // More frames than one read chunk holds, all the same: no differences.
    const std::vector<std::uint32_t> words(read_chunk_bytes / 4 * 3 + 5, 0x10000000);
    int result = -1;
    EXPECT_EQ(run_report(iec_validity, words_to_bytes(words), false, 1, result),
              "The validity bit of channel 1 is: 1.\n");
    EXPECT_EQ(result, 0);
}

TEST(Status, ChunkBoundariesKeepTheFirstBlockAsReference)
{
    // 200 one-channel blocks span several read chunks; only block 150 differs.
    std::vector<std::uint32_t> words(std::size_t{192} * 200, 0);
    words[std::size_t{192} * 150] = 1U << 30;
    int result = -1;
    const std::string report = run_report(iec_status, words_to_bytes(words), false, 1, result);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(std::count(report.begin(), report.end(), '\n'), 200 * 6 + 1);
    EXPECT_NE(report.find("The 1th status of channel 1 is: 1.\nError happens"), std::string::npos);
}

// Byte 23 of a professional status: the worked examples of its CRCC.
TEST(StatusCrc, WorkedExamples)
{
    status_block status{0x3D, 0x02, 0x00, 0x00, 0x02};
    EXPECT_EQ(status_crc(status), 0x9B);
    status = status_block{0x01};
    EXPECT_EQ(status_crc(status), 0x32);
    status[23] = 0x32;
    EXPECT_TRUE(status_crc_ok(status));
}

// The numbers the reports give for the rate and word length codes.
TEST(StatusFields, RateAndWordLength)
{
    struct {
        status_block status;
        int rate;
        int length;
    } const cases[] = {
        {{0x04, 0x00, 0x00, 0x02, 0x02}, 48000, 16},   // consumer 48 kHz, 16 of 20 bits
        {{0x04, 0x00, 0x00, 0x00, 0x0B}, 44100, 24},   // 44.1 kHz, 24 of 24 bits
        {{0x04, 0x00, 0x00, 0x0E, 0x03}, 192000, 20},  // 192 kHz, 20 of 24 bits
        {{0x04, 0x00, 0x00, 0x09, 0x00}, 768000, 0},
        {{0x04, 0x00, 0x00, 0x01, 0x01}, 0, 0},        // not indicated
        {{0x04, 0x00, 0x00, 0x07, 0x0E}, 0, 0},        // reserved codes
        {{0x04, 0x00, 0x00, 0x05, 0x00}, 384000, 0},
        {{0x85, 0x00, 0x2C}, 48000, 24},               // professional: byte 0 rate, 24-bit aux
        {{0x45, 0x00, 0x30}, 44100, 16},
        {{0x01, 0x00, 0x00, 0x00, 0x10}, 96000, 0},    // professional rate from byte 4
    };
    for (const auto& c : cases) {
        EXPECT_EQ(status_rate_hz(c.status), c.rate) << int{c.status[0]} << " " << int{c.status[3]};
        EXPECT_EQ(status_word_length(c.status), c.length) << int{c.status[0]} << " " << int{c.status[4]};
    }
}

} // namespace
