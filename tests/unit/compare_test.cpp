// Unit tests of the comparison's pure parts: the report helpers, the
// reference reader, the exact line fit, the realignment verdict and the
// diagnosis drawn from the sums.
#include "compare/compare.h"
#include "report/report.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <numbers>
#include <string>
#include <vector>

namespace {

// Runs f with a temporary file and returns what it wrote.
template <class F> std::string written(F f)
{
    std::FILE* out = tmpfile();
    f(out);
    std::string text(static_cast<std::size_t>(std::ftell(out)), '\0');
    std::rewind(out);
    if (!text.empty()) {
        EXPECT_EQ(std::fread(text.data(), 1, text.size(), out), text.size());
    }
    std::fclose(out);
    return text;
}

TEST(JsonString, EscapesWhatIsNotValidUtf8ByteByByte)
{
    struct {
        const char* name;
        std::string in;
        std::string out;
    } const cases[] = {
        {"plain ASCII", "ref.wav", R"("ref.wav")"},
        {"quote and backslash", "a\"b\\c", R"("a\"b\\c")"},
        {"control bytes and DEL", std::string("\n\x01\x7f", 3), R"("\u000a\u0001\u007f")"},
        {"two-byte UTF-8 kept", "caf\xc3\xa9", "\"caf\xc3\xa9\""},
        {"four-byte UTF-8 kept", "\xf0\x9f\x8e\xb5", "\"\xf0\x9f\x8e\xb5\""},
        {"a lone high byte", "\xff", R"("\u00ff")"},
        {"a stray continuation byte", "a\x80z", R"("a\u0080z")"},
        {"a sequence cut short", "\xe2\x82", R"("\u00e2\u0082")"},
        {"an overlong slash", "\xc0\xaf", R"("\u00c0\u00af")"},
        {"an overlong three-byte form", "\xe0\x80\xaf", R"("\u00e0\u0080\u00af")"},
        {"a surrogate", "\xed\xa0\x80", R"("\u00ed\u00a0\u0080")"},
        {"past U+10FFFF", "\xf4\x90\x80\x80", R"("\u00f4\u0090\u0080\u0080")"},
        {"valid after invalid", "\xff\xc3\xa9", "\"\\u00ff\xc3\xa9\""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(written([&c](std::FILE* out) { json_string(out, c.in); }), c.out) << c.name;
}

TEST(PrintWrapped, StaysWithin80ColumnsAndNeverSplitsACharacter)
{
    const std::string word(100, 'x');
    const std::string accents = std::string(79, 'a') + "\xc3\xa9\xc3\xa9";  // the 80th byte inside a character
    struct {
        const char* name;
        std::size_t column;
        std::string text;
        std::string out;
    } const cases[] = {
        {"short text as it is", 14, "2 channels", "2 channels\n"},
        {"broken at a blank", 70, "one two three", "one two\n                                                                        three\n"},
        {"a long word cut at the width", 0, word, std::string(80, 'x') + "\n  " + std::string(20, 'x') + "\n"},
        {"a character kept whole", 0, accents, std::string(79, 'a') + "\n  \xc3\xa9\xc3\xa9\n"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(written([&c](std::FILE* out) { print_wrapped(out, c.column, c.text); }), c.out) << c.name;
}

// WAV files as bytes: a chunk, a fmt chunk of integer PCM, a RIFF or RF64 header.
std::string le(std::uint64_t v, int bytes)
{
    std::string s;
    for (int i = 0; i < bytes; ++i)
        s += static_cast<char>((v >> (8 * i)) & 0xFF);
    return s;
}
std::string chunk(const char* id, const std::string& body, std::uint32_t size)
{
    return std::string(id, 4) + le(size, 4) + body;
}
std::string fmt16(int channels)
{
    return chunk("fmt ", le(1, 2) + le(static_cast<std::uint64_t>(channels), 2) + le(48000, 4) + le(192000, 4) +
                             le(2 * static_cast<std::uint64_t>(channels), 2) + le(16, 2),
                 16);
}
std::string riff(const char* magic, const std::string& chunks) { return std::string(magic, 4) + le(0xFFFFFFFF, 4) + "WAVE" + chunks; }

TEST(WavHeader, SizesFromTheChunkFromDs64OrToTheEnd)
{
    const std::string samples(4000, '\x01');  // 1000 stereo frames
    const std::string ds64 = chunk("ds64", le(0, 8) + le(400, 8) + le(100, 8) + le(0, 4), 28);
    struct {
        const char* name;
        std::string file;
        const char* error;
        long long frames;
    } const cases[] = {
        {"RIFF with its sizes", riff("RIFF", fmt16(2) + chunk("data", samples, 4000)), nullptr, 1000},
        {"data size 0xFFFFFFFF: to the end", riff("RIFF", fmt16(2) + chunk("data", samples, 0xFFFFFFFF)), nullptr, 1000},
        {"to the end, a partial frame dropped", riff("RIFF", fmt16(2) + chunk("data", samples + "xy", 0xFFFFFFFF)), nullptr, 1000},
        {"RF64 with ds64", riff("RF64", ds64 + fmt16(2) + chunk("data", samples, 0xFFFFFFFF)), nullptr, 100},
        {"BW64 with ds64", riff("BW64", ds64 + fmt16(2) + chunk("data", samples, 0xFFFFFFFF)), nullptr, 100},
        {"RF64 without ds64: to the end", riff("RF64", fmt16(2) + chunk("data", samples, 0xFFFFFFFF)), nullptr, 1000},
        {"ds64 in a RIFF file is skipped", riff("RIFF", ds64 + fmt16(2) + chunk("data", samples, 4000)), nullptr, 1000},
        {"ds64 too short", riff("RF64", chunk("ds64", le(0, 8), 8) + fmt16(2) + chunk("data", samples, 0xFFFFFFFF)),
         "truncated header: ds64 chunk too short", 0},
        {"ds64 size past the end", riff("RF64", chunk("ds64", le(0, 8) + le(1 << 20, 8) + le(0, 8) + le(0, 4), 28) + fmt16(2) +
                                                    chunk("data", samples, 0xFFFFFFFF)),
         "data chunk size runs past the end of the file", 0},
        {"no frames at all", riff("RIFF", fmt16(2) + chunk("data", "", 0)), nullptr, 0},
        {"RIFX is not read", riff("RIFX", fmt16(2) + chunk("data", samples, 4000)), "not a RIFF/WAVE file", 0},
    };
    for (const auto& c : cases) {
        std::FILE* in = tmpfile();
        std::fwrite(c.file.data(), 1, c.file.size(), in);
        std::rewind(in);
        wav_format format;
        const char* error = read_wav_header(in, format);
        if (c.error == nullptr) {
            EXPECT_EQ(error, nullptr) << c.name << ": " << error;
            EXPECT_EQ(format.frames, c.frames) << c.name;
            EXPECT_EQ(format.channels, 2) << c.name;
        } else {
            EXPECT_STREQ(error, c.error) << c.name;
        }
        std::fclose(in);
    }
}

// The sums of hours of samples: a block of a sine through a gain stage that
// rounds, repeated. The sums are linear, so the hours are the block's sums
// times the repetitions, exactly.
channel_sums repeated_block(double gain, long long repetitions, std::int32_t offset)
{
    channel_sums block;
    block.started = true;
    for (int t = 0; t < 4800; ++t) {
        const auto x = static_cast<std::int32_t>(std::lround(6000000 * std::sin(2 * std::numbers::pi * t * 997 / 48000.0)));
        const auto y = static_cast<std::int32_t>(std::lround(gain * x)) + offset;
        block.n += 1;
        block.sx += x;
        block.sy += y;
        block.sxx += static_cast<wide>(x) * x;
        block.sxy += static_cast<wide>(x) * y;
        block.syy += static_cast<wide>(y) * y;
    }
    channel_sums hours = block;
    hours.n *= repetitions;
    hours.sx *= repetitions;
    hours.sy *= repetitions;
    hours.sxx *= repetitions;
    hours.sxy *= repetitions;
    hours.syy *= repetitions;
    return hours;
}

TEST(FitLine, ExactOverHours)
{
    struct {
        const char* name;
        double gain;
        std::int32_t offset;
        long long repetitions;  // of 0.1 s at 48 kHz
    } const cases[] = {
        {"ten hours", 0.8, 0, 360000},
        {"a thousand hours", 0.5, 0, 36000000},
        {"ten hours with a constant added", 1.0, 33, 360000},
        {"ten hours inverted", -1.0, 0, 360000},
    };
    for (const auto& c : cases) {
        // The same samples over 0.1 s and over hours fit the same line.
        linear_fit once{};
        linear_fit hours{};
        ASSERT_TRUE(fit_line(repeated_block(c.gain, 1, c.offset), once)) << c.name;
        ASSERT_TRUE(fit_line(repeated_block(c.gain, c.repetitions, c.offset), hours)) << c.name;
        EXPECT_NEAR(hours.gain, once.gain, 1e-12) << c.name;
        EXPECT_NEAR(hours.offset, once.offset, 1e-6) << c.name;
        EXPECT_NEAR(hours.rms, once.rms, 1e-6) << c.name;
        EXPECT_NEAR(hours.gain, c.gain, 1e-6) << c.name;
        EXPECT_NEAR(hours.offset, c.offset, 0.05) << c.name;
        // What rounding leaves, about 0.29 of the lowest bit; nothing without it.
        EXPECT_NEAR(hours.rms, std::fabs(c.gain) == 1 ? 0 : 0.29, 0.05) << c.name;
    }
    linear_fit fit{};
    channel_sums silent;
    silent.n = 100;
    EXPECT_FALSE(fit_line(silent, fit)) << "samples that are all zero fit no line";
}

TEST(ResumeVerdict, NearlyAllOfTheFirstTellingFramesMustAgree)
{
    struct {
        const char* name;
        const char* frames;  // per frame: '=' agrees, 'x' differs, '.' tells nothing
        int verdict;
        std::size_t decided_at;
    } const cases[] = {
        {"a click, then agreement", "x=======", 1, 8},
        {"silence tells nothing", "x.......===....====", 1, 19},
        {"every other frame corrupted", "x=x=x=x=", -1, 8},
        {"a shift: nothing agrees", "xxxxxxxx", -1, 8},
        {"too few telling frames to tell", "x==....", 0, 7},
    };
    for (const auto& c : cases) {
        resume_tally tally;
        int verdict = 0;
        std::size_t k = 0;
        for (; c.frames[k] != '\0' && verdict == 0; ++k)
            verdict = resume_verdict(tally, c.frames[k] != '.', c.frames[k] == '=');
        EXPECT_EQ(verdict, c.verdict) << c.name;
        EXPECT_EQ(k, c.decided_at) << c.name;
    }
}

TEST(MatchFrames, EqualAndTelling)
{
    const std::int32_t zero[2] = {0, 0};
    const std::int32_t a[2] = {5, -3};
    const std::int32_t b[2] = {5, -2};
    struct {
        const char* name;
        const std::int32_t* x;
        const std::int32_t* x_before;
        const std::int32_t* y;
        const std::int32_t* y_before;
        bool equal;
        bool telling;
    } const cases[] = {
        {"silence tells nothing", zero, zero, zero, zero, true, false},
        {"sound that changes tells", a, zero, a, zero, true, true},
        {"a flat stretch tells nothing", a, a, a, a, true, false},
        {"a difference in one channel", a, a, b, a, false, true},
        {"sound against silence", a, zero, zero, zero, false, true},
    };
    for (const auto& c : cases) {
        const frame_match m = match_frames(c.x, c.x_before, c.y, c.y_before, 2);
        EXPECT_EQ(m.equal, c.equal) << c.name;
        EXPECT_EQ(m.telling, c.telling) << c.name;
    }
}

// A stereo path described per sample: what the capture holds for the
// reference's samples (x, the other channel's w).
struct path_case {
    const char* name;
    std::int32_t (*left)(std::int32_t x, std::int32_t w);
    std::int32_t (*right)(std::int32_t x, std::int32_t w);
    int capture_lowest_bit;  // of the capture's samples
    std::string expected;    // the diagnosis, kinds and channels
};

std::string diagnosis_of(const path_case& c)
{
    frame_stream ref;
    ref.channels = 2;
    diagnosis_sums sums;
    start_sums(sums, 2, 24, nullptr);
    std::vector<std::int32_t> expected;
    std::vector<std::int32_t> got;
    const std::unique_ptr<bool[]> same(new bool[9600]);
    for (int t = 0; t < 9600; ++t) {
        const auto l = static_cast<std::int32_t>(std::lround(3000000 * std::sin(2 * std::numbers::pi * t / 48.0)));
        const auto r = static_cast<std::int32_t>(std::lround(2000000 * std::sin(2 * std::numbers::pi * t / 32.0)));
        expected.insert(expected.end(), {l, r});
        got.insert(got.end(), {c.left(l, r), c.right(r, l)});
        same[static_cast<std::size_t>(t)] = got[got.size() - 2] == l && got.back() == r;
    }
    for (std::size_t f = 0; f < 9600; f += 100)
        add_frames(sums, ref, static_cast<long long>(f), expected.data() + 2 * f, got.data() + 2 * f, static_cast<long long>(f),
                   100, same.get() + f);
    flush_sums(sums);
    comparison facts;
    facts.aligned = true;
    facts.precision = 24;
    facts.reference.channels = 2;
    diagnose(facts, sums, 1U << c.capture_lowest_bit, 1);
    std::string text;
    for (std::size_t k = 0; k < facts.diagnosed; ++k)
        text += std::string(k > 0 ? " " : "") + diagnosis_name(facts.diagnoses[k].kind) + ":" +
                std::to_string(facts.diagnoses[k].channel);
    return text;
}

TEST(Diagnose, EachStageFoundOnItsOwn)
{
    const path_case cases[] = {
        {"as it was", [](std::int32_t x, std::int32_t) { return x; }, [](std::int32_t x, std::int32_t) { return x; }, 0, ""},
        {"swapped", [](std::int32_t, std::int32_t w) { return w; }, [](std::int32_t, std::int32_t w) { return w; }, 0,
         "channel_map:0"},
        {"right inverted", [](std::int32_t x, std::int32_t) { return x; }, [](std::int32_t x, std::int32_t) { return -x; }, 0,
         "polarity:2"},
        {"both 6 dB down", [](std::int32_t x, std::int32_t) { return x / 2; }, [](std::int32_t x, std::int32_t) { return x / 2; },
         0, "gain:0"},
        {"left 6 dB down", [](std::int32_t x, std::int32_t) { return x / 2; }, [](std::int32_t x, std::int32_t) { return x; }, 0,
         "gain:1"},
        {"truncated to 16 bits", [](std::int32_t x, std::int32_t) { return x & ~0xFF; },
         [](std::int32_t x, std::int32_t) { return x & ~0xFF; }, 8, "word_length:0"},
        {"a constant added", [](std::int32_t x, std::int32_t) { return x + 40; }, [](std::int32_t x, std::int32_t) { return x; },
         0, "dc_offset:1"},
        {"one corrupted channel", [](std::int32_t x, std::int32_t) { return x; },
         [](std::int32_t x, std::int32_t w) { return x / 3 + w / 5 + (x & 0x7FFF); }, 0, ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(diagnosis_of(c), c.expected) << c.name;
}

} // namespace
