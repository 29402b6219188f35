// The helpers that tell what bursts carry over time: codec statistics,
// the timeline with its gaps and pauses, and the link rate a stream needs.
#include "bitstream/timeline.h"
#include "frames.h"

#include <gtest/gtest.h>

#include <array>
#include <string>

namespace {

TEST(CodecStats, MetadataChangesCrcsAndSubstreams)
{
    const auto info_of = [](const std::vector<std::uint8_t>& frame) {
        frame_info info;
        parse_ac3(frame.data(), frame.size(), true, info);
        info.crc = frame_crc(frame.data(), info);
        return info;
    };
    codec_stats ac3_stats;
    const auto ac3 = ac3_frame(0, 8, 0, 2, false, 31, 256);
    auto bad = ac3_frame(0, 8, 0, 2, false, 31, 256);
    bad.at(100) ^= 1;
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
        {"PCM at the burst's own frame is its preamble", {{'p', 500, 0}, {'b', 500, 1}, {'b', 2036, 1}}, "500:AC-3", {}, 0},
        {"a preamble's frame after a long gap leaves the gap",
         {{'b', 0, 1}, {'p', 40000, 0}, {'b', 40000, 1}}, "0:AC-3 1536:silence 40000:AC-3", {{1536, 38464}}, 0},
        {"PCM before the burst's frame is PCM", {{'b', 0, 1}, {'p', 39999, 0}, {'b', 40000, 1}},
         "0:AC-3 39999:PCM 40000:AC-3", {}, 0},
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
    // In eight channels a high bit rate stream repeats in a quarter of the frames.
    timeline hbr;
    hbr.channels = 8;
    for (const long long frame : {0LL, 3840LL, 11520LL})
        timeline_burst(hbr, frame, burst_type_mat, burst_type_mat);
    ASSERT_EQ(hbr.gap_count, 1);
    EXPECT_EQ(hbr.gaps[0].frame, 7680);
    EXPECT_EQ(hbr.gaps[0].length, 3840);

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

} // namespace
