#!/usr/bin/env bats
# End-to-end tests of framedig --analyze on captures made by independent
# encoders (tests/fixtures, see make-fixtures.sh) and on edge cases that
# only the generator can make. The JSON report is read by Python's parser.
# FRAMEDIG, MKSTREAM and FIXTURES name the parts; EMULATOR, if set, runs them.

bats_require_minimum_version 1.5.0

setup() {
    cd "$BATS_TEST_TMPDIR"
}

fd() { $EMULATOR "$FRAMEDIG" "$@"; }
mk() { $EMULATOR "$MKSTREAM" "$@"; }

# Each row: a name, the shell words that write ./cap, the extra framedig
# options, the exit status, and a Python expression over the report d (cs is
# d["channel_status"], f is the findings joined by "|").
@test "analysis of real and generated captures: JSON facts and exit status" {
    while IFS='|' read -r name make args want check; do
        eval "$make" > cap
        code=0
        fd --analyze --json $args -i cap -o report.json > /dev/null || code=$?
        fd --analyze $args -i cap -o report.txt > /dev/null || true
        python3 - "$check" <<'PY' || { echo "$name: $(cat report.json)" >&2; return 1; }
import json, sys
d = json.load(open("report.json"))
cs = d["channel_status"]
f = "|".join(d["findings"])
assert eval(sys.argv[1]), sys.argv[1]
assert (len(d["findings"]) == 0) == (d["finding_count"] == 0)
text = open("report.txt").read()
assert all(len(line) <= 80 for line in text.splitlines()), "text report wider than 80 columns"
PY
        [ "$code" -eq "$want" ] || { echo "$name: exit $code, wanted $want" >&2; return 1; }
        [ "$want" -eq 0 ] && grep -qx '  none' <(sed -n '/^Findings/,$p' report.txt) || [ "$want" -eq 1 ]
    done <<'EOF'
alsa stereo 48 kHz|cat "$FIXTURES/stereo-48k.iec"||0|d["channels"] == 2 and d["channels_detected"] and d["block_start"]["found_by"] == "preamble" and d["block_start"]["frame"] == 0 and cs[0]["bytes"].startswith("04820002") and not cs[0]["professional"] and cs[0]["linear_pcm"] and cs[0]["sample_rate_hz"] == 48000 and cs[0]["word_length_bits"] == 16 and cs[0]["crc_ok"] is None and d["parity_errors"] == [0, 0] and d["lowest_audio_bit"] == [12, 12] and d["bursts"]["count"] == 0
alsa stereo starting mid-block|tail -c +801 "$FIXTURES/stereo-48k.iec"||0|d["block_start"]["frame"] == 92 and d["frames"] == 5900 and d["blocks"] == (5900 - 92) // 192 and d["findings"] == []
alsa six channels|cat "$FIXTURES/six-channel.iec"||0|d["channels"] == 6 and len(cs) == 6 and d["invalid_frames"] == [0] * 6 and d["findings"] == []
six channels, -c given|cat "$FIXTURES/six-channel.iec"|-c 6|0|d["channels"] == 6 and not d["channels_detected"] and d["block_start"]["found_by"] == "preamble"
ffmpeg AC-3 labelled non-audio|cat "$FIXTURES/ac3-nonaudio.iec"||0|not cs[0]["linear_pcm"] and d["bursts"]["data_types"] == ["AC-3"] and d["bursts"]["spacing_frames"] == 1536 and d["bursts"]["count"] >= 3 and d["findings"] == []
ffmpeg AC-3 labelled linear PCM|cat "$FIXTURES/ac3-as-pcm.iec"||1|cs[0]["linear_pcm"] and d["bursts"]["count"] >= 3 and "IEC 61937 bursts in a stream whose channel status says linear PCM" in f
non-audio without bursts|mk -c 2 -n 800 -s 1=06 -s 2=06||1|"non-audio, but the stream carries no IEC 61937 bursts" in f
dropped frame resynchronises|mk -c 2 -n 1000 -D 300||1|d["findings"] == ["block structure broken at frame 383"] and d["blocks"] == 4 and d["frames"] == 999
many drops capped at 20 lines|mk -c 1 -n 8000 -D 100,400,700,1000,1300,1600,1900,2200,2500,2800,3100,3400,3700,4000,4300,4600,4900,5200,5500,5800,6100,6400,6700,7000,7300||1|d["finding_count"] == 25 and d["findings"][-1] == "... and 5 more" and len(d["findings"]) == 21
professional with a good CRCC|mk -c 2 -n 400 -K -s 1=3D02000002 -s 2=3D02000002||0|cs[0]["professional"] and cs[0]["crc_ok"] and cs[0]["bytes"].endswith("9b") and cs[0]["fields"]["emphasis"] == "CCITT J.17" and d["crc_errors"] == [0, 0]
professional with a wrong CRCC|mk -c 2 -n 400 -s 1=8502000002 -s 2=8502000002||1|cs[0]["sample_rate_hz"] == 48000 and cs[1]["crc_ok"] is False and d["crc_errors"] == [2, 2] and "channel 2: channel status CRCC wrong in 2 blocks" in f
status change in block 2|mk -c 2 -n 800 -b 16 -s 1=0400000202 -s 2=0400000202 -s 1@2=0400000002 -s 2@2=0400000002||1|d["status_changes"] == [{"block": 2, "channel": 1, "fields": ["sampling frequency"]}, {"block": 2, "channel": 2, "fields": ["sampling frequency"]}] and "block 2, channel 1: sampling frequency 48 kHz -> 44.1 kHz" in f
channel 2 differs in rate|mk -c 2 -n 400 -b 16 -s 1=0400000202 -s 2=0400000302||1|"channel 2 disagrees with channel 1 on sampling frequency" in f
channel 2 differs in channel number only|mk -c 2 -n 400 -b 16 -s 1=0400100202 -s 2=0400200202||0|d["findings"] == [] and cs[1]["fields"]["channel number"] == "2 (right)"
V bits in linear PCM|mk -c 2 -n 400 -V 2=10-19||1|d["invalid_frames"] == [0, 10] and "channel 2: 10 frames with V = 1 in linear PCM" in f
parity errors|mk -c 2 -n 400 -E 1=5-6 -E 2=300||1|d["parity_errors"] == [2, 1] and d["first_parity_error"] == {"frame": 5, "channel": 1}
parity not carried|mk -c 2 -n 400 -N -E 1=5||0|d["parity_errors"] is None and d["findings"] == []
no preamble codes, -c given|mk -c 2 -n 500 -Z|-c 2|0|d["block_start"] == {"found_by": "first word", "frame": 0, "block_code": None, "first_subframe_code": None, "preamble_channels": None} and d["blocks"] == 2
preamble codes for 6 channels, -c 2 given|cat "$FIXTURES/six-channel.iec"|-c 2|1|d["block_start"]["found_by"] == "first word" and d["block_start"]["preamble_channels"] == 6
bits below the status word length|mk -c 1 -n 400 -b 24 -a 1=1,-1 -s 1=0400000202||1|d["lowest_audio_bit"] == [4] and "channel 1: audio bit 4 is set, below the 16-bit word length of its status" in f
trailing word and byte|mk -c 2 -n 400; printf 'abcde'||0|d["frames"] == 400 and d["words"] == 801 and d["trailing_bytes"] == 5
shorter than a block, -c given|mk -c 2 -n 100|-c 2|1|d["blocks"] == 0 and cs[0]["bytes"] is None and d["findings"] == ["the capture holds no whole block"]
random bytes still give valid JSON|head -c 100000 /dev/urandom|-c 3|1|d["channels"] == 3
EOF
}

@test "--analyze on the command line" {
    mk -c 2 -n 400 -Z > nocodes
    while IFS='|' read -r args want expected; do
        run --separate-stderr fd $args
        [ "$status" -eq "$want" ] && [ "$output" = "$(printf '%b' "$expected")" ] ||
            { printf 'framedig %s: status %s\n%s\n' "$args" "$status" "$output" >&2; return 1; }
    done <<'EOF'
--analyze -s|1|Error: analyze(--analyze) can not be set together with status(-s) or validity(-v).
-v -i a --an|1|input file is a\nError: analyze(--analyze) can not be set together with status(-s) or validity(-v).
--analyze -s -v|1|Error: analyze(--analyze) can not be set together with status(-s) or validity(-v).
--json -i nocodes -o out|1|input file is nocodes\noutput file is out\nError: --json needs --analyze or --reference.
--analyze -c 0 -i nocodes -o out|1|input file is nocodes\noutput file is out\nError: channel number(-c) must be at least 1 with -s or -v.
--analyze -i nocodes -o out|1|input file is nocodes\noutput file is out\nError: channel number(-c) could not be detected; please give -c.
--analyze -i missing -o out|1|input file is missing\noutput file is out\nOpen input file error, please check.
--analyze -i nocodes -o /dev/full -c 2|1|input file is nocodes\noutput file is /dev/full\nWrite output file error, please check.
--analyze -i nocodes -o nocodes|1|input file is nocodes\noutput file is nocodes\nInput and output are the same file, please check.
--an --js -b 99 -c 2 -i nocodes -o out|0|input file is nocodes\noutput file is out
EOF
    [ ! -e missing ]
    python3 -c 'import json; json.load(open("out"))'
    # The report also reads a pipe, behind a WAV header.
    mk -w -c 2 -n 600 | fd -w --analyze -i /dev/stdin -o piped.txt
    grep -q 'channels      2 (detected from the preambles)' piped.txt
}

@test "small stacks and huge channel counts do not crash the operations" {
    mk -c 2 -n 5000 > cap
    # The emulator of a cross build needs a stack of its own, so this runs natively only.
    if [ -z "$EMULATOR" ]; then
        (ulimit -s 1024; fd -b 24 -i cap -o out.pcm > /dev/null)
        [ "$(stat -c %s out.pcm)" -eq 40000 ]
        (ulimit -s 1024; fd --analyze -i cap -o out.txt > /dev/null)
        grep -q '^  blocks        26 whole$' out.txt
    fi
    # A channel count near the 32-bit limit: one partial frame, nothing reported.
    run fd -v -c 2147483647 -i cap -o out.txt
    [ "$status" -eq 0 ] && [ ! -s out.txt ]
}
