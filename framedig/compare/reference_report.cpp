// The comparison as a text report: a verdict line first, then the details,
// the notes, the findings and the diagnosis. Lines stay within 80 columns.
#include "compare/reference.h"
#include "report/report.h"

namespace {

constexpr std::size_t label_width = 14;  // "compared bits "

// The next line to write, or null once the lines are full.
template <std::size_t N> char* next_line(std::array<finding_line, N>& lines, std::size_t& n)
{
    return n < lines.size() ? lines[n++].data() : nullptr;
}

void add_events(std::array<finding_line, max_reference_findings>& lines, std::size_t& n,
                const std::array<frame_event, reference_events>& events, long long runs, const char* what)
{
    for (long long k = 0; k < runs && k < static_cast<long long>(events.size()); ++k) {
        const frame_event& event = events[static_cast<std::size_t>(k)];
        if (char* line = next_line(lines, n))
            std::snprintf(line, reference_finding_text, "%lld frames %s at capture frame %lld", event.count, what, event.frame);
    }
    const long long more = runs - static_cast<long long>(events.size());
    if (char* line = more > 0 ? next_line(lines, n) : nullptr)
        std::snprintf(line, reference_finding_text, "... and %lld more runs of %s frames", more, what);
}

// A detail line: its label, then text wrapped under the label's column.
void detail(std::FILE* out, const char* label, const char* text)
{
    std::fprintf(out, "%-*s", static_cast<int>(label_width), label);
    print_wrapped(out, label_width, text);
}

} // namespace

const char* diagnosis_name(diagnosis_kind kind)
{
    struct row {
        diagnosis_kind kind;
        const char* name;
    };
    constexpr std::array<row, 7> names = {{{diagnosis_kind::channel_map, "channel_map"},
                                           {diagnosis_kind::polarity, "polarity"},
                                           {diagnosis_kind::gain, "gain"},
                                           {diagnosis_kind::word_length, "word_length"},
                                           {diagnosis_kind::dc_offset, "dc_offset"},
                                           {diagnosis_kind::skew, "skew"},
                                           {diagnosis_kind::unrelated, "unrelated"}}};
    for (const row& r : names)
        if (r.kind == kind)
            return r.name;
    return "unrelated";
}

const char* word_cut_name(word_cut how)
{
    switch (how) {
    case word_cut::truncated: return "truncated";
    case word_cut::rounded: return "rounded";
    case word_cut::dithered: return "dithered";
    }
    return "dithered";
}

void diagnosis_text(const comparison& facts, const diagnosis& entry, finding_line& line)
{
    char* text = line.data();
    const std::size_t size = line.size();
    switch (entry.kind) {
    case diagnosis_kind::channel_map: {
        int used = std::snprintf(text, size, "channel map: capture channels carry reference channels");
        for (std::size_t c = 0; c < facts.channel_map.size() && c < static_cast<std::size_t>(facts.reference.channels) &&
                                used < static_cast<int>(size);
             ++c) {
            const int source = facts.channel_map[c];
            used += source > 0 ? std::snprintf(text + used, size - static_cast<std::size_t>(used), "%s %d", c > 0 ? "," : "", source)
                               : std::snprintf(text + used, size - static_cast<std::size_t>(used), "%s none", c > 0 ? "," : "");
        }
        break;
    }
    case diagnosis_kind::polarity: std::snprintf(text, size, "polarity: channel %d is inverted", entry.channel); break;
    case diagnosis_kind::gain: {
        std::array<char, 48> where{};
        if (entry.channel == 0)
            std::snprintf(where.data(), where.size(), "every channel");
        else
            std::snprintf(where.data(), where.size(), "channel %d", entry.channel);
        if (entry.from_frame < 0)
            std::snprintf(text, size, "gain: %.2f dB on %s from the start", entry.gain_db, where.data());
        else
            std::snprintf(text, size, "gain: %.2f dB on %s from capture frame %lld", entry.gain_db, where.data(), entry.from_frame);
        break;
    }
    case diagnosis_kind::word_length:
        std::snprintf(text, size, "word length: samples cut to %lld bits (%s)", entry.value, word_cut_name(entry.how));
        break;
    case diagnosis_kind::dc_offset:
        std::snprintf(text, size, "dc offset: channel %d has %lld added", entry.channel, entry.value);
        break;
    case diagnosis_kind::skew:
        std::snprintf(text, size, "skew: channel %d is %lld frames %s than channel 1", entry.channel,
                      entry.value > 0 ? entry.value : -entry.value, entry.value > 0 ? "later" : "earlier");
        break;
    case diagnosis_kind::unrelated:
        std::snprintf(text, size, "unrelated: no sample-exact relation to the reference (a resampler, an effect, or other content)");
        break;
    }
}

std::size_t reference_findings(const comparison& facts, std::array<finding_line, max_reference_findings>& lines)
{
    constexpr std::size_t size = reference_finding_text;
    std::size_t n = 0;
    if (char* line = !facts.aligned ? next_line(lines, n) : nullptr)
        std::snprintf(line, size, "no alignment found: the capture holds %s%s",
                      facts.capture_has_audio ? "non-zero audio, but not the reference's" : "no non-zero audio",
                      facts.capture_non_audio ? "; its channel status says non-audio" : "");
    if (char* line = facts.aligned && facts.compared == 0 ? next_line(lines, n) : nullptr)
        std::snprintf(line, size, "no frame was compared");
    if (char* line = facts.sound_before ? next_line(lines, n) : nullptr)
        std::snprintf(line, size, "the capture began %lld frames after the reference started", facts.missing_before);
    if (char* line = facts.uncompared_lead > 0 ? next_line(lines, n) : nullptr)
        std::snprintf(line, size, "%lld frames of the reference's silent lead-in could not be compared", facts.uncompared_lead);
    add_events(lines, n, facts.dropped, facts.dropped_runs, "dropped");
    add_events(lines, n, facts.repeated, facts.repeated_runs, "repeated");
    add_events(lines, n, facts.inserted, facts.inserted_runs, "inserted");
    if (char* line = facts.mismatched > 0 ? next_line(lines, n) : nullptr)
        std::snprintf(line, size, "%lld frames differ, the first at capture frame %lld, channel %d: expected %lld, got %lld",
                      facts.mismatched, facts.mismatch_frame, facts.mismatch_channel, facts.expected, facts.got);
    bool gain = false;
    const double db = constant_gain_db(facts, gain);
    if (char* line = gain ? next_line(lines, n) : nullptr)
        std::snprintf(line, size, "the differences look like a constant gain of %.2f dB (a volume stage)", db);
    if (char* line = facts.sound_after ? next_line(lines, n) : nullptr)
        std::snprintf(line, size, "the capture ends %lld frames before the reference does", facts.missing_after);
    return n;
}

std::size_t reference_notes(const comparison& facts, std::array<finding_line, max_reference_notes>& lines)
{
    constexpr std::size_t size = reference_finding_text;
    std::size_t n = 0;
    if (char* line = facts.period > 0 ? next_line(lines, n) : nullptr)
        std::snprintf(line, size, "the reference repeats every %lld frames there: the offset is known only to a multiple of %lld",
                      facts.period, facts.period);
    if (char* line = facts.missing_before > 0 && !facts.sound_before ? next_line(lines, n) : nullptr)
        std::snprintf(line, size, "the capture lacks the reference's first %lld frames, all silent (its lead-in)",
                      facts.missing_before);
    if (char* line = facts.missing_after > 0 && !facts.sound_after ? next_line(lines, n) : nullptr)
        std::snprintf(line, size, "the capture lacks the reference's last %lld frames, all silent (its tail)",
                      facts.missing_after);
    if (char* line = facts.low_bits_set ? next_line(lines, n) : nullptr)
        std::snprintf(line, size, "capture bits below the compared %d are set: a dither or gain stage", facts.precision);
    return n;
}

void write_reference_text(std::FILE* out, const comparison& facts)
{
    std::array<finding_line, max_reference_findings> lines{};
    const std::size_t n = reference_findings(facts, lines);
    if (n == 0) {
        std::fprintf(out, "bit-exact: %lld frames at offset %lld\n", facts.compared, facts.offset);
    } else {
        std::fputs("not bit-exact: ", out);
        print_wrapped(out, 15, lines[0].data());
    }
    finding_line text{};
    const wav_format& ref = facts.reference;
    std::fputc('\n', out);
    detail(out, "reference", facts.reference_path);
    std::snprintf(text.data(), text.size(), "%d channels, %d bits, %lld frames", ref.channels, ref.bits, ref.frames);
    detail(out, "", text.data());
    std::snprintf(text.data(), text.size(), "%d (capture bits %d-27)", facts.precision, sample_msb_pos + 1 - facts.precision);
    detail(out, "compared bits", text.data());
    if (facts.aligned)
        std::snprintf(text.data(), text.size(), "%lld frames%s", facts.offset,
                      facts.by_relation ? ", through the channels' relation (the samples differ)" : "");
    detail(out, "offset", facts.aligned ? text.data() : "none: no alignment found");
    std::fprintf(out, "compared      %lld frames\nmismatched    %lld frames\nlargest diff  %lld\n", facts.compared,
                 facts.mismatched, facts.largest_difference);
    std::snprintf(text.data(), text.size(), "capture frame %lld, channel %d: expected %lld, got %lld", facts.mismatch_frame,
                  facts.mismatch_channel, facts.expected, facts.got);
    if (facts.have_mismatch)
        detail(out, "first", text.data());
    std::fprintf(out, "dropped       %lld frames in %lld runs\nrepeated      %lld frames in %lld runs\n",
                 facts.dropped_frames, facts.dropped_runs, facts.repeated_frames, facts.repeated_runs);
    if (facts.inserted_runs > 0)
        std::fprintf(out, "inserted      %lld frames in %lld runs\n", facts.inserted_frames, facts.inserted_runs);
    std::snprintf(text.data(), text.size(), "%lld frames (%lld before the capture, %lld dropped, %lld after its end)",
                  missing_frames(facts), facts.aligned ? facts.missing_before : 0, facts.dropped_frames,
                  facts.aligned ? facts.missing_after : 0);
    detail(out, "missing", text.data());
    std::array<finding_line, max_reference_notes> notes{};
    for (std::size_t k = 0, count = reference_notes(facts, notes); k < count; ++k)
        detail(out, "note", notes[k].data());
    std::fputs("\nFindings\n", out);
    if (n == 0)
        std::fputs("  none\n", out);
    for (std::size_t k = 0; k < n; ++k) {
        std::fputs("  ", out);
        print_wrapped(out, 2, lines[k].data());
    }
    std::fputs("\nDiagnosis\n", out);
    if (facts.diagnosed == 0)
        std::fputs("  none\n", out);
    for (std::size_t k = 0; k < facts.diagnosed; ++k) {
        diagnosis_text(facts, facts.diagnoses[k], text);
        std::fputs("  ", out);
        print_wrapped(out, 2, text.data());
    }
}
