// Analysis: one pass over the capture finds the block structure from the
// preamble codes and gathers parity, validity, channel status, bursts and
// word length per channel; the findings then decide the exit status.
#include "analyze/analysis.h"

#include <cstring>
#include <memory>
#include <new>

namespace {

// The preamble codes are detected in the first MiB, which holds two blocks
// of up to 682 channels; the rest of the capture streams through the same buffer.
constexpr std::size_t window_bytes = std::size_t{1024} * 1024;

// Whether bits 4-31 hold an odd number of ones. The compiler's parity
// builtin uses the processor's parity flag or population count.
unsigned parity_odd(std::uint32_t w)
{
    return static_cast<unsigned>(__builtin_parity(w & parity_covered_mask));
}

struct pass_state {
    int channels = 0;
    bool preambles = false;
    unsigned block_code = 0;
    long long word = 0;
    int ch = 0;
    int frame_in_block = 0;
    bool in_block = false;
    bool expect_start = false;
    std::uint32_t parity_bits = 0;
    burst_search bursts;
};

long long frame_of(const pass_state& p)
{
    return p.word / p.channels;
}

void clear_current(analysis& facts, int channels)
{
    for (int ch = 0; ch < channels; ++ch)
        facts.per_channel[static_cast<std::size_t>(ch)].current = status_block{};
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
    for (std::size_t i = 0; i < status_field_count(pro) && used < static_cast<int>(finding_text); ++i) {
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

void block_complete(pass_state& p, analysis& facts)
{
    for (int ch = 0; ch < p.channels; ++ch) {
        channel_facts& cf = facts.per_channel[static_cast<std::size_t>(ch)];
        if (facts.blocks == 0)
            cf.first = cf.current;
        else if (cf.current != cf.last)
            record_change(facts, ch, cf.last, cf.current);
        cf.last = cf.current;
        if (status_professional(cf.current) && !status_crc_ok(cf.current))
            ++cf.crc_errors;
    }
    ++facts.blocks;
    clear_current(facts, p.channels);
    p.frame_in_block = 0;
    if (p.preambles) {
        p.in_block = false;
        p.expect_start = true;
    }
}

// A block-start code inside a block is out of place; after a missing one it
// is where the stream resynchronises.
void block_start(pass_state& p, analysis& facts)
{
    if (p.in_block) {
        if (char* line = finding_slot(facts, finding_block))
            std::snprintf(line, finding_text, "block structure broken at frame %lld", frame_of(p));
    }
    if (facts.first_block_frame < 0)
        facts.first_block_frame = frame_of(p);
    p.in_block = true;
    p.expect_start = false;
    p.frame_in_block = 0;
    p.ch = 0;
    clear_current(facts, p.channels);
}

void block_start_missing(pass_state& p, analysis& facts)
{
    if (char* line = finding_slot(facts, finding_block))
        std::snprintf(line, finding_text, "block structure broken at frame %lld", frame_of(p));
    p.expect_start = false;
}

void burst_found(pass_state& p, analysis& facts, int type)
{
    const long long start = p.word - 3;
    bool known = false;
    for (int i = 0; i < facts.burst_type_count; ++i)
        known = known || facts.burst_types[static_cast<std::size_t>(i)] == type;
    if (!known && facts.burst_type_count < static_cast<int>(facts.burst_types.size()))
        facts.burst_types[static_cast<std::size_t>(facts.burst_type_count++)] = type;
    if (facts.last_burst_word >= 0) {
        const long long spacing = (start - facts.last_burst_word) / p.channels;
        if (facts.burst_spacing < 0)
            facts.burst_spacing = spacing;
        else if (spacing != facts.burst_spacing)
            facts.burst_spacing_varies = true;
    }
    facts.last_burst_word = start;
    ++facts.bursts;
}

void analyze_words(pass_state& p, analysis& facts, const std::uint8_t* buf, std::size_t count)
{
    channel_facts* const per_channel = facts.per_channel.get();
    for (std::size_t i = 0; i < count; ++i, ++p.word) {
        const std::uint32_t w = load_word(buf + i * word_bytes);
        if (p.preambles) {
            if ((w & preamble_mask) == p.block_code)
                block_start(p, facts);
            else if (p.expect_start)
                block_start_missing(p, facts);
        }
        channel_facts& cf = per_channel[p.ch];
        const unsigned odd = parity_odd(w);
        cf.parity_errors += odd;
        if (odd != 0 && facts.first_parity_frame < 0) {
            facts.first_parity_frame = frame_of(p);
            facts.first_parity_channel = p.ch + 1;
        }
        p.parity_bits |= w;
        cf.invalid_frames += (w >> validity_bit_pos) & 1U;
        cf.audio_bits |= w & audio_mask;
        if (p.in_block && ((w >> status_bit_pos) & 1U) != 0)
            cf.current[static_cast<std::size_t>(p.frame_in_block >> 3)] |= static_cast<std::uint8_t>(1U << (p.frame_in_block & 7));
        // Most words cannot start or continue a burst preamble.
        const bool burst_word = p.bursts.state != 0 || ((w >> burst_word_shift) & 0xFFFFU) == burst_pa;
        if (const int type = burst_word ? burst_feed(p.bursts, w) : -1; type >= 0)
            burst_found(p, facts, type);
        if (++p.ch == p.channels) {
            p.ch = 0;
            if (p.in_block && ++p.frame_in_block == frames_per_block)
                block_complete(p, facts);
        }
    }
}

} // namespace

// Returns 0 when the report lists no findings, 1 when it lists any and on
// every error; the caller reports a failed write.
int iec_analyze(std::FILE* in, std::FILE* out, bool wav, int channels, bool json)
{
    const std::unique_ptr<analysis> facts(new (std::nothrow) analysis());
    auto buf = zeroed_array<std::uint8_t>(window_bytes);
    if (!facts || !buf) {
        std::puts("Failed to allocate memory for analysis.");
        return 1;
    }
    skip_header(in, wav);
    std::size_t filled = read_units(in, buf.get(), 1, window_bytes);
    const preamble_codes found = detect_preambles(buf.get(), filled / word_bytes, channels);
    if (channels == 0 && !found.usable) {
        std::puts("Error: channel number(-c) could not be detected; please give -c.");
        return 1;
    }
    facts->channels = channels != 0 ? channels : found.channels;
    facts->channels_detected = channels == 0;
    facts->per_channel = zeroed_array<channel_facts>(static_cast<std::size_t>(facts->channels));
    if (!facts->per_channel) {
        std::puts("Failed to allocate memory for analysis.");
        return 1;
    }
    if (!found.usable && channels != 0)
        facts->preamble_channels = detect_preambles(buf.get(), filled / word_bytes, 0).channels;
    facts->preambles = found.usable;
    facts->block_code = found.block;
    facts->first_code = found.first;

    pass_state p;
    p.channels = facts->channels;
    p.preambles = found.usable;
    p.block_code = found.block;
    p.in_block = !found.usable;
    if (!found.usable)
        facts->first_block_frame = 0;
    while (filled >= word_bytes) {
        const std::size_t count = filled / word_bytes;
        analyze_words(p, *facts, buf.get(), count);
        const std::size_t rest = filled - count * word_bytes;
        std::memmove(buf.get(), buf.get() + count * word_bytes, rest);
        filled = rest + read_units(in, buf.get() + rest, 1, window_bytes - rest);
    }
    if (input_result(in) != 0)
        return 1;

    facts->words = p.word;
    facts->frames = p.word / facts->channels;
    facts->trailing_bytes = static_cast<long long>(filled) + (p.word % facts->channels) * static_cast<long long>(word_bytes);
    facts->parity_carried = (p.parity_bits & (1U << 31)) != 0;
    add_closing_findings(*facts);
    if (json)
        write_json_report(out, *facts);
    else
        write_text_report(out, *facts);
    return finding_total(*facts) == 0 ? 0 : 1;
}
