#!/usr/bin/env bash
# Makes the sample pairs of the README with independent tools: sox writes the
# file that was played, aplay plays it through alsa-lib's iec958 PCM plugin
# into a file, as a capture card would record an S/PDIF output that carries
# it bit-exact (tests/support/iec958-encode.sh), and editcap.py gives a copy
# the faults of a path that is not bit-exact. Needs sox and alsa-utils.
# Run from anywhere; writes into this directory.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
support=$here/../tests/support

# Two seconds of plucked strings (C and G) between a quarter second of
# silence before and after, 16 bits at 48 kHz. -D: no dither, so the file
# is the same on every run.
sox -D -n -r 48000 -c 2 -b 16 "$here/played.wav" synth 1.5 pluck C3 pluck G3 pad 0.25 0.25 gain -3

# Consumer status, linear PCM, 48 kHz.
"$support/iec958-encode.sh" "$here/played.iec" '0x04 0x82 0x00 0x02' "$here/played.wav"

# The same capture from a path that dropped 100 frames (an overrun) one
# second in, and a word whose parity went wrong on the cable.
python3 "$support/editcap.py" 2 drop 48000 100 badparity 72000 2 < "$here/played.iec" > "$here/broken.iec"
chmod 644 "$here"/played.* "$here/broken.iec"
ls -l "$here"/played.* "$here/broken.iec"
