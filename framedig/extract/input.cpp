// Reading shared by the three operations: header skip, whole units, and
// telling the end of the data from a read error.
#include "iec958.h"

#include <array>

// The header is read and thrown away rather than seeked over, so a pipe
// loses the same 44 bytes as a regular file. A short header leaves the
// stream at its end (or in error), and the reads that follow deliver nothing.
void skip_header(std::FILE* in, bool wav)
{
    if (!wav)
        return;
    std::array<std::uint8_t, wav_header_bytes> header{};
    (void)std::fread(header.data(), 1, header.size(), in);
}

// How many units of the given size to read at a time: a chunk's worth, and
// at least one however large the unit.
std::size_t units_per_chunk(std::size_t unit)
{
    return unit >= read_chunk_bytes || unit == 0 ? 1 : read_chunk_bytes / unit;
}

// Reads up to count whole units and returns how many arrived. The bytes of a
// trailing incomplete unit are dropped. Once the stream has met its end or an
// error nothing more is read, so a caller may loop until this returns 0.
std::size_t read_units(std::FILE* in, std::uint8_t* buf, std::size_t unit, std::size_t count)
{
    if (std::feof(in) || std::ferror(in))
        return 0;
    return std::fread(buf, unit, count, in);
}

// Called once reading has stopped: 0 at the end of the data, 1 after
// reporting a read error.
int input_result(std::FILE* in)
{
    const int error = std::ferror(in);
    if (error == 0)
        return 0;
    std::printf("Meet error during reading origin iec stream: %d\n", error);
    return 1;
}
