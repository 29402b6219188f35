// Alignment: the capture frame that lines up with reference frame 0. The
// silence before either file's first sound is read past, never held. The
// first hypothesis is that the first sounds coincide; then that the channels
// relate to the reference by some stage in the path (a swap, a gain, fewer
// bits); then that the capture began inside the reference's sound, or that
// the reference's sound begins somewhere later in the capture.
#include "compare/compare.h"

namespace {

constexpr long long silent_lead = 64;     // silent frames before a capture's first sound that make it an onset
constexpr long long strict_telling = 16;  // first telling frames that must agree without that silence

// The onsets hypothesis has one candidate, so a capture with many corrupted
// frames is still aligned; a candidate found by searching must hold nearly
// everywhere.
bool onsets_agree(const agreement& a)
{
    return a.agreeing > 0 && a.agreeing >= std::min(a.informative, 16LL) && 4 * a.agreeing >= a.informative;
}

bool holds(const agreement& a)
{
    return a.agreeing > 0 && a.agreeing >= std::min(a.informative, 16LL) && 8 * a.agreeing >= 7 * a.informative;
}

// A relation that is no more than equal samples at another offset: left to
// the searches, which find the earliest offset of a periodic reference.
bool plain(const channel_relation& relation, int channels, frame_stream& ref, frame_stream& cap, long long offset)
{
    for (int ch = 0; ch < std::min(channels, max_diagnosed_channels); ++ch)
        if (relation.source[static_cast<std::size_t>(ch)] != ch || relation.skew[static_cast<std::size_t>(ch)] != 0)
            return false;
    return holds(agree(ref, ref.onset, cap, ref.onset + offset, search_telling));
}

// The exact searches, each streaming one file while the other stays; the
// second needs the first's file read again, so the one whose file can be
// positioned goes first.
bool search(frame_stream& ref, frame_stream& cap, long long& offset)
{
    if (ref.origin >= 0 || cap.origin < 0)
        return search_late_start(ref, cap, offset) ||
               (rewind_stream(ref, ref.onset) && search_late_reference(ref, cap, offset));
    return search_late_reference(ref, cap, offset) ||
           (rewind_stream(cap, cap.onset) && search_late_start(ref, cap, offset));
}

// Aligned at the offset the relation gives; through it unless the samples are equal.
void use_relation(comparison& facts, long long offset, bool equal)
{
    facts.aligned = true;
    facts.by_relation = !equal;
    facts.offset = offset;
}

// The searches for equal samples; a capture that began inside a periodic
// stretch fits every period there, which the notes say.
bool search_at_samples(comparison& facts, frame_stream& ref, frame_stream& cap)
{
    long long offset = 0;
    if (!search(ref, cap, offset))
        return false;
    facts.aligned = true;
    facts.offset = offset;
    facts.period = 0;
    if (offset != cap.onset - ref.onset)  // the capture's first sound is not the reference's
        facts.offset = periodic_start(ref, cap, offset, facts.period);
    return true;
}

} // namespace

agreement agree(frame_stream& ref, long long i, frame_stream& cap, long long q, long long n)
{
    agreement a;
    const std::int32_t* before_ref = frame_before(ref, i);
    const std::int32_t* before_cap = frame_before(cap, q);
    for (long long t = 0; t < confirm_frames && a.informative < n; ++t) {
        const std::int32_t* x = known_frame(ref, i + t);
        const std::int32_t* y = known_frame(cap, q + t);
        if (x == nullptr || y == nullptr)
            break;
        ++a.compared;
        const frame_match m = match_frames(x, before_ref, y, before_cap, ref.channels);
        if (m.telling) {
            a.leading += m.equal && a.leading == a.informative ? 1 : 0;
            a.agreeing += m.equal ? 1 : 0;
            ++a.informative;
        }
        before_ref = x;
        before_cap = y;
    }
    return a;
}

void align(comparison& facts, frame_stream& ref, frame_stream& cap, channel_relation& relation)
{
    find_onset(ref);
    find_onset(cap);
    if (!ref.has_sound || !cap.has_sound) {
        // Silence matches silence; sound in either alone matches nothing.
        facts.aligned = !ref.has_sound && !cap.has_sound && cap.onset > 0;
        facts.offset = 0;
        return;
    }
    // A capture that starts with sound may have begun anywhere inside the
    // reference's sound: its first frames must all agree (a periodic
    // reference fits often enough to pass the looser test), and the period
    // says how far the offset is known.
    const bool onset = cap.onset >= silent_lead;
    const agreement at_onsets = agree(ref, ref.onset, cap, cap.onset, onset_telling);
    facts.offset = cap.onset - ref.onset;
    facts.aligned = onsets_agree(at_onsets) && (onset || at_onsets.leading >= std::min(at_onsets.informative, strict_telling));
    if (facts.aligned) {
        facts.period = onset ? 0 : reference_period(ref, ref.onset);
        return;
    }
    // Through a stage in the path the onsets still line up, before anything
    // a periodic reference fits elsewhere; a capture that began inside the
    // reference is searched for first. Trying both needs a file read again
    // (or both, when the relation comes last), which only a file that can be
    // positioned allows.
    long long related = 0;
    const comparison comparison_start = facts;
    const bool rewindable = ref.origin >= 0 && cap.origin >= 0;
    bool found = (onset || !rewindable) && relate_channels(ref, cap, relation, related);
    bool equal = found && plain(relation, ref.channels, ref, cap, related);
    if (found && (onset || !equal)) {
        // A periodic reference relates to a capture that began inside it
        // at its onset too (a tone half a period late is the tone inverted):
        // equal samples elsewhere go first where the ends of the sound line
        // up there too (a stage would fit a period off only up to the end).
        if (!equal && rewindable && reference_period(ref, ref.onset) > 0 && rewind_stream(ref, ref.onset) &&
            rewind_stream(cap, cap.onset)) {
            if (search_at_samples(facts, ref, cap) && sound_ends_line_up(ref, cap, facts.offset))
                return;
            facts = comparison_start;
            rewind_stream(ref, ref.onset);
            rewind_stream(cap, cap.onset);
        }
        use_relation(facts, related, equal);
        return;
    }
    if (search_at_samples(facts, ref, cap))
        return;
    if (!onset && rewindable && rewind_stream(ref, ref.onset) && rewind_stream(cap, cap.onset)) {
        found = relate_channels(ref, cap, relation, related);
        equal = found && plain(relation, ref.channels, ref, cap, related);
        if (found && !equal) {
            // The relation may have read far past a quiet lead-in: the comparison starts at the onsets.
            rewind_stream(ref, ref.onset);
            rewind_stream(cap, cap.onset);
            use_relation(facts, related, false);
            return;
        }
    }
    // Equal samples near the onsets although no search found them (a capture
    // corrupted too often for a whole window to be equal).
    if (equal && rewind_stream(ref, ref.onset) && rewind_stream(cap, cap.onset))
        use_relation(facts, related, true);
}
