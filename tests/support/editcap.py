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
  zero F N         clear the audio bits (4-27) of N frames from frame F (a gap)
  pause F          write an IEC 61937 pause burst (data type 3) at frame F
  swap16           swap the two bytes of the 16-bit value (bits 12-27) of every
                   word outside the burst preambles (a packer's byte-order bug)
  insert F FILE G N  insert N frames of the capture FILE, from its frame G,
                   before frame F

Every word that is changed gets its parity bit (31) set right again.
"""
import array
import sys


def parity(word):
    word &= 0x7FFFFFFF
    return word | ((bin(word & 0xFFFFFFF0).count("1") & 1) << 31)


def audio(word, value):
    """The word with its bits 12-27 set to a 16-bit value, the bits below cleared."""
    return parity((word & 0x7000000F) | ((value & 0xFFFF) << 12))


def preamble_words(words):
    """Indexes of the words that hold a burst's Pa, Pb, Pc and Pd."""
    held = set()
    values = [(w >> 12) & 0xFFFF for w in words]
    start = 0
    while True:
        try:
            i = values.index(0xF872, start)
        except ValueError:
            return held
        if i + 1 < len(values) and values[i + 1] == 0x4E1F:
            held.update(range(i, i + 4))
        start = i + 1


def read_words(path, channels):
    """The whole frames of a capture, as one flat array of words."""
    words = array.array("I")
    data = open(path, "rb").read()
    words.frombytes(data[: len(data) // (4 * channels) * 4 * channels])
    if sys.byteorder != "little":
        words.byteswap()
    return words


def main():
    channels = int(sys.argv[1])
    ops = sys.argv[2:]
    words = read_words("/dev/stdin", channels)
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
            words[frame * c + channel] = parity(words[frame * c + channel] ^ (1 << bit))
        elif op == "gain":
            factor = 10 ** (float(ops.pop(0)) / 20)
            for i, w in enumerate(words):
                sample = (w >> 4) & 0xFFFFFF
                sample -= (sample & 0x800000) << 1
                scaled = max(-0x800000, min(0x7FFFFF, round(sample * factor)))
                words[i] = parity((w & 0x7000000F) | ((scaled & 0xFFFFFF) << 4))
        elif op == "truncate":
            words = words[: int(ops.pop(0)) * c]
        elif op == "zero":
            first, count = int(ops.pop(0)), int(ops.pop(0))
            for i in range(first * c, min(len(words), (first + count) * c)):
                words[i] = parity(words[i] & 0x7000000F)
        elif op == "pause":
            at = int(ops.pop(0)) * c
            for k, value in enumerate([0xF872, 0x4E1F, 0x0003, 0x0020, 0x0000, 0x0000]):
                words[at + k] = audio(words[at + k], value)
        elif op == "swap16":
            keep = preamble_words(words)
            for i, w in enumerate(words):
                if i not in keep and w & 0x0FFFF000:
                    value = (w >> 12) & 0xFFFF
                    swapped = ((value & 0xFF) << 8) | (value >> 8)
                    words[i] = parity((w & 0xF0000FFF) | (swapped << 12))
        elif op == "insert":
            at, path, first, count = int(ops.pop(0)), ops.pop(0), int(ops.pop(0)), int(ops.pop(0))
            words = words[: at * c] + read_words(path, c)[first * c : (first + count) * c] + words[at * c :]
        else:
            sys.exit("editcap: unknown operation " + op)
    if sys.byteorder != "little":
        words.byteswap()
    sys.stdout.buffer.write(words.tobytes())


main()
