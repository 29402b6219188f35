#!/usr/bin/env python3
"""Edits a capture of 32-bit subframe words for the framedig tests, as the
faults of a real audio path would: editcap.py CHANNELS OP... < in > out
(or, imported, edit(channels, ops, data) returns the edited bytes)

  silence N        put N silent frames (all-zero words) in front
  zeros N          put N zero words in front (a receiver that has not locked)
  skip N           leave out the first N frames (a capture that began late)
  drop F N         leave out N frames from frame F (an overrun)
  repeat F N       play N frames from frame F twice
  insert F FILE G N  insert N frames of the capture FILE, from its frame G,
                   before frame F
  truncate N       keep the first N frames
  cutword          leave out the first word (a capture that starts mid-frame)
  slip F C         slip a zero word in before channel C (from 1) of frame F (a
                   receiver's glitch): the words after it shift by one
  lose F C         leave out the word of channel C of frame F: the words after
                   it shift by one
  flip F C BIT     flip word bit BIT of channel C (from 1) in frame F
  every N C BIT    flip word bit BIT of channel C in every N-th frame from frame 1
  gain DB          scale every sample (bits 4-27) by DB decibels, rounded
  clear BITS       clear the lowest BITS bits of every 24-bit sample (truncation)
  clearbit BIT     clear word bit BIT in every word
  setbit BIT       set word bit BIT in every word
  mute F N         clear the audio bits (4-27) of N frames from frame F (a gap)
  code F C CODE    give channel C (from 1) of frame F the preamble code CODE
  badparity F C    give channel C (from 1) of frame F the wrong parity bit
  pause F          write an IEC 61937 pause burst (data type 3) at frame F
  swap16           swap the two bytes of the 16-bit value (bits 12-27) of every
                   word outside the burst preambles (a packer's byte-order bug)

Every word that is changed gets its parity bit (31) set right again, but
for badparity.
"""
import array
import sys


def parity(word):
    word &= 0x7FFFFFFF
    return word | ((bin(word & 0xFFFFFFF0).count("1") & 1) << 31)


def edit_words(words, indexes, change):
    for i in indexes:
        words[i] = parity(change(words[i]))


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


def to_words(data, channels):
    """The whole frames of a capture, as one flat array of words."""
    words = array.array("I")
    words.frombytes(data[: len(data) // (4 * channels) * 4 * channels])
    if sys.byteorder == "big":
        words.byteswap()
    return words


def edit(channels, ops, data):
    ops = list(ops)
    words = to_words(data, channels)
    c = channels
    leading = 0
    while ops:
        op = ops.pop(0)
        if op == "silence":
            words = array.array("I", bytes(4 * c * int(ops.pop(0)))) + words
        elif op == "zeros":
            leading += int(ops.pop(0))
        elif op == "skip":
            words = words[int(ops.pop(0)) * c :]
        elif op == "drop":
            first, count = int(ops.pop(0)), int(ops.pop(0))
            words = words[: first * c] + words[(first + count) * c :]
        elif op == "repeat":
            first, count = int(ops.pop(0)), int(ops.pop(0))
            words = words[: (first + count) * c] + words[first * c : (first + count) * c] + words[(first + count) * c :]
        elif op == "insert":
            at, path, first, count = int(ops.pop(0)), ops.pop(0), int(ops.pop(0)), int(ops.pop(0))
            with open(path, "rb") as other:
                inserted = to_words(other.read(), c)[first * c : (first + count) * c]
            words = words[: at * c] + inserted + words[at * c :]
        elif op == "truncate":
            words = words[: int(ops.pop(0)) * c]
        elif op == "cutword":
            words = words[1:]
        elif op in ("slip", "lose"):
            at = int(ops.pop(0)) * c + int(ops.pop(0)) - 1
            words = words[:at] + (array.array("I", [0]) if op == "slip" else array.array("I")) + words[at + (op == "lose"):]
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
        elif op == "clearbit":
            bit = 1 << int(ops.pop(0))
            edit_words(words, range(len(words)), lambda w: w & ~bit)
        elif op == "setbit":
            bit = 1 << int(ops.pop(0))
            edit_words(words, range(len(words)), lambda w: w | bit)
        elif op == "mute":
            first, count = int(ops.pop(0)), int(ops.pop(0))
            edit_words(words, range(first * c, min(len(words), (first + count) * c)), lambda w: w & 0x7000000F)
        elif op == "code":
            frame, channel, code = int(ops.pop(0)), int(ops.pop(0)) - 1, int(ops.pop(0), 0)
            words[frame * c + channel] = (words[frame * c + channel] & ~0xF & 0xFFFFFFFF) | code
        elif op == "badparity":
            frame, channel = int(ops.pop(0)), int(ops.pop(0)) - 1
            words[frame * c + channel] = parity(words[frame * c + channel]) ^ (1 << 31)
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
        else:
            raise SystemExit("editcap: unknown operation " + op)
    words = array.array("I", bytes(4 * leading)) + words
    if sys.byteorder == "big":
        words.byteswap()
    return words.tobytes()


if __name__ == "__main__":
    sys.stdout.buffer.write(edit(int(sys.argv[1]), sys.argv[2:], sys.stdin.buffer.read()))
