// The reply: the search for the final response's Date field.
#include "clockpull.h"

#include <strings.h>

#include <cctype>

namespace {

bool is_interim_status(std::string_view line)
{
    const std::size_t blank = line.find(' ');
    return line.starts_with("HTTP/") && blank != std::string_view::npos && line.size() >= blank + 4 &&
           line[blank + 1] == '1' && std::isdigit(static_cast<unsigned char>(line[blank + 2])) != 0 &&
           std::isdigit(static_cast<unsigned char>(line[blank + 3])) != 0;
}

bool is_date_field(std::string_view line)
{
    return line.size() >= 5 && strncasecmp(line.data(), "Date", 4) == 0 && line[4] == ':';
}

} // namespace

// Scans the reply line by line, by its length (a zero byte is just a byte).
// Lines end at LF, with or without CR before it. Interim 1xx responses and
// their fields are skipped; the first Date field of the final response is
// taken, its value without the blanks around it. A Date line that the bytes
// do not finish is reported as found but not terminated, so that a value cut
// short is never used.
date_search search_date(std::string_view reply)
{
    date_search result;
    bool at_status_line = true;
    bool interim = false;
    std::size_t pos = 0;
    while (pos < reply.size()) {
        const std::size_t newline = reply.find('\n', pos);
        const bool terminated = newline != std::string_view::npos;
        const std::size_t start = pos;
        std::size_t end = terminated ? newline : reply.size();
        pos = terminated ? newline + 1 : reply.size();
        if (terminated && end > start && reply[end - 1] == '\r')
            --end;
        const std::string_view line = reply.substr(start, end - start);

        if (at_status_line) {
            interim = is_interim_status(line);
            at_status_line = false;
        } else if (terminated && line.empty()) {
            if (!interim) {
                result.headers_done = true;
                break;
            }
            at_status_line = true;
        } else if (!interim && !result.found && is_date_field(line)) {
            std::size_t begin = start + 5;
            while (begin < end && (reply[begin] == ' ' || reply[begin] == '\t'))
                ++begin;
            while (terminated && end > begin && (reply[end - 1] == ' ' || reply[end - 1] == '\t'))
                --end;
            result = date_search{false, true, terminated, begin, end};
        }
    }
    return result;
}
