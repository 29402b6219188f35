// The comparison with a reference: the reference is opened, recognised by
// its content and checked before any output exists, then the comparison that
// suits what it holds runs. For PCM samples from a WAV file: the capture's
// layout from its preamble codes, the alignment, the frame by frame
// comparison, a report; for a compressed stream see passthrough.cpp.
#include "compare/compare.h"
#include "compare/passthrough.h"

#include <sys/types.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

namespace {

ssize_t replay_read(void* cookie, char* buf, std::size_t size)
{
    auto* state = static_cast<replay_state*>(cookie);
    if (state->pos < state->size) {
        const std::size_t n = std::min(size, state->size - state->pos);
        std::memcpy(buf, state->head + state->pos, n);
        state->pos += n;
        return static_cast<ssize_t>(n);
    }
    const std::size_t n = std::fread(buf, 1, size, state->rest);
    return n == 0 && std::ferror(state->rest) != 0 ? -1 : static_cast<ssize_t>(n);
}

// The WAV reader reads from the file's start: the file itself, rewound, or
// for a pipe the bytes recognition read and then the rest.
bool rewind_samples(reference_file& reference)
{
    if (std::fseek(reference.file.get(), 0, SEEK_SET) == 0) {
        reference.samples = reference.file.get();
        return true;
    }
    reference.replay = {reference.head.get(), reference.head_size, 0, reference.file.get()};
    const cookie_io_functions_t io{replay_read, nullptr, nullptr, nullptr};
    reference.replay_file.reset(fopencookie(&reference.replay, "rb", io));
    reference.samples = reference.replay_file.get();
    return reference.samples != nullptr;
}

int compare_pcm(std::FILE* in, std::FILE* out, bool wav, int channels, bool channels_given, reference_file& reference,
                bool json)
{
    const std::unique_ptr<comparison> facts(new (std::nothrow) comparison());
    if (!facts) {
        std::puts("Failed to allocate memory for the comparison.");
        return 1;
    }
    const wav_format& format = reference.format;
    facts->reference_path = reference.path;
    facts->reference = format;
    if (channels_given && channels != format.channels) {
        std::printf("Error: channel number(-c) is %d, but the reference has %d channels.\n", channels, format.channels);
        return 1;
    }
    facts->precision = format.bits == 16 ? 16 : 24;
    frame_stream ref;
    frame_stream cap;
    cap.file = in;
    skip_header(in, wav);
    capture_layout layout = probe_capture(cap, channels_given ? channels : 0);
    if (cap.io && !channels_given && layout.channels > 0 && layout.channels != format.channels) {
        std::printf("Error: the capture has %d channels, but the reference has %d channels.\n", layout.channels,
                    format.channels);
        return 1;
    }
    ref.data_bytes = format.data_bytes;
    if (!cap.io || !open_stream(ref, reference.samples, false, format.channels, static_cast<std::size_t>(format.bits / 8),
                                facts->precision) ||
        !open_stream(cap, in, true, format.channels, word_bytes, facts->precision)) {
        std::puts("Failed to allocate memory for the comparison.");
        return 1;
    }
    start_capture(cap, layout);
    facts->capture_non_audio = layout.non_audio;
    if (!fill_to(ref, 0) && std::ferror(reference.samples) == 0) {
        std::puts("Reference file error: the data chunk holds no frames.");
        return 1;
    }
    channel_relation relation;
    align(*facts, ref, cap, relation);
    compare_streams(*facts, ref, cap, relation);
    if (input_result(in) != 0)
        return 1;
    if (std::ferror(reference.samples) != 0) {
        std::puts("Reference file error: read error.");
        return 1;
    }
    if (json)
        write_reference_json(out, *facts);
    else
        write_reference_text(out, *facts);
    return bit_exact(*facts) ? 0 : 1;
}

} // namespace

bool open_reference_file(reference_file& reference, const char* path)
{
    reference.path = path;
    reference.file.reset(std::fopen(path, "rb"));
    if (!reference.file) {
        std::puts("Open reference file error, please check.");
        return false;
    }
    std::setvbuf(reference.file.get(), nullptr, _IONBF, 0);  // read in chunks of its own
    return true;
}

bool check_reference(reference_file& reference)
{
    reference.head = zeroed_array<std::uint8_t>(recognise_bytes);
    if (!reference.head) {
        std::puts("Failed to allocate memory for the comparison.");
        return false;
    }
    reference.head_size = read_units(reference.file.get(), reference.head.get(), 1, recognise_bytes);
    if (std::ferror(reference.file.get()) != 0) {
        std::puts("Reference file error: read error.");
        return false;
    }
    reference.whole = reference.head_size < recognise_bytes;
    reference.stream = recognise_stream(reference.head.get(), reference.head_size, reference.whole, reference.codec,
                                        reference.codec_offset);
    if (reference.stream == stream_elementary || reference.stream == stream_iec61937) {
        reference.kind = reference_kind::bitstream;
        return true;
    }
    // A RIFF file that is no proper WAV file is left to the WAV reader to describe.
    if (reference.stream == stream_unknown && !looks_like_riff(reference.head.get(), reference.head_size)) {
        std::puts("Reference file error: neither a PCM WAV file nor a known bitstream.");
        return false;
    }
    if (!rewind_samples(reference)) {
        std::puts("Failed to allocate memory for the comparison.");
        return false;
    }
    if (const char* wrong = read_wav_header(reference.samples, reference.format); wrong != nullptr) {
        std::printf("Reference file error: %s.\n", wrong);
        return false;
    }
    if (reference.format.frames == 0) {
        std::puts("Reference file error: the data chunk holds no frames.");
        return false;
    }
    reference.kind = reference_kind::pcm;
    return true;
}

int iec_reference(std::FILE* in, std::FILE* out, bool wav, int channels, bool channels_given, reference_file& reference,
                  bool json)
{
    switch (reference.kind) {
    case reference_kind::pcm: return compare_pcm(in, out, wav, channels, channels_given, reference, json);
    case reference_kind::bitstream: return compare_bitstream(in, out, wav, channels, channels_given, reference, json);
    }
    return 1;
}

bool bit_exact(const comparison& facts)
{
    return facts.aligned && facts.compared > 0 && facts.mismatched == 0 && facts.dropped_runs == 0 &&
           facts.repeated_runs == 0 &&
           facts.inserted_runs == 0 && !facts.sound_before && !facts.sound_after && facts.uncompared_lead == 0;
}

long long missing_frames(const comparison& facts)
{
    return facts.aligned ? facts.missing_before + facts.dropped_frames + facts.missing_after : facts.reference.frames;
}

// The gain every channel has, which a volume stage gives.
double constant_gain_db(const comparison& facts, bool& found)
{
    for (std::size_t k = 0; k < facts.diagnosed; ++k) {
        const diagnosis& entry = facts.diagnoses[k];
        if (entry.kind == diagnosis_kind::gain && entry.channel == 0 && std::isfinite(entry.gain_db)) {
            found = true;
            return entry.gain_db;
        }
    }
    found = false;
    return 0;
}
