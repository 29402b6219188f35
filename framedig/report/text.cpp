// Text wrapping for the reports' text writers.
#include "report/report.h"

#include <algorithm>

void print_wrapped(std::FILE* out, std::size_t column, std::string_view text)
{
    std::size_t width = report_width - column;
    while (text.size() > width) {
        std::size_t cut = text.rfind(' ', width);
        if (cut == std::string_view::npos || cut == 0)
            cut = width;
        std::fprintf(out, "%.*s\n%*s", static_cast<int>(cut), text.data(), static_cast<int>(column + 2), "");
        text.remove_prefix(std::min(text.size(), cut + 1));
        width = report_width - column - 2;
    }
    std::fprintf(out, "%.*s\n", static_cast<int>(text.size()), text.data());
}
