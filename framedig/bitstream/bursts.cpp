// IEC 61937 burst data types: their names, the unit of their length code
// and their repetition period. The burst search itself is inline in
// bursts.h, because it runs for every word.
#include "bitstream/bursts.h"

#include <array>
#include <cstdio>

namespace {

// period: IEC 60958 frames from one burst to the next (0 where it varies or
// does not apply); bytes: Pd counts bytes, not bits.
struct burst_kind {
    int type;
    const char* name;
    bool bytes;
    int period;
};
constexpr std::array<burst_kind, 15> burst_kinds = {{
    {0, "NULL", false, 0},
    {1, "AC-3", false, 1536},
    {3, "PAUSE", false, 0},
    {4, "MPEG-1 L1", false, 384},
    {5, "MPEG-1 L2/L3", false, 1152},
    {6, "MPEG-2", false, 1152},
    {7, "AAC", false, 1024},
    {8, "MPEG-2 L1 LSF", false, 768},
    {9, "MPEG-2 L2/L3 LSF", false, 2304},
    {11, "DTS-I", false, 512},
    {12, "DTS-II", false, 1024},
    {13, "DTS-III", false, 2048},
    {17, "DTS-HD", true, dts_hd_base_period},
    {21, "E-AC-3", true, 6144},
    {22, "TrueHD", true, 15360},
}};

const burst_kind* kind_of(int type)
{
    for (const burst_kind& row : burst_kinds)
        if (row.type == type)
            return &row;
    return nullptr;
}

} // namespace

// The name of a data type, or "type N" for one without a name here.
const char* burst_type_name(int type, char* text, std::size_t size)
{
    if (const burst_kind* kind = kind_of(type))
        return kind->name;
    std::snprintf(text, size, "type %d", type);
    return text;
}

bool burst_length_in_bytes(int type)
{
    const burst_kind* kind = kind_of(type);
    return kind != nullptr && kind->bytes;
}

// DTS-HD bursts name their period in Pc bits 8-10, as a power of two times
// the base period.
long long burst_period_frames(int type, unsigned pc)
{
    const burst_kind* kind = kind_of(type);
    if (kind == nullptr)
        return 0;
    if (type == burst_type_dts_hd)
        return static_cast<long long>(kind->period) << ((pc >> 8) & 7U);
    return kind->period;
}
