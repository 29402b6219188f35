// Codec frames and captures built bit by bit for the unit tests.
#pragma once

#include "bitstream/codecs.h"

#include <cstdint>
#include <vector>

struct bit_writer {
    std::vector<std::uint8_t> bytes;
    int used = 8;  // bits used of the last byte
    void put(unsigned value, int n)
    {
        for (int i = n - 1; i >= 0; --i) {
            if (used == 8) {
                bytes.push_back(0);
                used = 0;
            }
            const unsigned bit = i < 32 ? (value >> i) & 1U : 0U;  // fields wider than the value lead with zeros
            bytes.back() = static_cast<std::uint8_t>(bytes.back() | (bit << (7 - used)));
            ++used;
        }
    }
};

// Fills a frame to its length with bytes that are not all alike.
inline void fill_frame(std::vector<std::uint8_t>& frame, std::size_t length)
{
    for (std::size_t i = frame.size(); i < length; ++i)
        frame.push_back(static_cast<std::uint8_t>(i * 37 + 11));
}

// The CRC stored in the last two bytes of [from, end) makes that range's CRC zero.
inline void set_crc_at_end(std::vector<std::uint8_t>& frame, std::size_t from)
{
    const std::uint16_t crc = crc16_8005(frame.data() + from, frame.size() - 2 - from);
    frame[frame.size() - 2] = static_cast<std::uint8_t>(crc >> 8);
    frame[frame.size() - 1] = static_cast<std::uint8_t>(crc);
}

// The two bytes at p that make the CRC of [p, p + n) zero. The CRC is linear:
// each bit of those bytes adds a fixed pattern, found by setting it alone.
inline void solve_leading_crc(std::uint8_t* p, std::size_t n)
{
    p[0] = 0;
    p[1] = 0;
    const std::uint16_t target = crc16_8005(p, n);
    std::vector<std::uint8_t> unit(n, 0);
    std::uint16_t basis[16];
    for (int bit = 0; bit < 16; ++bit) {
        unit[0] = static_cast<std::uint8_t>((1U << bit) >> 8);
        unit[1] = static_cast<std::uint8_t>(1U << bit);
        basis[bit] = crc16_8005(unit.data(), n);
    }
    for (unsigned x = 0; x < 0x10000; ++x) {
        unsigned sum = 0;
        for (int bit = 0; bit < 16; ++bit)
            sum ^= (x >> bit) & 1U ? basis[bit] : 0U;
        if (sum == target) {
            p[0] = static_cast<std::uint8_t>(x >> 8);
            p[1] = static_cast<std::uint8_t>(x);
            return;
        }
    }
}

// An AC-3 frame with both CRCs right.
inline std::vector<std::uint8_t> ac3_frame(unsigned fscod, unsigned frmsizecod, unsigned bsmod, unsigned acmod, bool lfe,
                                           unsigned dialnorm, std::size_t length)
{
    bit_writer w;
    w.put(0x0B77, 16);
    w.put(0, 16);
    w.put(fscod, 2);
    w.put(frmsizecod, 6);
    w.put(8, 5);
    w.put(bsmod, 3);
    w.put(acmod, 3);
    if ((acmod & 1U) != 0 && acmod != 1)
        w.put(1, 2);
    if ((acmod & 4U) != 0)
        w.put(2, 2);
    if (acmod == 2)
        w.put(3, 2);
    w.put(lfe ? 1 : 0, 1);
    w.put(dialnorm, 5);
    std::vector<std::uint8_t> frame = w.bytes;
    fill_frame(frame, length);
    const std::size_t words = length / 2;
    const std::size_t five_eighths = 2 * ((words >> 1) + (words >> 3));
    set_crc_at_end(frame, five_eighths);
    solve_leading_crc(frame.data() + 2, five_eighths - 2);
    return frame;
}

struct eac3_fields {
    unsigned strmtyp = 0;
    unsigned substream = 0;
    std::size_t length = 128;
    unsigned fscod = 0;
    unsigned blocks_or_fscod2 = 3;
    unsigned acmod = 2;
    bool lfe = false;
    unsigned dialnorm = 31;
    bool mixing = false;  // mixing metadata present (defaults in every field)
    bool info = false;    // informational metadata present, with bsmod
    unsigned bsmod = 0;
};

inline std::vector<std::uint8_t> eac3_frame(const eac3_fields& f)
{
    bit_writer w;
    w.put(0x0B77, 16);
    w.put(f.strmtyp, 2);
    w.put(f.substream, 3);
    w.put(static_cast<unsigned>(f.length / 2 - 1), 11);
    w.put(f.fscod, 2);
    w.put(f.blocks_or_fscod2, 2);
    w.put(f.acmod, 3);
    w.put(f.lfe ? 1 : 0, 1);
    w.put(16, 5);
    w.put(f.dialnorm, 5);
    w.put(0, 1);  // compre
    if (f.acmod == 0)
        w.put(0, 6);
    if (f.strmtyp == 1)
        w.put(0, 1);  // chanmape
    w.put(f.mixing ? 1 : 0, 1);
    if (f.mixing) {
        if (f.acmod > 2)
            w.put(1, 2);
        if ((f.acmod & 1U) != 0 && f.acmod > 2)
            w.put(0x3F, 6);
        if ((f.acmod & 4U) != 0)
            w.put(0x3F, 6);
        if (f.lfe)
            w.put(0x3F, 6);  // lfemixlevcode and its level
        if (f.strmtyp == 0) {
            w.put(0x7F, 7);  // pgmscl
            if (f.acmod == 0)
                w.put(0, 1);
            w.put(0, 1);     // extpgmscle
            w.put(2, 2);     // mixdef 2: 12 bits of mixing data
            w.put(0xABC, 12);
            if (f.acmod < 2)
                w.put(0, f.acmod == 0 ? 2 : 1);
            w.put(0, 1);     // frmmixcfginfoe
        }
    }
    w.put(f.info ? 1 : 0, 1);
    if (f.info)
        w.put(f.bsmod, 3);
    std::vector<std::uint8_t> frame = w.bytes;
    fill_frame(frame, f.length);
    set_crc_at_end(frame, 2);
    return frame;
}

// Subframe words with 16-bit values in bits 12-27, as capture hardware stores them.
inline void put_value(std::vector<std::uint8_t>& capture, std::uint32_t value, int shift = 12)
{
    const std::uint32_t word = value << shift;
    for (int i = 0; i < 4; ++i)
        capture.push_back(static_cast<std::uint8_t>(word >> (8 * i)));
}

// A 16-bit mode burst of the payload, stuffed with zero words to period words.
inline void put_burst(std::vector<std::uint8_t>& capture, unsigned type, const std::vector<std::uint8_t>& payload,
                      bool length_in_bytes, std::size_t period_words)
{
    const std::size_t start = capture.size();
    put_value(capture, 0xF872);
    put_value(capture, 0x4E1F);
    put_value(capture, type);
    put_value(capture, static_cast<std::uint32_t>(length_in_bytes ? payload.size() : payload.size() * 8));
    for (std::size_t i = 0; i < payload.size(); i += 2)
        put_value(capture, static_cast<std::uint32_t>(payload[i] << 8 | (i + 1 < payload.size() ? payload[i + 1] : 0)));
    while (capture.size() - start < period_words * 4)
        put_value(capture, 0);
}
