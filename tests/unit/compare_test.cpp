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

TEST(JsonDecimal, NullForWhatJsonCannotHold)
{
    struct {
        const char* name;
        double value;
        bool present;
        std::string out;
    } const cases[] = {
        {"a gain with two decimals", -6.0206, true, "-6.02"},
        {"absent", 1.5, false, "null"},
        {"a capture silent where the reference has sound: -inf dB", -HUGE_VAL, true, "null"},
        {"+inf", HUGE_VAL, true, "null"},
        {"not a number", std::nan(""), true, "null"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(written([&c](std::FILE* out) { json_decimal(out, c.value, c.present, 2); }), c.out) << c.name;
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
        {"left channel silent: no gain of -inf dB", [](std::int32_t, std::int32_t) { return 0; },
         [](std::int32_t x, std::int32_t) { return x; }, 0, ""},
        {"both silent", [](std::int32_t, std::int32_t) { return 0; }, [](std::int32_t, std::int32_t) { return 0; }, 0, ""},
        {"one corrupted channel", [](std::int32_t x, std::int32_t) { return x; },
         [](std::int32_t x, std::int32_t w) { return x / 3 + w / 5 + (x & 0x7FFF); }, 0, ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(diagnosis_of(c), c.expected) << c.name;
}

// A capture of frames whose samples say where they came from (frame * 100 +
// channel, at 16 bits), with the preamble codes capture hardware stores.
std::vector<std::uint8_t> capture_words(int channels, int frames, int zero_words, int cut_words, bool codes)
{
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(zero_words) * 4, 0);
    for (int f = 0; f < frames; ++f) {
        for (int ch = 0; ch < channels; ++ch) {
            if (f * channels + ch < cut_words)
                continue;
            std::uint32_t word = static_cast<std::uint32_t>(f * 100 + ch) << 12;
            if (codes)
                word |= ch > 0 ? 0x4U : f % 192 == 0 ? 0x8U : 0x2U;
            for (int b = 0; b < 4; ++b)
                bytes.push_back(static_cast<std::uint8_t>(word >> (8 * b)));
        }
    }
    return bytes;
}

TEST(CaptureLayout, FirstWholeFrameAndChannelCountFromTheCodes)
{
    struct {
        const char* name;
        int channels;
        int zero_words;
        int cut_words;
        bool codes;
        int channels_given;
        int detected;            // 0: the codes do not tell
        long long first_frame;   // index of the first frame read
        std::int32_t first_sample;
    } const cases[] = {
        {"stereo from its start", 2, 0, 0, true, 0, 2, 0, 0},
        {"stereo cut by a word", 2, 0, 1, true, 0, 2, 0, 100},
        {"six channels cut by four words", 6, 0, 4, true, 0, 6, 0, 100},
        {"words of zeros before the codes", 2, 1000, 0, true, 0, 2, 500, 0},
        {"zeros, then a frame cut by a word", 2, 1001, 1, true, 0, 2, 501, 100},
        {"no codes: frames from the first word", 2, 0, 1, false, 0, 0, 0, 1},
        {"-c that the codes deny", 2, 0, 1, true, 3, 0, 0, 1},
    };
    for (const auto& c : cases) {
        const auto bytes = capture_words(c.channels, 800, c.zero_words, c.cut_words, c.codes);
        std::FILE* in = tmpfile();
        std::fwrite(bytes.data(), 1, bytes.size(), in);
        std::rewind(in);
        frame_stream cap;
        cap.file = in;
        capture_layout layout = probe_capture(cap, c.channels_given);
        EXPECT_EQ(layout.channels, c.detected) << c.name;
        const int channels = c.detected > 0 ? c.detected : c.channels;
        ASSERT_TRUE(open_stream(cap, in, true, channels, word_bytes, 16)) << c.name;
        start_capture(cap, layout);
        EXPECT_EQ(cap.begin, c.first_frame) << c.name;
        ASSERT_TRUE(fill_to(cap, c.first_frame)) << c.name;
        EXPECT_EQ(frame_at(cap, c.first_frame)[0], c.first_sample) << c.name;
        std::fclose(in);
    }
}

// Both files as frame streams from samples: the reference as 16-bit PCM, the
// capture as words; edit changes the capture's frame list.
struct stream_pair {
    std::FILE* ref_file = tmpfile();
    std::FILE* cap_file = tmpfile();
    frame_stream ref;
    frame_stream cap;
};

void make_streams(stream_pair& p, const std::vector<int>& capture_frames)
{
    auto sample = [](int f, int ch) { return static_cast<std::int16_t>((f * 7919 + ch * 104729) % 30011 - 15000); };
    for (int f = 0; f < 20000; ++f)
        for (int ch = 0; ch < 2; ++ch) {
            const std::int16_t s = sample(f, ch);
            std::fwrite(&s, 2, 1, p.ref_file);
        }
    for (const int f : capture_frames)
        for (int ch = 0; ch < 2; ++ch) {
            const auto word = static_cast<std::uint32_t>(static_cast<std::uint16_t>(sample(f, ch))) << 12;
            std::fwrite(&word, 4, 1, p.cap_file);
        }
    std::rewind(p.ref_file);
    std::rewind(p.cap_file);
    ASSERT_TRUE(open_stream(p.ref, p.ref_file, false, 2, 2, 16));
    ASSERT_TRUE(open_stream(p.cap, p.cap_file, true, 2, word_bytes, 16));
}

TEST(Realignment, TheSmallestShiftThatTheFramesAfterAgreeAt)
{
    struct {
        const char* name;
        int from;   // where the capture leaves the reference
        int shift;  // frames it skips (a drop) or goes back (a repeat)
        bool corrupt;
        long long expected;
    } const cases[] = {
        {"7 frames dropped", 5000, 7, false, 7},
        {"1000 frames dropped", 5000, 1000, false, 1000},
        {"64 frames repeated", 5000, -64, false, -64},
        {"a corrupted frame is no shift", 5000, 0, true, 0},
    };
    for (const auto& c : cases) {
        std::vector<int> frames;
        frames.reserve(20000);
        for (int f = 0; f < c.from; ++f)
            frames.push_back(f);
        for (int f = c.from + c.shift; f < 20000; ++f)
            frames.push_back(c.corrupt && f == c.from ? 7 : f);
        stream_pair p;
        make_streams(p, frames);
        EXPECT_EQ(realignment(p.ref, c.from, p.cap, c.from), c.expected) << c.name;
        EXPECT_EQ(alignment_resumes(p.ref, c.from, p.cap, c.from).holds, c.corrupt) << c.name;
        std::fclose(p.ref_file);
        std::fclose(p.cap_file);
    }
}

} // namespace
