// Codec frames of one stream counted as they come: CRC failures, the first
// metadata, how often it changes, and E-AC-3's substreams per program.
#include "bitstream/timeline.h"

namespace {

// Which frames describe the stream: E-AC-3's dependent substreams and
// further programs describe themselves, and TrueHD states its format only
// at a major sync.
bool describes_stream(const frame_info& info)
{
    if (!info.has_metadata)
        return false;
    return info.codec != codec_eac3 || (info.eac3_independent && info.eac3_substream == 0);
}

} // namespace

void codec_stats_add(codec_stats& stats, const frame_info& info)
{
    if (stats.frames == 0) {
        stats.codec = info.codec;
        stats.name = frame_codec_name(info);
    }
    if (info.crc == crc_bad) {
        if (stats.crc_errors == 0)
            stats.first_crc_error = stats.frames;
        ++stats.crc_errors;
    }
    ++stats.frames;
    if (info.codec == codec_eac3) {
        if (info.eac3_independent && info.eac3_substream == 0 && stats.programs < 2)
            ++stats.programs;
        if (stats.programs == 1)
            ++stats.program_frames;
    }
    if (!describes_stream(info))
        return;
    if (!stats.have_metadata) {
        stats.have_metadata = true;
        stats.metadata = info.meta;
        if (info.codec == codec_dts && info.meta.hd)
            stats.name = frame_codec_name(info);
    } else if (!(info.meta == stats.last)) {
        ++stats.metadata_changes;
    }
    stats.last = info.meta;
}

void codec_stats_finish(codec_stats& stats)
{
    if (stats.codec == codec_eac3 && stats.program_frames > 0)
        stats.metadata.substreams = stats.program_frames;
}
