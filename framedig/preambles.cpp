// Detection of the preamble codes that capture hardware stores in bits 0-3
// of every word: which code starts a block, which starts a frame, and so
// how many channels a frame holds.
#include "iec958.h"

#include <array>

namespace {

constexpr int codes = 16;
constexpr std::size_t max_spacings = 16;

unsigned code_at(const std::uint8_t* buf, std::size_t word)
{
    return load_word(buf + word * word_bytes) & preamble_mask;
}

} // namespace

// The block-start code is the rarest code that recurs a whole number of
// blocks apart (the shortest such spacing, so that a lost block start does
// not double it); the spacing gives the channel count, and channel 1 of the
// block's later frames must carry one other code, the first-subframe code.
preamble_codes detect_preambles(const std::uint8_t* buf, std::size_t count, int channels_given)
{
    std::array<std::size_t, codes> seen{};
    for (std::size_t i = 0; i < count; ++i)
        ++seen[code_at(buf, i)];
    int block = -1;
    for (int k = 0; k < codes; ++k)
        if (seen[static_cast<std::size_t>(k)] >= 2 && (block < 0 || seen[static_cast<std::size_t>(k)] < seen[static_cast<std::size_t>(block)]))
            block = k;
    if (block < 0)
        return {};
    const auto code = static_cast<unsigned>(block);
    std::size_t start = 0;
    while (code_at(buf, start) != code)
        ++start;
    std::size_t spacing = 0;
    std::size_t spacings = 0;
    for (std::size_t i = start + 1, last = start; i < count && spacings < max_spacings; ++i) {
        if (code_at(buf, i) != code)
            continue;
        const std::size_t d = i - last;
        if (d % frames_per_block == 0 && (spacing == 0 || d < spacing))
            spacing = d;
        last = i;
        ++spacings;
    }
    const auto channels = static_cast<int>(spacing / frames_per_block);
    if (channels == 0 || (channels_given > 0 && channels != channels_given) ||
        start + static_cast<std::size_t>(channels) >= count)
        return {};
    const unsigned first = code_at(buf, start + static_cast<std::size_t>(channels));
    std::size_t checked = 0;
    std::size_t matching = 0;
    for (std::size_t f = 1, i = start + spacing / frames_per_block; f < frames_per_block && i < count;
         ++f, i += static_cast<std::size_t>(channels)) {
        ++checked;
        matching += code_at(buf, i) == first ? 1U : 0U;
    }
    if (first == code || matching * 10 < checked * 9)
        return {};
    return {true, code, first, channels, start};
}
