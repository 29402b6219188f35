// framedig: extracts PCM samples, a channel status report or a validity
// report from a captured IEC 60958 subframe stream.
#include "iec958.h"

#include <getopt.h>
#include <sys/stat.h>

#include <cstring>

namespace {

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

// True when path names an existing regular file that is the open input, under
// whatever spelling or link: opening it for writing would truncate the capture.
bool is_same_file(std::FILE* in, const char* path)
{
    struct stat input {};
    struct stat output {};
    return fstat(fileno(in), &input) == 0 && S_ISREG(input.st_mode) && stat(path, &output) == 0 &&
           input.st_dev == output.st_dev && input.st_ino == output.st_ino;
}

} // namespace

int main(int argc, char* argv[])
{
    const char* input_path = "";
    const char* output_path = "";
    int bits = 0;
    int channels = 0;
    bool help = false;
    bool status = false;
    bool validity = false;
    bool wav = false;

    for (;;) {
        const int optind_before = optind;
        const int opt = getopt_long(argc, argv, short_options, long_options, nullptr);
        if (opt == -1)
            break;
        switch (opt) {
        case 'h': help = true; break;
        case 'i':
            input_path = optarg;
            std::printf("input file is %s\n", optarg);
            break;
        case 'b': bits = parse_number(optarg); break;
        case 'c': channels = parse_number(optarg); break;
        case 'o':
            output_path = optarg;
            std::printf("output file is %s\n", optarg);
            break;
        case 'v': validity = true; break;
        case 's': status = true; break;
        case 'w': wav = true; break;
        default: print_rejected_option(argv, optind_before); return 1;
        }
        if (status && validity) {
            std::puts("Error: validity(-v) and status(-s) can not be set together.");
            return 1;
        }
    }
    if (help) {
        std::fputs(usage_text, stdout);
        return 0;
    }
    if ((status || validity) && channels == 0) {
        std::puts("Error: channel number(-c) must be at least 1 with -s or -v.");
        return 1;
    }

    const std::unique_ptr<std::FILE, decltype([](std::FILE* f) { std::fclose(f); })> in(std::fopen(input_path, "rb"));
    if (!in) {
        std::puts("Open input file error, please check.");
        return 1;
    }
    // The operations read in large chunks of their own, and PCM extraction
    // writes them back whole: a stdio buffer would only add a copy and split
    // the system calls. The line-by-line reports keep the output buffered.
    std::setvbuf(in.get(), nullptr, _IONBF, 0);
    if (is_same_file(in.get(), output_path)) {
        std::puts("Input and output are the same file, please check.");
        return 1;
    }
    std::FILE* out = std::fopen(output_path, "wb");
    if (!out) {
        std::puts("Open output file error, please check.");
        return 1;
    }
    if (!status && !validity)
        std::setvbuf(out, nullptr, _IONBF, 0);

    const int result = status     ? iec_status(in.get(), out, wav, channels)
                       : validity ? iec_validity(in.get(), out, wav, channels)
                                  : iec_pcm(in.get(), bits, out, wav);

    const bool write_failed = std::ferror(out) != 0;
    if (std::fclose(out) != 0 || write_failed) {
        std::puts("Write output file error, please check.");
        return 1;
    }
    return result;
}
