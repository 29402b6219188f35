// The lane scan on x86-64: eight words at a time on processors with AVX2,
// four at a time on the others. The eight-word scan takes lane layouts of 4
// lanes or a multiple of 8 (1, 2, 4, 8, 16 ... channels).
#include "lane_scan.h"

namespace {

[[gnu::target("avx2")]] void scan_lanes_by_8(const std::uint8_t* words, const std::uint8_t* earlier, std::size_t count,
                                             unsigned code, lane_sums& sums)
{
    scan_lane_groups<8>(words, earlier, count, code, sums);
}

} // namespace

void scan_lanes(const std::uint8_t* words, const std::uint8_t* earlier, std::size_t count, unsigned code, lane_sums& sums)
{
    if ((sums.lanes == 4 || sums.lanes % 8 == 0) && __builtin_cpu_supports("avx2"))
        scan_lanes_by_8(words, earlier, count, code, sums);
    else
        scan_lanes_by_4(words, earlier, count, code, sums);
}
