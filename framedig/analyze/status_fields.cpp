// Channel status fields by name, for the consumer (IEC 60958-3) and the
// professional (AES3, IEC 60958-4) format. Status bit n is bit n % 8 of byte
// n / 8; a field's code is read from its byte with its lowest bit first.
#include "analyze/analysis.h"

#include <cstdio>
#include <iterator>
#include <string_view>

namespace {

constexpr unsigned all = 0xFFU;

constexpr code_name format_codes[] = {{all, 0, "consumer", 0}, {all, 1, "professional", 0}};
constexpr code_name audio_codes[] = {{all, 0, "linear PCM", 0}, {all, 1, "non-audio", 0}};

// Consumer format.
constexpr code_name copyright_codes[] = {{all, 0, "asserted", 0}, {all, 1, "not asserted", 0}};
constexpr code_name con_emphasis_codes[] = {{all, 0, "none", 0}, {all, 1, "50/15 us", 0}};
constexpr code_name mode_codes[] = {{all, 0, "0", 0}};
constexpr code_name category_codes[] = {
    {0x7F, 0x00, "general", 0},
    {0x07, 0x01, "laser-optical/CD", 0},
    {0x07, 0x02, "digital converter", 0},
    {0x07, 0x03, "magnetic tape or disc", 0},
    {0x07, 0x04, "broadcast", 0},
    {0x0F, 0x0E, "broadcast", 0},
    {0x07, 0x05, "musical instrument", 0},
    {0x1F, 0x06, "A/D converter", 0},
    {0x1F, 0x16, "A/D converter, with copyright", 0},
    {0x0F, 0x08, "solid-state memory", 0},
    {0x7F, 0x40, "experimental", 0},
};
// A row without a name matches any code and shows it as a number.
constexpr code_name plain_number[] = {{0, 0, nullptr, 0}};
constexpr code_name hex_number[] = {{0, 0, nullptr, 16}};
constexpr code_name number_codes[] = {{all, 0, "not indicated", 0}, {0, 0, nullptr, 0}};
constexpr code_name con_channel_codes[] = {
    {all, 0, "not indicated", 0}, {all, 1, "1 (left)", 0}, {all, 2, "2 (right)", 0}, {0, 0, nullptr, 0}};
// The standard writes bits 24-27 from bit 24 on: "0100" (48 kHz) is code 2,
// "1010" (384 kHz) code 5, "1001" (768 kHz) code 9.
constexpr code_name con_rate_codes[] = {
    {all, 0x0, "44.1 kHz", 44100},   {all, 0x1, "not indicated", 0}, {all, 0x2, "48 kHz", 48000},
    {all, 0x3, "32 kHz", 32000},     {all, 0x4, "22.05 kHz", 22050}, {all, 0x5, "384 kHz", 384000},
    {all, 0x6, "24 kHz", 24000},     {all, 0x8, "88.2 kHz", 88200},  {all, 0x9, "768 kHz", 768000},
    {all, 0xA, "96 kHz", 96000},     {all, 0xC, "176.4 kHz", 176400}, {all, 0xE, "192 kHz", 192000},
};
constexpr code_name clock_codes[] = {
    {all, 0, "level II (1000 ppm)", 0}, {all, 1, "level I (50 ppm)", 0}, {all, 2, "level III (variable pitch)", 0},
    {all, 3, "frame rate not matched", 0}};
constexpr code_name max_length_codes[] = {{all, 0, "20 bits", 0}, {all, 1, "24 bits", 0}};
// Byte 4 bits 0-3: the maximum (bit 0) with the length code (bits 1-3).
constexpr code_name con_length_codes[] = {
    {all, 0x0, "not indicated", 0}, {all, 0x2, "16 bits", 16}, {all, 0xC, "17 bits", 17}, {all, 0x4, "18 bits", 18},
    {all, 0x8, "19 bits", 19},      {all, 0xA, "20 bits", 20}, {all, 0x1, "not indicated", 0}, {all, 0x3, "20 bits", 20},
    {all, 0xD, "21 bits", 21},      {all, 0x5, "22 bits", 22}, {all, 0x9, "23 bits", 23},      {all, 0xB, "24 bits", 24},
};
constexpr code_name original_rate_codes[] = {
    {all, 0x0, "not indicated", 0}, {all, 0x1, "192 kHz", 192000}, {all, 0x2, "12 kHz", 12000},
    {all, 0x3, "176.4 kHz", 176400}, {all, 0x5, "96 kHz", 96000},   {all, 0x6, "8 kHz", 8000},
    {all, 0x7, "88.2 kHz", 88200},   {all, 0x8, "16 kHz", 16000},   {all, 0x9, "24 kHz", 24000},
    {all, 0xA, "11.025 kHz", 11025}, {all, 0xB, "22.05 kHz", 22050}, {all, 0xC, "32 kHz", 32000},
    {all, 0xD, "48 kHz", 48000},     {all, 0xF, "44.1 kHz", 44100},
};
// Bits 40-41: "10" (bit 40 set, code 1) allows one generation of copies.
constexpr code_name cgms_codes[] = {
    {all, 0, "copying permitted", 0}, {all, 1, "one generation only", 0}, {all, 2, "condition not used", 0},
    {all, 3, "no copying", 0}};

// Professional format.
constexpr code_name pro_emphasis_codes[] = {
    {all, 0, "not indicated", 0}, {all, 1, "none", 0}, {all, 3, "50/15 us", 0}, {all, 7, "CCITT J.17", 0}};
// Bit 5 is 0 by default: the lock condition is not indicated.
constexpr code_name lock_codes[] = {{all, 0, "not indicated", 0}, {all, 1, "unlocked", 0}};
constexpr code_name pro_rate_codes[] = {
    {all, 0, "not indicated", 0}, {all, 1, "44.1 kHz", 44100}, {all, 2, "48 kHz", 48000}, {all, 3, "32 kHz", 32000}};
constexpr code_name channel_mode_codes[] = {
    {all, 0, "not indicated", 0},       {all, 2, "stereophonic", 0},      {all, 4, "single channel", 0},
    {all, 8, "two channel", 0},         {all, 12, "primary/secondary", 0}, {all, 15, "multichannel (byte 3)", 0}};
constexpr code_name user_bits_codes[] = {
    {all, 0, "not indicated", 0}, {all, 8, "192-bit block", 0}, {all, 12, "user defined", 0}};
constexpr code_name aux_codes[] = {
    {all, 0, "not defined, 20-bit audio", 0}, {all, 2, "coordination signal, 20-bit audio", 0},
    {all, 4, "24-bit audio", 0},               {all, 6, "user defined", 0}};
// Byte 2 bits 0-5: the auxiliary bits' use (bits 0-2, 4 means a 24-bit
// maximum) with the length code (bits 3-5).
constexpr code_name pro_length_codes[] = {
    {0x3F, 0x14, "22 bits", 22}, {0x3F, 0x24, "23 bits", 23}, {0x3F, 0x2C, "24 bits", 24},
    {0x3F, 0x34, "20 bits", 20}, {0x38, 0x00, "not indicated", 0}, {0x38, 0x10, "18 bits", 18},
    {0x38, 0x20, "19 bits", 19}, {0x38, 0x28, "20 bits", 20},      {0x38, 0x30, "16 bits", 16},
};
constexpr code_name alignment_codes[] = {
    {all, 0, "not indicated", 0}, {all, 1, "SMPTE RP155 (-20 dBFS)", 0}, {all, 2, "EBU R68 (-18 dBFS)", 0}};
constexpr code_name reference_codes[] = {{all, 0, "not a reference", 0}, {all, 1, "grade 1", 0}, {all, 2, "grade 2", 0}};
constexpr code_name pro_rate4_codes[] = {
    {all, 0, "not indicated", 0},      {all, 1, "24 kHz", 24000},    {all, 2, "96 kHz", 96000},
    {all, 3, "192 kHz", 192000},       {all, 9, "22.05 kHz", 22050}, {all, 10, "88.2 kHz", 88200},
    {all, 11, "176.4 kHz", 176400}};

template <std::size_t N> constexpr status_field field(const char* name, int byte, int shift, int width,
                                                      const code_name (&codes)[N])
{
    return {name, byte, shift, width, codes, N};
}

// Field names are what the reports print and what JSON lists as changed.
constexpr status_field consumer_fields[] = {
    field("format", 0, 0, 1, format_codes),
    field("audio", 0, 1, 1, audio_codes),
    field("copyright", 0, 2, 1, copyright_codes),
    field("emphasis", 0, 3, 3, con_emphasis_codes),
    field("mode", 0, 6, 2, mode_codes),
    field("category", 1, 0, 7, category_codes),
    field("L bit", 1, 7, 1, plain_number),
    field("source number", 2, 0, 4, number_codes),
    field("channel number", 2, 4, 4, con_channel_codes),
    field("sampling frequency", 3, 0, 4, con_rate_codes),
    field("clock accuracy", 3, 4, 2, clock_codes),
    field("maximum word length", 4, 0, 1, max_length_codes),
    field("word length", 4, 0, 4, con_length_codes),
    field("original sampling frequency", 4, 4, 4, original_rate_codes),
    field("CGMS-A", 5, 0, 2, cgms_codes),
};
constexpr status_field professional_fields[] = {
    field("format", 0, 0, 1, format_codes),
    field("audio", 0, 1, 1, audio_codes),
    field("emphasis", 0, 2, 3, pro_emphasis_codes),
    field("lock", 0, 5, 1, lock_codes),
    field("sampling frequency", 0, 6, 2, pro_rate_codes),
    field("channel mode", 1, 0, 4, channel_mode_codes),
    field("user bits", 1, 4, 4, user_bits_codes),
    field("auxiliary bits", 2, 0, 3, aux_codes),
    field("word length", 2, 0, 6, pro_length_codes),
    field("alignment level", 2, 6, 2, alignment_codes),
    field("channel number", 3, 0, 8, number_codes),
    field("reference signal", 4, 0, 2, reference_codes),
    field("sampling frequency (byte 4)", 4, 3, 4, pro_rate4_codes),
    field("CRCC", 23, 0, 8, hex_number),
};

// The number in the table row of the named field, 0 where it has none.
int row_value(const status_block& status, std::string_view name)
{
    const bool pro = status_professional(status);
    for (std::size_t i = 0; i < status_field_count(pro); ++i) {
        const status_field& f = status_field_at(pro, i);
        if (f.name == name) {
            const code_name* row = field_row(f, field_code(f, status));
            return row != nullptr ? row->value : 0;
        }
    }
    return 0;
}

} // namespace

bool status_professional(const status_block& status) { return (status[0] & 1U) != 0; }
bool status_linear_pcm(const status_block& status) { return (status[0] & 2U) == 0; }

std::size_t status_field_count(bool professional)
{
    return professional ? std::size(professional_fields) : std::size(consumer_fields);
}

const status_field& status_field_at(bool professional, std::size_t index)
{
    return professional ? professional_fields[index] : consumer_fields[index];
}

unsigned field_code(const status_field& field, const status_block& status)
{
    return (status[static_cast<std::size_t>(field.byte)] >> field.shift) & ((1U << field.width) - 1);
}

const code_name* field_row(const status_field& field, unsigned code)
{
    for (std::size_t i = 0; i < field.code_count; ++i)
        if ((code & field.codes[i].mask) == field.codes[i].code)
            return &field.codes[i];
    return nullptr;
}

void field_text(const status_field& field, const status_block& status, char* text, std::size_t size)
{
    const unsigned code = field_code(field, status);
    const code_name* row = field_row(field, code);
    if (row == nullptr)
        std::snprintf(text, size, "reserved (%u)", code);
    else if (row->name == nullptr)
        std::snprintf(text, size, row->value == 16 ? "0x%02X" : "%u", code);
    else
        std::snprintf(text, size, "%s", row->name);
}

// The professional format names the rate in byte 4 where byte 0 cannot.
int status_rate_hz(const status_block& status)
{
    const int byte4 = status_professional(status) ? row_value(status, "sampling frequency (byte 4)") : 0;
    return byte4 != 0 ? byte4 : row_value(status, "sampling frequency");
}

int status_word_length(const status_block& status)
{
    return row_value(status, "word length");
}

// CRCC over bytes 0-22, fed least significant bit first: x^8+x^4+x^3+x^2+1,
// all ones to start; the reflected polynomial is 0xB8.
std::uint8_t status_crc(const status_block& status)
{
    unsigned crc = 0xFF;
    for (std::size_t i = 0; i + 1 < status.size(); ++i) {
        crc ^= status[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1U) != 0 ? (crc >> 1) ^ 0xB8U : crc >> 1;
    }
    return static_cast<std::uint8_t>(crc);
}

bool status_crc_ok(const status_block& status) { return status_crc(status) == status[status.size() - 1]; }

std::uint32_t status_changed_fields(const status_block& a, const status_block& b)
{
    const bool pro = status_professional(a);
    if (status_professional(b) != pro)
        return 1U;  // the format, field 0 of both formats: the other fields mean other things
    std::uint32_t changed = 0;
    for (std::size_t i = 0; i < status_field_count(pro); ++i) {
        const status_field& f = status_field_at(pro, i);
        if (field_code(f, a) != field_code(f, b))
            changed |= 1U << i;
    }
    return changed;
}

bool field_may_differ_between_channels(const status_field& field)
{
    const std::string_view name = field.name;
    return name == "channel number" || name == "source number" || name == "CRCC";
}
