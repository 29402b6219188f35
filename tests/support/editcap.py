#!/usr/bin/env python3
"""Edits a capture of 32-bit subframe words for the framedig tests, as the
faults of a real audio path would: editcap.py CHANNELS OP... < in > out

  silence N        put N silent frames in front
  skip N           leave out the first N frames (a capture that began late)
  drop F N         leave out N frames from frame F (an overrun)
  repeat F N       play N frames from frame F twice
  flip F C BIT     flip word bit BIT of channel C (from 1) in frame F
  gain DB          scale every sample (bits 4-27) by DB decibels, rounded
  truncate N       keep the first N frames
  mute F N         make the samples of N frames from frame F digital silence
  clear BIT        clear word bit BIT in every word
  set BIT          set word bit BIT in every word
  code F C CODE    give channel C (from 1) of frame F the preamble code CODE
  badparity F C    give channel C (from 1) of frame F the wrong parity bit
  zeros N          put N zero words in front (a receiver that has not locked)

Every word that is changed gets its parity bit (31) set right again, but
for badparity.
"""
import struct
import sys


def parity(word):
    word &= 0x7FFFFFFF
    return word | ((bin(word & 0xFFFFFFF0).count("1") & 1) << 31)


def main():
    channels = int(sys.argv[1])
    ops = sys.argv[2:]
    data = sys.stdin.buffer.read()
    words = list(struct.unpack("<%dI" % (len(data) // 4), data[: len(data) // 4 * 4]))
    frames = [words[i : i + channels] for i in range(0, len(words) - channels + 1, channels)]
    leading = 0
    while ops:
        op = ops.pop(0)
        if op == "silence":
            frames = [[0] * channels for _ in range(int(ops.pop(0)))] + frames
        elif op == "skip":
            frames = frames[int(ops.pop(0)) :]
        elif op == "drop":
            first, count = int(ops.pop(0)), int(ops.pop(0))
            frames = frames[:first] + frames[first + count :]
        elif op == "repeat":
            first, count = int(ops.pop(0)), int(ops.pop(0))
            frames = frames[: first + count] + frames[first : first + count] + frames[first + count :]
        elif op == "flip":
            frame, channel, bit = int(ops.pop(0)), int(ops.pop(0)) - 1, int(ops.pop(0))
            frames[frame][channel] = parity(frames[frame][channel] ^ (1 << bit))
        elif op == "gain":
            factor = 10 ** (float(ops.pop(0)) / 20)
            for frame in frames:
                for c, w in enumerate(frame):
                    sample = (w >> 4) & 0xFFFFFF
                    sample -= (sample & 0x800000) << 1
                    scaled = max(-0x800000, min(0x7FFFFF, round(sample * factor)))
                    frame[c] = parity((w & 0x7000000F) | ((scaled & 0xFFFFFF) << 4))
        elif op == "truncate":
            frames = frames[: int(ops.pop(0))]
        elif op == "mute":
            first, count = int(ops.pop(0)), int(ops.pop(0))
            for frame in frames[first : first + count]:
                frame[:] = [parity(w & 0x7000000F) for w in frame]
        elif op in ("clear", "set"):
            bit = 1 << int(ops.pop(0))
            for frame in frames:
                frame[:] = [parity(w | bit if op == "set" else w & ~bit) for w in frame]
        elif op == "code":
            frame, channel, code = int(ops.pop(0)), int(ops.pop(0)) - 1, int(ops.pop(0), 0)
            frames[frame][channel] = (frames[frame][channel] & ~0xF) | code
        elif op == "badparity":
            frame, channel = int(ops.pop(0)), int(ops.pop(0)) - 1
            frames[frame][channel] = parity(frames[frame][channel]) ^ (1 << 31)
        elif op == "zeros":
            leading += int(ops.pop(0))
        else:
            sys.exit("editcap: unknown operation " + op)
    out = [0] * leading + [w for frame in frames for w in frame]
    sys.stdout.buffer.write(struct.pack("<%dI" % len(out), *out))


main()
