// Matching the capture's codec frames with the reference's, in order, from
// where passthrough_align.cpp aligned them: each capture frame is the
// expected reference frame (matched), one matched shortly before
// (repeated), or one further on (the frames between are missing). Frames
// that match nothing are settled at the next match: as many as the
// reference frames skipped there took their place (corrupted), the rest were
// sent besides (extra). Identical frames (a silent lead-in) match in order:
// a frame lost among them shows only where they end, and the bursts' timing
// tells where in the run it was due.
#include "compare/passthrough.h"

#include <algorithm>
#include <climits>

namespace {

constexpr std::size_t pending_kept = 64;

struct match_state {
    long long i = 0;           // the next reference frame expected
    long long q = 0;           // the next capture frame
    long long unmatched = 0;   // capture frames since the last match that matched nothing
    std::array<long long, pending_kept> pending_frame{};  // their capture frames, the first ones
    std::array<std::size_t, pending_kept> pending_length{};
    long long first_byte = -1;  // where the first of them differs from the frame expected
    std::uint64_t run_key = 0;  // the run of identical reference frames the last match is in
    std::size_t run_length = 0;
    long long run_start = 0;
    long long last_q = -1;      // the last capture frame matched, and where its burst began
    long long last_capture = -1;
    long long period = 0;       // the shortest step between the bursts of consecutive matches
    long long gap_codec = -1;   // the latest match that came a burst period or more late
    long long gap_due = -1;     // where the frame before it was due
    long long swapped_codec = -1;
    long long swapped_capture = -1;
};

// Capture frames just before the first match that have the length of the
// reference frames just before it took their place; the reference frames
// before those never arrived.
void start_matching(passthrough_run& run, passthrough& facts, match_state& st, long long j, long long m)
{
    long long back = 0;
    while (m - back - 1 >= run.cap.first && j - back - 1 >= std::max(run.ref.first, 0LL) &&
           ring_at(run.cap, m - back - 1).length == ring_at(run.ref, j - back - 1).length)
        ++back;
    if (back > 0)
        note_problem(facts, problem_corrupted, back, j - back, ring_at(run.cap, m - back).capture_frame,
                     static_cast<long long>(first_difference(run.ref, j - back, run.cap, m - back)));
    if (j - back > 0)
        note_problem(facts, problem_missing_before, j - back, 0, ring_at(run.cap, m).capture_frame);
    facts.aligned = true;
    facts.offset = ring_at(run.cap, m).capture_frame;
    st.i = j;
    st.q = m;
    st.run_start = j;
    st.run_key = ring_at(run.ref, j).key;
    st.run_length = ring_at(run.ref, j).length;
}

// Learns the burst period from consecutive matches and notes a match that
// came later than the period: a frame may have been lost before it.
void note_timing(match_state& st, long long r, long long capture_frame)
{
    const long long step = capture_frame - st.last_capture;
    if (st.last_q >= 0 && st.last_q == st.q - 1 && r == st.i && step > 0) {
        if (st.period > 0 && 2 * step >= 3 * st.period) {
            st.gap_codec = r;
            st.gap_due = st.last_capture + st.period;
        }
        st.period = st.period == 0 ? step : std::min(st.period, step);
    }
    st.last_q = st.q;
    st.last_capture = capture_frame;
}

void matched(const passthrough_run& run, passthrough& facts, match_state& st, long long r)
{
    if (st.unmatched > 0)
        note_problem(facts, problem_extra, st.unmatched, r, st.pending_frame[0]);
    st.unmatched = 0;
    const held_frame& c = ring_at(run.cap, st.q);
    if (c.swapped && facts.swapped_matched++ == 0) {
        st.swapped_codec = r;
        st.swapped_capture = c.capture_frame;
    }
    note_timing(st, r, c.capture_frame);
    const held_frame& f = ring_at(run.ref, r);
    if (f.key != st.run_key || f.length != st.run_length) {
        st.run_start = r;
        st.run_key = f.key;
        st.run_length = f.length;
    }
    ++facts.matched;
    st.i = r + 1;
    ++st.q;
}

// The capture frame matches reference frame i + k: the unmatched frames
// before it took the place of the k frames skipped, as far as they go.
void skipped(passthrough_run& run, passthrough& facts, match_state& st, long long k)
{
    const long long corrupted = std::min(st.unmatched, k);
    if (corrupted > 0)
        note_problem(facts, problem_corrupted, corrupted, st.i, st.pending_frame[0], st.first_byte);
    if (st.unmatched > corrupted)
        note_problem(facts, problem_extra, st.unmatched - corrupted, st.i + k,
                     st.pending_frame[static_cast<std::size_t>(std::min<long long>(corrupted, pending_kept - 1))]);
    st.unmatched = 0;
    const long long missing = k - corrupted;
    if (missing == 0)
        return;
    // The next burst arrived where the first missing frame was due, or a
    // period after the last match when zeros or pauses filled the gap.
    const long long arrived = ring_at(run.cap, st.q).capture_frame;
    long long codec = st.i + corrupted;
    long long due = corrupted == 0 && st.period > 0 ? std::min(arrived, st.last_capture + st.period) : arrived;
    // Frames identical to the run matched last: lost where the run's bursts
    // came late, if they did.
    bool in_run = st.gap_codec > st.run_start;
    for (long long r = codec; in_run && r < st.i + k; ++r)
        in_run = ring_at(run.ref, r).key == st.run_key && ring_at(run.ref, r).length == st.run_length;
    if (in_run) {
        codec = st.gap_codec;
        due = st.gap_due;
        st.gap_codec = -1;
    }
    note_problem(facts, problem_missing, missing, codec, due);
}

// Capture frames that matched nothing, then one that matches the reference
// frame as many frames on (among identical frames, an earlier one too):
// those frames took the places in between when their lengths fit.
bool took_places(passthrough_run& run, passthrough& facts, const match_state& st)
{
    const long long u = st.unmatched;
    if (u == 0 || u > static_cast<long long>(pending_kept) || !reference_has(run, facts, st.i + u) ||
        !frames_same(run.ref, st.i + u, run.cap, st.q))
        return false;
    for (long long n = 0; n < u; ++n)
        if (ring_at(run.ref, st.i + n).length != st.pending_length[static_cast<std::size_t>(n)])
            return false;
    return true;
}

bool repeated(const passthrough_run& run, passthrough& facts, match_state& st)
{
    for (long long r = st.i - 1; r >= std::max(run.ref.first, st.i - behind_frames); --r) {
        if (frames_same(run.ref, r, run.cap, st.q)) {
            note_problem(facts, problem_repeated, 1, r, ring_at(run.cap, st.q).capture_frame);
            ++st.q;
            return true;
        }
    }
    return false;
}

long long found_ahead(passthrough_run& run, passthrough& facts, const match_state& st)
{
    for (long long k = 1; reference_has(run, facts, st.i + k); ++k)
        if (frames_same(run.ref, st.i + k, run.cap, st.q))
            return k;
    return 0;
}

void unmatched(passthrough_run& run, passthrough& facts, match_state& st)
{
    const held_frame& c = ring_at(run.cap, st.q);
    if (st.unmatched < static_cast<long long>(pending_kept)) {
        st.pending_frame[static_cast<std::size_t>(st.unmatched)] = c.capture_frame;
        st.pending_length[static_cast<std::size_t>(st.unmatched)] = c.length;
    }
    if (st.unmatched == 0)
        st.first_byte = reference_has(run, facts, st.i) ? static_cast<long long>(first_difference(run.ref, st.i, run.cap, st.q)) : -1;
    ++st.unmatched;
    ++st.q;
}

// The capture ended: frames after the last match that have the length of
// the reference frames expected took their place; the rest never arrived.
void finish(passthrough_run& run, passthrough& facts, const match_state& st)
{
    long long trailing = 0;
    while (trailing < std::min<long long>(st.unmatched, pending_kept) && reference_has(run, facts, st.i + trailing) &&
           ring_at(run.ref, st.i + trailing).length == st.pending_length[static_cast<std::size_t>(trailing)])
        ++trailing;
    if (trailing > 0)
        note_problem(facts, problem_corrupted, trailing, st.i, st.pending_frame[0], st.first_byte);
    run.keep_ref_from = LLONG_MAX;
    while (!run.ref_done)
        reference_has(run, facts, run.ref.end);
    if (facts.codec_frames > st.i + trailing)
        note_problem(facts, problem_missing_after, facts.codec_frames - st.i - trailing, st.i + trailing, facts.capture_frames);
    if (facts.swapped_matched == 0)
        return;
    if (facts.swapped_matched == facts.matched) {
        facts.byte_swapped = true;
        note_problem(facts, problem_swapped, 1, st.swapped_codec, st.swapped_capture);
    } else {  // some payloads byte-swapped, others not: those are corrupted
        facts.matched -= facts.swapped_matched;
        note_problem(facts, problem_corrupted, facts.swapped_matched, st.swapped_codec, st.swapped_capture, 0);
    }
}

} // namespace

void match_passthrough(passthrough_run& run, passthrough& facts)
{
    long long j = 0;
    long long m = 0;
    match_state st;
    if (!align_passthrough(run, facts, j, m)) {
        run.keep_cap_from = LLONG_MAX;
        while (!run.cap_done)
            capture_has(run, facts, run.cap.end);
        run.keep_ref_from = LLONG_MAX;
        while (!run.ref_done)
            reference_has(run, facts, run.ref.end);
        if (facts.codec_frames > 0)
            note_problem(facts, problem_missing, facts.codec_frames, 0, 0);
        return;
    }
    start_matching(run, facts, st, j, m);
    for (;;) {
        run.keep_ref_from = st.i - behind_frames;
        run.keep_cap_from = st.q;
        if (!capture_has(run, facts, st.q))
            break;
        if (took_places(run, facts, st)) {
            const long long k = st.unmatched;
            skipped(run, facts, st, k);
            matched(run, facts, st, st.i + k);
            continue;
        }
        if (reference_has(run, facts, st.i) && frames_same(run.ref, st.i, run.cap, st.q)) {
            matched(run, facts, st, st.i);
            continue;
        }
        if (repeated(run, facts, st))
            continue;
        if (const long long k = found_ahead(run, facts, st); k > 0) {
            skipped(run, facts, st, k);
            matched(run, facts, st, st.i + k);
            continue;
        }
        unmatched(run, facts, st);
    }
    finish(run, facts, st);
}
