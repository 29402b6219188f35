// framedig: extracts PCM samples, a channel status report or a validity
// report from a captured IEC 60958 subframe stream, analyses it, or
// compares it with the file that was played.
#include "analyze/analysis.h"
#include "options.h"
#include "compare/reference.h"

#include <sys/stat.h>

#include <cstring>

namespace {

// True when path names an existing regular file that is the open file, under
// whatever spelling or link: opening it for writing would truncate it.
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
    options opts;
    if (const int status = parse_options(argc, argv, opts); status >= 0)
        return status;

    const std::unique_ptr<std::FILE, decltype([](std::FILE* f) { std::fclose(f); })> in(std::fopen(opts.input_path, "rb"));
    if (!in) {
        std::puts("Open input file error, please check.");
        return 1;
    }
    // The operations read in large chunks of their own, and PCM extraction
    // writes them back whole: a stdio buffer would only add a copy and split
    // the system calls. The reports keep the output buffered.
    std::setvbuf(in.get(), nullptr, _IONBF, 0);
    if (is_same_file(in.get(), opts.output_path)) {
        std::puts("Input and output are the same file, please check.");
        return 1;
    }
    // The reference is checked before the output is created, which must not
    // be the reference either.
    reference_file reference;
    if (opts.reference_path != nullptr) {
        if (!open_reference_file(reference, opts.reference_path))
            return 1;
        if (is_same_file(reference.file.get(), opts.output_path)) {
            std::puts("Output and reference are the same file, please check.");
            return 1;
        }
        if (!check_reference(reference))
            return 1;
    }
    std::FILE* out = std::fopen(opts.output_path, "wb");
    if (!out) {
        std::puts("Open output file error, please check.");
        return 1;
    }
    const bool pcm = !opts.status && !opts.validity && !opts.analyze && opts.reference_path == nullptr;
    if (pcm)
        std::setvbuf(out, nullptr, _IONBF, 0);

    const int result = opts.status     ? iec_status(in.get(), out, opts.wav, opts.channels)
                       : opts.validity ? iec_validity(in.get(), out, opts.wav, opts.channels)
                       : opts.analyze  ? iec_analyze(in.get(), out, opts.wav, opts.channels_given ? opts.channels : 0, opts.json)
                       : opts.reference_path != nullptr
                           ? iec_reference(in.get(), out, opts.wav, opts.channels, opts.channels_given, reference, opts.json)
                           : iec_pcm(in.get(), opts.bits, out, opts.wav);

    const bool write_failed = std::ferror(out) != 0;
    if (std::fclose(out) != 0 || write_failed) {
        std::puts("Write output file error, please check.");
        return 1;
    }
    return result;
}
