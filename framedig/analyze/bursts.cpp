// IEC 61937 bursts as the analysis records them: their types, count and
// spacing, and the stretch of frames they occupy, which the signal
// statistics skip. burst_found is the one place where every burst the pass
// finds arrives, on either path: what is decoded from the bursts attaches here.
#include "analyze/analysis.h"

#include <algorithm>

namespace {

// Bursts closer than this many frames belong to one stretch; the longest
// repetition period of a data type is 15360 frames. A lone burst's stretch
// lasts as long.
constexpr long long max_burst_gap = 16384;

} // namespace

void burst_found(analysis& facts, long long word, int type)
{
    bool known = false;
    for (int i = 0; i < facts.burst_type_count; ++i)
        known = known || facts.burst_types[static_cast<std::size_t>(i)] == type;
    if (!known && facts.burst_type_count < static_cast<int>(facts.burst_types.size()))
        facts.burst_types[static_cast<std::size_t>(facts.burst_type_count++)] = type;
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
}
