// The lane scan on processors other than x86-64: four words at a time, the
// width of arm64's vector registers.
#include "lane_scan.h"

void scan_lanes(const std::uint8_t* words, const std::uint8_t* earlier, std::size_t count, unsigned code, lane_sums& sums)
{
    scan_lanes_by_4(words, earlier, count, code, sums);
}
