// MAT frames, which carry TrueHD over IEC 61937 (data type 22): the codes
// at their start, middle and end taken out, and the access units between
// them and their padding found again, also when one runs on from one MAT
// frame into the next.
#include "bitstream/bursts.h"

#include <cstring>

namespace {

// The codes a MAT frame carries at its start, in its middle and at its end.
constexpr std::array<std::uint8_t, 20> mat_start = {0x07, 0x9E, 0x00, 0x03, 0x84, 0x01, 0x01, 0x01, 0x80, 0x00,
                                                    0x56, 0xA5, 0x3B, 0xF4, 0x81, 0x83, 0x49, 0x80, 0x77, 0xE0};
constexpr std::array<std::uint8_t, 12> mat_middle = {0xC3, 0xC1, 0x42, 0x49, 0x3B, 0xFA, 0x82, 0x83, 0x49, 0x80, 0x77, 0xE0};
constexpr std::array<std::uint8_t, 16> mat_end = {0xC3, 0xC2, 0xC0, 0xC4, 0x00, 0x00, 0x00, 0x00,
                                                  0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x97, 0x11};
constexpr std::size_t mat_middle_at = 30708;
constexpr std::size_t mat_end_at = mat_payload_bytes - mat_end.size();

template <std::size_t N> bool code_at(const std::uint8_t* p, const std::array<std::uint8_t, N>& code)
{
    return std::memcmp(p, code.data(), N) == 0;
}

} // namespace

std::size_t mat_content(const std::uint8_t* payload, std::size_t n, std::uint8_t* out)
{
    if (n != mat_payload_bytes || !code_at(payload, mat_start) || !code_at(payload + mat_middle_at, mat_middle) ||
        !code_at(payload + mat_end_at, mat_end))
        return 0;
    const std::size_t first = mat_middle_at - mat_start.size();
    std::memcpy(out, payload + mat_start.size(), first);
    const std::size_t second = mat_end_at - mat_middle_at - mat_middle.size();
    std::memcpy(out + first, payload + mat_middle_at + mat_middle.size(), second);
    return first + second;
}

// Appends the TrueHD bytes of the MAT frame in the unwrapper's payload.
void mat_append(burst_unwrapper& u)
{
    if (u.mat_len + u.payload_bytes > mat_buffer_bytes)
        u.mat_len = 0;  // bytes that never made a unit
    if (u.mat_len == 0)
        u.mat_word = u.start;
    u.mat_new = u.mat_len;
    u.mat_len += mat_content(u.payload.get(), u.payload_bytes, u.mat.get() + u.mat_len);
}

// The next TrueHD unit of the MAT bytes: padding (zero words) skipped, a
// unit that does not parse skipped two bytes at a time until one does.
bool mat_next_unit(burst_unwrapper& u, long long& word, std::size_t& length)
{
    std::size_t at = 0;
    bool found = false;
    long n = 0;
    while (!found && u.mat_len - at >= 4) {
        if (u.mat[at] == 0 && u.mat[at + 1] == 0) {
            at += 2;
            continue;
        }
        frame_info tried = u.mat_info;
        n = parse_truehd(u.mat.get() + at, u.mat_len - at, false, tried);
        if (n == frame_needs_more || (n > 0 && static_cast<std::size_t>(n) > u.mat_len - at))
            break;
        if (n > 0) {
            u.mat_info = tried;
            found = true;
        } else {
            at += 2;
        }
    }
    if (found) {
        word = at < u.mat_new ? u.mat_word : u.start;
        length = static_cast<std::size_t>(n);
        // The unit is copied out so that the buffer can move on.
        std::memcpy(u.payload.get(), u.mat.get() + at, length);
        at += length;
    }
    std::memmove(u.mat.get(), u.mat.get() + at, u.mat_len - at);
    u.mat_len -= at;
    if (at >= u.mat_new) {
        u.mat_new = 0;
        u.mat_word = u.start;
    } else {
        u.mat_new -= at;
    }
    return found;
}
