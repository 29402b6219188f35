// The comparison as one JSON object for scripts.
#include "compare/reference.h"
#include "report/report.h"

namespace {

void json_events(std::FILE* out, const char* key, const std::array<frame_event, reference_events>& events, long long runs)
{
    std::fprintf(out, ",\"%s\":[", key);
    for (long long k = 0; k < runs && k < static_cast<long long>(events.size()); ++k)
        std::fprintf(out, R"(%s{"frame":%lld,"count":%lld})", k > 0 ? "," : "", events[static_cast<std::size_t>(k)].frame,
                     events[static_cast<std::size_t>(k)].count);
    std::fputc(']', out);
}

// A number, or null when it is absent.
void json_number(std::FILE* out, bool present, long long value)
{
    if (present)
        std::fprintf(out, "%lld", value);
    else
        std::fputs("null", out);
}

template <std::size_t N> void json_lines(std::FILE* out, const std::array<finding_line, N>& lines, std::size_t n)
{
    std::fputc('[', out);
    for (std::size_t k = 0; k < n; ++k) {
        std::fputs(k > 0 ? "," : "", out);
        json_string(out, lines[k].data());
    }
    std::fputc(']', out);
}

// Each entry has its kind and exactly the keys of that kind.
void json_diagnosis(std::FILE* out, const comparison& facts, const diagnosis& entry)
{
    std::fprintf(out, R"({"kind":"%s")", diagnosis_name(entry.kind));
    switch (entry.kind) {
    case diagnosis_kind::channel_map:
        std::fputs(R"(,"map":[)", out);
        for (int c = 0; c < std::min(facts.reference.channels, max_diagnosed_channels); ++c) {
            std::fputs(c > 0 ? "," : "", out);
            const int source = facts.channel_map[static_cast<std::size_t>(c)];
            json_number(out, source > 0, source);
        }
        std::fputc(']', out);
        break;
    case diagnosis_kind::polarity: std::fprintf(out, R"(,"channel":%d)", entry.channel); break;
    case diagnosis_kind::gain:
        std::fputs(R"(,"channel":)", out);
        json_number(out, entry.channel > 0, entry.channel);
        std::fputs(R"(,"gain_db":)", out);
        json_decimal(out, entry.gain_db, true, 2);
        std::fputs(R"(,"from_frame":)", out);
        json_number(out, entry.from_frame >= 0, entry.from_frame);
        break;
    case diagnosis_kind::word_length:
        std::fprintf(out, R"(,"bits":%lld,"how":"%s")", entry.value, word_cut_name(entry.how));
        break;
    case diagnosis_kind::dc_offset: std::fprintf(out, R"(,"channel":%d,"value":%lld)", entry.channel, entry.value); break;
    case diagnosis_kind::skew: std::fprintf(out, R"(,"channel":%d,"frames":%lld)", entry.channel, entry.value); break;
    case diagnosis_kind::unrelated: break;
    }
    std::fputc('}', out);
}

} // namespace

void write_reference_json(std::FILE* out, const comparison& facts)
{
    const wav_format& ref = facts.reference;
    std::fputs(R"({"reference":{"path":)", out);
    json_string(out, facts.reference_path);
    std::fprintf(out, R"(,"kind":"pcm","channels":%d,"bits":%d,"frames":%lld},"compared_bits":%d,"offset_frames":)", ref.channels,
                 ref.bits, ref.frames, facts.precision);
    json_number(out, facts.aligned, facts.offset);
    std::fprintf(out, R"(,"aligned_by":%s,"period_frames":)",
                 !facts.aligned ? "null" : facts.by_relation ? R"("relation")" : R"("samples")");
    json_number(out, facts.period > 0, facts.period);
    std::fprintf(out, R"(,"compared_frames":%lld,"mismatched_frames":%lld,"first_mismatch":)", facts.compared,
                 facts.mismatched);
    if (facts.have_mismatch)
        std::fprintf(out, R"({"frame":%lld,"channel":%d,"expected":%lld,"got":%lld})", facts.mismatch_frame,
                     facts.mismatch_channel, facts.expected, facts.got);
    else
        std::fputs("null", out);
    std::fprintf(out, R"(,"largest_difference":%lld,"constant_gain_db":)", facts.largest_difference);
    bool gain = false;
    const double db = constant_gain_db(facts, gain);
    json_decimal(out, db, gain, 2);
    json_events(out, "dropped", facts.dropped, facts.dropped_runs);
    json_events(out, "repeated", facts.repeated, facts.repeated_runs);
    json_events(out, "inserted", facts.inserted, facts.inserted_runs);
    const bool aligned = facts.aligned;
    std::fprintf(out,
                 R"(,"dropped_frames":%lld,"repeated_frames":%lld,"inserted_frames":%lld,"missing_frames":%lld,)"
                 R"("missing_before":%lld,)"
                 R"("missing_after":%lld,"silent_lead_missing":%lld,"silent_tail_missing":%lld,)"
                 R"("uncompared_lead_frames":%lld,"low_bits_set":%s,"capture_has_audio":%s,)"
                 R"("capture_non_audio":%s,"bit_exact":%s,"notes":)",
                 facts.dropped_frames, facts.repeated_frames, facts.inserted_frames, missing_frames(facts), aligned ? facts.missing_before : 0,
                 aligned ? facts.missing_after : 0, facts.sound_before ? 0 : facts.missing_before,
                 facts.sound_after ? 0 : facts.missing_after, facts.uncompared_lead, facts.low_bits_set ? "true" : "false",
                 facts.capture_has_audio ? "true" : "false", facts.capture_non_audio ? "true" : "false",
                 bit_exact(facts) ? "true" : "false");
    std::array<finding_line, max_reference_notes> notes{};
    json_lines(out, notes, reference_notes(facts, notes));
    std::fputs(R"(,"findings":)", out);
    std::array<finding_line, max_reference_findings> lines{};
    json_lines(out, lines, reference_findings(facts, lines));
    std::fputs(R"(,"diagnosis":[)", out);
    for (std::size_t k = 0; k < facts.diagnosed; ++k) {
        std::fputs(k > 0 ? "," : "", out);
        json_diagnosis(out, facts, facts.diagnoses[k]);
    }
    std::fputs("]}\n", out);
}
