// A whole block's status: decoded once the next block start arrives in
// place (or the capture ends), compared with the block before, and the
// block's audio bits judged against its word length. A block whose successor
// starts out of place is a broken structure, not a status: it is rejected
// and its audio bits are judged against the status in force.
#include "analyze/pass.h"

#include <bit>

namespace {

// Audio bits below the word length that the status indicates are lost by a
// receiver that trusts it. length is the status's word length, 0 when it
// indicates none or is not linear PCM.
void judge_bits(channel_facts& cf, std::uint32_t bits, int length)
{
    bits &= audio_mask;
    if (length == 0 || bits == 0)
        return;
    const int lowest = std::countr_zero(bits);
    if (lowest < sample_msb_pos + 1 - length && (cf.short_bit < 0 || lowest < cf.short_bit)) {
        cf.short_bit = lowest;
        cf.short_length = length;
    }
}

int pcm_word_length(const status_block& status)
{
    return status_linear_pcm(status) ? status_word_length(status) : 0;
}

// A status that differs from the channel's last block: one finding line
// with every changed field's old and new value.
void record_change(analysis& facts, int ch, const status_block& before, const status_block& after)
{
    const std::uint32_t fields = status_changed_fields(before, after);
    if (facts.change_count < static_cast<long long>(finding_lines))
        facts.changes[static_cast<std::size_t>(facts.change_count)] = {facts.blocks, ch + 1, fields, status_professional(before)};
    ++facts.change_count;
    char* line = finding_slot(facts, finding_status_change);
    if (line == nullptr)
        return;
    int used = std::snprintf(line, finding_text, "block %lld, channel %d:", facts.blocks, ch + 1);
    if (fields == 0)
        std::snprintf(line + used, finding_text - static_cast<std::size_t>(used), " status bits outside the named fields");
    const bool pro = status_professional(before);
    const char* separator = " ";
    for (std::size_t i = 0; i < status_field_count(pro); ++i) {
        if ((fields & (1U << i)) == 0)
            continue;
        std::array<char, 48> old_text{};
        std::array<char, 48> new_text{};
        field_text(status_field_at(pro, i), before, old_text.data(), old_text.size());
        field_text(status_field_at(pro, i), after, new_text.data(), new_text.size());
        used += std::snprintf(line + used, finding_text - static_cast<std::size_t>(used), "%s%s %s -> %s", separator,
                              status_field_at(pro, i).name, old_text.data(), new_text.data());
        separator = ", ";
    }
}

} // namespace

// The pending block is whole and in place: its status counts.
void decode_pending(pass_state& p, analysis& facts)
{
    p.pending = false;
    const bool new_status = facts.blocks == 0 || facts.per_channel[0].pending != facts.per_channel[0].last;
    for (int ch = 0; ch < p.channels; ++ch) {
        channel_facts& cf = facts.per_channel[static_cast<std::size_t>(ch)];
        const bool changed = facts.blocks == 0 || cf.pending != cf.last;
        const int length = changed ? pcm_word_length(cf.pending) : cf.last_length;
        // Words outside whole blocks came under the status in force then:
        // the latest block's, or for those before the first, this one's.
        judge_bits(cf, cf.unjudged_bits, facts.blocks == 0 ? length : cf.last_length);
        cf.unjudged_bits = 0;
        judge_bits(cf, cf.pending_bits, length);
        if (facts.blocks == 0)
            cf.first = cf.pending;
        else if (changed && !facts.status_made_up)
            record_change(facts, ch, cf.last, cf.pending);
        if (changed)
            cf.last_crc_wrong = status_professional(cf.pending) && !status_crc_ok(cf.pending) && !facts.status_made_up;
        if (cf.last_crc_wrong)
            ++cf.crc_errors;
        cf.last = cf.pending;
        cf.last_length = length;
    }
    if (new_status) {
        const int rate = facts.status_made_up ? 0 : status_rate_hz(facts.per_channel[0].last);
        if (facts.blocks == 0 && rate != 0)
            facts.tone_rate_hz = rate;
        set_status_rate(facts.silence, facts.blocks == 0 ? 0 : p.pending_frame, rate);
    }
    ++facts.blocks;
}

void reject_pending(pass_state& p, analysis& facts)
{
    p.pending = false;
    for (int ch = 0; ch < p.channels; ++ch) {
        channel_facts& cf = facts.per_channel[static_cast<std::size_t>(ch)];
        cf.unjudged_bits |= cf.pending_bits;
    }
}

void block_complete(pass_state& p, analysis& facts)
{
    p.last_block_end = p.word;
    p.frame_in_block = 0;
    p.pending = true;
    if (p.preambles) {
        p.in_block = false;
        p.expect_start = true;
    } else {
        decode_pending(p, facts);
    }
}

// What is left at the end: a whole block waiting, bits not judged yet.
void decode_rest(pass_state& p, analysis& facts)
{
    if (p.pending)
        decode_pending(p, facts);
    for (int ch = 0; ch < p.channels; ++ch) {
        channel_facts& cf = facts.per_channel[static_cast<std::size_t>(ch)];
        cf.unjudged_bits |= cf.block_bits;
        cf.block_bits = 0;
        if (facts.blocks > 0)
            judge_bits(cf, cf.unjudged_bits, cf.last_length);
    }
}
