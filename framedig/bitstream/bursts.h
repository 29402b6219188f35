// IEC 61937 bursts: finding their preambles in a capture, naming their
// data types, and unwrapping their payloads into codec frames.
#pragma once

#include "bitstream/codecs.h"
#include "iec958.h"

const char* burst_type_name(int type, char* text, std::size_t size);

inline constexpr int burst_type_null = 0;
inline constexpr int burst_type_pause = 3;
inline constexpr int burst_type_dts_hd = 17;
inline constexpr int burst_type_mat = 22;
inline constexpr int dts_hd_base_period = 512;

// Whether the type's Pd counts bytes (E-AC-3, DTS-HD, MAT) rather than bits.
bool burst_length_in_bytes(int type);
// IEC 60958 frames from one burst of the type to the next; 0 when unknown.
long long burst_period_frames(int type, unsigned pc);

// The word sizes bursts come in: 16-bit mode in bits 12-27 (IEC 61937),
// 20- and 24-bit modes in bits 8-27 and 4-27 with their own sync words.
struct burst_mode {
    int bits;
    int shift;
    std::uint32_t pa;
    std::uint32_t pb;
};
inline constexpr std::array<burst_mode, 3> burst_modes = {{
    {16, 12, 0xF872, 0x4E1F},
    {20, 8, 0x6F872, 0x54E1F},
    {24, 4, 0x96F872, 0xA54E1F},
}};

// The mode whose Pa the word holds (an index into burst_modes), or -1.
inline int burst_pa_mode(std::uint32_t word)
{
    switch ((word >> 20) & 0xFFU) {  // the top byte of the audio bits tells them apart
    case 0xF8: return ((word >> 12) & 0xFFFFU) == burst_modes[0].pa ? 0 : -1;
    case 0x6F: return ((word >> 8) & 0xFFFFFU) == burst_modes[1].pa ? 1 : -1;
    case 0x96: return ((word >> 4) & 0xFFFFFFU) == burst_modes[2].pa ? 2 : -1;
    default: return -1;
    }
}

// Finds bursts word by word: a Pa, Pb, Pc, Pd sequence in consecutive
// subframes, in any of the modes.
struct burst_search {
    int state = 0;
    int mode = 0;
    std::uint32_t pc = 0;
    int found_bits = 16;      // of the burst found last
    std::uint32_t found_pc = 0;
};
// Feeds one subframe word; returns the data type (0-127) when the word
// completes a burst preamble, -1 otherwise.
inline int burst_feed(burst_search& search, std::uint32_t word)
{
    const burst_mode& m = burst_modes[static_cast<std::size_t>(search.mode)];
    const std::uint32_t value = (word >> m.shift) & ((1U << m.bits) - 1);
    const auto restart = [&search, word] {
        search.mode = burst_pa_mode(word);
        search.state = search.mode >= 0 ? 1 : 0;
        search.mode = search.mode >= 0 ? search.mode : 0;
    };
    switch (search.state) {
    case 1:
        if (value == m.pb)
            search.state = 2;
        else
            restart();
        return -1;
    case 2: search.pc = value; search.state = 3; return -1;
    case 3:
        search.found_bits = m.bits;
        search.found_pc = search.pc;
        restart();
        return static_cast<int>(search.found_pc & burst_type_mask);
    default: restart(); return -1;
    }
}

// The payload's bytes from its words: each word's value most significant
// byte first; 20-bit words are packed bit by bit. Returns the bytes written,
// at most (count * bits + 7) / 8.
std::size_t unpack_payload(const std::uint8_t* words, std::size_t count, int mode, std::uint8_t* out);
// Swaps the two bytes of every 16-bit word of n bytes (an odd last byte stays).
void swap_bytes16(std::uint8_t* p, std::size_t n);
// Whether a payload of the family starts byte-swapped: its sync word
// appears swapped, and not as it should, in its first 16 bytes.
bool payload_swapped(const codec_family& family, const std::uint8_t* p, std::size_t n);

// ---- MAT frames (mat.cpp), which carry TrueHD ----

inline constexpr std::size_t mat_payload_bytes = 61424;
// The TrueHD bytes of a MAT frame's payload: the parts between its start,
// middle and end codes, copied to out. Returns their length, or 0 when the
// codes are not where they belong.
std::size_t mat_content(const std::uint8_t* payload, std::size_t n, std::uint8_t* out);

// ---- Unwrapping a capture (unwrap.cpp) ----

enum burst_item_kind { item_burst, item_frame };

// What the unwrapper yields: every burst (its payload), then the codec frames
// it carries. A data burst of a type without a parser here, or a payload that
// no parser recognises, is one frame with info.codec codec_none.
struct burst_item {
    burst_item_kind kind = item_burst;
    long long word = 0;      // where its burst's Pa was, counted from the first word fed
    int type = 0;            // the burst's data type
    unsigned pc = 0;
    unsigned pd = 0;
    int mode_bits = 16;
    bool swapped = false;    // the payload arrived with its 16-bit words byte-swapped (undone here)
    const std::uint8_t* data = nullptr;  // valid until the next call
    std::size_t length = 0;
    frame_info info;
};

inline constexpr std::size_t max_payload_bytes = 65536;
inline constexpr std::size_t mat_buffer_bytes = 2 * max_payload_bytes;

struct burst_unwrapper {
    const std::uint8_t* words = nullptr;  // the chunk fed last
    std::size_t count = 0;
    std::size_t pos = 0;
    long long base = 0;                   // the number of the chunk's first word
    int state = 0;                        // 0 searching, 1-3 after Pa, Pb, Pc, 4 payload
    int mode = 0;
    long long start = 0;
    unsigned pc = 0;
    unsigned pd = 0;
    std::size_t want_words = 0;
    std::size_t payload_bytes = 0;        // whole bytes the payload holds
    heap_array<std::uint8_t> words_in;    // the payload's words, as received
    std::size_t have_words = 0;
    heap_array<std::uint8_t> payload;
    bool ready = false;                   // a whole payload waits to be split
    bool burst_told = false;
    std::size_t split = 0;
    bool swapped = false;
    frame_info info;                      // the last frame, which parsers remember
    heap_array<std::uint8_t> mat;         // TrueHD bytes from MAT frames not yet split
    std::size_t mat_len = 0;
    std::size_t mat_new = 0;              // where the last MAT frame's bytes begin
    long long mat_word = 0;               // the burst the older bytes came from
    frame_info mat_info;
};

bool unwrapper_init(burst_unwrapper& u);
// The MAT frame in the payload: its TrueHD bytes kept for mat_next_unit.
void mat_append(burst_unwrapper& u);
// The next whole TrueHD unit of the MAT frames so far, copied to the payload
// buffer, with the burst its first byte came in; false when there is none yet.
bool mat_next_unit(burst_unwrapper& u, long long& word, std::size_t& length);
// Hands the unwrapper the next chunk of subframe words; it keeps a pointer
// until unwrap_next has returned false.
void unwrap_feed(burst_unwrapper& u, const std::uint8_t* words, std::size_t count);
bool unwrap_next(burst_unwrapper& u, burst_item& item);
// Passes over count words known to hold no Pa, while no burst is under way
// (state 0, nothing ready): only their number counts.
void unwrap_skip(burst_unwrapper& u, std::size_t count);
