// The diagnosis: which stage in the path explains the differences, found
// each on its own from the sums: a channel map, an inverted channel, a gain,
// samples cut to fewer bits, a constant added, a delayed channel, or no
// relation at all.
#include "compare/compare.h"

#include <bit>
#include <cmath>

namespace {

constexpr double fit_tolerance = 1.5;    // what a fit may leave, in units of the capture's lowest bit
constexpr double unity_gain_db = 0.005;  // a gain that rounds to 0.00 dB is none
constexpr long long least_samples = 16;  // samples a relation must hold over

// What the sums say about one capture channel.
struct channel_verdict {
    bool started = false;    // it differs from the reference somewhere
    bool explained = false;  // by the channel map, the skew, a fit or the word length
    bool fitted = false;     // a line fits its samples: it relates to the reference
    bool small = false;      // a fit with unity gain and no offset: the differences are noise-like
    bool inverted = false;
    bool has_gain = false;
    bool has_offset = false;
    linear_fit fit{};
    double gain_db = 0;
    long long from_frame = -1;
};

using verdict_array = std::array<channel_verdict, max_diagnosed_channels>;

void add(comparison& facts, diagnosis_kind kind, int channel, long long value = 0)
{
    if (facts.diagnosed < facts.diagnoses.size())
        facts.diagnoses[facts.diagnosed++] = {kind, channel, 0, value, -1, word_cut::truncated};
}

bool differs(const channel_sums& sums) { return sums.error_min != 0 || sums.error_max != 0; }

int lowest_bit(std::uint32_t bits) { return bits == 0 ? 0 : std::countr_zero(bits); }

// A line through captured against expected: polarity, gain and a constant,
// each when the line leaves no more than the capture's resolution.
void fit_channel(const channel_sums& sums, double quantum, channel_verdict& verdict)
{
    verdict.started = sums.started;
    verdict.explained = sums.started && !differs(sums);
    if (!sums.started || !differs(sums) || sums.n < least_samples || !fit_line(sums, verdict.fit) ||
        verdict.fit.rms > fit_tolerance * quantum)
        return;
    // A capture without sound where the reference has it is no gain.
    verdict.gain_db = 20 * std::log10(std::fabs(verdict.fit.gain));
    if (!std::isfinite(verdict.gain_db) || !std::isfinite(verdict.fit.offset))
        return;
    verdict.fitted = true;
    verdict.inverted = verdict.fit.gain < 0;
    verdict.has_gain = std::fabs(verdict.gain_db) >= unity_gain_db;
    verdict.has_offset = std::fabs(verdict.fit.offset) >= quantum;
    verdict.explained = verdict.inverted || verdict.has_gain || verdict.has_offset;
    verdict.small = !verdict.explained;
    verdict.from_frame = sums.loud_before ? sums.from_frame : -1;
}

// The relation's channel map, or a channel that carries another's samples
// wherever it differs; reported when every channel it moves is explained.
void find_channel_map(comparison& facts, const diagnosis_sums& sums, verdict_array& verdicts)
{
    bool reordered = false;
    bool verified = true;
    for (int c = 0; c < sums.channels; ++c) {
        const auto ch = static_cast<std::size_t>(c);
        const channel_sums& s = sums.channel[ch];
        int source = sums.mapped ? sums.relation.source[ch] : c;
        for (int r = 0; !sums.mapped && s.started && differs(s) && r < sums.channels; ++r) {
            if (r != c && s.may_carry && s.n >= least_samples && s.carries[static_cast<std::size_t>(r)] == s.n + s.zeroed) {
                source = r;
                verdicts[ch].explained = true;
            }
        }
        facts.channel_map[ch] = source + 1;
        reordered = reordered || source != c;
        verified = verified && (source < 0 || !verdicts[ch].started || verdicts[ch].explained);
    }
    if (reordered && verified)
        add(facts, diagnosis_kind::channel_map, 0);
}

// One entry for a gain that every channel has alike, else one per channel.
void add_gains(comparison& facts, const verdict_array& verdicts, int channels)
{
    bool alike = channels > 0;
    long long from = -1;
    for (int c = 0; c < channels; ++c) {
        const channel_verdict& v = verdicts[static_cast<std::size_t>(c)];
        alike = alike && v.has_gain && std::lround(v.gain_db * 100) == std::lround(verdicts[0].gain_db * 100);
        if (v.from_frame >= 0 && (from < 0 || v.from_frame < from))
            from = v.from_frame;
    }
    for (int c = 0; c < channels; ++c) {
        const channel_verdict& v = verdicts[static_cast<std::size_t>(c)];
        if ((alike && c > 0) || !v.has_gain || facts.diagnosed == facts.diagnoses.size())
            continue;
        facts.diagnoses[facts.diagnosed++] = {diagnosis_kind::gain, alike ? 0 : c + 1, v.gain_db, 0,
                                              alike ? from : v.from_frame, word_cut::truncated};
    }
}

// Samples cut to fewer bits: the capture's lowest bit in use is above the
// reference's, and every difference is what truncation, rounding or dither
// to that bit leaves.
void add_word_length(comparison& facts, const diagnosis_sums& sums, verdict_array& verdicts, int lowest)
{
    std::int32_t low = 0;
    std::int32_t high = 0;
    bool any = false;
    for (int c = 0; c < sums.channels; ++c) {
        if (!verdicts[static_cast<std::size_t>(c)].small)
            continue;
        low = std::min(low, sums.channel[static_cast<std::size_t>(c)].error_min);
        high = std::max(high, sums.channel[static_cast<std::size_t>(c)].error_max);
        any = true;
    }
    const std::int32_t step = std::int32_t{1} << lowest;
    if (!any || low < -2 * step || high > 2 * step)
        return;
    word_cut how = word_cut::dithered;
    if (high <= 0 && low > -step)
        how = word_cut::truncated;
    else if (2 * high <= step && 2 * low >= -step)
        how = word_cut::rounded;
    if (facts.diagnosed < facts.diagnoses.size())
        facts.diagnoses[facts.diagnosed++] = {diagnosis_kind::word_length, 0, 0, facts.precision - lowest, -1, how};
    for (channel_verdict& v : verdicts)
        v.explained = v.explained || v.small;
}

} // namespace

void diagnose(comparison& facts, const diagnosis_sums& sums, std::uint32_t capture_or, std::uint32_t reference_or)
{
    if (!facts.aligned) {
        if (facts.capture_has_audio)
            add(facts, diagnosis_kind::unrelated, 0);
        return;
    }
    const int lowest = lowest_bit(capture_or);
    const double quantum = std::ldexp(1.0, lowest);
    verdict_array verdicts{};
    for (int c = 0; c < sums.channels; ++c)
        fit_channel(sums.channel[static_cast<std::size_t>(c)], quantum, verdicts[static_cast<std::size_t>(c)]);
    find_channel_map(facts, sums, verdicts);
    for (int c = 0; c < sums.channels; ++c)
        if (verdicts[static_cast<std::size_t>(c)].inverted)
            add(facts, diagnosis_kind::polarity, c + 1);
    add_gains(facts, verdicts, sums.channels);
    if (lowest > lowest_bit(reference_or))
        add_word_length(facts, sums, verdicts, lowest);
    bool related = false;
    for (int c = 0; c < sums.channels; ++c) {
        const channel_verdict& v = verdicts[static_cast<std::size_t>(c)];
        if (v.has_offset)
            add(facts, diagnosis_kind::dc_offset, c + 1, std::llround(v.fit.offset));
        related = related || v.explained || v.fitted;
    }
    for (int c = 0; sums.mapped && c < sums.channels; ++c) {
        const auto ch = static_cast<std::size_t>(c);
        if (sums.relation.skew[ch] != 0 && (verdicts[ch].explained || !verdicts[ch].started))
            add(facts, diagnosis_kind::skew, c + 1, sums.relation.skew[ch]);
    }
    if (sums.mapped && !related)
        add(facts, diagnosis_kind::unrelated, 0);
}
