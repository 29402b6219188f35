#!/usr/bin/env python3
"""Repacks the IEC 61937 bursts of a 16-bit little-endian stream (what
ffmpeg's spdif muxer writes) into 20- or 24-bit mode bursts, the SMPTE 337
layout, as 32-bit little-endian samples whose top 20 or 24 bits carry the
burst words: repack337.py BITS < in.spdif > out.s32

The preamble gets the mode's own sync words (20-bit: 0x6F872, 0x54E1F;
24-bit: 0x96F872, 0xA54E1F); Pc and Pd keep their values; the payload bytes
are packed most significant bit first into words of BITS bits. Each burst
keeps its place: it starts at the same sample as in the input.
"""
import struct
import sys

SYNC = {20: (0x6F872, 0x54E1F), 24: (0x96F872, 0xA54E1F)}
BYTE_LENGTH_TYPES = {17, 21, 22}


def main():
    bits = int(sys.argv[1])
    data = sys.stdin.buffer.read()
    values = list(struct.unpack("<%dH" % (len(data) // 2), data[: len(data) // 2 * 2]))
    out = [0] * len(values)
    i = 0
    while i + 4 <= len(values):
        if values[i] != 0xF872 or values[i + 1] != 0x4E1F:
            i += 1
            continue
        pc, pd = values[i + 2], values[i + 3]
        length = pd if (pc & 0x7F) in BYTE_LENGTH_TYPES else (pd + 7) // 8
        words16 = values[i + 4 : i + 4 + (length + 1) // 2]
        payload = b"".join(struct.pack(">H", w) for w in words16)[:length]
        number = int.from_bytes(payload, "big") if payload else 0
        count = (len(payload) * 8 + bits - 1) // bits
        number <<= count * bits - len(payload) * 8
        words = [(number >> (bits * (count - 1 - k))) & ((1 << bits) - 1) for k in range(count)]
        burst = [SYNC[bits][0], SYNC[bits][1], pc, pd] + words
        out[i : i + len(burst)] = burst
        i += 4 + len(words16)
    shift = 32 - bits
    sys.stdout.buffer.write(struct.pack("<%dI" % len(out), *[(v << shift) & 0xFFFFFFFF for v in out]))


main()
