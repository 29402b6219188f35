// The content of a capture over time: bursts by type, pauses, linear PCM and
// silence, with the gaps that bursts leave; and the link rate a stream needs.
#include "bitstream/timeline.h"

#include <algorithm>
#include <cstring>

namespace {

void switch_to(timeline& t, long long frame, content_kind kind, int type)
{
    if (t.current == kind && (kind != content_bursts || t.current_type == type))
        return;
    // Content that lasted no frame was no content: the frame of a burst's
    // preamble looks like PCM until the preamble is whole.
    const auto last = static_cast<std::size_t>(t.entry_count - 1);
    if (t.entry_count > 0 && last < t.entries.size() && t.entries[last].frame >= frame) {
        t.entries[last] = {frame, kind, type};
        const bool merge = last > 0 && t.entries[last - 1].kind == kind &&
                           (kind != content_bursts || t.entries[last - 1].type == type);
        if (merge)
            --t.entry_count;
        t.current = kind;
        t.current_type = type;
        return;
    }
    if (t.entry_count < static_cast<long long>(t.entries.size()))
        t.entries[static_cast<std::size_t>(t.entry_count)] = {frame, kind, type};
    ++t.entry_count;
    t.current = kind;
    t.current_type = type;
}

// Where the burst after the last data burst was due, or -1.
long long next_due(const timeline& t)
{
    return t.last_data_frame >= 0 && t.last_period > 0 ? t.last_data_frame + t.last_period : -1;
}

// The rates of the 44.1 kHz family get the 44.1 kHz family's link.
int high_rate(int sample_rate_hz)
{
    return sample_rate_hz % 11025 == 0 ? 176400 : 192000;
}

} // namespace

void timeline_burst(timeline& t, long long frame, int type, unsigned pc)
{
    if (type == burst_type_pause) {
        ++t.pauses;
        t.paused_since = true;
        switch_to(t, frame, content_pause, type);
        return;
    }
    const long long due = next_due(t);
    // PCM from this burst's own frame on is its preamble.
    const bool pcm = t.pcm_since && t.pcm_from < frame;
    if (due >= 0 && frame > due && !t.paused_since && !pcm) {
        if (t.gap_count < static_cast<long long>(t.gaps.size()))
            t.gaps[static_cast<std::size_t>(t.gap_count)] = {due, frame - due, t.last_type};
        ++t.gap_count;
        switch_to(t, due, content_silence, 0);
    }
    switch_to(t, frame, content_bursts, type);
    t.last_data_frame = frame;
    t.last_period = burst_period_frames(type, pc) * 2 / std::max(t.channels, 1);
    t.last_type = type;
    t.paused_since = false;
    t.pcm_since = false;
}

void timeline_pcm(timeline& t, long long frame)
{
    if (!t.pcm_since)
        t.pcm_from = frame;
    t.pcm_since = true;
    switch_to(t, frame, content_pcm, 0);
}

void timeline_end(timeline& t, long long frames)
{
    const long long due = next_due(t);
    if (due >= 0 && frames > due && t.current == content_bursts)
        switch_to(t, due, content_silence, 0);
}

const char* content_name(const timeline_entry& entry, char* text, std::size_t size)
{
    switch (entry.kind) {
    case content_bursts: return burst_type_name(entry.type, text, size);
    case content_pcm: return "PCM";
    case content_pause: return "pause";
    case content_silence: return "silence";
    default: return "none";
    }
}

double frames_to_ms(long long frames, int rate_hz)
{
    return rate_hz > 0 ? static_cast<double>(frames) * 1000.0 / rate_hz : 0.0;
}

int link_rate_needed_hz(int type, const frame_info& info)
{
    const int rate = info.meta.sample_rate_hz;
    if (rate == 0)
        return 0;
    switch (type) {
    case 1: case 4: case 5: case 6: case 11: case 12: case 13: return rate;
    case 21: return 4 * rate;
    case burst_type_mat: return high_rate(rate);
    case burst_type_dts_hd: return info.lossless ? high_rate(rate) : 0;
    default: return 0;
    }
}

bool rate_mismatch(int status_rate_hz, int type, const frame_info& info, char* text, std::size_t size)
{
    const int need = link_rate_needed_hz(type, info);
    // HDMI's high bit rate link states four times the rate of its eight channels.
    const bool hbr = (type == burst_type_mat || type == burst_type_dts_hd) && status_rate_hz == 4 * need;
    if (status_rate_hz <= 0 || need == 0 || need == status_rate_hz || hbr)
        return false;
    std::snprintf(text, size, "channel status says %g kHz, but %s at %g kHz needs %g kHz", status_rate_hz / 1000.0,
                  frame_codec_name(info), info.meta.sample_rate_hz / 1000.0, need / 1000.0);
    return true;
}
