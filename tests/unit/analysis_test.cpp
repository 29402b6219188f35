// Preamble detection on the imperfect starts real captures have, the status
// tables row by row, and what the signal statistics make of known signals.
#include "analyze/analysis.h"
#include "blocks.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>
#include <string>
#include <vector>

namespace {

struct codes_used {
    unsigned block, first, other;
};
constexpr codes_used alsa_codes{8, 2, 4};

// A capture of `frames` frames whose first frame is frame `phase` of its
// block; every word carries its code and a non-zero sample.
std::vector<std::uint32_t> capture(int channels, int frames, int phase = 0, codes_used codes = alsa_codes)
{
    std::vector<std::uint32_t> words;
    for (int f = 0; f < frames; ++f)
        for (int ch = 0; ch < channels; ++ch)
            words.push_back(0x1230U << 4 |
                            (ch > 0 ? codes.other : (f + phase) % 192 == 0 ? codes.block : codes.first));
    return words;
}

std::vector<std::uint32_t> with_zeros(std::size_t zeros, std::vector<std::uint32_t> words)
{
    words.insert(words.begin(), zeros, 0U);
    return words;
}

std::vector<std::uint32_t> with_code(std::vector<std::uint32_t> words, std::size_t word, unsigned code)
{
    words[word] = (words[word] & ~0xFU) | code;
    return words;
}

std::vector<std::uint32_t> cut_front(std::vector<std::uint32_t> words)
{
    words.erase(words.begin());
    return words;
}

// A word slipped in (a zero word, as a receiver's glitch writes) or, for an
// empty `inserted`, one lost at `word`: the frames after it shift.
std::vector<std::uint32_t> shifted(std::vector<std::uint32_t> words, std::size_t word, std::vector<std::uint32_t> inserted)
{
    if (inserted.empty())
        words.erase(words.begin() + static_cast<std::ptrdiff_t>(word));
    else
        words.insert(words.begin() + static_cast<std::ptrdiff_t>(word), inserted.begin(), inserted.end());
    return words;
}

struct detect_case {
    const char* name;
    std::vector<std::uint32_t> words;
    int given;
    bool usable;
    int channels;
    std::size_t start;
};

TEST(DetectPreambles, ImperfectStarts)
{
    const std::vector<detect_case> cases = {
        {"clean stereo", capture(2, 1000), 0, true, 2, 0},
        {"40 zero words in front", with_zeros(40, capture(2, 1000)), 0, true, 2, 40},
        {"1000 zero words in front", with_zeros(1000, capture(2, 1000)), 0, true, 2, 1000},
        {"two stray codes", with_code(with_code(capture(2, 1000), 601, 0xF), 1400, 0xF), 0, true, 2, 0},
        {"a stray block-start code first", with_code(capture(2, 1000, 100), 21, 8), 0, true, 2, 184},
        {"a zero word slipped in early: the frames shift once", shifted(capture(2, 2000), 201, {0U}), 0, true, 2, 0},
        {"a word lost early: the frames shift once", shifted(capture(2, 2000), 201, {}), 0, true, 2, 0},
        {"a word slipped in, six channels", shifted(capture(6, 2000), 1001, {0x1230U << 4 | 4U}), 0, true, 6, 0},
        {"one block start in a short capture", capture(2, 250, 100), 0, true, 2, 184},
        {"cut mid-frame", cut_front(capture(2, 300, 100)), 0, true, 2, 183},
        {"six channels", capture(6, 500), 0, true, 6, 0},
        {"mono", capture(1, 1000, 50), 0, true, 1, 142},
        {"codes that mark only block starts", capture(2, 1000, 0, {1, 3, 3}), 0, true, 2, 0},
        {"no codes", capture(2, 1000, 0, {0, 0, 0}), 0, false, 0, 0},
        {"only zero words", std::vector<std::uint32_t>(5000, 0), 0, false, 0, 0},
        {"-c that agrees", capture(2, 1000), 2, true, 2, 0},
        {"-c that disagrees", capture(2, 1000), 3, false, 0, 0},
        {"-c 1 for six channels", capture(6, 1000), 1, false, 0, 0},
        {"-c 2 for six channels", capture(6, 1000), 2, false, 0, 0},
        {"-c 12 for six channels", capture(6, 1000), 12, false, 0, 0},
    };
    for (const auto& c : cases) {
        std::vector<std::uint8_t> bytes(c.words.size() * 4);
        for (std::size_t i = 0; i < c.words.size(); ++i)
            store_le(bytes.data() + 4 * i, c.words[i]);
        const preamble_codes found = detect_preambles(bytes.data(), c.words.size(), c.given);
        EXPECT_EQ(found.usable, c.usable) << c.name;
        if (!c.usable || !found.usable)
            continue;
        EXPECT_EQ(found.channels, c.channels) << c.name;
        EXPECT_EQ(found.start, c.start) << c.name;
        EXPECT_NE(found.block, found.first) << c.name;
    }
}

struct field_case {
    const char* name;
    status_block status;
    const char* field;
    const char* text;
};

std::string field_value(const status_block& status, const char* name)
{
    const bool pro = status_professional(status);
    for (std::size_t i = 0; i < status_field_count(pro); ++i) {
        if (std::string(status_field_at(pro, i).name) == name) {
            std::array<char, 48> text{};
            field_text(status_field_at(pro, i), status, text.data(), text.size());
            return text.data();
        }
    }
    return "no such field";
}

// Codes read with the field's lowest status bit as the lowest code bit.
TEST(StatusFields, TableRows)
{
    const std::vector<field_case> cases = {
        {"384 kHz is code 5 (bits 24-27 1010)", {0x04, 0, 0, 0x05}, "sampling frequency", "384 kHz"},
        {"768 kHz is code 9 (1001)", {0x04, 0, 0, 0x09}, "sampling frequency", "768 kHz"},
        {"48 kHz is code 2 (0100)", {0x04, 0, 0, 0x02}, "sampling frequency", "48 kHz"},
        {"code 7 is reserved", {0x04, 0, 0, 0x07}, "sampling frequency", "reserved (7)"},
        {"CGMS-A bit 40 alone: one generation", {0x04, 0, 0, 0, 0, 0x01}, "CGMS-A", "one generation only"},
        {"CGMS-A bit 41 alone: not used", {0x04, 0, 0, 0, 0, 0x02}, "CGMS-A", "condition not used"},
        {"CGMS-A both bits: no copying", {0x04, 0, 0, 0, 0, 0x03}, "CGMS-A", "no copying"},
        {"CGMS-A clear: copying permitted", {0x04, 0, 0, 0, 0, 0x00}, "CGMS-A", "copying permitted"},
        {"category 100: laser-optical", {0x04, 0x01}, "category", "laser-optical/CD"},
        {"category 0111: broadcast", {0x04, 0x0E}, "category", "broadcast"},
        {"category 01100: A/D", {0x04, 0x06}, "category", "A/D converter"},
        {"category 01101: A/D with copyright", {0x04, 0x16}, "category", "A/D converter, with copyright"},
        {"category 0001: solid-state memory", {0x04, 0x08}, "category", "solid-state memory"},
        {"category 0000001: experimental", {0x04, 0x40}, "category", "experimental"},
        {"word length 24 of 24 (1101)", {0x04, 0, 0, 0, 0x0B}, "word length", "24 bits"},
        {"word length 21 of 24 (1011)", {0x04, 0, 0, 0, 0x0D}, "word length", "21 bits"},
        {"word length 17 of 20 (0011)", {0x04, 0, 0, 0, 0x0C}, "word length", "17 bits"},
        {"original 44.1 kHz (1111)", {0x04, 0, 0, 0, 0xF0}, "original sampling frequency", "44.1 kHz"},
        {"original 48 kHz (1011)", {0x04, 0, 0, 0, 0xD0}, "original sampling frequency", "48 kHz"},
        {"original 192 kHz (1000)", {0x04, 0, 0, 0, 0x10}, "original sampling frequency", "192 kHz"},
        {"professional lock not indicated", {0x01}, "lock", "not indicated"},
        {"professional unlocked", {0x21}, "lock", "unlocked"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(field_value(c.status, c.field), c.text) << c.name;
    EXPECT_EQ(status_rate_hz(status_block{0x04, 0, 0, 0x05}), 384000);
}

// One channel fed sample by sample, then what the report would say.
signal_result one_channel(const std::vector<std::int32_t>& samples)
{
    analysis facts;
    facts.channels = 1;
    facts.per_channel = zeroed_array<channel_facts>(1);
    facts.per_channel[0].signal = signal_sums{};
    for (std::size_t f = 0; f < samples.size(); ++f)
        signal_sample(facts.per_channel[0].signal, static_cast<std::uint32_t>(samples[f]) << 4 & audio_mask,
                      static_cast<long long>(f));
    signal_results(facts);
    return facts.per_channel[0].result;
}

std::vector<std::int32_t> sine(double hz, double amplitude, int frames, double hz2 = 0)
{
    std::vector<std::int32_t> s;
    for (int f = 0; f < frames; ++f) {
        const double t = 2 * std::numbers::pi * f / 48000.0;
        s.push_back(static_cast<std::int32_t>(std::lround(amplitude * 8388607 * (std::sin(hz * t) + std::sin(hz2 * t)))));
    }
    return s;
}

TEST(Signal, LevelToneAndStuckBits)
{
    const signal_result tone = one_channel(sine(997, 0.5, 48000));
    EXPECT_TRUE(tone.tone);
    EXPECT_NEAR(tone.tone_hz, 997.0, 0.05);
    EXPECT_NEAR(tone.peak_dbfs, -6.02, 0.01);
    EXPECT_NEAR(tone.rms_dbfs, -9.03, 0.01);
    EXPECT_NEAR(tone.dc_offset, 0.0, 1.0);
    EXPECT_EQ(tone.stuck_at_0 | tone.stuck_at_1, 0U);

    auto gapped = sine(1000, 0.5, 48000);
    std::fill(gapped.begin() + 20003, gapped.begin() + 30003, 0);
    EXPECT_NEAR(one_channel(gapped).tone_hz, 1000.0, 0.05) << "a gap is no reason to lose the tone";
    EXPECT_FALSE(one_channel(sine(1000, 0.25, 48000, 1500)).tone) << "two tones have no steady spacing";

    std::mt19937 rng(1);  // NOLINT(cert-msc32-c,cert-msc51-cpp): the same noise in every run
    std::vector<std::int32_t> noise(48000);
    for (std::int32_t& s : noise)
        s = static_cast<std::int32_t>(rng() % 2000000) - 1000000;
    const signal_result n = one_channel(noise);
    EXPECT_FALSE(n.tone) << "noise";
    EXPECT_EQ(n.stuck_at_0, 0U);

    std::vector<std::int32_t> masked = noise;
    for (std::int32_t& s : masked)
        s &= ~(1 << 11);  // capture bit 15
    EXPECT_EQ(one_channel(masked).stuck_at_0, 1U << 15);
    std::vector<std::int32_t> forced = noise;
    for (std::int32_t& s : forced)
        s |= 1 << 16;  // capture bit 20
    EXPECT_EQ(one_channel(forced).stuck_at_1, 1U << 20);
    forced.resize(100);
    EXPECT_EQ(one_channel(forced).stuck_at_1, 0U) << "a hundred samples say nothing of stuck bits";
    EXPECT_TRUE(one_channel(std::vector<std::int32_t>(1000, 0)).silent);
}

// Silence on every channel: frames of silence (S n) and of audio (A n).
struct silence_case {
    const char* name;
    std::string events;
    long long mutes;
    long long excluded;
};

TEST(Signal, MutesAndSilenceAtTheEdges)
{
    const std::vector<silence_case> cases = {
        {"10 ms between audio is a mute", "A100 S480 A100", 1, 480},
        {"less is not", "A100 S479 A100", 0, 0},
        {"silence in front is left out", "S1000 A100", 0, 1000},
        {"silence at the end is left out", "A100 S2000", 0, 2000},
        {"a bitstream ends the audio before it", "A100 S600 B1 A100", 0, 600},
    };
    for (const auto& c : cases) {
        silence_track track;
        long long frame = 0;
        for (std::size_t at = 0; at < c.events.size();) {
            const char kind = c.events[at];
            std::size_t used = 0;
            const long long n = std::stoll(c.events.substr(at + 1), &used);
            for (long long i = 0; i < n; ++i, ++frame) {
                if (kind == 'S')
                    silence_from(track, frame);
                else if (kind == 'A')
                    audio_frame(track, frame);
                else
                    bitstream_frame(track, frame);
            }
            at += 2 + used;
        }
        silence_end(track, frame);
        EXPECT_EQ(track.mute_count, c.mutes) << c.name;
        EXPECT_EQ(track.excluded, c.excluded) << c.name;
    }
}

} // namespace
