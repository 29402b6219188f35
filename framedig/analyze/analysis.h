// The analysis of a capture: what one pass establishes, the tables that name
// channel status fields and burst types, and the two report writers.
#pragma once

#include "bitstream/bursts.h"
#include "iec958.h"
#include "report/report.h"

#include <array>
#include <string_view>

// ---- Channel status fields (status_fields.cpp) ----

// A field of the 24 status bytes: bits [shift, shift + width) of one byte,
// named by a code table, or shown as a number where the table has no row.
struct status_field {
    const char* name;
    int byte;
    int shift;
    int width;
    const code_name* codes;
    std::size_t code_count;
};

using status_block = std::array<std::uint8_t, status_bytes>;

bool status_professional(const status_block& status);
bool status_linear_pcm(const status_block& status);
std::size_t status_field_count(bool professional);
const status_field& status_field_at(bool professional, std::size_t index);
unsigned field_code(const status_field& field, const status_block& status);
const code_name* field_row(const status_field& field, unsigned code);
// Writes the field's value as text: its table name, or its number.
void field_text(const status_field& field, const status_block& status, char* text, std::size_t size);
// The sampling frequency in Hz and the word length in bits that the status
// indicates, or 0 when it does not.
int status_rate_hz(const status_block& status);
int status_word_length(const status_block& status);
std::uint8_t status_crc(const status_block& status);
bool status_crc_ok(const status_block& status);
// The fields (bit n for field n) in which two statuses of the same format
// differ; only the format (field 0) when that differs.
std::uint32_t status_changed_fields(const status_block& a, const status_block& b);
// Field indexes that may legitimately differ between the channels of a pair.
bool field_may_differ_between_channels(const status_field& field);

// ---- What one pass establishes (analyze.cpp) ----

inline constexpr std::size_t finding_lines = 20;   // lines kept per kind of finding
inline constexpr std::size_t finding_text = 160;

enum finding_kind {
    finding_block,
    finding_parity,
    finding_crc,
    finding_status_change,
    finding_channel_status,
    finding_validity,
    finding_bitstream,
    finding_word_length,
    finding_kinds
};

struct finding_group {
    long long count = 0;
    std::array<std::array<char, finding_text>, finding_lines> lines{};
};

struct status_change {
    long long block;
    int channel;
    std::uint32_t fields;
    bool professional;
};

struct channel_facts {
    long long parity_errors;
    long long invalid_frames;
    long long crc_errors;
    std::uint32_t audio_bits;  // every audio bit ever set
    status_block first;        // first whole block
    status_block last;         // latest whole block
    status_block current;      // being assembled
};

struct analysis {
    int channels = 0;
    bool channels_detected = false;
    bool preambles = false;  // block starts found by the preamble codes
    int preamble_channels = 0;  // what the codes say when they disagree with -c
    unsigned block_code = 0;
    unsigned first_code = 0;
    long long words = 0;
    long long frames = 0;
    long long blocks = 0;  // whole blocks
    long long first_block_frame = -1;
    long long trailing_bytes = 0;
    bool parity_carried = false;
    long long first_parity_frame = -1;
    int first_parity_channel = 0;
    long long bursts = 0;
    std::array<int, 8> burst_types{};  // in order of first appearance
    int burst_type_count = 0;
    long long burst_spacing = -1;      // frames between the first two bursts
    bool burst_spacing_varies = false;
    long long last_burst_word = -1;
    std::array<status_change, finding_lines> changes{};
    long long change_count = 0;
    std::array<finding_group, finding_kinds> findings{};
    heap_array<channel_facts> per_channel;
};

int iec_analyze(std::FILE* in, std::FILE* out, bool wav, int channels, bool json);

// ---- Findings (findings.cpp) ----

// The slot for the next line of a kind of finding, or null once its lines
// are full; the finding is counted either way.
char* finding_slot(analysis& facts, finding_kind kind);
// The findings that only the whole capture can show.
void add_closing_findings(analysis& facts);
long long finding_total(const analysis& facts);

// ---- Reports (report.cpp, json.cpp) ----

void write_text_report(std::FILE* out, const analysis& facts);
void write_json_report(std::FILE* out, const analysis& facts);
