// The reference WAV file: RIFF, RF64 or BW64 chunks walked by reading, every
// size checked against what the file holds, integer PCM of 16, 24 or 32 bits
// accepted. A data size of 0xFFFFFFFF (what a writer that cannot seek back
// leaves) means "to the end of the file"; RF64 and BW64 keep the real sizes
// in a ds64 chunk.
#include "compare/reference.h"

#include <sys/stat.h>

#include <cstring>
#include <limits>

namespace {

constexpr std::uint16_t format_pcm = 1;
constexpr std::uint16_t format_float = 3;
constexpr std::uint16_t format_alaw = 6;
constexpr std::uint16_t format_mulaw = 7;
constexpr std::uint16_t format_extensible = 0xFFFE;
constexpr std::size_t fmt_min_bytes = 16;
constexpr std::size_t fmt_extensible_bytes = 40;
constexpr std::size_t ds64_min_bytes = 24;  // RIFF size, data size, sample count
constexpr long long size_unknown = 0xFFFFFFFF;
// The PCM subformat GUID after its first two bytes (which hold the format tag).
constexpr std::array<std::uint8_t, 14> guid_tail = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                                    0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

std::uint16_t le16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }

// A 64-bit size, kept within what a file offset can be.
long long le64(const std::uint8_t* p)
{
    const std::uint64_t value = load_word(p) | (static_cast<std::uint64_t>(load_word(p + 4)) << 32);
    return static_cast<long long>(std::min<std::uint64_t>(value, std::numeric_limits<long long>::max()));
}

bool read_exact(std::FILE* in, std::uint8_t* buf, std::size_t n) { return std::fread(buf, 1, n, in) == n; }

// Skips n bytes by reading, so that a pipe works and a size past the end is noticed.
bool skip_bytes(std::FILE* in, long long n)
{
    std::array<std::uint8_t, 4096> scrap{};
    while (n > 0) {
        const auto step = static_cast<std::size_t>(std::min<long long>(n, static_cast<long long>(scrap.size())));
        if (!read_exact(in, scrap.data(), step))
            return false;
        n -= static_cast<long long>(step);
    }
    return true;
}

const char* check_format(const std::uint8_t* fmt, std::size_t size, wav_format& format)
{
    std::uint16_t tag = le16(fmt);
    const int channels = le16(fmt + 2);
    const int block_align = le16(fmt + 12);
    const int bits = le16(fmt + 14);
    if (tag == format_extensible) {
        if (size < fmt_extensible_bytes)
            return "truncated WAVE_FORMAT_EXTENSIBLE header";
        if (std::memcmp(fmt + 26, guid_tail.data(), guid_tail.size()) != 0)
            return "WAVE_FORMAT_EXTENSIBLE with an unknown subformat";
        tag = le16(fmt + 24);
    }
    if (tag == format_float)
        return "floating-point samples; integer PCM of 16, 24 or 32 bits is needed";
    if (tag == format_alaw || tag == format_mulaw)
        return tag == format_alaw ? "A-law samples; integer PCM of 16, 24 or 32 bits is needed"
                                  : "mu-law samples; integer PCM of 16, 24 or 32 bits is needed";
    if (tag != format_pcm)
        return "a format other than PCM; integer PCM of 16, 24 or 32 bits is needed";
    if (bits != 16 && bits != 24 && bits != 32)
        return bits == 8 ? "8-bit samples; integer PCM of 16, 24 or 32 bits is needed"
                         : "a sample size other than 16, 24 or 32 bits";
    if (channels == 0 || block_align != channels * bits / 8)
        return "a channel count or block size that does not fit the samples";
    format.channels = channels;
    format.bits = bits;
    return nullptr;
}

// What the file holds after the current position, or -1 for a stream
// (a pipe) whose length cannot be known.
long long bytes_left(std::FILE* in)
{
    struct stat st {};
    const int fd = fileno(in);
    const long pos = fd < 0 ? -1 : std::ftell(in);
    if (pos < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        return -1;
    return static_cast<long long>(st.st_size) - pos;
}

// The data chunk: its size from the chunk header, from ds64, or to the end.
const char* data_chunk(long long size, long long ds64_data, long long left, wav_format& format)
{
    if (size == size_unknown)
        size = ds64_data >= 0 ? ds64_data : left;
    if (left >= 0 && size > left)
        return "data chunk size runs past the end of the file";
    const long long frame_bytes = static_cast<long long>(format.channels) * (format.bits / 8);
    format.data_bytes = size;
    format.frames = size >= 0 ? size / frame_bytes : -1;
    return nullptr;
}

} // namespace

const char* read_wav_header(std::FILE* in, wav_format& format)
{
    std::array<std::uint8_t, 12> riff{};
    if (!read_exact(in, riff.data(), riff.size()))
        return std::ferror(in) != 0 ? "read error" : "not a RIFF/WAVE file (too short)";
    const bool sizes_in_ds64 = std::memcmp(riff.data(), "RF64", 4) == 0 || std::memcmp(riff.data(), "BW64", 4) == 0;
    if ((std::memcmp(riff.data(), "RIFF", 4) != 0 && !sizes_in_ds64) || std::memcmp(riff.data() + 8, "WAVE", 4) != 0)
        return "not a RIFF/WAVE file";
    bool have_fmt = false;
    long long ds64_data = -1;
    for (;;) {
        std::array<std::uint8_t, 8> chunk{};
        if (!read_exact(in, chunk.data(), chunk.size()))
            return have_fmt ? "no data chunk" : "no fmt chunk";
        const auto size = static_cast<long long>(load_word(chunk.data() + 4));
        const long long left = bytes_left(in);
        if (std::memcmp(chunk.data(), "data", 4) == 0)
            return have_fmt ? data_chunk(size, ds64_data, left, format) : "data chunk before the fmt chunk";
        if (left >= 0 && size > left)
            return "truncated header: a chunk runs past the end of the file";
        std::array<std::uint8_t, fmt_extensible_bytes> body{};
        const auto keep = static_cast<std::size_t>(std::min<long long>(size, static_cast<long long>(body.size())));
        const bool fmt = std::memcmp(chunk.data(), "fmt ", 4) == 0 && !have_fmt;
        const bool ds64 = std::memcmp(chunk.data(), "ds64", 4) == 0 && sizes_in_ds64;
        if (fmt && size < static_cast<long long>(fmt_min_bytes))
            return "truncated header: fmt chunk too short";
        if (ds64 && size < static_cast<long long>(ds64_min_bytes))
            return "truncated header: ds64 chunk too short";
        if (!fmt && !ds64) {  // LIST, fact and the rest, with their pad byte
            if (!skip_bytes(in, size + (size & 1)))
                return "truncated header";
            continue;
        }
        if (!read_exact(in, body.data(), keep) || !skip_bytes(in, size - static_cast<long long>(keep) + (size & 1)))
            return "truncated header";
        if (ds64)
            ds64_data = le64(body.data() + 8);
        else if (const char* wrong = check_format(body.data(), keep, format); wrong != nullptr)
            return wrong;
        have_fmt = have_fmt || fmt;
    }
}
