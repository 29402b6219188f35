// Comparison with the reference: the capture is aligned with the reference
// (align.cpp), and every run of mismatches is either a realignment (frames
// dropped or repeated) or samples that differ.
#include "compare/passthrough.h"
#include "compare/reference.h"
#include "report/report.h"

#include <cmath>
#include <cstring>
#include <memory>
#include <new>

namespace {


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

// Adds matching samples' energy in integers, which is much faster than in
// doubles and exact until it is carried over: a 64-bit sum holds 2^16
// squares of 24-bit samples, and a WAV frame has at most 65535 of them.
void add_same(difference_sums& sums, const std::int32_t* samples, long long count)
{
    std::uint64_t energy = 0;
    for (long long k = 0; k < count; ++k) {
        const auto v = static_cast<std::int64_t>(samples[k]);
        energy += static_cast<std::uint64_t>(v * v);
    }
    sums.pending += energy;
    sums.pending_count += count;
    if (sums.pending_count >= (1LL << 16) - count) {
        sums.same += static_cast<double>(sums.pending);
        sums.pending = 0;
        sums.pending_count = 0;
    }
    sums.n += count;
}

// How many whole runs of 16 frames from reference frame i and capture frame
// q match, compared without a branch per sample: most of a bit-exact
// capture goes through here. Their energy is added to the sums.
long long matching_blocks(frame_stream& ref, long long i, frame_stream& cap, long long q, difference_sums& sums)
{
    constexpr long long block = 16;
    constexpr int max_channels = 256;  // a block's energy must fit the carry rule
    const int channels = ref.channels;
    const long long samples = block * channels;
    long long done = 0;
    while (channels <= max_channels && fill_to(ref, i + done + block - 1) && fill_to(cap, q + done + block - 1) &&
           ((i + done) & (ring_frames - 1)) + block <= ring_frames && ((q + done) & (ring_frames - 1)) + block <= ring_frames) {
        const std::int32_t* a = frame_at(ref, i + done);
        const std::int32_t* b = frame_at(cap, q + done);
        std::uint32_t differ = 0;
        for (long long k = 0; k < samples; ++k)
            differ |= static_cast<std::uint32_t>(a[k] ^ b[k]);
        if (differ != 0)
            break;
        add_same(sums, a, samples);
        done += block;
    }
    return done;
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
        if (!in_run && i >= first) {
            const long long run = matching_blocks(ref, i, cap, q, sums);
            facts.compared += run;
            i += run;
            q += run;
        }
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
    return compare_with_any_reference(in, file.get(), reference_path, out, wav, channels, channels_given, json);
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
