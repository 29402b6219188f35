// Comparison with the reference: both files stream through rings of frames,
// the capture is aligned on the reference's first non-zero frame, and every
// run of mismatches is either a realignment (frames dropped or repeated) or
// samples that differ.
#include "analysis.h"
#include "reference.h"

#include <cmath>
#include <cstring>
#include <memory>
#include <new>

namespace {

constexpr long long ring_frames = 65536;    // frames held of each file
constexpr long long align_frames = 64;      // frames that must agree to align
constexpr long long match_frames = 32;      // frames that must agree to realign
constexpr long long search_frames = 4096;   // how far a realignment is looked for, either way
constexpr long long shape_frames = 256;     // frames whose shape must agree where samples do not
constexpr long long shape_slack = 16;       // frames either way that a gain stage may move the first sound
constexpr double shape_correlation = 0.999;
constexpr std::size_t io_bytes = read_chunk_bytes;

// One file as a sequence of frames of signed samples at the compared precision.
struct frame_stream {
    std::FILE* file = nullptr;
    bool capture = false;  // subframe words; otherwise reference samples
    int channels = 0;
    std::size_t sample_bytes = 0;
    int precision = 0;
    long long byte_limit = -1;  // the reference's data chunk
    heap_array<std::int32_t> ring;
    long long begin = 0;  // frames held: [begin, end)
    long long end = 0;
    heap_array<std::uint8_t> io;
    std::size_t io_size = 0;
    std::size_t io_pos = 0;
    std::size_t io_len = 0;
    bool low_bits = false;   // capture bits below the precision were set
    bool has_audio = false;  // capture audio bits were set
};

// Decodes n frames from p into the ring at frame index at: one loop per
// kind of sample, so that each stays simple enough for the compiler.
void decode_frames(frame_stream& s, const std::uint8_t* p, long long at, std::size_t n)
{
    const auto samples = n * static_cast<std::size_t>(s.channels);
    std::int32_t* out = s.ring.get() + (at % ring_frames) * s.channels;
    if (s.capture) {
        std::uint32_t seen = 0;
        const int drop = 32 - s.precision;
        for (std::size_t k = 0; k < samples; ++k) {
            const std::uint32_t w = load_word(p + k * word_bytes) & audio_mask;
            seen |= w;
            out[k] = static_cast<std::int32_t>(w << (31 - sample_msb_pos)) >> drop;
        }
        const int unused = sample_msb_pos + 1 - s.precision;  // bits below the compared sample
        s.has_audio = s.has_audio || seen != 0;
        s.low_bits = s.low_bits || (seen & ((1U << unused) - 1)) != 0;
    } else if (s.sample_bytes == 2) {
        for (std::size_t k = 0; k < samples; ++k)
            out[k] = static_cast<std::int16_t>(p[2 * k] | (p[2 * k + 1] << 8));
    } else if (s.sample_bytes == 3) {
        for (std::size_t k = 0; k < samples; ++k)
            out[k] = static_cast<std::int32_t>(static_cast<std::uint32_t>(p[3 * k] << 8 | p[3 * k + 1] << 16 | p[3 * k + 2] << 24)) >> 8;
    } else {
        for (std::size_t k = 0; k < samples; ++k)
            out[k] = static_cast<std::int32_t>(load_word(p + 4 * k)) >> 8;  // the top 24 of 32 bits
    }
}

// Decodes the frames that the read buffer holds (reading more when it holds
// none) into the ring, dropping the oldest; at most a quarter of the ring at
// a time, and never across its end, so the recent past stays held.
bool load_frames(frame_stream& s)
{
    const std::size_t frame_bytes = s.sample_bytes * static_cast<std::size_t>(s.channels);
    if (s.io_len - s.io_pos < frame_bytes) {
        std::memmove(s.io.get(), s.io.get() + s.io_pos, s.io_len - s.io_pos);
        s.io_len -= s.io_pos;
        s.io_pos = 0;
        std::size_t want = s.io_size - s.io_len;
        if (s.byte_limit >= 0)
            want = static_cast<std::size_t>(std::min<long long>(static_cast<long long>(want), s.byte_limit));
        const std::size_t got = read_units(s.file, s.io.get() + s.io_len, 1, want);
        s.io_len += got;
        if (s.byte_limit >= 0)
            s.byte_limit -= static_cast<long long>(got);
        if (s.io_len < frame_bytes)
            return false;
    }
    std::size_t n = (s.io_len - s.io_pos) / frame_bytes;
    n = std::min<std::size_t>(n, ring_frames / 4);
    n = std::min<std::size_t>(n, static_cast<std::size_t>(ring_frames - s.end % ring_frames));
    decode_frames(s, s.io.get() + s.io_pos, s.end, n);
    s.io_pos += n * frame_bytes;
    s.end += static_cast<long long>(n);
    s.begin = std::max(s.begin, s.end - ring_frames);
    return true;
}

// True when frame idx is held, reading on as far as needed.
bool fill_to(frame_stream& s, long long idx)
{
    while (s.end <= idx)
        if (!load_frames(s))
            return false;
    return idx >= s.begin;
}

const std::int32_t* frame_at(const frame_stream& s, long long idx)
{
    return s.ring.get() + (idx % ring_frames) * s.channels;
}

bool frames_equal(const std::int32_t* a, const std::int32_t* b, int channels)
{
    return std::memcmp(a, b, static_cast<std::size_t>(channels) * sizeof(std::int32_t)) == 0;
}

bool all_zero(const std::int32_t* frame, int channels)
{
    for (int ch = 0; ch < channels; ++ch)
        if (frame[ch] != 0)
            return false;
    return true;
}

// Whether n frames from reference frame i agree with n frames from capture
// frame j; fewer where the reference ends first, but at least one.
bool match_at(frame_stream& ref, long long i, frame_stream& cap, long long j, long long n)
{
    for (long long k = 0; k < n; ++k) {
        if (!fill_to(ref, i + k))
            return k > 0;
        if (!fill_to(cap, j + k) || !frames_equal(frame_at(ref, i + k), frame_at(cap, j + k), ref.channels))
            return false;
    }
    return true;
}

// The nearest realignment: s > 0 when s reference frames are missing from
// the capture here, s < 0 when the capture repeats -s frames, 0 for none.
long long realignment(frame_stream& ref, long long i, frame_stream& cap, long long j)
{
    for (long long s = 1; s <= search_frames; ++s) {
        if (match_at(ref, i + s, cap, j, match_frames))
            return s;
        if (match_at(ref, i, cap, j + s, match_frames))
            return -s;
    }
    return 0;
}

void record_event(std::array<frame_event, reference_events>& events, long long& runs, long long& frames,
                  long long at, long long count)
{
    if (runs < static_cast<long long>(events.size()))
        events[static_cast<std::size_t>(runs)] = {at, count};
    ++runs;
    frames += count;
}

// Differences sample by sample: the largest one, the first mismatch, and the
// sums of a least-squares fit of captured = factor * expected.
struct difference_sums {
    double same = 0;  // of the matching frames, where all three sums grow alike
    double xx = 0;
    double xy = 0;
    double yy = 0;
    long long n = 0;
    std::uint64_t pending = 0;  // squares of 24-bit samples, fewer than 2^16 of them
    long long pending_count = 0;
};

// Adds a matching frame's energy in integers, which is much faster than in
// doubles and exact until it is carried over: a 64-bit sum holds 2^16
// squares of 24-bit samples, and a WAV frame has at most 65535 of them.
void add_same(difference_sums& sums, const std::int32_t* samples, int channels)
{
    std::uint64_t energy = 0;
    for (int ch = 0; ch < channels; ++ch) {
        const auto v = static_cast<std::int64_t>(samples[ch]);
        energy += static_cast<std::uint64_t>(v * v);
    }
    sums.pending += energy;
    sums.pending_count += channels;
    if (sums.pending_count >= (1LL << 16) - channels) {
        sums.same += static_cast<double>(sums.pending);
        sums.pending = 0;
        sums.pending_count = 0;
    }
    sums.n += channels;
}

void compare_frames(comparison& facts, difference_sums& sums, const std::int32_t* expected, const std::int32_t* got,
                    int channels, long long capture_frame)
{
    for (int ch = 0; ch < channels; ++ch) {
        const double e = expected[ch];
        const double g = got[ch];
        sums.xx += e * e;
        sums.xy += e * g;
        sums.yy += g * g;
        ++sums.n;
        const long long diff = std::llabs(static_cast<long long>(got[ch]) - expected[ch]);
        facts.largest_difference = std::max(facts.largest_difference, diff);
        if (!facts.have_mismatch && diff != 0) {
            facts.have_mismatch = true;
            facts.mismatch_frame = capture_frame;
            facts.mismatch_channel = ch + 1;
            facts.expected = expected[ch];
            facts.got = got[ch];
        }
    }
}

// The capture's own channel status: the non-audio bit (status bit 1, the C
// bit of channel 1 in the second frame of a block) in its first block.
bool capture_says_non_audio(const frame_stream& cap)
{
    const std::size_t words = cap.io_len / word_bytes;
    const preamble_codes codes = detect_preambles(cap.io.get(), words, cap.channels);
    const std::size_t word = (codes.usable ? codes.start : 0) + static_cast<std::size_t>(cap.channels);
    return word < words && ((load_word(cap.io.get() + word * word_bytes) >> status_bit_pos) & 1U) != 0;
}

bool open_stream(frame_stream& s, std::FILE* file, bool capture, int channels, std::size_t sample_bytes, int precision)
{
    s.file = file;
    s.capture = capture;
    s.channels = channels;
    s.sample_bytes = sample_bytes;
    s.precision = precision;
    s.io_size = std::max(io_bytes, sample_bytes * static_cast<std::size_t>(channels));
    s.io = zeroed_array<std::uint8_t>(s.io_size);
    s.ring = zeroed_array<std::int32_t>(static_cast<std::size_t>(ring_frames) * static_cast<std::size_t>(channels));
    return s.io && s.ring;
}

// The first non-zero capture frame, when it is near enough to the start
// for the ring to hold what comes after it; -1 otherwise.
long long first_sound(frame_stream& cap)
{
    long long j = 0;
    while (fill_to(cap, j) && all_zero(frame_at(cap, j), cap.channels))
        ++j;
    return fill_to(cap, j) && j < ring_frames / 2 ? j : -1;
}

// A capture that began after the reference: its first non-zero frame, and
// the frames after it, found in the reference's first ring of frames after
// the reference's own first non-zero one.
bool late_start(frame_stream& ref, long long first, frame_stream& cap, long long& offset)
{
    const long long j = first_sound(cap);
    for (long long i = first; j >= 0 && i - first < ring_frames - align_frames && fill_to(ref, i + align_frames); ++i) {
        if (i > j && frames_equal(frame_at(ref, i), frame_at(cap, j), ref.channels) && match_at(ref, i, cap, j, align_frames)) {
            offset = j - i;
            return true;
        }
    }
    return false;
}

// A capture through a volume stage holds no reference frame exactly, but
// the same shape: the offset, near the capture's first sound, at which its
// samples correlate best with the reference's, if that is close to 1.
bool shape_offset(frame_stream& ref, long long first, frame_stream& cap, long long& offset)
{
    const long long start = first_sound(cap);
    if (start < 0 || !fill_to(ref, first + shape_frames - 1))
        return false;
    double best = shape_correlation;
    bool found = false;
    for (long long j = std::max(0LL, start - shape_slack); j <= start + shape_slack; ++j) {
        double xy = 0;
        double xx = 0;
        double yy = 0;
        for (long long k = 0; k < shape_frames && fill_to(cap, j + k); ++k) {
            for (int ch = 0; ch < ref.channels; ++ch) {
                const double x = frame_at(ref, first + k)[ch];
                const double y = frame_at(cap, j + k)[ch];
                xy += x * y;
                xx += x * x;
                yy += y * y;
            }
        }
        if (xx > 0 && yy > 0 && xy / std::sqrt(xx * yy) > best) {
            best = xy / std::sqrt(xx * yy);
            offset = j - first;
            found = true;
        }
    }
    return found;
}

// The offset: the capture frame where the reference's first non-zero frame
// and the frames after it appear, minus that frame's index; negative when
// the capture began after the reference. Returns false when the capture
// never holds them. zero_run is the number of all-zero capture frames just
// before the match.
bool align(comparison& facts, frame_stream& ref, frame_stream& cap, long long& first, long long& zero_run)
{
    first = 0;
    while (fill_to(ref, first) && all_zero(frame_at(ref, first), ref.channels))
        ++first;
    if (!fill_to(ref, first))
        first = 0;  // a silent reference aligns on silence
    if (!fill_to(ref, first))
        return true;  // an empty reference: nothing to look for
    if (late_start(ref, first, cap, facts.offset) || shape_offset(ref, first, cap, facts.offset))
        return true;
    zero_run = 0;
    for (long long j = 0; fill_to(cap, j); ++j) {
        if (frames_equal(frame_at(ref, first), frame_at(cap, j), ref.channels) && match_at(ref, first, cap, j, align_frames)) {
            facts.offset = j - first;
            return true;
        }
        zero_run = all_zero(frame_at(cap, j), cap.channels) ? zero_run + 1 : 0;
    }
    return false;
}

void compare_streams(comparison& facts, frame_stream& ref, frame_stream& cap, const std::int32_t* zero)
{
    const int channels = ref.channels;
    long long first = 0;
    long long zero_run = 0;
    fill_to(cap, 0);
    facts.capture_non_audio = capture_says_non_audio(cap);
    facts.aligned = align(facts, ref, cap, first, zero_run);
    long long i = 0;
    long long q = facts.offset;
    if (!facts.aligned) {
        while (fill_to(ref, i))
            ++i;
        facts.missing_after = i;
    }
    if (q < 0) {
        facts.missing_before = -q;
        i = -q;
        q = 0;
    }
    // Silent lead-in frames the capture ring no longer holds: matched when
    // the capture was silent there too.
    if (facts.aligned && q < cap.begin) {
        const long long lead = cap.begin - q;
        if (facts.offset + first - zero_run <= q)
            facts.compared += lead;
        else
            facts.uncompared_lead = lead;
        i += lead;
        q += lead;
    }
    difference_sums sums;
    bool in_run = false;
    while (facts.aligned) {
        if (i >= first && !fill_to(ref, i))
            break;
        const std::int32_t* expected = i < first ? zero : frame_at(ref, i);
        if (!fill_to(cap, q)) {
            for (long long k = i; k < first || fill_to(ref, k); ++k)
                ++facts.missing_after;
            break;
        }
        const std::int32_t* got = frame_at(cap, q);
        const bool same = frames_equal(expected, got, channels);
        if (!same && !in_run && i >= first) {
            const long long shift = realignment(ref, i, cap, q);
            if (shift > 0) {
                record_event(facts.dropped, facts.dropped_runs, facts.dropped_frames, q, shift);
                i += shift;
                continue;
            }
            if (shift < 0) {
                record_event(facts.repeated, facts.repeated_runs, facts.repeated_frames, q, -shift);
                q -= shift;
                continue;
            }
        }
        in_run = !same;
        ++facts.compared;
        if (same) {
            add_same(sums, expected, channels);
        } else {
            ++facts.mismatched;
            compare_frames(facts, sums, expected, got, channels, q);
        }
        ++i;
        ++q;
    }
    sums.same += static_cast<double>(sums.pending);
    if (sums.xx > 0 && facts.mismatched > 0) {
        const double xx = sums.xx + sums.same;
        const double xy = sums.xy + sums.same;
        const double factor = xy / xx;
        const double residual = std::max(0.0, sums.yy + sums.same - xy * factor);
        facts.constant_gain = factor > 0 && std::fabs(factor - 1) > 1e-4 && std::sqrt(residual / static_cast<double>(sums.n)) <= 1.5;
        facts.gain_db = factor > 0 ? 20 * std::log10(factor) : 0;
    }
    facts.low_bits_set = cap.low_bits;
    facts.capture_has_audio = cap.has_audio;
}

} // namespace

bool bit_exact(const comparison& facts)
{
    return facts.aligned && facts.mismatched == 0 && facts.dropped_runs == 0 && facts.repeated_runs == 0 &&
           missing_frames(facts) == 0 && facts.uncompared_lead == 0;
}

long long missing_frames(const comparison& facts)
{
    return facts.missing_before + facts.dropped_frames + facts.missing_after;
}


int iec_reference(std::FILE* in, std::FILE* out, bool wav, int channels, bool channels_given, const char* reference_path,
                  bool json)
{
    const std::unique_ptr<std::FILE, decltype([](std::FILE* f) { std::fclose(f); })> file(std::fopen(reference_path, "rb"));
    if (!file) {
        std::puts("Open reference file error, please check.");
        return 1;
    }
    std::setvbuf(file.get(), nullptr, _IONBF, 0);  // read in chunks of its own
    return compare_with_reference(in, file.get(), reference_path, out, wav, channels, channels_given, json);
}

int compare_with_reference(std::FILE* in, std::FILE* reference, const char* reference_path, std::FILE* out, bool wav,
                           int channels, bool channels_given, bool json)
{
    const std::unique_ptr<comparison> facts(new (std::nothrow) comparison());
    if (!facts) {
        std::puts("Failed to allocate memory for the comparison.");
        return 1;
    }
    facts->reference_path = reference_path;
    if (const char* wrong = read_wav_header(reference, facts->reference); wrong != nullptr) {
        std::printf("Reference file error: %s.\n", wrong);
        return 1;
    }
    const wav_format& format = facts->reference;
    if (channels_given && channels != format.channels) {
        std::printf("Error: channel number(-c) is %d, but the reference has %d channels.\n", channels, format.channels);
        return 1;
    }
    facts->precision = format.bits == 16 ? 16 : 24;
    frame_stream ref;
    frame_stream cap;
    ref.byte_limit = format.data_bytes;
    if (!open_stream(ref, reference, false, format.channels, static_cast<std::size_t>(format.bits / 8), facts->precision) ||
        !open_stream(cap, in, true, format.channels, word_bytes, facts->precision)) {
        std::puts("Failed to allocate memory for the comparison.");
        return 1;
    }
    const auto zero = zeroed_array<std::int32_t>(static_cast<std::size_t>(format.channels));
    if (!zero) {
        std::puts("Failed to allocate memory for the comparison.");
        return 1;
    }
    skip_header(in, wav);
    compare_streams(*facts, ref, cap, zero.get());
    if (input_result(in) != 0)
        return 1;
    if (std::ferror(reference) != 0) {
        std::puts("Reference file error: read error.");
        return 1;
    }
    if (json)
        write_reference_json(out, *facts);
    else
        write_reference_text(out, *facts);
    return bit_exact(*facts) ? 0 : 1;
}
