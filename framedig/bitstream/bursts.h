// IEC 61937 bursts: finding their preambles in a capture and naming their
// data types.
#pragma once

#include "iec958.h"

// Finds bursts word by word: a Pa, Pb, Pc, Pd sequence in bits 12-27 of
// consecutive subframes.
struct burst_search {
    int state = 0;
    std::uint32_t type = 0;
};
// Feeds one subframe word; returns the data type (0-127) when the word
// completes a burst preamble, -1 otherwise.
inline int burst_feed(burst_search& search, std::uint32_t word)
{
    const std::uint32_t value = (word >> burst_word_shift) & 0xFFFFU;
    switch (search.state) {
    case 1: search.state = value == burst_pb ? 2 : value == burst_pa ? 1 : 0; return -1;
    case 2: search.type = value & burst_type_mask; search.state = 3; return -1;
    case 3: search.state = value == burst_pa ? 1 : 0; return static_cast<int>(search.type);
    default: search.state = value == burst_pa ? 1 : 0; return -1;
    }
}
const char* burst_type_name(int type, char* text, std::size_t size);
