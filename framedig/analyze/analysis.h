// The analysis of a capture: what one pass establishes, the tables that name
// channel status fields and burst types, and the two report writers.
#pragma once

#include "bitstream/bursts.h"
#include "bitstream/timeline.h"
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

inline constexpr std::size_t finding_lines = 20;   // lines kept per kind of finding, mutes kept

// ---- What the samples show (signal.cpp) ----

// Rising zero crossings of one channel, for the frequency of a steady tone:
// the spacing of each crossing from the last (interpolated between samples)
// is accepted when it agrees with the mean so far, else it is an outlier.
struct tone_track {
    std::int32_t previous = 0;       // the channel's last sample
    bool have_previous = false;
    bool have_crossing = false;
    long long last_frame = 0;        // the last crossing: frame and fraction
    double last_fraction = 0;
    long long spacings = 0;          // accepted spacings and their sum, in frames
    double spacing_sum = 0;
    long long outliers = 0;
    bool candidate = true;           // false once the spacing is plainly not steady
};

// A channel's linear PCM samples (outside IEC 61937 stretches).
struct signal_sums {
    long long samples = 0;
    long long sum = 0;
    double squares = 0;
    double peak_square = 0;
    std::uint32_t any = 0;       // OR of the words
    std::uint32_t common = ~0U;  // AND of the words, but for zero words (nothing received)
    tone_track tone;
};

// What the report says of a channel's samples, worked out once at the end.
struct signal_result {
    long long samples;        // samples of audio: PCM, less silence at the edges and mutes
    bool silent;              // digital silence throughout (or no PCM samples)
    double peak_dbfs;
    double rms_dbfs;
    double dc_offset;
    std::uint32_t stuck_at_0;  // bit n for audio bit n
    std::uint32_t stuck_at_1;
    bool tone;
    double tone_hz;
};

struct mute_run {
    long long frame;
    long long frames;
    double seconds;      // from the start of the capture, at the status rate
    double duration_ms;
};

// Runs of digital silence on every channel: those between audio of at least
// 10 ms are mutes; those at the edges of the audio are left out of the level.
struct silence_track {
    long long run_start = -1;    // first frame of the current silent run, -1 outside one
    double run_seconds = 0;
    bool audio_before = false;   // audio since the start or the last IEC 61937 stretch
    long long excluded = 0;      // frames left out of level and DC offset
    std::array<mute_run, finding_lines> mutes{};
    long long mute_count = 0;
    // The time of a frame: seconds at base_frame, counted on at rate_hz.
    long long base_frame = 0;
    double base_seconds = 0;
    int rate_hz = 48000;
};

// ---- What one pass establishes (pass.cpp, bursts.cpp, analyze.cpp) ----

// Long enough for the longest finding: a status change in every field.
inline constexpr std::size_t finding_text = 2048;

// In the order the report lists them.
enum finding_kind {
    finding_framing,
    finding_capture,
    finding_block,
    finding_parity,
    finding_crc,
    finding_status_change,
    finding_channel_status,
    finding_validity,
    finding_bitstream,
    finding_codec_crc,
    finding_burst_gap,
    finding_rate,
    finding_word_length,
    finding_stuck_at_0,
    finding_stuck_at_1,
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
    status_block pending;      // whole, waiting for the next block start to arrive in place
    status_block current;      // being assembled word by word
    // Audio bits to be judged against the word length of the status in force.
    std::uint32_t block_bits;      // of the block being assembled
    std::uint32_t pending_bits;    // of the pending block
    std::uint32_t unjudged_bits;   // of words outside any whole block
    int short_bit;                 // lowest audio bit below the word length, -1 when none
    int short_length;              // that word length
    int last_length;               // the latest block's word length, 0 when none or not PCM
    bool last_crc_wrong;           // the latest block's CRCC is wrong
    signal_sums signal;
    signal_result result;
};

// The codec frames of one codec that the bursts carried: their counts and
// metadata, the burst type and first frame that say what rate they need,
// and where the first frame that fails its CRC began.
struct codec_facts {
    codec_stats stats;
    int burst_type = 0;
    frame_info first;           // the first frame with metadata
    bool have_first = false;
    long long first_crc_error_frame = -1;  // capture frame of its burst
};

inline constexpr std::size_t codec_slots = 5;  // one for each codec family

struct analysis {
    int channels = 0;           // 0 when nothing tells the count
    bool channels_detected = false;
    bool preambles = false;     // block starts found by the preamble codes
    int preamble_channels = 0;  // what the codes say when they disagree with -c
    bool status_made_up = false;  // blocks counted by a -c that the codes contradict
    unsigned block_code = 0;
    unsigned first_code = 0;
    long long words = 0;
    long long frames = 0;       // whole frames
    long long leading_words = 0;  // words of a frame cut at the start
    long long blocks = 0;       // whole blocks, decoded
    long long first_block_frame = -1;
    long long trailing_bytes = 0;
    bool interrupted = false;   // reading stopped by SIGINT or SIGTERM
    bool nothing_received = false;  // every word is zero
    bool parity_carried = false;
    long long first_parity_frame = -1;
    int first_parity_channel = 0;
    long long bursts = 0;
    std::array<int, 8> burst_types{};  // in order of first appearance
    std::array<int, 8> burst_type_bits{};  // and the word size (16, 20, 24) they came in
    int burst_type_count = 0;
    long long burst_spacing = -1;      // frames between the first two bursts
    bool burst_spacing_varies = false;
    long long last_burst_word = -1;
    long long last_burst_frame = -1;
    long long bitstream_until = 0;     // frames before this belong to an IEC 61937 stretch
    timeline content;                  // bursts, pauses, PCM and the gaps between bursts
    std::array<codec_facts, codec_slots> codecs{};  // in order of first appearance
    int codec_count = 0;
    int wav_rate_hz = 0;               // the rate in the capture's WAV header, with -w
    std::array<status_change, finding_lines> changes{};
    long long change_count = 0;
    silence_track silence;
    int tone_rate_hz = 48000;          // the rate tone frequencies are given at
    std::array<finding_group, finding_kinds> findings{};
    heap_array<channel_facts> per_channel;
};

int iec_analyze(std::FILE* in, std::FILE* out, bool wav, int channels, bool json);

// The hook for every IEC 61937 burst the pass finds: word is the index of
// its Pa, type its data type, pc its whole Pc, bits its word size (bursts.cpp).
void burst_found(analysis& facts, long long word, int type, unsigned pc, int bits);
// One codec frame, at data, that the unwrapper found in a burst of the type
// beginning at word (codec_frames.cpp); its CRC is checked here.
void codec_frame_found(analysis& facts, long long word, int type, const frame_info& info, const std::uint8_t* data);
// The findings of the bitstream: CRC failures, gaps, rates.
void add_bitstream_findings(analysis& facts);
// The rate the capture's frames come at, for durations.
int content_rate_hz(const analysis& facts);
// The name the reports give a listed burst type: "AC-3", "AC-3 (20-bit)".
const char* listed_type_name(const analysis& facts, int index, char* text, std::size_t size);

// Signal statistics, fed by the pass (signal.cpp).
void signal_sample(signal_sums& sums, std::uint32_t word, long long frame);
void tone_sample(tone_track& tone, std::int32_t sample, long long frame);
// A rising zero crossing from before (frame - 1) to sample (frame).
void tone_crossing(tone_track& tone, std::int32_t before, std::int32_t sample, long long frame);
// Silence on every channel from a frame on (a run starts unless one is
// under way), audio at a frame, and an IEC 61937 stretch at a frame.
void silence_from(silence_track& track, long long frame);
void audio_frame(silence_track& track, long long frame);
void bitstream_frame(silence_track& track, long long frame);
void silence_end(silence_track& track, long long end_frame);
void set_status_rate(silence_track& track, long long frame, int rate_hz);
void signal_results(analysis& facts);

// ---- Findings (findings.cpp) ----

// The slot for the next line of a kind of finding, or null once its lines
// are full; the finding is counted either way.
char* finding_slot(analysis& facts, finding_kind kind);
// The findings that only the whole capture can show.
void add_closing_findings(analysis& facts);
// Whether the capture's status is worth reporting: whole blocks, framed as
// the codes say, of words that were received.
bool status_known(const analysis& facts);
long long finding_total(const analysis& facts);

// ---- Reports (report.cpp, json.cpp) ----

void write_text_report(std::FILE* out, const analysis& facts);
void write_json_report(std::FILE* out, const analysis& facts);
