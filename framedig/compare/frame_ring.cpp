// Codec frames held in order, each whole in one buffer that wraps: a frame
// goes to the buffer's start whenever it fits before the oldest one, so
// that few frames held touch few pages. When that leaves no room for the
// next one, the frames are moved together to the start.
#include "compare/passthrough.h"

#include <algorithm>
#include <cstring>

namespace {

std::uint64_t load64(const std::uint8_t* p, std::size_t n)
{
    std::uint64_t v = 0;
    std::memcpy(&v, p, std::min<std::size_t>(n, sizeof v));
    return v;
}

held_frame& slot(frame_ring& ring, long long n)
{
    return ring.frames[static_cast<std::size_t>(n) & (ring.frame_capacity - 1)];
}

// Where a frame of the given length can go, or byte_capacity when nowhere.
std::size_t place(const frame_ring& ring, std::size_t length)
{
    if (ring.first == ring.end)
        return length <= ring.byte_capacity ? 0 : ring.byte_capacity;
    const std::size_t oldest = ring_at(ring, ring.first).offset;
    if (ring.write > oldest) {  // held bytes are [oldest, write)
        if (length <= oldest)
            return 0;
        return ring.write + length <= ring.byte_capacity ? ring.write : ring.byte_capacity;
    }
    return ring.write + length <= oldest ? ring.write : ring.byte_capacity;  // held: [oldest, end) and [0, write)
}

// Moves the held frames, in order, to the start of the buffer.
void compact(frame_ring& ring)
{
    if (ring.first == ring.end) {
        ring.write = 0;
        return;
    }
    const std::size_t oldest = ring_at(ring, ring.first).offset;
    std::size_t top_end = ring.write;
    if (ring.write <= oldest) {  // wrapped: the older frames lie at [oldest, top_end)
        top_end = oldest;
        for (long long n = ring.first; n < ring.end; ++n)
            if (const held_frame& f = ring_at(ring, n); f.offset >= oldest)
                top_end = std::max(top_end, f.offset + f.length);
    }
    std::uint8_t* bytes = ring.bytes.get();
    std::rotate(bytes, bytes + oldest, bytes + top_end);
    for (long long n = ring.first; n < ring.end; ++n) {
        held_frame& f = slot(ring, n);
        f.offset = f.offset >= oldest ? f.offset - oldest : f.offset + (top_end - oldest);
    }
    ring.write = ring.write <= oldest ? top_end - oldest + ring.write : ring.write - oldest;
}

} // namespace

bool ring_init(frame_ring& ring, std::size_t bytes, std::size_t frames)
{
    ring.bytes = zeroed_array<std::uint8_t>(bytes);
    ring.byte_capacity = bytes;
    ring.frames = zeroed_array<held_frame>(frames);
    ring.frame_capacity = frames;
    return ring.bytes && ring.frames;
}

// Length and bytes from the start, the middle and the end.
std::uint64_t frame_key(const std::uint8_t* p, std::size_t n)
{
    std::uint64_t key = n * 0x9E3779B97F4A7C15ULL;
    key ^= load64(p, n);
    key = (key << 21 | key >> 43) * 0xC2B2AE3D27D4EB4FULL;
    if (n > 8) {
        key ^= load64(p + n / 2 - 4, 8);
        key = (key << 21 | key >> 43) * 0xC2B2AE3D27D4EB4FULL;
        key ^= load64(p + n - 8, 8);
    }
    return key ^ (key >> 29);
}

bool ring_push(frame_ring& ring, const std::uint8_t* data, std::size_t length, long long capture_frame, bool swapped)
{
    if (ring.end - ring.first >= static_cast<long long>(ring.frame_capacity))
        return false;
    std::size_t at = place(ring, length);
    if (at == ring.byte_capacity) {
        compact(ring);
        at = place(ring, length);
    }
    if (at == ring.byte_capacity)
        return false;
    std::memcpy(ring.bytes.get() + at, data, length);
    held_frame& frame = slot(ring, ring.end);
    frame = {at, length, frame_key(data, length), capture_frame, swapped};
    ring.write = at + length;
    ++ring.end;
    return true;
}

void ring_drop(frame_ring& ring)
{
    if (ring.first < ring.end)
        ++ring.first;
    if (ring.first == ring.end)
        ring.write = 0;
}

const held_frame& ring_at(const frame_ring& ring, long long n)
{
    return ring.frames[static_cast<std::size_t>(n) & (ring.frame_capacity - 1)];
}

const std::uint8_t* ring_data(const frame_ring& ring, long long n)
{
    return ring.bytes.get() + ring_at(ring, n).offset;
}

bool frames_same(const frame_ring& a, long long i, const frame_ring& b, long long j)
{
    const held_frame& x = ring_at(a, i);
    const held_frame& y = ring_at(b, j);
    return x.key == y.key && x.length == y.length && std::memcmp(ring_data(a, i), ring_data(b, j), x.length) == 0;
}

std::size_t first_difference(const frame_ring& a, long long i, const frame_ring& b, long long j)
{
    const std::size_t n = std::min(ring_at(a, i).length, ring_at(b, j).length);
    const std::uint8_t* x = ring_data(a, i);
    const std::uint8_t* y = ring_data(b, j);
    std::size_t k = 0;
    while (k < n && x[k] == y[k])
        ++k;
    return k;
}
