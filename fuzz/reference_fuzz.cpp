// Compares arbitrary capture bytes with an arbitrary reference file, PCM or
// compressed, recognised by its content. The
// first two bytes (little-endian) say how many of the following bytes are
// the reference; the rest is the capture. Bit 15 of that count asks for JSON.
#include "compare/passthrough.h"

#include <algorithm>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 2)
        return 0;
    const unsigned head = data[0] | (static_cast<unsigned>(data[1]) << 8U);
    const std::size_t reference_bytes = std::min<std::size_t>(head & 0x7FFFU, size - 2);
    const std::size_t capture_bytes = size - 2 - reference_bytes;
    auto* bytes = const_cast<std::uint8_t*>(data + 2);
    // fmemopen refuses an empty buffer; /dev/null is the empty file.
    std::FILE* reference = reference_bytes > 0 ? fmemopen(bytes, reference_bytes, "rb") : std::fopen("/dev/null", "rb");
    std::FILE* in = capture_bytes > 0 ? fmemopen(bytes + reference_bytes, capture_bytes, "rb") : std::fopen("/dev/null", "rb");
    std::FILE* out = std::fopen("/dev/null", "wb");
    if (reference != nullptr && in != nullptr && out != nullptr)
        compare_with_any_reference(in, reference, "fuzz.wav", out, false, 0, false, (head & 0x8000U) != 0);
    for (std::FILE* f : {reference, in, out})
        if (f != nullptr)
            std::fclose(f);
    return 0;
}
