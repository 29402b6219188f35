// The sums the diagnosis is drawn from: per capture channel, from its first
// mismatch on, exact integer sums of the samples, their squares and products
// against the reference samples the channel carries, and a least-squares
// line fitted through them without losing precision however long the
// capture is.
#include "compare/compare.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr long long period_end_frames = 4096;  // loud frames matched in a row that end a run of trouble
constexpr long long quiet_clean = 64;          // matching frames in a row before their loudness counts
constexpr int loud_below_full_scale = 8;        // bits: a sample within 48 dB of full scale is loud

__extension__ using unsigned_wide = unsigned __int128;

// A 256-bit unsigned number as two 128-bit halves.
struct wide256 {
    unsigned_wide high;
    unsigned_wide low;
};

wide256 multiply(unsigned_wide a, unsigned_wide b)
{
    constexpr int half = 64;
    const auto a0 = static_cast<std::uint64_t>(a);
    const auto a1 = static_cast<std::uint64_t>(a >> half);
    const auto b0 = static_cast<std::uint64_t>(b);
    const auto b1 = static_cast<std::uint64_t>(b >> half);
    const unsigned_wide low = static_cast<unsigned_wide>(a0) * b0;
    const unsigned_wide cross1 = static_cast<unsigned_wide>(a0) * b1;
    const unsigned_wide cross2 = static_cast<unsigned_wide>(a1) * b0;
    const unsigned_wide mid = (low >> half) + static_cast<std::uint64_t>(cross1) + static_cast<std::uint64_t>(cross2);
    return {static_cast<unsigned_wide>(a1) * b1 + (cross1 >> half) + (cross2 >> half) + (mid >> half),
            (mid << half) | static_cast<std::uint64_t>(low)};
}

// a - b, for a >= b.
wide256 subtract(const wide256& a, const wide256& b)
{
    return {a.high - b.high - (a.low < b.low ? 1 : 0), a.low - b.low};
}

double to_double(const wide256& v)
{
    constexpr double two_to_128 = 340282366920938463463374607431768211456.0;
    return static_cast<double>(v.high) * two_to_128 + static_cast<double>(v.low);
}

unsigned_wide magnitude(wide v) { return v < 0 ? static_cast<unsigned_wide>(-v) : static_cast<unsigned_wide>(v); }

bool loud_frame(const std::int32_t* frame, int channels, std::int32_t loud)
{
    for (int ch = 0; ch < channels; ++ch)
        if (frame[ch] >= loud || frame[ch] <= -loud)
            return true;
    return false;
}

} // namespace

void start_sums(diagnosis_sums& sums, int channels, int precision, const channel_relation* relation)
{
    sums.channels = std::min(channels, max_diagnosed_channels);
    sums.loud = std::int32_t{1} << (precision - 1 - loud_below_full_scale);
    sums.mapped = relation != nullptr;
    if (relation != nullptr)
        sums.relation = *relation;
    sums.pending_from.fill(pending_frames);
}

namespace {

// The sums of one channel's samples from buffer place from to n, every
// stride-th one. Fixed is the stride when it is known at compile time, else 0.
template <int fixed>
void sum_samples(channel_sums& s, const std::int32_t* xs, const std::int32_t* ys, std::ptrdiff_t stride, int from, int n)
{
    const std::ptrdiff_t step = fixed > 0 ? fixed : stride;
    // 256 products of 24-bit samples fit 64 bits.
    std::int64_t sx = 0;
    std::int64_t sy = 0;
    std::int64_t sxx = 0;
    std::int64_t sxy = 0;
    std::int64_t syy = 0;
    std::int32_t error_min = s.error_min;
    std::int32_t error_max = s.error_max;
    long long zeroed = 0;
    for (std::ptrdiff_t k = from; k < n; ++k) {
        const std::int64_t x = xs[k * step];
        const std::int64_t y = ys[k * step];
        // A zeroed sample (muted, or the sound lost) is no scaled copy of
        // the reference's: no line is fitted through it.
        if (y == 0 && x != 0) {
            ++zeroed;
            continue;
        }
        sx += x;
        sy += y;
        sxx += x * x;
        sxy += x * y;
        syy += y * y;
        const auto error = static_cast<std::int32_t>(y - x);
        error_min = std::min(error_min, error);
        error_max = std::max(error_max, error);
    }
    s.n += std::max(0, n - from) - zeroed;
    s.zeroed += zeroed;
    s.error_min = error_min;
    s.error_max = error_max;
    s.sx += sx;
    s.sy += sy;
    s.sxx += sxx;
    s.sxy += sxy;
    s.syy += syy;
}

} // namespace

void flush_sums(diagnosis_sums& sums)
{
    const int n = sums.pending;
    const std::ptrdiff_t stride = sums.channels;
    for (int c = 0; c < sums.channels; ++c) {
        const auto ch = static_cast<std::size_t>(c);
        channel_sums& s = sums.channel[ch];
        const std::int32_t* xs = (sums.mapped ? sums.carried : sums.expected).data() + c;
        const std::int32_t* ys = sums.got.data() + c;
        const int from = sums.pending_from[ch];
        if (stride == 2)  // the common case, with the stride known
            sum_samples<2>(s, xs, ys, stride, from, n);
        else
            sum_samples<0>(s, xs, ys, stride, from, n);
        // Whether the channel carries another's samples, while it still may.
        bool may_carry = false;
        for (int r = 0; s.may_carry && r < sums.channels && from < n; ++r) {
            const std::int32_t* rs = sums.expected.data() + r;
            long long equal = 0;
            for (std::ptrdiff_t k = from; k < n; ++k)
                equal += ys[k * stride] == rs[k * stride] ? 1 : 0;
            s.carries[static_cast<std::size_t>(r)] += equal;
            may_carry = may_carry || (r != c && s.carries[static_cast<std::size_t>(r)] == s.n + s.zeroed);
        }
        s.may_carry = s.may_carry && (from >= n || may_carry);
        sums.pending_from[ch] = s.started ? 0 : pending_frames;
    }
    sums.pending = 0;
}

namespace {

// A long stretch that matches ends the trouble: what follows is summed afresh.
void end_trouble(diagnosis_sums& sums)
{
    for (channel_sums& channel : sums.channel)
        channel.started = false;
    sums.pending_from.fill(pending_frames);
    sums.pending = 0;
    sums.active = false;
}

// Starts the channels that first differ among the n frames about to be
// gathered; loud_from is the first loud matching frame among them, and
// loud_before says whether one matched before them.
void start_channels(diagnosis_sums& sums, const std::int32_t* expected, const std::int32_t* got, int channels, long long n,
                    long long q, long long loud_from, bool loud_before)
{
    for (int c = 0; c < sums.channels; ++c) {
        channel_sums& s = sums.channel[static_cast<std::size_t>(c)];
        long long f = 0;
        while (!s.started && f < n && got[f * channels + c] == expected[f * channels + c])
            ++f;
        if (s.started || f == n)
            continue;
        s = channel_sums{};
        s.started = true;
        s.loud_before = loud_before || loud_from < f;
        s.from_frame = q + f;
        sums.pending_from[static_cast<std::size_t>(c)] = sums.pending + static_cast<int>(f);
        sums.active = true;
    }
}

} // namespace

void add_frames(diagnosis_sums& sums, frame_stream& ref, long long i, const std::int32_t* expected, const std::int32_t* got,
                long long q, long long n, const bool* same)
{
    const int channels = ref.channels;
    const std::ptrdiff_t stride = sums.channels;
    long long f = 0;
    while (f < n) {
        for (; !sums.active && f < n && same[f]; ++f)  // matching frames before any trouble
            sums.loud_matched = sums.loud_matched || loud_frame(expected + f * channels, channels, sums.loud);
        if (f == n)
            return;
        // From here every frame is gathered, up to the end, a full buffer or the trouble's end.
        const long long room = std::min<long long>(n - f, pending_frames - sums.pending);
        const bool loud_before = sums.loud_matched;
        long long loud_from = room;
        long long run = 0;
        bool ended = false;
        for (; run < room && !ended; ++run) {
            // Loudness matters before the first loud frame matched (where a
            // gain began) and in long matching stretches (where trouble ends).
            const bool match = same[f + run];
            sums.clean = match ? sums.clean + 1 : 0;
            const bool loud = match && (!sums.loud_matched || sums.clean > quiet_clean) &&
                              loud_frame(expected + (f + run) * channels, channels, sums.loud);
            loud_from = loud && loud_from == room ? run : loud_from;
            sums.loud_matched = sums.loud_matched || loud;
            sums.loud_clean = match ? sums.loud_clean + (loud ? 1 : 0) : 0;
            ended = sums.active && sums.loud_clean >= period_end_frames;
        }
        if (ended) {
            end_trouble(sums);
            f += run;
            continue;
        }
        start_channels(sums, expected + f * channels, got + f * channels, channels, run, q + f, loud_from, loud_before);
        std::int32_t* to_expected = sums.expected.data() + sums.pending * stride;
        std::int32_t* to_got = sums.got.data() + sums.pending * stride;
        if (stride == channels) {
            std::copy(expected + f * channels, expected + (f + run) * channels, to_expected);
            std::copy(got + f * channels, got + (f + run) * channels, to_got);
        } else {
            for (long long k = 0; k < run; ++k) {
                std::copy(expected + (f + k) * channels, expected + (f + k) * channels + stride, to_expected + k * stride);
                std::copy(got + (f + k) * channels, got + (f + k) * channels + stride, to_got + k * stride);
            }
        }
        for (long long k = 0; sums.mapped && k < run; ++k) {
            for (int c = 0; c < stride; ++c) {
                const int source = sums.relation.source[static_cast<std::size_t>(c)];
                const long long at = i + f + k - sums.relation.skew[static_cast<std::size_t>(c)];
                const std::int32_t* frame = source < 0 || at < 0 ? nullptr : known_frame(ref, at);
                sums.carried[static_cast<std::size_t>((sums.pending + k) * stride + c)] = frame != nullptr ? frame[source] : 0;
            }
        }
        sums.pending += static_cast<int>(run);
        f += run;
        if (sums.pending == pending_frames)
            flush_sums(sums);
    }
}

void add_matching(diagnosis_sums& sums, const frame_stream& ref, long long i, long long n)
{
    for (long long k = 0; k < n && !sums.loud_matched; ++k)
        sums.loud_matched = loud_frame(frame_at(ref, i + k), ref.channels, sums.loud);
}

// With centred sums (n times each, to stay in integers): the line's gain is
// cxy / vx and what it leaves is (vy * vx - cxy^2) / (n * vx); that
// difference is taken exactly in 256 bits, where doubles would cancel.
bool fit_line(const channel_sums& sums, linear_fit& fit)
{
    const wide n = sums.n;
    const wide vx = n * sums.sxx - static_cast<wide>(sums.sx) * sums.sx;
    const wide vy = n * sums.syy - static_cast<wide>(sums.sy) * sums.sy;
    const wide cxy = n * sums.sxy - static_cast<wide>(sums.sx) * sums.sy;
    if (sums.n < 2 || vx <= 0)
        return false;
    fit.gain = static_cast<double>(cxy) / static_cast<double>(vx);
    fit.offset = (static_cast<double>(sums.sy) - fit.gain * static_cast<double>(sums.sx)) / static_cast<double>(sums.n);
    const wide256 left = subtract(multiply(magnitude(vy), magnitude(vx)), multiply(magnitude(cxy), magnitude(cxy)));
    const double squares = to_double(left) / (static_cast<double>(sums.n) * static_cast<double>(vx));
    fit.rms = std::sqrt(std::max(0.0, squares) / static_cast<double>(sums.n));
    return true;
}
