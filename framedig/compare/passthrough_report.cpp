// The passthrough comparison as a text report (the verdict first) and as
// one JSON object: what each problem is called and how its finding reads.
#include "compare/passthrough.h"
#include "report/report.h"

#include <string_view>

namespace {

constexpr std::size_t finding_text = 200;
using finding_line = std::array<char, finding_text>;

// What first_problem calls each kind.
constexpr std::array<const char*, problem_kinds> problem_names = {"missing", "missing", "repeated", "corrupted",
                                                                  "extra",   "missing", "byte-swapped"};

void finding(const passthrough& facts, problem_kind kind, finding_line& line)
{
    const problem& p = facts.problems[kind];
    const char* codec = facts.codec_name;
    switch (kind) {
    case problem_missing_before:
        std::snprintf(line.data(), line.size(), "the first %lld %s frames never arrived (the first to arrive is codec frame %lld)",
                      p.count, codec, p.count);
        break;
    case problem_missing:
        std::snprintf(line.data(), line.size(), "%lld %s frames missing within the capture, the first is codec frame %lld (due at capture frame %lld)",
                      p.count, codec, p.codec_frame, p.capture_frame);
        break;
    case problem_repeated:
        std::snprintf(line.data(), line.size(), "%lld %s frames repeated, the first at capture frame %lld (codec frame %lld)",
                      p.count, codec, p.capture_frame, p.codec_frame);
        break;
    case problem_corrupted:
        std::snprintf(line.data(), line.size(), "%lld %s frames corrupted, the first is codec frame %lld at capture frame %lld, from byte %lld",
                      p.count, codec, p.codec_frame, p.capture_frame, p.byte);
        break;
    case problem_extra:
        std::snprintf(line.data(), line.size(), "%lld data bursts match no reference frame, the first at capture frame %lld",
                      p.count, p.capture_frame);
        break;
    case problem_missing_after:
        std::snprintf(line.data(), line.size(), "the capture ends %lld %s frames before the reference does", p.count, codec);
        break;
    default:
        std::snprintf(line.data(), line.size(), "every payload arrived with its 16-bit words byte-swapped (first at capture frame %lld)",
                      p.capture_frame);
        break;
    }
}

// The findings, the earliest problem first; none exactly when bit-exact.
std::size_t findings(const passthrough& facts, std::array<finding_line, problem_kinds + 1>& lines)
{
    std::size_t n = 0;
    if (!facts.aligned) {
        std::snprintf(lines[n++].data(), finding_text, "none of the reference's %lld %s frames arrived: the capture holds %lld data bursts",
                      facts.codec_frames, facts.codec_name, facts.data_bursts);
        return n;
    }
    if (facts.first_kind != problem_kinds)
        finding(facts, facts.first_kind, lines[n++]);
    for (int k = 0; k < problem_kinds; ++k) {
        const auto kind = static_cast<problem_kind>(k);
        if (facts.problems[kind].count > 0 && kind != facts.first_kind)
            finding(facts, kind, lines[n++]);
    }
    return n;
}

// Text of "a, b, c" pieces from the given column on, broken only between pieces.
void print_pieces(std::FILE* out, std::size_t column, std::string_view text)
{
    std::size_t at = column;
    bool first = true;
    while (!text.empty()) {
        const std::size_t comma = text.find(", ");
        const std::string_view piece = text.substr(0, comma);
        if (!first && at + 2 + piece.size() > report_width) {
            std::fprintf(out, ",\n%*s", static_cast<int>(column), "");
            at = column;
        } else if (!first) {
            std::fputs(", ", out);
            at += 2;
        }
        std::fprintf(out, "%.*s", static_cast<int>(piece.size()), piece.data());
        at += piece.size();
        first = false;
        text.remove_prefix(comma == std::string_view::npos ? text.size() : comma + 2);
    }
    std::fputc('\n', out);
}

const char* container_name(stream_kind kind)
{
    return kind == stream_iec61937 ? "IEC 61937 bursts" : "elementary stream";
}

} // namespace

void write_passthrough_text(std::FILE* out, const passthrough& facts)
{
    std::array<finding_line, problem_kinds + 1> lines{};
    const std::size_t n = findings(facts, lines);
    if (n == 0) {
        std::fprintf(out, "bit-exact passthrough: %lld %s frames\n", facts.matched, facts.codec_name);
    } else {
        std::fputs("not bit-exact: ", out);
        print_wrapped(out, 15, lines[0].data());
    }
    std::fprintf(out, "\nreference     %s\n", facts.reference_path);
    std::fprintf(out, "              %s %s, %lld frames\n", facts.codec_name, container_name(facts.kind), facts.codec_frames);
    if (facts.have_metadata) {
        std::array<char, 160> text{};
        metadata_text(facts.metadata, text.data(), text.size());
        std::fputs("              ", out);
        print_pieces(out, 14, text.data());
    }
    if (facts.skipped_bytes > 0)
        std::fprintf(out, "              %lld bytes belong to no frame\n", facts.skipped_bytes);
    if (facts.crc_errors > 0)
        std::fprintf(out, "              %lld frames fail their CRC, the first is frame %lld\n", facts.crc_errors,
                     facts.first_crc_error);
    std::fprintf(out, "capture       %lld frames of %d channels, %lld data bursts\n", facts.capture_frames, facts.channels,
                 facts.data_bursts);
    if (facts.aligned)
        std::fprintf(out, "offset        capture frame %lld\n", facts.offset);
    else
        std::fputs("offset        none: no frame of the reference arrived\n", out);
    const auto count = [&](problem_kind kind) { return facts.problems[kind].count; };
    std::fprintf(out, "matched       %lld frames\n", facts.matched);
    std::fprintf(out, "missing       %lld frames (%lld before the capture, %lld within, %lld after its end)\n",
                 missing_total(facts), count(problem_missing_before), count(problem_missing), count(problem_missing_after));
    std::fprintf(out, "repeated      %lld frames\ncorrupted     %lld frames\nextra         %lld data bursts\n",
                 count(problem_repeated), count(problem_corrupted), count(problem_extra));
    std::fprintf(out, "byte-swapped  %s\n", facts.byte_swapped ? "yes, every payload" : "no");
    std::fputs("\nFindings\n", out);
    if (n == 0)
        std::fputs("  none\n", out);
    for (std::size_t k = 0; k < n; ++k) {
        std::fputs("  ", out);
        print_wrapped(out, 2, lines[k].data());
    }
}

void write_passthrough_json(std::FILE* out, const passthrough& facts)
{
    std::fputs(R"({"reference":{"path":)", out);
    json_string(out, facts.reference_path);
    std::fputs(R"(,"kind":"bitstream","container":)", out);
    json_string(out, container_name(facts.kind));
    std::fputs(R"(,"codec":)", out);
    json_string(out, facts.codec_name);
    std::fprintf(out, R"(,"codec_frames":%lld,"metadata":)", facts.codec_frames);
    if (facts.have_metadata)
        write_metadata_json(out, facts.metadata);
    else
        std::fputs("null", out);
    std::fprintf(out, R"(,"skipped_bytes":%lld,"crc_errors":%lld},"channels":%d,"capture_frames":%lld,"data_bursts":%lld,)"
                      R"("offset_frames":)",
                 facts.skipped_bytes, facts.crc_errors, facts.channels, facts.capture_frames, facts.data_bursts);
    if (facts.aligned)
        std::fprintf(out, "%lld", facts.offset);
    else
        std::fputs("null", out);
    const auto count = [&](problem_kind kind) { return facts.problems[kind].count; };
    std::fprintf(out,
                 R"(,"passthrough":{"matched":%lld,"missing":{"before":%lld,"within":%lld,"after":%lld},)"
                 R"("repeated":%lld,"corrupted":%lld,"extra":%lld,"byte_swapped":%s,"first_problem":)",
                 facts.matched, count(problem_missing_before), count(problem_missing), count(problem_missing_after),
                 count(problem_repeated), count(problem_corrupted), count(problem_extra),
                 facts.byte_swapped ? "true" : "false");
    if (facts.first_kind != problem_kinds) {
        const problem& p = facts.problems[facts.first_kind];
        std::fprintf(out, R"({"codec_frame":%lld,"capture_frame":%lld,"what":"%s"})", p.codec_frame, p.capture_frame,
                     problem_names[facts.first_kind]);
    } else {
        std::fputs("null", out);
    }
    std::fprintf(out, R"(},"bit_exact":%s,"findings":[)", passthrough_exact(facts) ? "true" : "false");
    std::array<finding_line, problem_kinds + 1> lines{};
    const std::size_t n = findings(facts, lines);
    for (std::size_t k = 0; k < n; ++k) {
        std::fputs(k > 0 ? "," : "", out);
        json_string(out, lines[k].data());
    }
    std::fputs("]}\n", out);
}
