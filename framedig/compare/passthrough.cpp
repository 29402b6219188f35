// Compressed passthrough: the reference is recognised by its content; a
// compressed stream is read frame by frame, the capture's bursts are
// unwrapped into frames, and both are held in rings for the matching
// (passthrough_match.cpp).
#include "compare/passthrough.h"
#include "compare/reference.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

namespace {

constexpr char memory_message[] = "Failed to allocate memory for the comparison.";

// Drops the frames before keep, which are no longer needed, and holds the
// new one if it fits: the fewer frames held, the fewer pages touched.
bool push_or_drop(frame_ring& ring, long long keep, const std::uint8_t* data, std::size_t length, long long frame,
                  bool swapped)
{
    while (ring.first < keep && ring.first < ring.end)
        ring_drop(ring);
    return ring_push(ring, data, length, frame, swapped);
}

// The next chunk of capture words for the unwrapper; the channel count is
// detected in the first one when -c was not given.
bool read_capture_chunk(passthrough_run& run, passthrough& facts)
{
    const std::size_t count = read_units(run.capture, run.chunk.get(), word_bytes, capture_chunk_bytes / word_bytes);
    if (count == 0)
        return false;
    if (run.detect_channels) {
        const preamble_codes codes = detect_preambles(run.chunk.get(), count, 0);
        facts.channels = codes.usable ? codes.channels : 2;
        run.detect_channels = false;
    }
    run.words += static_cast<long long>(count);
    unwrap_feed(run.unwrapper, run.chunk.get(), count);
    return true;
}

} // namespace

void note_problem(passthrough& facts, problem_kind kind, long long count, long long codec_frame, long long capture_frame,
                  long long byte)
{
    problem& p = facts.problems[kind];
    if (p.count == 0 || capture_frame < p.capture_frame) {
        p.codec_frame = codec_frame;
        p.capture_frame = capture_frame;
        p.byte = byte;
    }
    p.count += count;
    // The earliest problem in the capture; of two at one frame, the one in the list first.
    facts.first_kind = problem_kinds;
    for (int k = 0; k < problem_kinds; ++k) {
        const problem& q = facts.problems[static_cast<std::size_t>(k)];
        if (q.count > 0 && (facts.first_kind == problem_kinds || q.capture_frame < facts.problems[facts.first_kind].capture_frame))
            facts.first_kind = static_cast<problem_kind>(k);
    }
}

long long missing_total(const passthrough& facts)
{
    return facts.problems[problem_missing_before].count + facts.problems[problem_missing].count +
           facts.problems[problem_missing_after].count;
}

bool passthrough_exact(const passthrough& facts)
{
    return facts.aligned && facts.first_kind == problem_kinds;
}

bool reference_has(passthrough_run& run, passthrough& facts, long long n)
{
    while (run.ref.end <= n && !run.ref_done) {
        if (!run.ref_pending) {
            frame_info info;
            if (!reader_next(run.reference, run.ref_data, run.ref_length, info)) {
                run.ref_done = true;
                break;
            }
            info.crc = frame_crc(run.ref_data, info);
            codec_stats_add(run.stats, info);
            run.ref_pending = true;
        }
        if (!push_or_drop(run.ref, run.keep_ref_from, run.ref_data, run.ref_length, -1, false))
            return false;
        run.ref_pending = false;
    }
    facts.codec_frames = run.stats.frames;
    return n < run.ref.end && n >= run.ref.first;
}

bool capture_has(passthrough_run& run, passthrough& facts, long long n)
{
    while (run.cap.end <= n && !run.cap_done) {
        if (!run.cap_pending) {
            burst_item& item = run.cap_item;
            bool got = false;
            while (!got) {
                while (!unwrap_next(run.unwrapper, item))
                    if (!read_capture_chunk(run, facts)) {
                        run.cap_done = true;
                        facts.capture_frames = run.words / facts.channels;
                        return n >= run.cap.first && n < run.cap.end;
                    }
                if (item.kind == item_burst)
                    facts.data_bursts += item.type != burst_type_null && item.type != burst_type_pause ? 1 : 0;
                else
                    got = true;
            }
            run.cap_pending = true;
        }
        const burst_item& item = run.cap_item;
        if (!push_or_drop(run.cap, run.keep_cap_from, item.data, item.length, item.word / facts.channels, item.swapped))
            return false;
        run.cap_pending = false;
        facts.swapped_frames += item.swapped ? 1 : 0;
    }
    return n < run.cap.end && n >= run.cap.first;
}

int compare_passthrough(std::FILE* in, passthrough_run& run, passthrough& facts, std::FILE* out, bool wav, int channels,
                        bool channels_given, bool json)
{
    if (channels_given && channels < 1) {
        std::puts("Error: channel number(-c) must be at least 1.");
        return 1;
    }
    facts.channels = channels_given ? channels : 2;
    run.detect_channels = !channels_given;
    run.capture = in;
    run.chunk = zeroed_array<std::uint8_t>(capture_chunk_bytes);
    if (!run.chunk || !unwrapper_init(run.unwrapper) || !ring_init(run.ref, reference_ring_bytes, reference_ring_frames) ||
        !ring_init(run.cap, capture_ring_bytes, capture_ring_frames)) {
        std::puts(memory_message);
        return 1;
    }
    skip_header(in, wav);
    match_passthrough(run, facts);
    codec_stats_finish(run.stats);
    facts.codec_frames = run.stats.frames;
    facts.have_metadata = run.stats.have_metadata;
    facts.metadata = run.stats.metadata;
    facts.codec_name = run.stats.frames > 0 ? run.stats.name : family_of_codec(facts.codec)->name;
    facts.skipped_bytes = run.reference.skipped_bytes;
    facts.crc_errors = run.stats.crc_errors;
    facts.first_crc_error = run.stats.first_crc_error;
    if (input_result(in) != 0)
        return 1;
    if (std::ferror(run.reference.file) != 0) {
        std::puts("Reference file error: read error.");
        return 1;
    }
    if (json)
        write_passthrough_json(out, facts);
    else
        write_passthrough_text(out, facts);
    return passthrough_exact(facts) ? 0 : 1;
}

int compare_bitstream(std::FILE* in, std::FILE* out, bool wav, int channels, bool channels_given, reference_file& reference,
                      bool json)
{
    const std::unique_ptr<passthrough> facts(new (std::nothrow) passthrough());
    const std::unique_ptr<passthrough_run> run(new (std::nothrow) passthrough_run());
    if (!facts || !run ||
        !open_reader(run->reference, reference.file.get(), reference.head.get(), reference.head_size, reference.stream,
                     reference.codec, reference.codec_offset, reference.whole)) {
        std::puts(memory_message);
        return 1;
    }
    reference.head.reset();  // the reader holds what it needs of it
    facts->reference_path = reference.path;
    facts->kind = reference.stream;
    facts->codec = reference.codec;
    return compare_passthrough(in, *run, *facts, out, wav, channels, channels_given, json);
}
