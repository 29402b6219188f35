#!/usr/bin/env python3
"""Edits a capture of 32-bit subframe words for the framedig tests, as the
faults of a real audio path would: editcap.py CHANNELS OP... < in > out
(or, imported, edit(channels, ops, data) returns the edited bytes)

  silence N        put N silent frames (all-zero words) in front
  skip N           leave out the first N frames (a capture that began late)
  drop F N         leave out N frames from frame F (an overrun)
  repeat F N       play N frames from frame F twice
  flip F C BIT     flip word bit BIT of channel C (from 1) in frame F
  every N C BIT    flip word bit BIT of channel C in every N-th frame from frame 1
  gain DB          scale every sample (bits 4-27) by DB decibels, rounded
  clear BITS       clear the lowest BITS bits of every 24-bit sample (truncation)
  truncate N       keep the first N frames
  cutword          leave out the first word (a capture that starts mid-frame)

Every word that is changed gets its parity bit (31) set right again.
"""
import array
import sys


def parity(word):
    word &= 0x7FFFFFFF
    return word | ((bin(word & 0xFFFFFFF0).count("1") & 1) << 31)


def edit_words(words, indexes, change):
    for i in indexes:
        words[i] = parity(change(words[i]))


def edit(channels, ops, data):
    ops = list(ops)
    words = array.array("I")
    words.frombytes(data[: len(data) // (4 * channels) * 4 * channels])
    if sys.byteorder == "big":
        words.byteswap()
    c = channels
    while ops:
        op = ops.pop(0)
        if op == "silence":
            words = array.array("I", bytes(4 * c * int(ops.pop(0)))) + words
        elif op == "skip":
            words = words[int(ops.pop(0)) * c :]
        elif op == "drop":
            first, count = int(ops.pop(0)), int(ops.pop(0))
            words = words[: first * c] + words[(first + count) * c :]
        elif op == "repeat":
            first, count = int(ops.pop(0)), int(ops.pop(0))
            words = words[: (first + count) * c] + words[first * c : (first + count) * c] + words[(first + count) * c :]
        elif op == "flip":
            frame, channel, bit = int(ops.pop(0)), int(ops.pop(0)) - 1, int(ops.pop(0))
            edit_words(words, [frame * c + channel], lambda w: w ^ (1 << bit))
        elif op == "every":
            step, channel, bit = int(ops.pop(0)), int(ops.pop(0)) - 1, int(ops.pop(0))
            edit_words(words, range(c + channel, len(words), step * c), lambda w: w ^ (1 << bit))
        elif op == "gain":
            factor = 10 ** (float(ops.pop(0)) / 20)

            def scale(w):
                sample = (w >> 4) & 0xFFFFFF
                sample -= (sample & 0x800000) << 1
                scaled = max(-0x800000, min(0x7FFFFF, round(sample * factor)))
                return (w & 0x7000000F) | ((scaled & 0xFFFFFF) << 4)

            edit_words(words, range(len(words)), scale)
        elif op == "clear":
            mask = ~(((1 << int(ops.pop(0))) - 1) << 4) & 0xFFFFFFFF
            edit_words(words, range(len(words)), lambda w: w & mask)
        elif op == "truncate":
            words = words[: int(ops.pop(0)) * c]
        elif op == "cutword":
            words = words[1:]
        else:
            raise SystemExit("editcap: unknown operation " + op)
    if sys.byteorder == "big":
        words.byteswap()
    return words.tobytes()


if __name__ == "__main__":
    sys.stdout.buffer.write(edit(int(sys.argv[1]), sys.argv[2:], sys.stdin.buffer.read()))
