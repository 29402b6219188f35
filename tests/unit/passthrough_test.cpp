// The comparison's frame ring, the recognition of a reference by its
// content, and the record of problems.
#include "compare/passthrough.h"
#include "frames.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const std::vector<std::uint8_t> ac3 = ac3_frame(0, 8, 0, 2, false, 31, 256);

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
        std::vector<std::uint8_t> file(44 + data.size(), 0);
        const std::string tags = "RIFF    WAVE";
        std::copy(tags.begin(), tags.end(), file.begin());
        std::copy(data.begin(), data.end(), file.begin() + 44);
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
