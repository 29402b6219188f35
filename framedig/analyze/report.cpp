// The analysis as a text report for a terminal: a summary, one section per
// topic, then the findings. Lines stay within 80 columns.
#include "analyze/analysis.h"

#include <algorithm>
#include <bit>
#include <string_view>

namespace {

void print_field_lines(std::FILE* out, const status_block& status)
{
    const bool pro = status_professional(status);
    for (std::size_t i = 0; i < status_field_count(pro); ++i) {
        std::array<char, 48> text{};
        field_text(status_field_at(pro, i), status, text.data(), text.size());
        std::fprintf(out, "    %-28s %s\n", status_field_at(pro, i).name, text.data());
    }
    if (pro)
        std::fprintf(out, "    %-28s %s (computed %u)\n", "CRCC check", status_crc_ok(status) ? "ok" : "WRONG",
                     static_cast<unsigned>(status_crc(status)));
}

// A channel's status in full, or what sets it apart from channel 1's.
void print_channel_status(std::FILE* out, const analysis& facts, int ch)
{
    const status_block& status = facts.per_channel[static_cast<std::size_t>(ch)].first;
    const status_block& one = facts.per_channel[0].first;
    std::fprintf(out, "  channel %-5d ", ch + 1);
    if (ch > 0 && status == one) {
        std::fputs("same as channel 1\n", out);
        return;
    }
    const bool pro = status_professional(status);
    const std::uint32_t differ = ch > 0 ? status_changed_fields(one, status) : 0;
    std::uint32_t significant = differ;
    for (std::size_t i = 0; i < status_field_count(pro); ++i)
        if (field_may_differ_between_channels(status_field_at(pro, i)))
            significant &= ~(1U << i);
    if (ch > 0 && status_professional(one) == pro && significant == 0) {
        std::array<char, finding_text> line{};
        int used = std::snprintf(line.data(), line.size(), "same as channel 1, except");
        for (std::size_t i = 0; i < status_field_count(pro) && used < static_cast<int>(line.size()); ++i) {
            if ((differ & (1U << i)) == 0)
                continue;
            std::array<char, 48> text{};
            field_text(status_field_at(pro, i), status, text.data(), text.size());
            used += std::snprintf(line.data() + used, line.size() - static_cast<std::size_t>(used), " %s %s",
                                  status_field_at(pro, i).name, text.data());
        }
        print_wrapped(out, 16, line.data());
        return;
    }
    for (std::size_t i = 0; i < status.size(); ++i)
        std::fprintf(out, "%02x%s", status[i], i == 11 ? "\n                " : i + 1 < status.size() ? " " : "\n");
    print_field_lines(out, status);
}

void print_findings(std::FILE* out, const analysis& facts)
{
    std::fputs("\nFindings\n", out);
    if (finding_total(facts) == 0)
        std::fputs("  none\n", out);
    for (const finding_group& group : facts.findings) {
        for (long long i = 0; i < group.count && i < static_cast<long long>(finding_lines); ++i) {
            std::fputs("  ", out);
            print_wrapped(out, 2, group.lines[static_cast<std::size_t>(i)].data());
        }
        if (group.count > static_cast<long long>(finding_lines))
            std::fprintf(out, "  ... and %lld more\n", group.count - static_cast<long long>(finding_lines));
    }
}

// Why the status is not reported, when it is not.
const char* status_missing(const analysis& facts)
{
    return facts.nothing_received ? "nothing received"
           : facts.status_made_up ? "-c contradicts the preamble codes"
                                  : "no whole block";
}

void print_structure(std::FILE* out, const analysis& facts)
{
    std::fputs("\nStructure\n", out);
    if (facts.channels == 0)
        std::fputs("  channels      unknown (nothing to detect them from)\n", out);
    else
        std::fprintf(out, "  channels      %d (%s)\n", facts.channels,
                     facts.channels_detected ? "detected from the preambles" : "given with -c");
    std::fprintf(out, "  words         %lld\n  frames        %lld\n", facts.words, facts.frames);
    if (facts.leading_words > 0)
        std::fprintf(out, "  leading       %lld words of a frame cut at the start\n", facts.leading_words);
    std::fprintf(out, "  trailing      %lld bytes\n", facts.trailing_bytes);
    if (facts.interrupted)
        std::fputs("  reading       stopped by a signal: the report covers what was read\n", out);
    if (facts.preambles)
        std::fprintf(out, "  first block   frame %lld\n                (preamble codes: 0x%X block start, 0x%X first subframe)\n",
                     facts.first_block_frame, facts.block_code, facts.first_code);
    else if (facts.preamble_channels != 0)
        std::fprintf(out, "  first block   frame 0, counted from the first word: the preamble codes\n"
                          "                suggest %d channels, not %d\n", facts.preamble_channels, facts.channels);
    else if (facts.channels != 0)
        std::fputs("  first block   frame 0, counted from the first word: no preamble codes\n", out);
}

void print_signal(std::FILE* out, const analysis& facts)
{
    std::fputs("\nSignal (linear PCM; levels in dBFS against 24-bit full scale)\n", out);
    if (facts.channels > 0)
        std::fprintf(out, "  %-13s%10s%10s%12s%11s\n", "channel", "peak dBFS", "RMS dBFS", "DC offset", "tone Hz");
    for (int ch = 0; ch < facts.channels; ++ch) {
        const channel_facts& cf = facts.per_channel[static_cast<std::size_t>(ch)];
        const signal_result& r = cf.result;
        std::fprintf(out, "  %-13d", ch + 1);
        if (cf.signal.samples == 0)
            std::fputs("no linear PCM samples\n", out);
        else if (r.silent)
            std::fputs("digital silence\n", out);
        else if (r.tone)
            std::fprintf(out, "%10.2f%10.2f%12.2f%11.1f\n", r.peak_dbfs, r.rms_dbfs, r.dc_offset, r.tone_hz);
        else
            std::fprintf(out, "%10.2f%10.2f%12.2f%11s\n", r.peak_dbfs, r.rms_dbfs, r.dc_offset, "-");
    }
    const silence_track& s = facts.silence;
    if (facts.channels == 0)
        std::fputs("  none\n", out);
    else if (s.mute_count == 0)
        std::fputs("  mutes         none\n", out);
    else
        std::fprintf(out, "  mutes         %lld (silence on every channel between audio)\n", s.mute_count);
    for (long long i = 0; i < s.mute_count && i < static_cast<long long>(s.mutes.size()); ++i) {
        const mute_run& m = s.mutes[static_cast<std::size_t>(i)];
        std::fprintf(out, "    at %.3f s (frame %lld): %.1f ms, %lld frames\n", m.seconds, m.frame, m.duration_ms, m.frames);
    }
    if (s.mute_count > static_cast<long long>(s.mutes.size()))
        std::fprintf(out, "    ... and %lld more\n", s.mute_count - static_cast<long long>(s.mutes.size()));
}

// What the bursts carry: each codec's frames and metadata, the pauses, and
// the content over time.
void print_bitstream(std::FILE* out, const analysis& facts)
{
    std::fputs("\nBitstream\n", out);
    if (facts.bursts == 0) {  // linear PCM throughout, or nothing
        std::fputs("  none\n", out);
        return;
    }
    for (std::size_t i = 0; i < static_cast<std::size_t>(facts.codec_count); ++i) {
        const codec_stats& stats = facts.codecs[i].stats;
        std::fprintf(out, "  %-13s %lld frames, %lld CRC errors, %lld metadata changes\n", stats.name, stats.frames,
                     stats.crc_errors, stats.metadata_changes);
        if (stats.have_metadata) {
            std::array<char, 256> text{};
            metadata_text(stats.metadata, text.data(), text.size());
            std::fputs("                ", out);
            print_wrapped(out, 16, text.data());
        }
    }
    const timeline& t = facts.content;
    if (t.pauses > 0)
        std::fprintf(out, "  pauses        %lld bursts\n", t.pauses);
    const int rate = content_rate_hz(facts);
    for (long long i = 0; i < t.entry_count && i < static_cast<long long>(t.entries.size()); ++i) {
        const timeline_entry& entry = t.entries[static_cast<std::size_t>(i)];
        std::array<char, 16> name{};
        std::fprintf(out, "  %-13s frame %lld (%.3f s): %s\n", i == 0 ? "content" : "", entry.frame,
                     frames_to_ms(entry.frame, rate) / 1000.0, content_name(entry, name.data(), name.size()));
    }
    if (t.entry_count > static_cast<long long>(t.entries.size()))
        std::fprintf(out, "                ... and %lld more\n", t.entry_count - static_cast<long long>(t.entries.size()));
}

} // namespace

void write_text_report(std::FILE* out, const analysis& facts)
{
    const bool have_status = status_known(facts);
    std::array<char, 32> type_text{};
    std::fputs("Summary\n", out);
    if (have_status) {
        const status_block& one = facts.per_channel[0].first;
        const int rate = status_rate_hz(one);
        const int length = status_word_length(one);
        std::fprintf(out, "  format        %s\n", status_professional(one) ? "professional (AES3)" : "consumer (IEC 60958-3)");
        if (rate != 0)
            std::fprintf(out, "  rate          %g kHz\n", rate / 1000.0);
        else
            std::fputs("  rate          not indicated\n", out);
        if (length != 0)
            std::fprintf(out, "  word length   %d bits\n", length);
        else
            std::fputs("  word length   not indicated\n", out);
    } else {
        std::fprintf(out, "  format        unknown: %s\n", status_missing(facts));
    }
    if (facts.bursts > 0)
        std::fprintf(out, "  content       IEC 61937 bitstream, %s\n", listed_type_name(facts, 0, type_text.data(), type_text.size()));
    else if (facts.nothing_received || facts.words == 0)
        std::fputs("  content       nothing\n", out);
    else
        std::fprintf(out, "  content       %s\n",
                     !have_status || status_linear_pcm(facts.per_channel[0].first) ? "linear PCM" : "non-audio");
    std::fprintf(out, "  blocks        %lld whole\n", facts.blocks);
    std::fprintf(out, "  findings      %lld\n", finding_total(facts));
    print_structure(out, facts);

    std::fputs("\nParity\n", out);
    if (!facts.parity_carried)
        std::fputs("  parity not carried (every P bit is 0)\n", out);
    for (int ch = 0; facts.parity_carried && ch < facts.channels; ++ch)
        std::fprintf(out, "  channel %-5d %lld errors\n", ch + 1, facts.per_channel[static_cast<std::size_t>(ch)].parity_errors);
    if (facts.parity_carried && facts.first_parity_frame >= 0)
        std::fprintf(out, "  first error   frame %lld, channel %d\n", facts.first_parity_frame, facts.first_parity_channel);

    std::fputs("\nChannel status (first whole block)\n", out);
    if (!have_status)
        std::fprintf(out, "  not known: %s\n", status_missing(facts));
    for (int ch = 0; have_status && ch < facts.channels; ++ch)
        print_channel_status(out, facts, ch);

    std::fputs("\nValidity\n", out);
    for (int ch = 0; ch < facts.channels; ++ch)
        std::fprintf(out, "  channel %-5d %lld frames with V = 1\n", ch + 1, facts.per_channel[static_cast<std::size_t>(ch)].invalid_frames);

    std::fputs("\nIEC 61937 bursts\n", out);
    if (facts.bursts == 0)
        std::fputs("  none\n", out);
    else
        std::fprintf(out, "  %lld bursts\n", facts.bursts);
    for (int i = 0; i < facts.burst_type_count; ++i)
        std::fprintf(out, "  data type     %s\n", listed_type_name(facts, i, type_text.data(), type_text.size()));
    if (facts.burst_spacing >= 0)
        std::fprintf(out, "  spacing       %s%lld frames\n", facts.burst_spacing_varies ? "varies, first " : "", facts.burst_spacing);
    print_bitstream(out, facts);

    std::fputs("\nWord length in use (lowest audio bit set, 4-27)\n", out);
    for (int ch = 0; ch < facts.channels; ++ch) {
        const std::uint32_t bits = facts.per_channel[static_cast<std::size_t>(ch)].audio_bits;
        if (bits == 0)
            std::fprintf(out, "  channel %-5d silent\n", ch + 1);
        else
            std::fprintf(out, "  channel %-5d bit %d, %d bits in use\n", ch + 1, std::countr_zero(bits),
                         sample_msb_pos + 1 - std::countr_zero(bits));
    }
    print_signal(out, facts);
    print_findings(out, facts);
}
