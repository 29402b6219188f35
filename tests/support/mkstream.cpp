// Test-data generator: writes a synthetic subframe stream to standard output.
//
//   mkstream -c CHANNELS -n FRAMES [-w] [-b BITS] [-a CH=V,V,...]
//            [-s CH[@BLOCK]=HEX] [-V CH=F[-F],...] [-E CH=F[-F],...]
//            [-D F[-F]] [-K] [-Z] [-N] [-R] [-L FRAMES] [-X]
//
//   -w             put a 44-byte WAV header in front
//   -b BITS        sample width the values are given in (16, 20 or 24; default 24)
//   -a CH=V,...    signed sample values of channel CH, repeated over the frames
//                  (default: a ramp that differs per channel)
//   -s CH=HEX      the channel status bytes (up to 24, as hex) channel CH carries in
//                  every block; CH@BLOCK=HEX from that block on
//   -V CH=F-F,...  frames (from 0) in which channel CH has its validity bit set
//   -E CH=F-F,...  frames in which channel CH's parity bit is wrong
//   -D F-F         frames left out of the stream, as a capture that lost them
//   -K             put each status's CRCC (as the professional format has it) in byte 23
//   -Z             no preamble codes (bits 0-3 zero)
//   -N             no parity bits (bit 31 zero)
//   -R             write the samples as a WAV file of BITS-bit PCM (16 or 24)
//                  instead: the reference that was played
//   -L FRAMES      put FRAMES silent frames in front, as a capture started
//                  before playback
//   -X             every other frame's samples have their lowest bit flipped,
//                  as a path that corrupts every other frame
//
// Every word also gets a preamble code (block start 8, first subframe 2,
// other subframes 4) and even parity, as a capture would.
#include <getopt.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

struct status_change {
    int channel;
    long block;
    std::array<std::uint8_t, 24> bytes;
};

struct frame_range {
    int channel;
    long first;
    long last;
};

struct stream_plan {
    int channels = 0;
    long frames = 0;
    int bits = 24;
    bool wav = false;
    std::vector<std::vector<long>> samples;  // per channel; empty means ramp
    std::vector<status_change> status;
    std::vector<frame_range> invalid;
    std::vector<frame_range> bad_parity;
    std::vector<frame_range> dropped;  // channel unused
    bool crc = false;
    bool codes = true;
    bool parity = true;
    bool reference = false;
    long lead = 0;
    bool corrupt = false;
};

bool in_ranges(const std::vector<frame_range>& ranges, int ch, long frame)
{
    return std::ranges::any_of(ranges, [ch, frame](const frame_range& range) {
        return (ch == 0 || range.channel == ch) && frame >= range.first && frame <= range.last;
    });
}

// CRCC over bytes 0-22, least significant bit first: x^8+x^4+x^3+x^2+1 from all ones.
std::uint8_t crcc(const std::array<std::uint8_t, 24>& bytes)
{
    unsigned crc = 0xFF;
    for (std::size_t i = 0; i < 23; ++i) {
        crc ^= bytes[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1U) != 0 ? (crc >> 1) ^ 0xB8U : crc >> 1;
    }
    return static_cast<std::uint8_t>(crc);
}

[[noreturn]] void usage_error(const char* what)
{
    std::fprintf(stderr, "mkstream: bad %s\n", what);
    std::exit(2);
}

// Splits "CH=REST" and checks CH; returns REST.
const char* channel_arg(const char* arg, const stream_plan& plan, int& channel, long* block)
{
    char* end = nullptr;
    channel = static_cast<int>(std::strtol(arg, &end, 10));
    if (block != nullptr && *end == '@')
        *block = std::strtol(end + 1, &end, 10);
    if (*end != '=' || channel < 1 || channel > plan.channels)
        usage_error("channel (give -c first)");
    return end + 1;
}

void put_le(std::vector<std::uint8_t>& out, std::uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

// The rate a capture's header gives: what channel 1's first status
// indicates (consumer byte 3, professional byte 0), 48 kHz when it names
// none; a reference is 48 kHz PCM.
std::uint32_t header_rate(const stream_plan& plan)
{
    std::array<std::uint8_t, 24> first{};
    for (const status_change& change : plan.status)
        if (change.channel == 1 && change.block == 0)
            first = change.bytes;
    if (plan.reference)
        return 48000;
    if ((first[0] & 1U) != 0) {
        constexpr std::array<std::uint32_t, 4> professional = {48000, 48000, 44100, 32000};
        return professional[(first[0] >> 6) & 3U];
    }
    switch (first[3] & 0x0FU) {
    case 0: return 44100;
    case 3: return 32000;
    case 0x0A: return 96000;
    case 0x0E: return 192000;
    default: return 48000;
    }
}

// A 44-byte header for frames of sample_bytes-byte samples.
void write_wav_header(const stream_plan& plan, int sample_bytes)
{
    const std::uint32_t rate = header_rate(plan);
    const auto data = static_cast<std::uint32_t>((plan.frames + plan.lead) * plan.channels * sample_bytes);
    std::vector<std::uint8_t> h;
    h.insert(h.end(), {'R', 'I', 'F', 'F'});
    put_le(h, 36 + data, 4);
    h.insert(h.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    put_le(h, 16, 4);
    put_le(h, 1, 2);  // integer PCM
    put_le(h, static_cast<std::uint32_t>(plan.channels), 2);
    put_le(h, rate, 4);
    put_le(h, static_cast<std::uint32_t>(rate * static_cast<std::uint32_t>(plan.channels * sample_bytes)), 4);
    put_le(h, static_cast<std::uint32_t>(plan.channels * sample_bytes), 2);
    put_le(h, static_cast<std::uint32_t>(8 * sample_bytes), 2);
    h.insert(h.end(), {'d', 'a', 't', 'a'});
    put_le(h, data, 4);
    std::fwrite(h.data(), 1, h.size(), stdout);
}

// The sample of a channel in a frame, its low plan.bits bits.
std::uint32_t sample_value(const stream_plan& plan, long frame, int ch)
{
    const auto& values = plan.samples[static_cast<std::size_t>(ch - 1)];
    if (frame < 0)
        return 0;  // the silence in front
    const long value = values.empty() ? (frame * 7919 * ch) - 3000000 : values[static_cast<std::size_t>(frame) % values.size()];
    const std::uint32_t flip = plan.corrupt && !plan.reference && frame % 2 == 1 ? 1 : 0;
    return (static_cast<std::uint32_t>(value) ^ flip) & ((1U << plan.bits) - 1);
}

std::uint32_t make_word(const stream_plan& plan, long frame, int ch)
{
    std::uint32_t word = sample_value(plan, frame, ch) << (28 - plan.bits);

    const long block = (frame + plan.lead) / 192;  // blocks count from the first frame written
    const long in_block = (frame + plan.lead) % 192;
    const status_change* status = nullptr;
    for (const auto& change : plan.status)
        if (change.channel == ch && change.block <= block)
            status = &change;
    if (status != nullptr) {
        auto bytes = status->bytes;
        if (plan.crc)
            bytes[23] = crcc(bytes);
        if (((bytes[static_cast<std::size_t>(in_block / 8)] >> (in_block % 8)) & 1U) != 0)
            word |= 1U << 30;
    }
    if (in_ranges(plan.invalid, ch, frame))
        word |= 1U << 28;

    if (plan.codes)
        word |= ch > 1 ? 0x4U : in_block == 0 ? 0x8U : 0x2U;  // preamble code
    const bool odd = __builtin_popcount(word & 0xFFFFFFF0U) % 2 != 0;
    if (plan.parity && odd != in_ranges(plan.bad_parity, ch, frame))
        word |= 1U << 31;  // even parity over bits 4-31, or odd where asked
    return word;
}

} // namespace

int main(int argc, char* argv[])
{
    stream_plan plan;
    int opt = 0;
    while ((opt = getopt(argc, argv, "c:n:wb:a:s:V:E:D:KZNRL:X")) != -1) {
        int ch = 0;
        const char* rest = nullptr;
        switch (opt) {
        case 'c':
            plan.channels = static_cast<int>(std::strtol(optarg, nullptr, 10));
            plan.samples.assign(static_cast<std::size_t>(plan.channels), {});
            break;
        case 'n': plan.frames = std::strtol(optarg, nullptr, 10); break;
        case 'w': plan.wav = true; break;
        case 'b': plan.bits = static_cast<int>(std::strtol(optarg, nullptr, 10)); break;
        case 'a':
            rest = channel_arg(optarg, plan, ch, nullptr);
            for (char* end = nullptr;; rest = end + 1) {
                plan.samples[static_cast<std::size_t>(ch - 1)].push_back(std::strtol(rest, &end, 10));
                if (*end != ',')
                    break;
            }
            break;
        case 's': {
            status_change change{0, 0, {}};
            rest = channel_arg(optarg, plan, change.channel, &change.block);
            const std::size_t digits = std::strlen(rest);
            if (digits % 2 != 0 || digits > 2 * change.bytes.size())
                usage_error("status bytes");
            for (std::size_t i = 0; i < digits; i += 2) {
                const char pair[3] = {rest[i], rest[i + 1], '\0'};
                change.bytes[i / 2] = static_cast<std::uint8_t>(std::strtoul(pair, nullptr, 16));
            }
            plan.status.push_back(change);
            break;
        }
        case 'V':
        case 'E':
        case 'D':
            rest = opt == 'D' ? optarg : channel_arg(optarg, plan, ch, nullptr);
            for (char* end = nullptr;; rest = end + 1) {
                frame_range range{ch, std::strtol(rest, &end, 10), 0};
                range.last = *end == '-' ? std::strtol(end + 1, &end, 10) : range.first;
                (opt == 'V' ? plan.invalid : opt == 'E' ? plan.bad_parity : plan.dropped).push_back(range);
                if (*end != ',')
                    break;
            }
            break;
        case 'K': plan.crc = true; break;
        case 'Z': plan.codes = false; break;
        case 'N': plan.parity = false; break;
        case 'R': plan.reference = true; break;
        case 'L': plan.lead = std::strtol(optarg, nullptr, 10); break;
        case 'X': plan.corrupt = true; break;
        default: usage_error("option");
        }
    }
    if (plan.channels < 1 || plan.frames < 0 || plan.lead < 0 || (plan.bits != 16 && plan.bits != 20 && plan.bits != 24))
        usage_error("-c, -n or -b");

    if (plan.reference && plan.bits == 20)
        usage_error("-b with -R");
    const int sample_bytes = plan.reference ? plan.bits / 8 : 4;
    if (plan.wav || plan.reference)
        write_wav_header(plan, sample_bytes);
    std::vector<std::uint8_t> buf;
    for (long frame = -plan.lead; frame < plan.frames; ++frame) {
        if (in_ranges(plan.dropped, 0, frame))
            continue;
        for (int ch = 1; ch <= plan.channels; ++ch)
            put_le(buf, plan.reference ? sample_value(plan, frame, ch) : make_word(plan, frame, ch), sample_bytes);
        if (buf.size() >= 1 << 16) {
            std::fwrite(buf.data(), 1, buf.size(), stdout);
            buf.clear();
        }
    }
    std::fwrite(buf.data(), 1, buf.size(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
}
