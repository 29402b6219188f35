// The reply: the status line of each response, the header fields of the
// final one, and its Date field, whose value may be folded over lines.
#include "clockpull.h"

#include <strings.h>

#include <algorithm>

namespace {

// What a status line begins with; # stands for a digit.
constexpr std::string_view status_pattern = "HTTP/1.# ###";
// Where the first digit of the status code is: 1 marks an interim response.
constexpr std::size_t status_class_at = 9;
constexpr std::string_view date_name = "Date:";
// The bytes of an obs-fold: blanks and CRs around a line end.
constexpr std::string_view fold_bytes = " \t\r\n";

bool is_blank(char c)
{
    return c == ' ' || c == '\t';
}

bool is_date_field(std::string_view line)
{
    return line.size() >= date_name.size() && strncasecmp(line.data(), date_name.data(), date_name.size()) == 0;
}

// Reads a field value one character at a time, with every run of blanks and
// line ends that holds a line end (an obs-fold) read as one SP.
struct unfolding {
    std::string_view raw;
    std::size_t pos = 0;
    std::size_t plain_until = 0;  // the run being read holds no line end: its bytes are taken as they are
};

bool next_unfolded(unfolding& u, char& c)
{
    if (u.pos >= u.raw.size())
        return false;
    if (u.pos >= u.plain_until && fold_bytes.find(u.raw[u.pos]) != std::string_view::npos) {
        const std::size_t run_end = std::min(u.raw.find_first_not_of(fold_bytes, u.pos), u.raw.size());
        if (u.raw.substr(u.pos, run_end - u.pos).find('\n') != std::string_view::npos) {
            u.pos = run_end;
            c = ' ';
            return true;
        }
        u.plain_until = run_end;
    }
    c = u.raw[u.pos++];
    return true;
}

bool same_unfolded(std::string_view a, std::string_view b)
{
    unfolding x{a};
    unfolding y{b};
    char cx = 0;
    char cy = 0;
    for (;;) {
        const bool more = next_unfolded(x, cx);
        if (more != next_unfolded(y, cy))
            return false;
        if (!more)
            return true;
        if (cx != cy)
            return false;
    }
}

// The Date field being read: its value so far and where its last line ended.
struct date_field {
    std::size_t begin = 0;
    std::size_t end = 0;
    bool terminated = false;  // its last line ended
    std::size_t next = 0;     // the first byte after its last line
};

// Narrows [begin, end) to the text between the blanks around it; the blanks
// at its end only once the line has ended, since more of it may follow.
void trim(std::string_view reply, std::size_t& begin, std::size_t& end, bool terminated)
{
    while (begin < end && is_blank(reply[begin]))
        ++begin;
    while (terminated && end > begin && is_blank(reply[end - 1]))
        --end;
}

// Takes a Date field once all of it has been read: the first one gives the
// value, and every later one must read the same once unfolded.
void note_date(date_search& result, std::string_view reply, const date_field& field)
{
    if (!result.found) {
        result.found = true;
        result.begin = field.begin;
        result.end = field.end;
    } else if (!same_unfolded(reply.substr(result.begin, result.end - result.begin),
                              reply.substr(field.begin, field.end - field.begin))) {
        result.conflict = true;
    }
    result.terminated = field.terminated;
    result.at_end = field.terminated && field.next == reply.size();
}

} // namespace

// Whether a line can begin a response: "HTTP/1.x NNN" (x and N digits), then
// the end of the line or a blank and the reason. A line that has not ended
// yet is judged on the bytes that have arrived.
bool status_line_ok(std::string_view line, bool ended)
{
    const std::size_t n = std::min(line.size(), status_pattern.size());
    for (std::size_t i = 0; i < n; ++i) {
        const bool digit = line[i] >= '0' && line[i] <= '9';
        if (status_pattern[i] == '#' ? !digit : line[i] != status_pattern[i])
            return false;
    }
    if (line.size() > status_pattern.size())
        return line[status_pattern.size()] == ' ';
    return !ended || line.size() == status_pattern.size();
}

// Copies a field value to out (at least as long) with each obs-fold replaced
// by one SP; returns the length copied.
std::size_t unfold(std::string_view raw, char* out)
{
    unfolding u{raw};
    std::size_t n = 0;
    char c = 0;
    while (next_unfolded(u, c))
        out[n++] = c;
    return n;
}

// Scans the reply line by line, by its length (a zero byte is just a byte).
// Lines end at LF, with or without CR before it; a line that begins with a
// blank continues the field before it (an obs-fold). Every response must
// begin with a status line. Interim 1xx responses and their fields are
// skipped; the Date fields of the final response are taken, the value of the
// first without the blanks around it, and any other must agree with it. A
// Date field that the bytes do not finish is reported as not terminated, so
// that a value cut short is never used.
date_search search_date(std::string_view reply)
{
    date_search result;
    bool at_status_line = true;
    bool interim = false;
    bool in_date = false;  // the field being read is a Date field of the final response
    date_field date;
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
            if (!status_line_ok(line, terminated)) {
                result.not_http = true;
                return result;
            }
            interim = line.size() > status_class_at && line[status_class_at] == '1';
            at_status_line = false;
            continue;
        }
        if (!line.empty() && is_blank(line[0])) {
            if (in_date) {
                std::size_t begin = start;
                trim(reply, begin, end, terminated);
                if (begin < end) {
                    date.begin = date.begin == date.end ? begin : date.begin;
                    date.end = end;
                }
                date.terminated = terminated;
                date.next = pos;
            }
            continue;
        }
        if (in_date)
            note_date(result, reply, date);
        in_date = false;
        if (terminated && line.empty()) {
            if (!interim) {
                result.headers_done = true;
                return result;
            }
            at_status_line = true;
        } else if (!interim && is_date_field(line)) {
            in_date = true;
            date = date_field{start + date_name.size(), end, terminated, pos};
            trim(reply, date.begin, date.end, terminated);
        }
    }
    if (in_date)
        note_date(result, reply, date);
    return result;
}
