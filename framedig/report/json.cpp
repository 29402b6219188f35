// JSON strings for the reports' JSON writers.
#include "report/report.h"

#include <cmath>
#include <cstdint>

namespace {

// The length of the valid UTF-8 sequence that starts text, or 0 when its
// first byte does not start one: no overlong forms, no surrogates, nothing
// past U+10FFFF.
std::size_t utf8_sequence(std::string_view text)
{
    const auto byte = [&text](std::size_t i) { return static_cast<std::uint8_t>(text[i]); };
    const std::uint8_t lead = byte(0);
    if (lead < 0x80)
        return 1;
    std::size_t length = 0;
    std::uint8_t low = 0x80;  // the range of the second byte
    std::uint8_t high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (text.size() < length || byte(1) < low || byte(1) > high)
        return 0;
    for (std::size_t i = 2; i < length; ++i)
        if (byte(i) < 0x80 || byte(i) > 0xBF)
            return 0;
    return length;
}

} // namespace

// A JSON string: quotes and backslashes escaped, control bytes and DEL as
// \u00XX, valid UTF-8 as it stands, and every other byte as \u00XX too (the
// character with that byte's value), so that any file name gives valid JSON.
void json_string(std::FILE* out, std::string_view text)
{
    std::fputc('"', out);
    while (!text.empty()) {
        const auto byte = static_cast<std::uint8_t>(text[0]);
        const std::size_t length = utf8_sequence(text);
        if (byte == '"' || byte == '\\')
            std::fprintf(out, "\\%c", text[0]);
        else if (byte < 0x20 || byte == 0x7F || length == 0)
            std::fprintf(out, "\\u%04x", static_cast<unsigned>(byte));
        else
            std::fwrite(text.data(), 1, length, out);
        text.remove_prefix(length == 0 ? 1 : length);
    }
    std::fputc('"', out);
}

void json_decimal(std::FILE* out, double value, bool present, int decimals)
{
    if (present && std::isfinite(value))
        std::fprintf(out, "%.*f", decimals, value);
    else
        std::fputs("null", out);
}
