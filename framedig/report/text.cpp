// Text wrapping for the reports' text writers.
#include "report/report.h"

#include <algorithm>

namespace {

// UTF-8 continuation bytes never start a piece of a line.
bool continues_sequence(char c) { return (static_cast<unsigned char>(c) & 0xC0U) == 0x80U; }

} // namespace

// Columns are counted in bytes, which is never less than the characters a
// terminal shows. A word longer than a line is cut, though not inside a
// UTF-8 sequence.
void print_wrapped(std::FILE* out, std::size_t column, std::string_view text)
{
    std::size_t width = report_width - column;
    while (text.size() > width) {
        std::size_t cut = text.rfind(' ', width);
        if (cut == std::string_view::npos || cut == 0) {
            cut = width;
            while (cut > 1 && continues_sequence(text[cut]))
                --cut;
        }
        std::fprintf(out, "%.*s\n%*s", static_cast<int>(cut), text.data(), static_cast<int>(column + 2), "");
        text.remove_prefix(std::min(text.size(), text[cut] == ' ' ? cut + 1 : cut));
        width = report_width - column - 2;
    }
    std::fprintf(out, "%.*s\n", static_cast<int>(text.size()), text.data());
}
