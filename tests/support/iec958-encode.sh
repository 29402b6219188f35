#!/usr/bin/env bash
# Plays audio through alsa-lib's iec958 PCM plugin into a file, as capture
# hardware would deliver it: one IEC958_SUBFRAME_LE word per subframe
# (preamble code, V, U, C from the status bytes, even parity).
#   iec958-encode.sh OUT 'STATUS BYTES' APLAY-ARGS...
# STATUS BYTES are the first channel status bytes, for example
# '0x04 0x82 0x00 0x02' (consumer, linear PCM, 48 kHz). APLAY-ARGS name the
# input: a WAV file, or -t raw -f FORMAT -r RATE -c CHANNELS FILE.
# Needs aplay (alsa-utils); no sound hardware is used.
set -euo pipefail
out=$1 status=$2
shift 2
conf=$(mktemp)
trap 'rm -f "$conf"' EXIT
case $out in /*) ;; *) out=$PWD/$out ;; esac
cat > "$conf" <<CONF
pcm.capture {
    type iec958
    slave {
        pcm { type file; slave.pcm { type null } file "$out" format "raw" }
        format IEC958_SUBFRAME_LE
    }
    status [ $status ]
}
CONF
rm -f "$out"
ALSA_CONFIG_PATH="$conf" aplay -q -D capture "$@"
chmod 644 "$out"
