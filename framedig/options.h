// framedig's command line, read into one record.
#pragma once

struct options {
    const char* input_path = "";
    const char* output_path = "";
    int bits = 0;
    int channels = 0;
    bool channels_given = false;
    bool help = false;
    bool status = false;
    bool validity = false;
    bool wav = false;
    bool analyze = false;
    bool json = false;
    const char* reference_path = nullptr;  // --reference
};

// Reads the options, printing what they print. Returns -1 when the run goes
// on to the files, otherwise the exit status (0 after the help).
int parse_options(int argc, char* argv[], options& opts);
