// Runs the bitstream helpers over arbitrary bytes: as capture words through
// the burst unwrapper, the codec parsers, the codec statistics and the
// timeline; and as a reference file through recognition and the frame reader.
#include "bitstream/reader.h"
#include "bitstream/timeline.h"

#include <algorithm>

namespace {

void unwrap_capture(const std::uint8_t* data, std::size_t size)
{
    burst_unwrapper u;
    if (!unwrapper_init(u))
        return;
    codec_stats stats;
    timeline t;
    // Fed in two chunks, so that a burst may straddle them.
    const std::size_t words = size / word_bytes;
    const std::size_t half = words / 2;
    for (const auto& [from, count] : {std::pair{std::size_t{0}, half}, std::pair{half, words - half}}) {
        unwrap_feed(u, data + from * word_bytes, count);
        burst_item item;
        while (unwrap_next(u, item)) {
            if (item.kind == item_burst && item.type != burst_type_null)
                timeline_burst(t, item.word / 2, item.type, item.pc);
            else if (item.kind == item_frame && item.info.codec != codec_none) {
                frame_info info = item.info;
                info.crc = frame_crc(item.data, info);
                codec_stats_add(stats, info);
            }
            std::array<char, 160> text{};
            rate_mismatch(48000, item.type, item.info, text.data(), text.size());
        }
    }
    timeline_end(t, static_cast<long long>(words / 2));
    codec_stats_finish(stats);
}

void read_reference(const std::uint8_t* data, std::size_t size)
{
    codec_id codec = codec_none;
    std::size_t offset = 0;
    const std::size_t head = std::min(size, recognise_bytes);
    const stream_kind kind = recognise_stream(data, head, head == size, codec, offset);
    if (kind != stream_elementary && kind != stream_iec61937)
        return;
    auto* bytes = const_cast<std::uint8_t*>(data + head);
    std::FILE* rest = size > head ? fmemopen(bytes, size - head, "rb") : std::fopen("/dev/null", "rb");
    if (rest == nullptr)
        return;
    stream_reader r;
    if (open_reader(r, rest, data, head, kind, codec, offset, head == size)) {
        const std::uint8_t* frame = nullptr;
        std::size_t length = 0;
        frame_info info;
        while (reader_next(r, frame, length, info)) {
        }
    }
    std::fclose(rest);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    unwrap_capture(data, size);
    read_reference(data, size);
    return 0;
}
