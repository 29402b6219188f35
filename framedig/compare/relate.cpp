// The channels' relation: where the samples are not equal, each capture
// channel is matched with the reference channel whose shape it has (a
// correlation near +1 or -1) near where the first loud sound of both files
// begins. It aligns a capture whose channels were swapped, inverted,
// delayed, scaled, offset or cut to fewer bits, and leaves the diagnosis to
// say which.
#include "compare/compare.h"

#include <cmath>
#include <cstdlib>

namespace {

constexpr long long shape_frames = 2048 + 64;  // frames whose shape is compared
constexpr long long shape_before = 64;         // of them, before the reference's loud onset
constexpr long long max_lag = 256;             // lags looked at either way
constexpr long long yardstick_frames = 4096;   // reference frames whose peak sets the loud level
constexpr double shape_correlation = 0.999;
constexpr double same_correlation = 1e-6;      // closer than this, the nearer lag wins
constexpr long long max_quiet = 1LL << 20;     // frames of a quiet lead-in (dither, a constant) read past
constexpr int quiet_below_full_scale = 9;      // bits: a sample this far below full scale is still quiet (-54 dB)

// The first frame in [from, limit) where a sample is level or more away from
// base's; -1 for none.
long long loud_onset(frame_stream& s, long long from, long long limit, const std::int32_t* base, long long level)
{
    for (long long idx = from; idx < limit; ++idx) {
        const std::int32_t* frame = known_frame(s, idx);
        if (frame == nullptr)
            return -1;
        for (int ch = 0; ch < s.channels; ++ch)
            if (std::llabs(static_cast<long long>(frame[ch]) - base[ch]) >= level)
                return idx;
    }
    return -1;
}

// n samples of each of the first channels from frame from on, channel after
// channel; frames before the file's start are silent.
bool copy_samples(frame_stream& s, long long from, long long n, int channels, double* out)
{
    for (long long t = 0; t < n; ++t) {
        const std::int32_t* frame = from + t < 0 ? s.zero.get() : known_frame(s, from + t);
        if (frame == nullptr)
            return false;
        for (int ch = 0; ch < channels; ++ch)
            out[ch * n + t] = frame[ch];
    }
    return true;
}

struct match {
    double correlation = 0;
    int source = -1;
    long long lag = 0;
};

// Whether candidate beats best: a clearly higher correlation, or as high at
// a lag nearer the onsets' (and, at that, the same channel).
bool better(const match& candidate, const match& best, long long onsets, int channel)
{
    const double c = std::fabs(candidate.correlation);
    const double b = std::fabs(best.correlation);
    if (c > b + same_correlation || best.source < 0)
        return true;
    if (c < b - same_correlation)
        return false;
    const long long dc = std::llabs(candidate.lag - onsets);
    const long long db = std::llabs(best.lag - onsets);
    return dc < db || (dc == db && candidate.source == channel && best.source != channel);
}

// The lag at which capture samples y (n + 2 * max_lag of them, the first at
// lag onsets - max_lag) correlate best with reference samples x.
void best_lag(const double* x, const double* y, long long onsets, int source, int channel, match& best)
{
    constexpr long long n = shape_frames;
    double sx = 0;
    double sxx = 0;
    for (long long t = 0; t < n; ++t) {
        sx += x[t];
        sxx += x[t] * x[t];
    }
    double sy = 0;
    double syy = 0;
    for (long long t = 0; t < n; ++t) {
        sy += y[t];
        syy += y[t] * y[t];
    }
    for (long long k = 0; k <= 2 * max_lag; ++k) {
        if (k > 0) {  // slide the capture's window by one sample
            sy += y[k + n - 1] - y[k - 1];
            syy += y[k + n - 1] * y[k + n - 1] - y[k - 1] * y[k - 1];
        }
        double sxy = 0;
        for (long long t = 0; t < n; ++t)
            sxy += x[t] * y[k + t];
        const double spread = (n * sxx - sx * sx) * (n * syy - sy * sy);
        const match candidate = {spread > 0 ? (n * sxy - sx * sy) / std::sqrt(spread) : 0, source, onsets - max_lag + k};
        if (spread > 0 && better(candidate, best, onsets, channel))
            best = candidate;
    }
}

bool silent(const double* samples, long long n)
{
    for (long long t = 0; t < n; ++t)
        if (samples[t] != samples[0])
            return false;
    return true;
}

} // namespace

bool relate_channels(frame_stream& ref, frame_stream& cap, channel_relation& relation, long long& offset)
{
    const int channels = std::min(ref.channels, max_diagnosed_channels);
    // A lead-in that is quiet but not digital silence (dither) is read past:
    // the loud level is set by what follows it.
    const long long quiet = 1LL << (ref.precision - 1 - quiet_below_full_scale);
    const long long ref_from = loud_onset(ref, ref.onset, ref.onset + max_quiet, ref.zero.get(), quiet);
    long long peak = 0;
    for (long long i = ref_from; ref_from >= 0 && i < ref_from + yardstick_frames; ++i) {
        const std::int32_t* frame = known_frame(ref, i);
        for (int ch = 0; frame != nullptr && ch < ref.channels; ++ch)
            peak = std::max(peak, std::llabs(frame[ch]));
    }
    const auto base = zeroed_array<std::int32_t>(static_cast<std::size_t>(cap.channels));
    const std::int32_t* first = known_frame(cap, cap.onset);
    if (peak / 8 == 0 || !base || first == nullptr)
        return false;
    if (cap.onset == 0)  // no silence before: the level it starts at
        std::copy(first, first + cap.channels, base.get());
    // So is a capture's, and one that starts at a constant level (a dc offset).
    const long long cap_from = loud_onset(cap, cap.onset, cap.onset + max_quiet, base.get(), quiet);
    const long long ref_loud = loud_onset(ref, ref_from, ref_from + yardstick_frames, ref.zero.get(), peak / 8);
    const long long cap_loud = cap_from < 0 ? -1 : loud_onset(cap, cap_from, cap_from + ring_frames / 2, base.get(), peak / 16);
    const long long onsets = cap_loud - ref_loud;
    constexpr long long span = shape_frames + 2 * max_lag;
    const auto xs = zeroed_array<double>(static_cast<std::size_t>(channels * shape_frames));
    const auto ys = zeroed_array<double>(static_cast<std::size_t>(channels * span));
    if (ref_loud < 0 || cap_loud < 0 || !xs || !ys ||
        !copy_samples(ref, ref_loud - shape_before, shape_frames, channels, xs.get()) ||
        !copy_samples(cap, ref_loud - shape_before + onsets - max_lag, span, channels, ys.get()))
        return false;
    std::array<match, max_diagnosed_channels> best{};
    int first_related = -1;
    for (int c = 0; c < channels; ++c) {
        match& m = best[static_cast<std::size_t>(c)];
        for (int r = 0; r < channels; ++r)
            best_lag(xs.get() + r * shape_frames, ys.get() + c * span, onsets, r, c, m);
        const bool both_silent = silent(ys.get() + c * span, span) && silent(xs.get() + c * shape_frames, shape_frames);
        if (std::fabs(m.correlation) < shape_correlation)
            m = {0, both_silent ? c : -1, both_silent ? onsets : 0};
        else if (first_related < 0)
            first_related = c;
    }
    if (first_related < 0)
        return false;
    offset = best[static_cast<std::size_t>(first_related)].lag;
    for (std::size_t c = 0; c < static_cast<std::size_t>(channels); ++c) {
        relation.source[c] = best[c].source;
        relation.skew[c] = best[c].source < 0 || best[c].correlation == 0 ? 0 : best[c].lag - offset;
    }
    return true;
}
