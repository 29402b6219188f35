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
    for (std::size_t i = 0; i < status_field_count(pro); ++i) {
        if ((fields & (1U << i)) != 0) {
            used += std::snprintf(line + used, finding_text - static_cast<std::size_t>(used), "%s%s", separator,
                                  status_field_at(pro, i).name);
            separator = ", ";
        }
    }
}

// The lowest audio bit set below the word length of the status in force
// when the sample came: a receiver that trusts the status truncates it.
void check_word_length(analysis& facts, int ch)
{
    const channel_facts& cf = facts.per_channel[static_cast<std::size_t>(ch)];
    if (cf.short_bit < 0)
        return;
    if (char* line = finding_slot(facts, finding_word_length))
        std::snprintf(line, finding_text, "channel %d: audio bit %d is set, below the %d-bit word length of its status",
                      ch + 1, cf.short_bit, cf.short_length);
}

// Audio bits as a list: "bit 15" or "bits 4, 6 and 20-27".
void bit_list(std::uint32_t bits, char* text, std::size_t size)
{
    int used = std::snprintf(text, size, "bit%s", std::has_single_bit(bits) ? "" : "s");
    const char* separator = " ";
    for (int bit = audio_lsb_pos; bit <= sample_msb_pos; ++bit) {
        if (((bits >> bit) & 1U) == 0)
            continue;
        int last = bit;
        while (last < sample_msb_pos && ((bits >> (last + 1)) & 1U) != 0)
            ++last;
        const bool final_run = (bits >> (last + 1)) == 0 || last == sample_msb_pos;
        if (final_run && separator[0] == ',')
            separator = " and ";
        used += last > bit ? std::snprintf(text + used, size - static_cast<std::size_t>(used), "%s%d-%d", separator, bit, last)
                           : std::snprintf(text + used, size - static_cast<std::size_t>(used), "%s%d", separator, bit);
        separator = ", ";
        bit = last;
    }
}

void check_stuck_bits(analysis& facts, int ch)
{
    const signal_result& r = facts.per_channel[static_cast<std::size_t>(ch)].result;
    std::array<char, 160> bits{};
    if (r.stuck_at_0 != 0) {
        bit_list(r.stuck_at_0, bits.data(), bits.size());
        if (char* line = finding_slot(facts, finding_stuck_at_0))
            std::snprintf(line, finding_text, "channel %d: audio %s %s never set, though lower bits are", ch + 1, bits.data(),
                          std::has_single_bit(r.stuck_at_0) ? "is" : "are");
    }
    if (r.stuck_at_1 != 0) {
        bit_list(r.stuck_at_1, bits.data(), bits.size());
        if (char* line = finding_slot(facts, finding_stuck_at_1))
            std::snprintf(line, finding_text, "channel %d: audio %s %s always set", ch + 1, bits.data(),
                          std::has_single_bit(r.stuck_at_1) ? "is" : "are");
    }
}

// What the capture as a whole lacks: -c against the codes, no block, no word.
void check_capture(analysis& facts)
{
    if (facts.status_made_up) {
        if (char* line = finding_slot(facts, finding_framing))
            std::snprintf(line, finding_text, "the preamble codes show %d channels, but -c gives %d", facts.preamble_channels,
                          facts.channels);
    }
    if (facts.nothing_received) {
        if (char* line = finding_slot(facts, finding_capture))
            std::snprintf(line, finding_text, "the capture holds only zero words: nothing was received");
    } else if (facts.blocks == 0) {
        if (char* line = finding_slot(facts, finding_capture))
            std::snprintf(line, finding_text, "the capture holds no whole block");
    }
}

} // namespace

bool status_known(const analysis& facts)
{
    return facts.blocks > 0 && !facts.status_made_up && !facts.nothing_received;
}

void add_closing_findings(analysis& facts)
{
    check_capture(facts);
    const bool have_status = status_known(facts);
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
        check_stuck_bits(facts, ch);
    }
    if (have_status && pcm && facts.bursts > 0) {
        if (char* line = finding_slot(facts, finding_bitstream))
            std::snprintf(line, finding_text, "IEC 61937 bursts in a stream whose channel status says linear PCM");
    }
    if (have_status && !pcm && facts.bursts == 0) {
        if (char* line = finding_slot(facts, finding_bitstream))
            std::snprintf(line, finding_text, "channel status says non-audio, but the stream carries no IEC 61937 bursts");
    }
    add_bitstream_findings(facts);
}
