// Unwrapping a capture's IEC 61937 bursts: the preamble (Pa, Pb, then Pc
// with the data type and Pd with the length), the payload's words turned
// into bytes, and the payload split into the codec frames it carries.
#include "bitstream/bursts.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace {

constexpr std::size_t sync_search_bytes = 16;

std::uint32_t word_at(const burst_unwrapper& u, std::size_t i)
{
    return load_word(u.words + i * word_bytes);
}

std::uint32_t mode_value(std::uint32_t word, int mode)
{
    const burst_mode& m = burst_modes[static_cast<std::size_t>(mode)];
    return (word >> m.shift) & ((1U << m.bits) - 1);
}

// The first word from `from` on that holds a Pa, and its mode; count when
// none does. Stuffing between bursts is mostly zeros, which the first test
// turns away.
std::size_t find_pa(const std::uint8_t* words, std::size_t from, std::size_t count, int& mode)
{
    std::size_t i = from;
    if constexpr (std::endian::native == std::endian::little) {
        // Four words at a time while bits 20-27, where every Pa has ones, are all zero.
        constexpr std::uint64_t top_bits = 0x0FF000000FF00000ULL;
        for (; i + 4 <= count; i += 4) {
            std::uint64_t a = 0;
            std::uint64_t b = 0;
            std::memcpy(&a, words + i * word_bytes, sizeof a);
            std::memcpy(&b, words + (i + 2) * word_bytes, sizeof b);
            if (((a | b) & top_bits) != 0)
                break;
        }
    }
    for (; i < count; ++i) {
        const std::uint32_t w = load_word(words + i * word_bytes);
        const std::uint32_t top = (w >> 20) & 0xFFU;
        if (top != 0xF8 && top != 0x6F && top != 0x96)
            continue;
        if ((mode = burst_pa_mode(w)) >= 0)
            return i;
    }
    return count;
}

// After Pd: how many payload words follow.
void begin_payload(burst_unwrapper& u)
{
    const int type = static_cast<int>(u.pc & burst_type_mask);
    // A 20- or 24-bit Pd can claim more than any payload holds: what is past the buffer is not kept.
    const std::size_t bits = std::min(burst_length_in_bytes(type) ? std::size_t{u.pd} * 8 : std::size_t{u.pd}, max_payload_bytes * 8);
    const auto word_bits = static_cast<std::size_t>(burst_modes[static_cast<std::size_t>(u.mode)].bits);
    u.want_words = (bits + word_bits - 1) / word_bits;
    u.payload_bytes = (bits + 7) / 8;
    u.have_words = 0;
    u.state = 4;
}

// Reads words of the chunk until a payload is whole or the chunk ends.
void advance(burst_unwrapper& u)
{
    while (u.pos < u.count && !u.ready) {
        if (u.state == 4) {
            const std::size_t n = std::min(u.want_words - u.have_words, u.count - u.pos);
            std::memcpy(u.words_in.get() + u.have_words * word_bytes, u.words + u.pos * word_bytes, n * word_bytes);
            u.have_words += n;
            u.pos += n;
            if (u.have_words == u.want_words) {
                unpack_payload(u.words_in.get(), u.have_words, u.mode, u.payload.get());
                u.ready = true;
                u.burst_told = false;
                u.split = 0;
                u.state = 0;
            }
            continue;
        }
        if (u.state == 0) {
            int mode = 0;
            u.pos = find_pa(u.words, u.pos, u.count, mode);
            if (u.pos < u.count) {
                u.mode = mode;
                u.start = u.base + static_cast<long long>(u.pos);
                u.state = 1;
                ++u.pos;
            }
            continue;
        }
        const std::uint32_t value = mode_value(word_at(u, u.pos), u.mode);
        if (u.state == 1) {
            u.state = value == burst_modes[static_cast<std::size_t>(u.mode)].pb ? 2 : 0;
            if (u.state == 0)
                continue;  // this word may be a Pa itself
        } else if (u.state == 2) {
            u.pc = value;
            u.state = 3;
        } else {
            u.pd = value;
            begin_payload(u);
            if (u.want_words == 0) {
                u.ready = true;
                u.burst_told = false;
                u.split = 0;
                u.state = 0;
            }
        }
        ++u.pos;
    }
}

void fill_item(const burst_unwrapper& u, burst_item& item, burst_item_kind kind, long long word)
{
    item.kind = kind;
    item.word = word;
    item.type = static_cast<int>(u.pc & burst_type_mask);
    item.pc = u.pc;
    item.pd = u.pd;
    item.mode_bits = burst_modes[static_cast<std::size_t>(u.mode)].bits;
    item.swapped = u.swapped;
}

// The next codec frame of the whole payload, from u.split on.
bool next_frame(burst_unwrapper& u, burst_item& item)
{
    const int type = static_cast<int>(u.pc & burst_type_mask);
    if (type == burst_type_mat) {
        long long word = 0;
        std::size_t length = 0;
        if (!mat_next_unit(u, word, length))
            return false;
        fill_item(u, item, item_frame, word);
        item.info = u.mat_info;
        item.data = u.payload.get();
        item.length = length;
        return true;
    }
    if (u.split >= u.payload_bytes || type == burst_type_null || type == burst_type_pause)
        return false;
    const std::uint8_t* p = u.payload.get() + u.split;
    const std::size_t left = u.payload_bytes - u.split;
    fill_item(u, item, item_frame, u.start);
    item.data = p;
    item.length = left;
    item.info = {};
    const codec_family* family = family_of_burst(type);
    frame_info tried = u.info;
    const long length = family != nullptr ? family->parse(p, left, true, tried) : 0;
    if (length > 0 && static_cast<std::size_t>(length) <= left) {
        u.info = tried;
        item.info = tried;
        item.length = static_cast<std::size_t>(length);
    } else if (std::all_of(p, p + left, [](std::uint8_t b) { return b == 0; })) {
        return false;  // padding after the last frame
    }
    u.split += item.length;
    return true;
}

// Undoes a byte-swapped payload, and moves past whatever precedes the
// first frame (DTS-HD bursts begin with a header of their own).
void prepare_payload(burst_unwrapper& u)
{
    const int type = static_cast<int>(u.pc & burst_type_mask);
    const codec_family* family = family_of_burst(type);
    u.swapped = family != nullptr && u.mode == 0 && payload_swapped(*family, u.payload.get(), u.payload_bytes);
    if (u.swapped)
        swap_bytes16(u.payload.get(), u.payload_bytes);
    if (type == burst_type_mat) {
        mat_append(u);
        return;
    }
    if (type == burst_type_dts_hd) {
        const std::size_t end = std::min(u.payload_bytes, sync_search_bytes);
        for (std::size_t at = 0; at + 4 <= end; at += 2) {
            const std::uint8_t* q = u.payload.get() + at;
            if ((q[0] == 0x7F && q[1] == 0xFE && q[2] == 0x80 && q[3] == 0x01) ||
                (q[0] == 0x64 && q[1] == 0x58 && q[2] == 0x20 && q[3] == 0x25)) {
                u.split = at;
                break;
            }
        }
    }
}

} // namespace

bool unwrapper_init(burst_unwrapper& u)
{
    u.words_in = zeroed_array<std::uint8_t>(max_payload_bytes / 2 * word_bytes);  // 16-bit words are the most
    u.payload = zeroed_array<std::uint8_t>(max_payload_bytes + word_bytes);  // the last word unpacked whole
    u.mat = zeroed_array<std::uint8_t>(mat_buffer_bytes);
    return u.words_in && u.payload && u.mat;
}

void unwrap_feed(burst_unwrapper& u, const std::uint8_t* words, std::size_t count)
{
    u.base += static_cast<long long>(u.count);
    u.words = words;
    u.count = count;
    u.pos = 0;
}

bool unwrap_next(burst_unwrapper& u, burst_item& item)
{
    for (;;) {
        if (u.ready && !u.burst_told) {
            prepare_payload(u);
            fill_item(u, item, item_burst, u.start);
            item.data = u.payload.get();
            item.length = u.payload_bytes;
            item.info = {};
            u.burst_told = true;
            return true;
        }
        if (u.ready) {
            if (next_frame(u, item))
                return true;
            u.ready = false;
        }
        if (u.pos >= u.count)
            return false;
        advance(u);
    }
}

void unwrap_skip(burst_unwrapper& u, std::size_t count)
{
    unwrap_feed(u, nullptr, count);
    u.pos = count;
}
