// JSON strings for the reports' JSON writers.
#include "report/report.h"

// A JSON string: quotes and backslashes escaped, control bytes and DEL as \u00XX.
void json_string(std::FILE* out, std::string_view text)
{
    std::fputc('"', out);
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\')
            std::fprintf(out, "\\%c", c);
        else if (byte < 0x20 || byte == 0x7F)
            std::fprintf(out, "\\u%04x", byte);
        else
            std::fputc(c, out);
    }
    std::fputc('"', out);
}
