// The exact searches: a few windows of one file (stretches that tell
// offsets apart) are looked for in the other, which streams past once with a
// rolling hash, so any length is searched in bounded memory and linear time.
#include "compare/compare.h"

namespace {

constexpr std::uint64_t hash_base = 0x100000001B3ULL;
constexpr std::uint64_t hash_start = 0xCBF29CE484222325ULL;
constexpr std::uint64_t hash_mix = 0x9E3779B97F4A7C15ULL;
constexpr long long min_informative = 16;  // frames a window needs that tell offsets apart
constexpr std::array<long long, 3> window_lengths = {window_frames, window_frames / 4, window_frames / 16};
constexpr long long max_period = 16384;
constexpr long long period_frames = 4096;  // frames a period must hold over

std::uint64_t frame_hash(const std::int32_t* frame, int channels)
{
    std::uint64_t h = hash_start;
    for (int ch = 0; ch < channels; ++ch)
        h = (h ^ static_cast<std::uint32_t>(frame[ch])) * hash_mix;
    return h;
}

struct window {
    long long start;
    std::uint64_t hash;
};

struct windows {
    std::array<window, window_count> at{};
    std::size_t count = 0;
    long long length = 0;
};

// Windows of length frames from frame from of s, held and telling offsets
// apart, with the hash a rolling hash gives them.
void pick_windows(frame_stream& s, long long from, long long length, windows& picked)
{
    picked.count = 0;
    picked.length = length;
    for (long long m = 0; m < window_count; ++m) {
        const long long start = from + m * length;
        if (start < s.begin || !fill_to(s, start + length - 1))
            break;
        std::uint64_t hash = 0;
        long long telling = 0;
        for (long long t = 0; t < length; ++t) {
            hash = hash * hash_base + frame_hash(frame_at(s, start + t), s.channels);
            telling += informative(frame_at(s, start + t), t > 0 ? frame_at(s, start + t - 1) : nullptr, s.channels) ? 1 : 0;
        }
        if (telling >= std::min(min_informative, length / 4))
            picked.at[picked.count++] = {start, hash};
    }
}

bool holds(const agreement& a)
{
    return a.agreeing > 0 && a.agreeing >= std::min(a.informative, min_informative) && 8 * a.agreeing >= 7 * a.informative;
}

// Streams hay from frame from on, looking for the windows of the other
// file; offset is the first that the frames from there confirm. The silence
// just before the place found is remembered, so that it need not be held.
bool scan(frame_stream& hay, long long from, const windows& picked, frame_stream& ref, frame_stream& cap, long long& offset)
{
    const long long n = picked.length;
    const auto slots = static_cast<std::size_t>(n);
    const auto recent = zeroed_array<std::uint64_t>(slots);  // the hashes of the frames in the window
    if (!recent)
        return false;
    std::uint64_t power = 1;
    for (long long t = 1; t < n; ++t)
        power *= hash_base;
    std::uint64_t hash = 0;
    long long last_sound = from - 1;  // before the window
    for (long long p = from; fill_to(hay, p); ++p) {
        const std::size_t slot = static_cast<std::size_t>(p - from) % slots;
        if (p - from >= n) {
            hash -= recent[slot] * power;
            last_sound = has_sound(frame_at(hay, p - n), hay.channels) ? p - n : last_sound;
        }
        recent[slot] = frame_hash(frame_at(hay, p), hay.channels);
        hash = hash * hash_base + recent[slot];
        if (p - from + 1 < n)
            continue;
        const long long start = p - n + 1;
        for (std::size_t w = 0; w < picked.count; ++w) {
            if (picked.at[w].hash != hash)
                continue;
            const bool hay_is_ref = &hay == &ref;
            const long long i = hay_is_ref ? start : picked.at[w].start;
            const long long q = hay_is_ref ? picked.at[w].start : start;
            if (holds(agree(ref, i, cap, q, search_telling))) {
                offset = q - i;
                hay.quiet_from = last_sound + 1;
                hay.quiet_to = start;
                return true;
            }
        }
    }
    return false;
}

// Looks for windows of needle, from frame from, in hay from hay_from on.
bool find_windows(frame_stream& needle, long long from, frame_stream& hay, long long hay_from, frame_stream& ref,
                  frame_stream& cap, long long& offset)
{
    windows picked;
    for (const long long length : window_lengths) {
        pick_windows(needle, std::max(from, needle.begin), length, picked);
        if (picked.count > 0)
            return scan(hay, std::max(hay_from, hay.begin), picked, ref, cap, offset);
    }
    return false;
}

} // namespace

// A capture that began after the reference: its first sounds found anywhere
// in the reference, the earliest place that the frames after it confirm.
bool search_late_start(frame_stream& ref, frame_stream& cap, long long& offset)
{
    return find_windows(cap, cap.onset, ref, ref.onset, ref, cap, offset);
}

// A capture that holds other sound before the reference's: the reference's
// first sounds found later in the capture.
bool search_late_reference(frame_stream& ref, frame_stream& cap, long long& offset)
{
    return find_windows(ref, ref.onset, cap, cap.onset, ref, cap, offset);
}

// The smallest period that the reference's frames from i on repeat with, or
// 0: around such a frame, offsets that differ by it cannot be told apart.
long long reference_period(frame_stream& ref, long long i)
{
    if (!fill_to(ref, i))
        return 0;
    fill_to(ref, i + max_period + period_frames);
    for (long long period = 1; period <= max_period && fill_to(ref, i + period); ++period) {
        long long t = 0;
        while (t < period_frames && fill_to(ref, i + period + t) &&
               frames_equal(frame_at(ref, i + t), frame_at(ref, i + period + t), ref.channels))
            ++t;
        if (t == period_frames || (t >= 2 * period && !fill_to(ref, i + period + t)))
            return period;  // over the frames checked, or up to the reference's end
    }
    return 0;
}
