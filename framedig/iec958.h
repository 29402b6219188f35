// Layout of a captured IEC 60958 stream and the operations that read it.
//
// Every subframe is stored as one 32-bit little-endian word:
//   bits 0-3   preamble, stored by the capture hardware as a small code
//   bits 4-27  audio: the sample's most significant bit is always bit 27
//   bit  28    V, validity
//   bit  29    U, user data (not used)
//   bit  30    C, channel status
//   bit  31    P, parity: makes bits 4-31 even
// A frame is one word per channel in channel order; a block is 192 frames.
// The extraction operations count block starts from the first word; the
// analysis finds them from the preamble codes.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <type_traits>

inline constexpr std::size_t word_bytes = 4;
inline constexpr std::size_t wav_header_bytes = 44;
inline constexpr int validity_bit_pos = 28;
inline constexpr int status_bit_pos = 30;
inline constexpr int sample_msb_pos = 27;
inline constexpr int frames_per_block = 192;
inline constexpr int status_words = 6;   // 192 status bits as six 32-bit words
inline constexpr int bits_per_status_word = 32;
// The block size 768 * channels must fit a signed 32-bit number.
inline constexpr int max_status_channels = 2796202;
inline constexpr std::uint32_t preamble_mask = 0xFU;
inline constexpr std::uint32_t parity_covered_mask = 0xFFFFFFF0U;  // bits 4-31
inline constexpr std::uint32_t audio_mask = 0x0FFFFFF0U;           // bits 4-27
inline constexpr int audio_lsb_pos = 4;
inline constexpr std::size_t status_bytes = 24;
// IEC 61937 bursts: 16-bit words in bits 12-27, starting with the sync
// words Pa and Pb in consecutive subframes, then Pc (data type in bits 0-6)
// and Pd (length).
inline constexpr int burst_word_shift = 12;
inline constexpr std::uint32_t burst_pa = 0xF872;
inline constexpr std::uint32_t burst_pb = 0x4E1F;
inline constexpr std::uint32_t burst_type_mask = 0x7F;
// Inputs are read in chunks of whole units so that huge captures need little
// memory and few system calls. PCM extraction moves every byte through and
// gains from large reads and writes; the reports are bound by their own work.
inline constexpr std::size_t pcm_chunk_bytes = std::size_t{1024} * 1024;
inline constexpr std::size_t read_chunk_bytes = std::size_t{64} * 1024;

// Little-endian loads and stores; on little-endian hosts these are single
// moves, which lets the conversion loops vectorise.
inline std::uint32_t load_word(const std::uint8_t* p)
{
    std::uint32_t w = 0;
    std::memcpy(&w, p, sizeof w);
    if constexpr (std::endian::native == std::endian::big)
        w = (w >> 24) | ((w >> 8) & 0xFF00U) | ((w << 8) & 0xFF0000U) | (w << 24);
    return w;
}

template <class T> void store_le(std::uint8_t* p, T value)
{
    if constexpr (std::endian::native == std::endian::big) {
        for (std::size_t i = 0; i < sizeof value; ++i)
            p[i] = static_cast<std::uint8_t>(value >> (8 * i));
    } else {
        std::memcpy(p, &value, sizeof value);
    }
}

// Zero-filled heap arrays released with free(); calloc leaves untouched pages
// unmapped, so a buffer sized for a huge channel count costs nothing until read into.
inline constexpr auto free_memory = [](void* p) { std::free(p); };
template <class T> using heap_array = std::unique_ptr<T[], std::remove_const_t<decltype(free_memory)>>;
template <class T> heap_array<T> zeroed_array(std::size_t count)
{
    return heap_array<T>(static_cast<T*>(std::calloc(count, sizeof(T))));
}

// One row of a code table: a field value v matches when (v & mask) == code.
// value is the row's number where it has one (Hz, bits), else 0.
struct code_name {
    unsigned mask;
    unsigned code;
    const char* name;
    int value;
};

// Preamble code detection (preambles.cpp): the codes of a capture, found
// in its first words.
struct preamble_codes {
    bool usable;
    unsigned block;       // the block-start code
    unsigned first;       // the first-subframe code
    int channels;
    std::size_t start;    // word where the first block starts
};
preamble_codes detect_preambles(const std::uint8_t* buf, std::size_t count, int channels_given);

// Reading shared by the operations (input.cpp).
std::size_t units_per_chunk(std::size_t unit);
void skip_header(std::FILE* in, bool wav);
std::size_t read_units(std::FILE* in, std::uint8_t* buf, std::size_t unit, std::size_t count);
int input_result(std::FILE* in);

// PCM extraction (pcm.cpp).
int sig_pad(std::int32_t& value, int bits);
bool pcm_bits_supported(int bits);
std::size_t pcm_convert(std::uint8_t* buf, std::size_t count, int bits);
int iec_pcm(std::FILE* in, int bits, std::FILE* out, bool wav);

// Channel status report (status.cpp).
std::uint32_t status_word(const std::uint8_t* block, int channels, int channel, int word);
int iec_status(std::FILE* in, std::FILE* out, bool wav, int channels);

// Validity report (validity.cpp).
int iec_validity(std::FILE* in, std::FILE* out, bool wav, int channels);
