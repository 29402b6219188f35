#!/usr/bin/env python3
"""A model of framedig's extraction reports, written word by word as the
reports read, for the tests to compare framedig's output with byte for byte:

  extract-model.py CHANNELS CAPTURE DIR

For the -s and -v reports of CAPTURE read as CHANNELS channels and for its
-b 16, 20 and 24 samples (DIR/status, validity, pcm16, pcm20, pcm24), DIR
gets what framedig writes to its output file (DIR/OP), what it adds to its
standard output after its own two lines (DIR/OP.stdout) and its exit status
(DIR/OP.status).
"""
import os
import array
import sys

STATUS_BIT = 30
VALIDITY_BIT = 28


def read_words(path):
    data = open(path, "rb").read()
    words = array.array("I")
    words.frombytes(data[:len(data) // 4 * 4])
    if sys.byteorder == "big":
        words.byteswap()
    return words


def status(words, channels):
    """Six words a channel a whole block, each checked against channel 1 of
    the first block."""
    lines = []
    reference = None
    block_words = 192 * channels
    for start in range(0, len(words) // block_words * block_words, block_words):
        for ch in range(channels):
            bits = [(w >> STATUS_BIT) & 1 for w in words[start + ch:start + block_words:channels]]
            values = [sum(bit << n for n, bit in enumerate(bits[32 * j:32 * j + 32])) for j in range(6)]
            if reference is None:
                reference = values
            for j, value in enumerate(values, 1):
                lines.append("The %dth status of channel %d is: %d.\n" % (j, ch + 1, value))
                if value != reference[j - 1]:
                    lines.append("Error happens: different channel status information between" + " " * 33 +
                                 "channel %d, word %d and channel 1.\n" % (ch + 1, j))
    failed = any(line.startswith("Error") for line in lines)
    return "".join(lines), "Status bit self-checking failure!\n" if failed else "", 1 if failed else 0


def validity(words, channels):
    """The first whole frame's V bits, then every later whole frame's
    channels whose bit differs from them."""
    lines = []
    first = None
    for frame in range(len(words) // channels):
        bits = [(w >> VALIDITY_BIT) & 1 for w in words[frame * channels:(frame + 1) * channels]]
        if first is None:
            first = bits
            lines += ["The validity bit of channel %d is: %d.\n" % (ch + 1, v) for ch, v in enumerate(bits)]
            continue
        lines += ["Sample %d, channel %d has different validity value: %d.\n" % (frame + 1, ch + 1, v)
                  for ch, v in enumerate(bits) if v != first[ch]]
    differs = any(line.startswith("Sample") for line in lines)
    return "".join(lines), "", 1 if differs else 0


def pcm(words, bits):
    """Bits 12-27 as 16-bit samples; at 20 and 24 bits the field whose top
    bit is bit 27, sign-extended to 32 bits."""
    if bits == 16:
        samples = array.array("H", [(w >> 12) & 0xFFFF for w in words])
    else:
        shift = 28 - bits
        top = 1 << (bits - 1)
        samples = array.array("I", [((((w >> shift) & (2 * top - 1)) ^ top) - top) & 0xFFFFFFFF for w in words])
    if sys.byteorder == "big":
        samples.byteswap()
    return samples.tobytes(), "", 0


def main():
    channels, source, target = int(sys.argv[1]), sys.argv[2], sys.argv[3]
    words = read_words(source)
    runs = {"status": lambda: status(words, channels), "validity": lambda: validity(words, channels),
            "pcm16": lambda: pcm(words, 16), "pcm20": lambda: pcm(words, 20), "pcm24": lambda: pcm(words, 24)}
    for name, model in runs.items():
        report, stdout, result = model()
        path = os.path.join(target, name)
        with open(path, "wb") as out:
            out.write(report if isinstance(report, bytes) else report.encode())
        with open(path + ".stdout", "w") as out:
            out.write(stdout)
        with open(path + ".status", "w") as out:
            out.write("%d\n" % result)


if __name__ == "__main__":
    main()
