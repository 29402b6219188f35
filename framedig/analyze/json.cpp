// The analysis as one JSON object for scripts. Every string that does not
// come from this program's own tables is escaped.
#include "analyze/analysis.h"

#include <algorithm>
#include <bit>
#include <string_view>

namespace {

// "key":value with null for a value that is not known.
void json_number(std::FILE* out, const char* key, long long value, bool known)
{
    if (known)
        std::fprintf(out, "\"%s\":%lld", key, value);
    else
        std::fprintf(out, "\"%s\":null", key);
}

void json_channel_status(std::FILE* out, const analysis& facts, int ch)
{
    const status_block& status = facts.per_channel[static_cast<std::size_t>(ch)].first;
    std::fprintf(out, "{\"channel\":%d,", ch + 1);
    if (!status_known(facts)) {
        std::fputs("\"bytes\":null,\"professional\":null,\"linear_pcm\":null,\"sample_rate_hz\":null,"
                   "\"word_length_bits\":null,\"crc_ok\":null,\"fields\":null}", out);
        return;
    }
    const bool pro = status_professional(status);
    std::fputs(R"("bytes":")", out);
    for (const std::uint8_t byte : status)
        std::fprintf(out, "%02x", byte);
    std::fprintf(out, R"(","professional":%s,"linear_pcm":%s,)", pro ? "true" : "false",
                 status_linear_pcm(status) ? "true" : "false");
    json_number(out, "sample_rate_hz", status_rate_hz(status), status_rate_hz(status) != 0);
    std::fputc(',', out);
    json_number(out, "word_length_bits", status_word_length(status), status_word_length(status) != 0);
    std::fprintf(out, R"(,"crc_ok":%s,"fields":{)", !pro ? "null" : status_crc_ok(status) ? "true" : "false");
    for (std::size_t i = 0; i < status_field_count(pro); ++i) {
        std::array<char, 48> text{};
        field_text(status_field_at(pro, i), status, text.data(), text.size());
        std::fprintf(out, "%s", i > 0 ? "," : "");
        json_string(out, status_field_at(pro, i).name);
        std::fputc(':', out);
        json_string(out, text.data());
    }
    std::fputs("}}", out);
}

// A number with two decimals (one for a frequency), or null.
void json_fixed(std::FILE* out, const char* key, double value, bool known, int decimals = 2)
{
    std::fprintf(out, ",\"%s\":", key);
    json_decimal(out, value, known, decimals);
}

void json_bits(std::FILE* out, const char* key, std::uint32_t bits)
{
    std::fprintf(out, ",\"%s\":[", key);
    const char* separator = "";
    for (int bit = audio_lsb_pos; bit <= sample_msb_pos; ++bit) {
        if (((bits >> bit) & 1U) != 0) {
            std::fprintf(out, "%s%d", separator, bit);
            separator = ",";
        }
    }
    std::fputc(']', out);
}

// One channel's samples; the mutes, which are silence on every channel, in each.
void json_signal(std::FILE* out, const analysis& facts, int ch)
{
    const channel_facts& cf = facts.per_channel[static_cast<std::size_t>(ch)];
    const signal_result& r = cf.result;
    const bool pcm = cf.signal.samples > 0;
    std::fprintf(out, R"({"channel":%d,"samples":%lld)", ch + 1, r.samples);
    json_fixed(out, "peak_dbfs", r.peak_dbfs, !r.silent);
    json_fixed(out, "rms_dbfs", r.rms_dbfs, !r.silent);
    json_fixed(out, "dc_offset", r.dc_offset, pcm);
    json_bits(out, "bits_stuck_at_0", r.stuck_at_0);
    json_bits(out, "bits_stuck_at_1", r.stuck_at_1);
    const silence_track& s = facts.silence;
    std::fputs(",\"mutes\":[", out);
    for (long long i = 0; i < s.mute_count && i < static_cast<long long>(s.mutes.size()); ++i) {
        const mute_run& m = s.mutes[static_cast<std::size_t>(i)];
        std::fprintf(out, R"(%s{"frame":%lld,"frames":%lld,"seconds":%.3f,"duration_ms":%.1f})", i > 0 ? "," : "",
                     m.frame, m.frames, m.seconds, m.duration_ms);
    }
    std::fprintf(out, "],\"mute_count\":%lld", s.mute_count);
    json_fixed(out, "tone_hz", r.tone_hz, r.tone, 1);
    std::fputc('}', out);
}

template <class Each> void json_array(std::FILE* out, const char* key, long long count, Each each)
{
    std::fprintf(out, ",\"%s\":[", key);
    for (long long i = 0; i < count; ++i) {
        if (i > 0)
            std::fputc(',', out);
        each(i);
    }
    std::fputc(']', out);
}

// What the bursts carry, inside "bursts": codecs, pauses and the timeline.
void json_bitstream(std::FILE* out, const analysis& facts)
{
    json_array(out, "codecs", facts.codec_count, [&](long long i) {
        const codec_stats& stats = facts.codecs[static_cast<std::size_t>(i)].stats;
        std::fputs("{\"type\":", out);
        json_string(out, stats.name);
        std::fprintf(out, R"(,"frames":%lld,"crc_errors":%lld,"metadata":)", stats.frames, stats.crc_errors);
        if (stats.have_metadata)
            write_metadata_json(out, stats.metadata);
        else
            std::fputs("null", out);
        std::fprintf(out, R"(,"metadata_changes":%lld})", stats.metadata_changes);
    });
    const timeline& t = facts.content;
    std::fprintf(out, ",\"pause_count\":%lld", t.pauses);
    const long long entries = std::min(t.entry_count, static_cast<long long>(t.entries.size()));
    json_array(out, "timeline", entries, [&](long long i) {
        const timeline_entry& entry = t.entries[static_cast<std::size_t>(i)];
        std::array<char, 16> name{};
        std::fprintf(out, R"({"frame":%lld,"content":)", entry.frame);
        json_string(out, content_name(entry, name.data(), name.size()));
        std::fputc('}', out);
    });
}

} // namespace

void write_json_report(std::FILE* out, const analysis& facts)
{
    const auto channel = [&facts](long long i) -> const channel_facts& {
        return facts.per_channel[static_cast<std::size_t>(i)];
    };
    std::fputc('{', out);
    json_number(out, "channels", facts.channels, facts.channels != 0);
    std::fprintf(out, ",\"channels_detected\":%s,\"words\":%lld,\"frames\":%lld,\"leading_words\":%lld,\"blocks\":%lld,"
                      "\"trailing_bytes\":%lld,\"interrupted\":%s,\"nothing_received\":%s,",
                 facts.channels_detected ? "true" : "false", facts.words, facts.frames, facts.leading_words, facts.blocks,
                 facts.trailing_bytes, facts.interrupted ? "true" : "false", facts.nothing_received ? "true" : "false");
    std::fprintf(out, R"("block_start":{"found_by":"%s",)", facts.preambles ? "preamble" : "first word");
    json_number(out, "frame", facts.first_block_frame, facts.first_block_frame >= 0);
    std::fputc(',', out);
    json_number(out, "block_code", facts.block_code, facts.preambles);
    std::fputc(',', out);
    json_number(out, "first_subframe_code", facts.first_code, facts.preambles);
    std::fputc(',', out);
    json_number(out, "preamble_channels", facts.preamble_channels, facts.preamble_channels != 0);
    std::fputs("}", out);
    if (facts.parity_carried)
        json_array(out, "parity_errors", facts.channels, [&](long long i) { std::fprintf(out, "%lld", channel(i).parity_errors); });
    else
        std::fputs(",\"parity_errors\":null", out);
    std::fputs(",\"first_parity_error\":", out);
    if (facts.parity_carried && facts.first_parity_frame >= 0)
        std::fprintf(out, R"({"frame":%lld,"channel":%d})", facts.first_parity_frame, facts.first_parity_channel);
    else
        std::fputs("null", out);
    json_array(out, "invalid_frames", facts.channels, [&](long long i) { std::fprintf(out, "%lld", channel(i).invalid_frames); });
    json_array(out, "crc_errors", facts.channels, [&](long long i) { std::fprintf(out, "%lld", channel(i).crc_errors); });
    json_array(out, "channel_status", facts.channels, [&](long long i) { json_channel_status(out, facts, static_cast<int>(i)); });
    const long long changes = std::min(facts.change_count, static_cast<long long>(finding_lines));
    json_array(out, "status_changes", changes, [&](long long i) {
        const status_change& change = facts.changes[static_cast<std::size_t>(i)];
        std::fprintf(out, R"({"block":%lld,"channel":%d,"fields":[)", change.block, change.channel);
        bool first = true;
        for (std::size_t f = 0; f < status_field_count(change.professional); ++f) {
            if ((change.fields & (1U << f)) != 0) {
                std::fputs(first ? "" : ",", out);
                json_string(out, status_field_at(change.professional, f).name);
                first = false;
            }
        }
        std::fputs("]}", out);
    });
    std::fprintf(out, ",\"status_change_count\":%lld", facts.change_count);
    std::fprintf(out, R"(,"bursts":{"count":%lld)", facts.bursts);
    json_array(out, "data_types", facts.burst_type_count, [&](long long i) {
        std::array<char, 32> text{};
        json_string(out, listed_type_name(facts, static_cast<int>(i), text.data(), text.size()));
    });
    std::fputc(',', out);
    json_number(out, "spacing_frames", facts.burst_spacing, facts.burst_spacing >= 0);
    std::fprintf(out, ",\"spacing_varies\":%s", facts.burst_spacing_varies ? "true" : "false");
    json_bitstream(out, facts);
    std::fputc('}', out);
    json_array(out, "lowest_audio_bit", facts.channels, [&](long long i) {
        const std::uint32_t bits = channel(i).audio_bits;
        if (bits == 0)
            std::fputs("null", out);
        else
            std::fprintf(out, "%d", std::countr_zero(bits));
    });
    json_array(out, "signal", facts.channels, [&](long long i) { json_signal(out, facts, static_cast<int>(i)); });
    std::fputs(",\"findings\":[", out);
    bool first = true;
    for (const finding_group& group : facts.findings) {
        for (long long i = 0; i < group.count && i < static_cast<long long>(finding_lines); ++i) {
            std::fputs(first ? "" : ",", out);
            json_string(out, group.lines[static_cast<std::size_t>(i)].data());
            first = false;
        }
        if (group.count > static_cast<long long>(finding_lines))
            std::fprintf(out, ",\"... and %lld more\"", group.count - static_cast<long long>(finding_lines));
    }
    std::fprintf(out, "],\"finding_count\":%lld}\n", finding_total(facts));
}
