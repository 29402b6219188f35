#!/usr/bin/env bats
# framedig --analyze watching a device: a capture arrives through a fifo
# that stays open, as from `arecord ... | framedig --analyze -i /dev/stdin`,
# and the user ends it with Ctrl-C (SIGINT) or SIGTERM. The report covers
# what was read, and the exit status is the usual one. Other operations
# keep the default action. tests/support/live-signal.py plays the device.

bats_require_minimum_version 1.5.0

setup_file() {
    cd "$BATS_FILE_TMPDIR"
    sox -D -n -r 48000 -c 2 -b 16 tone.wav synth 0.5 sine 1000 vol 0.5
    "$IEC958_ENCODE" tone.iec '0x04 0x82 0x00 0x02 0x02' tone.wav
    # A parity error and two odd bytes at the end: a finding and a trailing part.
    python3 "$EDITCAP" 2 badparity 100 1 < tone.iec > faulty.iec
    printf 'ab' >> faulty.iec
}

setup() {
    cd "$BATS_FILE_TMPDIR"
    rm -f fifo report.*
}

live() { python3 "$SUPPORT/live-signal.py" "$@"; }

@test "SIGINT or SIGTERM ends the reading of a pipe; the report covers what was read" {
    while IFS='|' read -r signal capture options want check; do
        rm -f fifo report.json
        run live "$signal" "$capture" fifo -- $EMULATOR "$FRAMEDIG" --analyze --json $options -i fifo -o report.json
        [ "$output" = "$want" ] || { echo "$signal $capture: ended with $output, wanted $want" >&2; return 1; }
        python3 - "$check" <<'PY' || { echo "$signal $capture: $(cat report.json)" >&2; return 1; }
import json, sys
d = json.load(open("report.json"))
assert d["interrupted"] is True
assert eval(sys.argv[1]), sys.argv[1]
PY
    done <<'ROWS'
INT|tone.iec||0|d["frames"] == 24000 and d["blocks"] == 125 and d["findings"] == [] and d["signal"][0]["tone_hz"] == 1000.0
TERM|tone.iec||0|d["frames"] == 24000 and d["blocks"] == 125
INT|faulty.iec||1|d["frames"] == 24000 and d["parity_errors"] == [1, 0] and d["trailing_bytes"] == 2
INT|tone.iec|-c 2|0|d["frames"] == 24000 and not d["channels_detected"]
ROWS
}

@test "the text report says the reading was stopped" {
    run live INT tone.iec fifo -- $EMULATOR "$FRAMEDIG" --analyze -i fifo -o report.txt
    [ "$output" = 0 ]
    grep -qx '  reading       stopped by a signal: the report covers what was read' report.txt
    grep -qx '  frames        24000' report.txt
}

@test "other operations keep the default action of SIGINT and SIGTERM" {
    run live INT tone.iec fifo -- $EMULATOR "$FRAMEDIG" -v -c 2 -i fifo -o report.txt
    [ "$output" = "signal 2" ]
    rm -f fifo
    run live TERM tone.iec fifo -- $EMULATOR "$FRAMEDIG" -b 24 -i fifo -o report.pcm
    [ "$output" = "signal 15" ]
}
