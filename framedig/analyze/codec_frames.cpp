// What the bursts carry: the pass hands its words to the unwrapper, whose
// codec frames are counted per codec with their CRCs and metadata; at the
// end the findings of the bitstream: frames that fail their CRC, gaps
// between bursts, and rates that disagree with the channel status.
#include "analyze/pass.h"

#include <cstring>

namespace {

codec_facts* codec_slot(analysis& facts, codec_id codec)
{
    for (std::size_t i = 0; i < static_cast<std::size_t>(facts.codec_count); ++i)
        if (facts.codecs[i].stats.codec == codec)
            return &facts.codecs[i];
    if (facts.codec_count == static_cast<int>(facts.codecs.size()))
        return nullptr;
    return &facts.codecs[static_cast<std::size_t>(facts.codec_count++)];
}

// The rate of the capture's frames: the status rate, a quarter of it on a
// high bit rate link (which states four times the rate), 48 kHz when the
// status says none.
int frame_rate_hz(int status_rate)
{
    constexpr int default_rate = 48000;
    constexpr int highest_frame_rate = 192000;
    if (status_rate <= 0)
        return default_rate;
    return status_rate > highest_frame_rate ? status_rate / 4 : status_rate;
}

bool carries_high_bit_rate(const analysis& facts)
{
    for (int i = 0; i < facts.burst_type_count; ++i) {
        const int type = facts.burst_types[static_cast<std::size_t>(i)];
        if (type == burst_type_mat || type == burst_type_dts_hd)
            return true;
    }
    return false;
}

void check_codec_crcs(analysis& facts)
{
    for (std::size_t i = 0; i < static_cast<std::size_t>(facts.codec_count); ++i) {
        const codec_facts& codec = facts.codecs[i];
        if (codec.stats.crc_errors == 0)
            continue;
        if (char* line = finding_slot(facts, finding_codec_crc))
            std::snprintf(line, finding_text, "%lld %s frames fail their CRC, the first at frame %lld",
                          codec.stats.crc_errors, codec.stats.name, codec.first_crc_error_frame);
    }
}

void check_gaps(analysis& facts, int rate_hz)
{
    const timeline& t = facts.content;
    for (long long i = 0; i < t.gap_count; ++i) {
        char* line = finding_slot(facts, finding_burst_gap);
        if (line == nullptr || i >= static_cast<long long>(t.gaps.size()))
            continue;
        const burst_gap& gap = t.gaps[static_cast<std::size_t>(i)];
        std::array<char, 16> name{};
        std::snprintf(line, finding_text, "gap in the %s bursts at frame %lld: %.1f ms",
                      burst_type_name(gap.type, name.data(), name.size()), gap.frame, frames_to_ms(gap.length, rate_hz));
    }
}

// The rate each codec's frames need against the status, and the WAV
// header's rate against the status.
void check_rates(analysis& facts, int status_rate)
{
    for (std::size_t i = 0; i < static_cast<std::size_t>(facts.codec_count); ++i) {
        const codec_facts& codec = facts.codecs[i];
        std::array<char, finding_text> text{};
        if (codec.have_first && rate_mismatch(status_rate, codec.burst_type, codec.first, text.data(), text.size())) {
            if (char* line = finding_slot(facts, finding_rate))
                std::memcpy(line, text.data(), text.size());
        }
    }
    const int wav = facts.wav_rate_hz;
    const bool high_bit_rate = carries_high_bit_rate(facts) && status_rate == 4 * wav;
    if (wav > 0 && status_rate > 0 && wav != status_rate && !high_bit_rate) {
        std::array<char, 16> header{};
        std::array<char, 16> status{};
        std::snprintf(header.data(), header.size(), "%g", wav / 1000.0);
        std::snprintf(status.data(), status.size(), "%g", status_rate / 1000.0);
        if (char* line = finding_slot(facts, finding_rate))
            std::snprintf(line, finding_text, "WAV header says %s kHz, but channel status says %s kHz", header.data(),
                          status.data());
    }
}

} // namespace

void unwrap_words(pass_state& p, analysis& facts, const std::uint8_t* words, std::size_t count, bool pa)
{
    burst_unwrapper& u = p.unwrapper;
    if (count == 0)
        return;
    if (u.state == 0 && !u.ready && !pa) {
        unwrap_skip(u, count);
        return;
    }
    unwrap_feed(u, words, count);
    burst_item item;
    while (unwrap_next(u, item)) {
        if (item.kind == item_frame && item.info.codec != codec_none)
            codec_frame_found(facts, item.word, item.type, item.info, item.data);
    }
}

void codec_frame_found(analysis& facts, long long word, int type, const frame_info& info, const std::uint8_t* data)
{
    codec_facts* codec = codec_slot(facts, info.codec);
    if (codec == nullptr)
        return;
    frame_info checked = info;
    checked.crc = frame_crc(data, info);
    if (checked.crc == crc_bad && codec->stats.crc_errors == 0)
        codec->first_crc_error_frame = facts.channels > 0 ? word / facts.channels : 0;
    codec_stats_add(codec->stats, checked);
    if (!codec->have_first && info.has_metadata) {
        codec->have_first = true;
        codec->first = info;
        codec->burst_type = type;
    }
}

void add_bitstream_findings(analysis& facts)
{
    for (std::size_t i = 0; i < static_cast<std::size_t>(facts.codec_count); ++i)
        codec_stats_finish(facts.codecs[i].stats);
    const int status_rate = status_known(facts) ? status_rate_hz(facts.per_channel[0].first) : 0;
    check_codec_crcs(facts);
    check_gaps(facts, content_rate_hz(facts));
    check_rates(facts, status_rate);
}

int content_rate_hz(const analysis& facts)
{
    return frame_rate_hz(status_known(facts) ? status_rate_hz(facts.per_channel[0].first) : 0);
}
