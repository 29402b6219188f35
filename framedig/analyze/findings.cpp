// Findings: what the analysis reports as wrong with a capture, one line each.
#include "analyze/analysis.h"

#include <bit>
#include <string_view>

char* finding_slot(analysis& facts, finding_kind kind)
{
    finding_group& group = facts.findings[kind];
    const long long n = group.count++;
    return n < static_cast<long long>(finding_lines) ? group.lines[static_cast<std::size_t>(n)].data() : nullptr;
}

long long finding_total(const analysis& facts)
{
    long long total = 0;
    for (const finding_group& group : facts.findings)
        total += group.count;
    return total;
}

namespace {

// Channel 2 and up against channel 1 in the first whole block: a pair may
// differ only in its channel and source numbers.
void compare_with_channel_1(analysis& facts, int ch)
{
    const status_block& one = facts.per_channel[0].first;
    const status_block& other = facts.per_channel[static_cast<std::size_t>(ch)].first;
    const bool pro = status_professional(one);
    std::uint32_t fields = status_changed_fields(one, other);
    for (std::size_t i = 0; i < status_field_count(pro); ++i)
        if (field_may_differ_between_channels(status_field_at(pro, i)))
            fields &= ~(1U << i);
    if (fields == 0)
        return;
    char* line = finding_slot(facts, finding_channel_status);
    if (line == nullptr)
        return;
    int used = std::snprintf(line, finding_text, "channel %d disagrees with channel 1 on", ch + 1);
    const char* separator = " ";
    for (std::size_t i = 0; i < status_field_count(pro) && used < static_cast<int>(finding_text); ++i) {
        if ((fields & (1U << i)) != 0) {
            used += std::snprintf(line + used, finding_text - static_cast<std::size_t>(used), "%s%s", separator,
                                  status_field_at(pro, i).name);
            separator = ", ";
        }
    }
}

// Bits below the word length that the status indicates are lost by a
// receiver that trusts it.
void check_word_length(analysis& facts, int ch)
{
    const channel_facts& cf = facts.per_channel[static_cast<std::size_t>(ch)];
    const int length = status_word_length(cf.first);
    const int lowest_allowed = sample_msb_pos + 1 - length;
    if (length == 0 || cf.audio_bits == 0 || !status_linear_pcm(cf.first))
        return;
    const int lowest = std::countr_zero(cf.audio_bits);
    if (lowest < lowest_allowed) {
        if (char* line = finding_slot(facts, finding_word_length))
            std::snprintf(line, finding_text, "channel %d: audio bit %d is set, below the %d-bit word length of its status",
                          ch + 1, lowest, length);
    }
}

} // namespace

void add_closing_findings(analysis& facts)
{
    const bool have_status = facts.blocks > 0;
    const bool pcm = !have_status || status_linear_pcm(facts.per_channel[0].first);
    for (int ch = 0; ch < facts.channels; ++ch) {
        const channel_facts& cf = facts.per_channel[static_cast<std::size_t>(ch)];
        if (facts.parity_carried && cf.parity_errors > 0) {
            if (char* line = finding_slot(facts, finding_parity))
                std::snprintf(line, finding_text, "channel %d: %lld parity errors", ch + 1, cf.parity_errors);
        }
        if (cf.crc_errors > 0) {
            if (char* line = finding_slot(facts, finding_crc))
                std::snprintf(line, finding_text, "channel %d: channel status CRCC wrong in %lld blocks", ch + 1,
                              cf.crc_errors);
        }
        const bool channel_pcm = !have_status || status_linear_pcm(cf.first);
        if (cf.invalid_frames > 0 && channel_pcm) {
            if (char* line = finding_slot(facts, finding_validity))
                std::snprintf(line, finding_text, "channel %d: %lld frames with V = 1 in linear PCM", ch + 1,
                              cf.invalid_frames);
        }
        if (have_status && ch > 0)
            compare_with_channel_1(facts, ch);
        if (have_status)
            check_word_length(facts, ch);
    }
    if (have_status && pcm && facts.bursts > 0) {
        if (char* line = finding_slot(facts, finding_bitstream))
            std::snprintf(line, finding_text, "IEC 61937 bursts in a stream whose channel status says linear PCM");
    }
    if (have_status && !pcm && facts.bursts == 0) {
        if (char* line = finding_slot(facts, finding_bitstream))
            std::snprintf(line, finding_text, "channel status says non-audio, but the stream carries no IEC 61937 bursts");
    }
}
