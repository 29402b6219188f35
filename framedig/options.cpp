// The command line: the option table, the usage text and the checks that
// end a run before any file is opened.
#include "options.h"

#include <getopt.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Long options without a short letter take values past the character range.
constexpr int opt_analyze = 256;
constexpr int opt_json = 257;
constexpr int opt_reference = 258;

constexpr char short_options[] = "ho:b:i:c:vsw";
constexpr option long_options[] = {
    {"help", no_argument, nullptr, 'h'},
    {"input", required_argument, nullptr, 'i'},
    {"bits", required_argument, nullptr, 'b'},
    {"channel", required_argument, nullptr, 'c'},
    {"output", required_argument, nullptr, 'o'},
    {"validity", no_argument, nullptr, 'v'},
    {"status", no_argument, nullptr, 's'},
    {"wav", no_argument, nullptr, 'w'},
    {"analyze", no_argument, nullptr, opt_analyze},
    {"json", no_argument, nullptr, opt_json},
    {"reference", required_argument, nullptr, opt_reference},
    {nullptr, 0, nullptr, 0},
};

constexpr char usage_text[] =
    "Usage: framedig [OPTION]... [FILE]...\n"
    "-h,--help      help\n"
    "-b,--bits      sample bits in origin iec958 stream\n"
    "-v,--validity  abstract the validity bit. It can not use together with -s\n"
    "-i,--input     input iec958 stream\n"
    "-o,--output    ouput file to store the output pcm/validity/status bit. 16bit -> S16_LE; 20bit and 24bit -> S24_LE\n"
    "-s,--status    abstract the status bit. It can not use together with -v\n"
    "-w,--wav       source file is wav file\n"
    "-c,--channel   channel nunbers in source file\n"
    "   --analyze   report status, blocks, parity, validity, bursts and signal; -c is optional\n"
    "   --json      write the --analyze or --reference report as JSON\n"
    "   --reference compare the capture with the file that was played: a WAV file or a compressed stream\n"
    "\n";

// A decimal number as strtol reads it into 64 bits (no error reported), cut
// to its low 32 bits: 4294967312 gives 16.
int parse_number(const char* text)
{
    const auto value = static_cast<std::uint64_t>(std::strtoll(text, nullptr, 10));
    return static_cast<int>(static_cast<std::uint32_t>(value));
}

// Prints the option word the parser rejected. Long options always end their
// word, so the word just passed names it (without any "=value"); a short
// option is named by its letter, wherever it stood in a group.
void print_rejected_option(char* argv[], int optind_before)
{
    const char* word = optind > optind_before ? argv[optind - 1] : "";
    if (std::strncmp(word, "--", 2) == 0 && word[2] != '\0')
        std::printf("Unsurported args: %.*s.\n", static_cast<int>(std::strcspn(word, "=")), word);
    else
        std::printf("Unsurported args: -%c.\n", optopt);
}

// The conflicts end the run at the option that makes them.
bool options_conflict(const options& opts)
{
    if (opts.status && opts.validity) {
        std::puts("Error: validity(-v) and status(-s) can not be set together.");
        return true;
    }
    if (opts.analyze && (opts.status || opts.validity)) {
        std::puts("Error: analyze(--analyze) can not be set together with status(-s) or validity(-v).");
        return true;
    }
    const char* other = opts.status     ? "status(-s)"
                        : opts.validity ? "validity(-v)"
                        : opts.analyze  ? "analyze(--analyze)"
                                        : nullptr;
    if (opts.reference_path != nullptr && other != nullptr) {
        std::printf("Error: reference(--reference) and %s can not be set together.\n", other);
        return true;
    }
    return false;
}

} // namespace

int parse_options(int argc, char* argv[], options& opts)
{
    for (;;) {
        const int optind_before = optind;
        const int opt = getopt_long(argc, argv, short_options, long_options, nullptr);
        if (opt == -1)
            break;
        switch (opt) {
        case 'h': opts.help = true; break;
        case 'i':
            opts.input_path = optarg;
            std::printf("input file is %s\n", optarg);
            break;
        case 'b': opts.bits = parse_number(optarg); break;
        case 'c':
            opts.channels = parse_number(optarg);
            opts.channels_given = true;
            break;
        case 'o':
            opts.output_path = optarg;
            std::printf("output file is %s\n", optarg);
            break;
        case 'v': opts.validity = true; break;
        case 's': opts.status = true; break;
        case 'w': opts.wav = true; break;
        case opt_analyze: opts.analyze = true; break;
        case opt_json: opts.json = true; break;
        case opt_reference: opts.reference_path = optarg; break;
        default: print_rejected_option(argv, optind_before); return 1;
        }
        if (options_conflict(opts))
            return 1;
    }
    if (opts.help) {
        std::fputs(usage_text, stdout);
        return 0;
    }
    if (opts.json && !opts.analyze && opts.reference_path == nullptr) {
        std::puts("Error: --json needs --analyze or --reference.");
        return 1;
    }
    // -s and -v need a count (a negative one gets their allocation message);
    // --analyze detects it when -c is not given.
    if (((opts.status || opts.validity) && opts.channels == 0) || (opts.analyze && opts.channels_given && opts.channels < 1)) {
        std::puts("Error: channel number(-c) must be at least 1 with -s or -v.");
        return 1;
    }
    return -1;
}
