// IEC 61937 burst data types by name; the burst search itself is inline in
// bursts.h, because it runs for every word.
#include "bitstream/bursts.h"

#include <cstdio>

namespace {

constexpr code_name burst_types[] = {
    {0x7F, 0, "NULL", 0},        {0x7F, 1, "AC-3", 0},        {0x7F, 3, "PAUSE", 0},
    {0x7F, 4, "MPEG-1 L1", 0},   {0x7F, 5, "MPEG-1 L2/L3", 0}, {0x7F, 6, "MPEG-2", 0},
    {0x7F, 7, "AAC", 0},         {0x7F, 11, "DTS-I", 0},      {0x7F, 12, "DTS-II", 0},
    {0x7F, 13, "DTS-III", 0},    {0x7F, 17, "DTS-HD", 0},     {0x7F, 21, "E-AC-3", 0},
    {0x7F, 22, "TrueHD", 0},
};

} // namespace

// The name of a data type, or "type N" for one without a name here.
const char* burst_type_name(int type, char* text, std::size_t size)
{
    for (const code_name& row : burst_types)
        if (static_cast<unsigned>(type) == row.code)
            return row.name;
    std::snprintf(text, size, "type %d", type);
    return text;
}
