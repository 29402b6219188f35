// Runs one framedig operation over arbitrary capture bytes. The first byte
// chooses the operation (bits 0-1: PCM, status, validity, analysis), the
// channel count 1-4 (bits 2-3), the sample width 16, 20, 24 or an
// unsupported one (bits 4-5; for the analysis, bit 4 asks for JSON), the WAV
// header skip (bit 6) and, for the analysis, channel detection (bit 7); the
// rest is the capture.
#include "analyze/analysis.h"

#include <array>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    const unsigned mode = data[0];
    const int channels = 1 + static_cast<int>((mode >> 2) & 3U);
    constexpr std::array widths = {16, 20, 24, 0};
    const int bits = widths[(mode >> 4) & 3U];
    const bool wav = (mode & 0x40U) != 0;

    // fmemopen refuses an empty buffer; /dev/null is the empty capture.
    std::FILE* in = size > 1 ? fmemopen(const_cast<std::uint8_t*>(data + 1), size - 1, "rb") : std::fopen("/dev/null", "rb");
    std::FILE* out = std::fopen("/dev/null", "wb");
    if (in != nullptr && out != nullptr) {
        switch (mode & 3U) {
        case 1: iec_status(in, out, wav, channels); break;
        case 2: iec_validity(in, out, wav, channels); break;
        case 3: iec_analyze(in, out, wav, (mode & 0x80U) != 0 ? 0 : channels, (mode & 0x10U) != 0); break;
        default: iec_pcm(in, bits, out, wav); break;
        }
    }
    if (in != nullptr)
        std::fclose(in);
    if (out != nullptr)
        std::fclose(out);
    return 0;
}
