// Aligning the capture with the reference: the first capture frame found
// among the reference's first frames, or, when the capture began later than
// those, the first reference frame found among the capture's first frames.
#include "compare/passthrough.h"

#include <algorithm>
#include <climits>

namespace {

struct key_index {
    std::uint64_t key;
    long long frame;
};

bool find_in_reference(passthrough_run& run, passthrough& facts, long long q, long long& j)
{
    for (long long r = run.ref.first;; ++r) {
        if (r >= run.ref.end && !reference_has(run, facts, r))
            return false;
        if (frames_same(run.ref, r, run.cap, q)) {
            j = r;
            return true;
        }
    }
}

// The capture's first frames matched none of the reference's first ones: the
// capture may have begun later in it, so the reference streams past them.
bool slide_reference(passthrough_run& run, passthrough& facts, long long& j, long long& m)
{
    const auto held = static_cast<std::size_t>(run.cap.end - run.cap.first);
    const auto keys = zeroed_array<key_index>(held);
    if (!keys)
        return false;
    for (std::size_t k = 0; k < held; ++k) {
        const long long frame = run.cap.first + static_cast<long long>(k);
        keys[k] = {ring_at(run.cap, frame).key, frame};
    }
    const auto before = [](const key_index& a, const key_index& b) { return a.key < b.key || (a.key == b.key && a.frame < b.frame); };
    std::sort(keys.get(), keys.get() + held, before);
    for (long long r = run.ref.end;; ++r) {
        run.keep_ref_from = r - behind_frames;
        if (!reference_has(run, facts, r))
            return false;
        const key_index probe{ring_at(run.ref, r).key, LLONG_MIN};
        for (const key_index* k = std::lower_bound(keys.get(), keys.get() + held, probe, before);
             k < keys.get() + held && k->key == probe.key; ++k) {
            if (frames_same(run.ref, r, run.cap, k->frame)) {
                j = r;
                m = k->frame;
                return true;
            }
        }
    }
}

} // namespace

bool align_passthrough(passthrough_run& run, passthrough& facts, long long& j, long long& m)
{
    run.keep_ref_from = 0;
    run.keep_cap_from = 0;
    for (long long q = 0; capture_has(run, facts, q); ++q) {
        if (find_in_reference(run, facts, q, j)) {
            m = q;
            return true;
        }
    }
    return run.cap.end > run.cap.first && slide_reference(run, facts, j, m);
}
