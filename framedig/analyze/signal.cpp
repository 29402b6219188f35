// What the samples show: level and DC offset, audio bits that never change,
// the frequency of a steady tone, and mutes. The pass feeds linear PCM only;
// stretches that carry IEC 61937 bursts never arrive here.
#include "analyze/analysis.h"
#include "blocks.h"

#include <algorithm>
#include <bit>
#include <cmath>

namespace {

constexpr double full_scale_square = 70368744177664.0;  // (2^23)^2: 0 dBFS
constexpr double mute_seconds = 0.010;
constexpr double same_time = 1e-9;                       // seconds that compare equal
constexpr int default_rate_hz = 48000;
// A crossing spacing agrees with the mean within 2 % of it, or a frame.
constexpr double spacing_tolerance = 0.02;
constexpr long long min_spacings = 4;
// Samples of audio a channel needs before its bits are judged stuck.
constexpr long long min_judged_samples = frames_per_block;
// Outliers before a channel is given up as no steady tone.
constexpr long long outlier_evidence = 16;

double seconds_at(const silence_track& track, long long frame)
{
    return track.base_seconds + static_cast<double>(frame - track.base_frame) / track.rate_hz;
}

// A few outliers are allowed: the spacing into a mute and across it, the
// start and end of the tone.
bool steady(const tone_track& tone)
{
    return tone.spacings >= min_spacings && tone.outliers <= 2 + tone.spacings / 20;
}

double decibels(double square_ratio)
{
    return 10.0 * std::log10(square_ratio);
}

// Rounded as the reports give it; adding 0 turns -0.00 into 0.00.
double rounded(double value, double scale)
{
    return std::round(value * scale) / scale + 0.0;
}

} // namespace

void tone_crossing(tone_track& tone, std::int32_t before, std::int32_t sample, long long frame)
{
    // Where the line between the two samples crosses zero, after frame - 1.
    const double fraction = -static_cast<double>(before) / (static_cast<double>(sample) - before);
    if (tone.have_crossing) {
        const double spacing = static_cast<double>(frame - 1 - tone.last_frame) + (fraction - tone.last_fraction);
        const double mean = tone.spacings > 0 ? tone.spacing_sum / static_cast<double>(tone.spacings) : spacing;
        if (std::fabs(spacing - mean) <= std::max(1.0, spacing_tolerance * mean)) {
            tone.spacing_sum += spacing;
            ++tone.spacings;
        } else if (++tone.outliers > outlier_evidence && !steady(tone)) {
            tone.candidate = false;
        }
    }
    tone.have_crossing = true;
    tone.last_frame = frame - 1;
    tone.last_fraction = fraction;
}

void tone_sample(tone_track& tone, std::int32_t sample, long long frame)
{
    if (tone.have_previous && tone.previous < 0 && sample >= 0)
        tone_crossing(tone, tone.previous, sample, frame);
    tone.previous = sample;
    tone.have_previous = true;
}

void signal_sample(signal_sums& sums, std::uint32_t word, long long frame)
{
    const std::int32_t sample = word_sample(word);
    const auto value = static_cast<double>(sample);
    ++sums.samples;
    sums.sum += sample;
    sums.squares += value * value;
    sums.peak_square = std::max(sums.peak_square, value * value);
    sums.any |= word;
    if (word != 0)
        sums.common &= word;
    if (sums.tone.candidate)
        tone_sample(sums.tone, sample, frame);
}

void silence_from(silence_track& track, long long frame)
{
    if (track.run_start < 0) {
        track.run_start = frame;
        track.run_seconds = seconds_at(track, frame);
    }
}

// Audio ends a silent run: left out of the level at the start of the audio,
// a mute between audio when it lasted 10 ms.
void audio_frame(silence_track& track, long long frame)
{
    if (track.run_start >= 0) {
        const long long frames = frame - track.run_start;
        const double seconds = seconds_at(track, frame) - track.run_seconds;
        if (!track.audio_before) {
            track.excluded += frames;
        } else if (seconds >= mute_seconds - same_time) {
            if (track.mute_count < static_cast<long long>(track.mutes.size()))
                track.mutes[static_cast<std::size_t>(track.mute_count)] = {track.run_start, frames, track.run_seconds, seconds * 1000.0};
            ++track.mute_count;
            track.excluded += frames;
        }
        track.run_start = -1;
    }
    track.audio_before = true;
}

// Silence before an IEC 61937 stretch is an edge of the audio, not a mute.
void bitstream_frame(silence_track& track, long long frame)
{
    silence_end(track, frame);
    track.audio_before = false;
}

void silence_end(silence_track& track, long long end_frame)
{
    if (track.run_start >= 0)
        track.excluded += end_frame - track.run_start;
    track.run_start = -1;
}

// Times count on at the rate the status indicates (48 kHz when it does not)
// from the block where it says so.
void set_status_rate(silence_track& track, long long frame, int rate_hz)
{
    const int rate = rate_hz != 0 ? rate_hz : default_rate_hz;
    if (rate == track.rate_hz)
        return;
    track.base_seconds = seconds_at(track, frame);
    track.base_frame = frame;
    track.rate_hz = rate;
}

void signal_results(analysis& facts)
{
    for (int ch = 0; ch < facts.channels; ++ch) {
        channel_facts& cf = facts.per_channel[static_cast<std::size_t>(ch)];
        const signal_sums& s = cf.signal;
        signal_result& r = cf.result;
        const std::uint32_t any = s.any & audio_mask;
        r = signal_result{};
        r.samples = std::max(0LL, s.samples - facts.silence.excluded);
        r.silent = any == 0 || r.samples == 0;
        if (s.samples == 0)
            continue;
        r.dc_offset = rounded(r.samples > 0 ? static_cast<double>(s.sum) / static_cast<double>(r.samples) : 0.0, 100);
        if (r.silent)
            continue;
        r.peak_dbfs = rounded(decibels(s.peak_square / full_scale_square), 100);
        r.rms_dbfs = rounded(decibels(s.squares / static_cast<double>(r.samples) / full_scale_square), 100);
        // Never set above the lowest bit in use: a broken line or a wrong
        // shift. Set in every sample (a zero word is nothing received, not a
        // sample), where the samples differ. A few samples say nothing of the
        // kind: a block's worth at least.
        if (r.samples >= min_judged_samples) {
            const int lowest = std::countr_zero(any);
            r.stuck_at_0 = ~any & audio_mask & ~((2U << lowest) - 1U);
            const std::uint32_t common = s.common & audio_mask;
            r.stuck_at_1 = common != any ? common : 0U;
        }
        r.tone = steady(s.tone);
        r.tone_hz = r.tone ? rounded(facts.tone_rate_hz * static_cast<double>(s.tone.spacings) / s.tone.spacing_sum, 10) : 0.0;
    }
}
