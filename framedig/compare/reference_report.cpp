// The comparison as a text report (a verdict line first) and as one JSON object.
#include "compare/reference.h"
#include "report/report.h"

#include <string_view>

namespace {

// The next finding line to write, or null once the lines are full.
char* next_line(std::array<finding_line, max_reference_findings>& lines, std::size_t& n)
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

void json_events(std::FILE* out, const char* key, const std::array<frame_event, reference_events>& events, long long runs)
{
    std::fprintf(out, ",\"%s\":[", key);
    for (long long k = 0; k < runs && k < static_cast<long long>(events.size()); ++k)
        std::fprintf(out, R"(%s{"frame":%lld,"count":%lld})", k > 0 ? "," : "", events[static_cast<std::size_t>(k)].frame,
                     events[static_cast<std::size_t>(k)].count);
    std::fputc(']', out);
}

} // namespace

std::size_t reference_findings(const comparison& facts, std::array<finding_line, max_reference_findings>& lines)
{
    constexpr std::size_t size = reference_finding_text;
    std::size_t n = 0;
    if (char* line = !facts.aligned ? next_line(lines, n) : nullptr)
        std::snprintf(line, size, "no alignment found: the capture holds %s%s",
                      facts.capture_has_audio ? "non-zero audio, but not the reference's" : "no non-zero audio",
                      facts.capture_non_audio ? "; its channel status says non-audio" : "");
    if (char* line = facts.missing_before > 0 ? next_line(lines, n) : nullptr)
        std::snprintf(line, size, "the capture began %lld frames after the reference started", facts.missing_before);
    if (char* line = facts.uncompared_lead > 0 ? next_line(lines, n) : nullptr)
        std::snprintf(line, size, "%lld frames of the reference's silent lead-in could not be compared", facts.uncompared_lead);
    add_events(lines, n, facts.dropped, facts.dropped_runs, "dropped");
    add_events(lines, n, facts.repeated, facts.repeated_runs, "repeated");
    if (char* line = facts.mismatched > 0 ? next_line(lines, n) : nullptr)
        std::snprintf(line, size, "%lld frames differ, the first at capture frame %lld, channel %d: expected %lld, got %lld",
                      facts.mismatched, facts.mismatch_frame, facts.mismatch_channel, facts.expected, facts.got);
    if (char* line = facts.constant_gain ? next_line(lines, n) : nullptr)
        std::snprintf(line, size, "the differences look like a constant gain of %.2f dB (a volume stage)", facts.gain_db);
    if (char* line = facts.missing_after > 0 ? next_line(lines, n) : nullptr)
        std::snprintf(line, size, "the capture ends %lld frames before the reference does", facts.missing_after);
    return n;
}

void write_reference_text(std::FILE* out, const comparison& facts)
{
    std::array<finding_line, max_reference_findings> lines{};
    const std::size_t n = reference_findings(facts, lines);
    if (n == 0)
        std::fprintf(out, "bit-exact: %lld frames at offset %lld\n", facts.compared, facts.offset);
    else
        std::fprintf(out, "not bit-exact: %s\n", lines[0].data());
    const wav_format& ref = facts.reference;
    std::fprintf(out, "\nreference     %s\n              %d channels, %d bits, %lld frames\n", facts.reference_path,
                 ref.channels, ref.bits, ref.frames);
    std::fprintf(out, "compared bits %d (capture bits %d-27)\n", facts.precision, sample_msb_pos + 1 - facts.precision);
    if (facts.aligned)
        std::fprintf(out, "offset        %lld frames\n", facts.offset);
    else
        std::fputs("offset        none: no alignment found\n", out);
    std::fprintf(out, "compared      %lld frames\nmismatched    %lld frames\nlargest diff  %lld\n", facts.compared,
                 facts.mismatched, facts.largest_difference);
    if (facts.have_mismatch)
        std::fprintf(out, "first         capture frame %lld, channel %d: expected %lld, got %lld\n", facts.mismatch_frame,
                     facts.mismatch_channel, facts.expected, facts.got);
    std::fprintf(out, "dropped       %lld frames in %lld runs\nrepeated      %lld frames in %lld runs\n",
                 facts.dropped_frames, facts.dropped_runs, facts.repeated_frames, facts.repeated_runs);
    std::fprintf(out, "missing       %lld frames (%lld before the capture, %lld dropped, %lld after its end)\n",
                 missing_frames(facts), facts.missing_before, facts.dropped_frames, facts.missing_after);
    if (facts.low_bits_set)
        std::fprintf(out, "note          capture bits below the compared %d are set: a dither or gain stage\n",
                     facts.precision);
    std::fputs("\nFindings\n", out);
    if (n == 0)
        std::fputs("  none\n", out);
    for (std::size_t k = 0; k < n; ++k)
        std::fprintf(out, "  %s\n", lines[k].data());
}

void write_reference_json(std::FILE* out, const comparison& facts)
{
    const wav_format& ref = facts.reference;
    std::fputs(R"({"reference":{"path":)", out);
    json_string(out, facts.reference_path);
    std::fprintf(out, R"(,"kind":"pcm","channels":%d,"bits":%d,"frames":%lld},"compared_bits":%d,"offset_frames":)", ref.channels,
                 ref.bits, ref.frames, facts.precision);
    if (facts.aligned)
        std::fprintf(out, "%lld", facts.offset);
    else
        std::fputs("null", out);
    std::fprintf(out, R"(,"compared_frames":%lld,"mismatched_frames":%lld,"first_mismatch":)", facts.compared,
                 facts.mismatched);
    if (facts.have_mismatch)
        std::fprintf(out, R"({"frame":%lld,"channel":%d,"expected":%lld,"got":%lld})", facts.mismatch_frame,
                     facts.mismatch_channel, facts.expected, facts.got);
    else
        std::fputs("null", out);
    std::fprintf(out, R"(,"largest_difference":%lld,"constant_gain_db":)", facts.largest_difference);
    if (facts.constant_gain)
        std::fprintf(out, "%.2f", facts.gain_db);
    else
        std::fputs("null", out);
    json_events(out, "dropped", facts.dropped, facts.dropped_runs);
    json_events(out, "repeated", facts.repeated, facts.repeated_runs);
    std::fprintf(out,
                 R"(,"dropped_frames":%lld,"repeated_frames":%lld,"missing_frames":%lld,"missing_before":%lld,)"
                 R"("missing_after":%lld,"uncompared_lead_frames":%lld,"low_bits_set":%s,"capture_has_audio":%s,)"
                 R"("capture_non_audio":%s,"bit_exact":%s,"findings":[)",
                 facts.dropped_frames, facts.repeated_frames, missing_frames(facts), facts.missing_before,
                 facts.missing_after, facts.uncompared_lead, facts.low_bits_set ? "true" : "false",
                 facts.capture_has_audio ? "true" : "false", facts.capture_non_audio ? "true" : "false",
                 bit_exact(facts) ? "true" : "false");
    std::array<finding_line, max_reference_findings> lines{};
    const std::size_t n = reference_findings(facts, lines);
    for (std::size_t k = 0; k < n; ++k) {
        std::fputs(k > 0 ? "," : "", out);
        json_string(out, lines[k].data());
    }
    std::fputs("]}\n", out);
}
