// IEC 61937 bursts as the analysis records them: their types, count and
// spacing, and the stretch of frames they occupy, which the signal
// statistics skip. burst_found is the one place where every burst the pass
// finds arrives, on either path: what is decoded from the bursts attaches here.
#include "analyze/analysis.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace {

// Bursts closer than this many frames belong to one stretch; the longest
// repetition period of a data type is 15360 frames. A lone burst's stretch
// lasts as long.
constexpr long long max_burst_gap = 16384;

} // namespace

void burst_found(analysis& facts, long long word, int type, unsigned pc, int bits)
{
    bool known = false;
    for (std::size_t i = 0; i < static_cast<std::size_t>(facts.burst_type_count); ++i)
        known = known || (facts.burst_types[i] == type && facts.burst_type_bits[i] == bits);
    if (!known && facts.burst_type_count < static_cast<int>(facts.burst_types.size())) {
        facts.burst_type_bits[static_cast<std::size_t>(facts.burst_type_count)] = bits;
        facts.burst_types[static_cast<std::size_t>(facts.burst_type_count++)] = type;
    }
    const long long channels = facts.channels;
    if (facts.last_burst_word >= 0) {
        const long long spacing = (word - facts.last_burst_word) / channels;
        if (facts.burst_spacing < 0)
            facts.burst_spacing = spacing;
        else if (spacing != facts.burst_spacing)
            facts.burst_spacing_varies = true;
    }
    // The stretch runs on from this burst for as long as the last spacing,
    // so that its payload and the stuffing after it belong to it.
    const long long frame = word / channels;
    const long long gap = facts.last_burst_frame >= 0 && frame - facts.last_burst_frame <= max_burst_gap
                              ? frame - facts.last_burst_frame
                              : max_burst_gap;
    facts.bitstream_until = std::max(facts.bitstream_until, frame + gap + 1);
    facts.last_burst_word = word;
    facts.last_burst_frame = frame;
    ++facts.bursts;
    if (type != burst_type_null)  // NULL bursts say nothing about the content
        timeline_burst(facts.content, frame, type, pc);
}

const char* listed_type_name(const analysis& facts, int index, char* text, std::size_t size)
{
    const auto i = static_cast<std::size_t>(index);
    const int bits = facts.burst_type_bits[i];
    if (bits == burst_modes[0].bits)
        return burst_type_name(facts.burst_types[i], text, size);
    std::array<char, 16> name{};
    const char* type = burst_type_name(facts.burst_types[i], name.data(), name.size());
    std::snprintf(text, size, "%s (%d-bit)", type, bits);
    return text;
}
