// The sums the diagnosis is drawn from: per capture channel, from its first
// mismatch on, exact integer sums of the samples, their squares and products
// against the reference samples the channel carries, and a least-squares
// line fitted through them without losing precision however long the
// capture is.
#include "compare/streams.h"

#include <cmath>

namespace {

constexpr long long period_end_frames = 4096;  // loud frames matched in a row that end a run of trouble
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
}

void add_frame(diagnosis_sums& sums, frame_stream& ref, long long i, const std::int32_t* expected, const std::int32_t* got,
               long long q, bool same)
{
    if (same && loud_frame(expected, ref.channels, sums.loud)) {
        sums.loud_matched = true;
        if (++sums.loud_clean >= period_end_frames && sums.active) {
            for (channel_sums& channel : sums.channel)
                channel.started = false;
            sums.active = false;
        }
    } else if (!same) {
        sums.loud_clean = 0;
    }
    if (same && !sums.active)
        return;
    for (int c = 0; c < sums.channels; ++c) {
        const auto ch = static_cast<std::size_t>(c);
        channel_sums& s = sums.channel[ch];
        if (!s.started) {
            if (got[c] == expected[c])
                continue;
            s = channel_sums{};
            s.started = true;
            s.loud_before = sums.loud_matched;
            s.from_frame = q;
            sums.active = true;
        }
        std::int32_t x = expected[c];
        if (sums.mapped) {
            const int source = sums.relation.source[ch];
            const std::int32_t* frame = source < 0 ? nullptr : known_frame(ref, i - sums.relation.skew[ch]);
            if (frame == nullptr)
                continue;
            x = frame[source];
        }
        const std::int32_t y = got[c];
        const std::int32_t error = y - x;
        s.n += 1;
        s.differing += error != 0 ? 1 : 0;
        s.sx += x;
        s.sy += y;
        s.sxx += static_cast<std::int64_t>(x) * x;
        s.sxy += static_cast<std::int64_t>(x) * y;
        s.syy += static_cast<std::int64_t>(y) * y;
        s.error_min = std::min(s.error_min, error);
        s.error_max = std::max(s.error_max, error);
        for (int r = 0; r < sums.channels; ++r)
            s.carries[static_cast<std::size_t>(r)] += y == expected[r] ? 1 : 0;
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
