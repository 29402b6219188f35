#!/usr/bin/env bats
# framedig --analyze on captures as real hardware delivers them: captures
# made by alsa-lib's iec958 plugin from sox audio (tests/support/
# iec958-encode.sh), edited word by word (tests/support/editcap.py) for the
# faults of a real audio path. Every row below is one such fault.

bats_require_minimum_version 1.5.0

load analyze-table

# Status bytes 0-4: consumer, linear PCM; category; source and channel;
# rate and clock; word length (and original rate in the high half).
pcm48k16='0x04 0x82 0x00 0x02 0x02'

setup_file() {
    cd "$BATS_FILE_TMPDIR"
    # 24000 frames: whole blocks, and whole periods of aplay's writes.
    sox -D -n -r 48000 -c 2 -b 16 tone.wav synth 0.5 sine 1000 vol 0.5
    "$IEC958_ENCODE" tone.iec "$pcm48k16" tone.wav
    # The same audio at 24 bits, taken as the top of 32-bit samples.
    sox -D -n -r 48000 -c 2 -b 24 tone24.wav synth 0.5 sine 440 vol 0.5
    sox tone24.wav -b 32 -e signed-integer -t raw tone24.s32
    "$IEC958_ENCODE" tone24.iec '0x04 0x82 0x00 0x02 0x0b' -t raw -f S32_LE -r 48000 -c 2 tone24.s32
    # A status that a change touches in nearly every field: 44.1 kHz,
    # 16 bits, laser-optical, then 96 kHz, 24 bits, broadcast, no copying.
    sox -D -n -r 44100 -c 2 -b 16 cd.wav synth 0.25 sine 1000 vol 0.5
    "$IEC958_ENCODE" cd.iec '0x04 0x01 0x00 0x00 0xf2 0x00' cd.wav
    sox -D -n -r 96000 -c 2 -b 24 hd.wav synth 0.25 sine 1000 vol 0.5
    sox hd.wav -b 32 -e signed-integer -t raw hd.s32
    "$IEC958_ENCODE" hd.iec '0x00 0x0e 0x00 0x1a 0x5b 0x03' -t raw -f S32_LE -r 96000 -c 2 hd.s32
    "$IEC958_ENCODE" rate384.iec '0x04 0x82 0x00 0x05 0x02' tone.wav
    "$IEC958_ENCODE" cgms.iec '0x04 0x82 0x00 0x02 0x02 0x01' tone.wav
    # Professional 48 kHz, 16 bits, with its CRCC in byte 23.
    crc=$(python3 -c '
b = [0x45, 0, 0x30] + [0] * 20
c = 0xFF
for x in b:
    c ^= x
    for _ in range(8):
        c = (c >> 1) ^ 0xB8 if c & 1 else c >> 1
print(" ".join("0x%02x" % x for x in b + [c]))')
    "$IEC958_ENCODE" pro.iec "$crc" tone.wav
    # Four seconds of music: longer than the window the codes are detected in.
    sox -D -n -r 48000 -c 2 -b 16 pluck.wav synth 4 pluck C4 pluck E4
    "$IEC958_ENCODE" pluck.iec "$pcm48k16" pluck.wav
}

setup() {
    cd "$BATS_FILE_TMPDIR"
}

edit() { python3 "$EDITCAP" 2 "$@"; }
# slip WORD FILE [lost]: the capture with a zero word slipped in before word
# WORD (a receiver's glitch), or with that word lost.
slip() {
    python3 -c 'import sys; d = open(sys.argv[2], "rb").read(); k = 4 * int(sys.argv[1])
sys.stdout.buffer.write(d[:k] + (d[k + 4:] if len(sys.argv) > 3 else bytes(4) + d[k:]))' "$@"
}

@test "faults of real captures: found where they are, and nothing made up" {
    analyze_table <<'EOF'
clean capture, for comparison|cat tone.iec||0|d["channels"] == 2 and cs[0]["sample_rate_hz"] == 48000 and d["findings"] == []
40 zero words before the first|edit zeros 40 < tone.iec||0|d["channels"] == 2 and d["block_start"]["frame"] == 20 and cs[0]["sample_rate_hz"] == 48000 and cs[0]["word_length_bits"] == 16 and d["findings"] == []
40 zero words before the first, -c 2|edit zeros 40 < tone.iec|-c 2|0|cs[0]["sample_rate_hz"] == 48000 and cs[0]["word_length_bits"] == 16 and d["findings"] == []
1001 zero words, the frame cut|edit zeros 1001 < tone.iec||0|d["block_start"]["frame"] == 501 and d["leading_words"] == 1 and d["findings"] == []
two glitched preamble codes|edit code 1000 1 0xf code 3000 2 0xf < tone.iec||0|d["channels"] == 2 and d["blocks"] == 125 and d["findings"] == []
one block start in a short capture|edit skip 100 truncate 284 < tone.iec||0|d["channels"] == 2 and d["blocks"] == 1 and d["block_start"]["frame"] == 92 and cs[0]["sample_rate_hz"] == 48000
frames repeated inside a block|edit repeat 4 6 < tone.iec||1|d["findings"] == ["block structure broken at frame 192"] and d["status_changes"] == [] and d["blocks"] == 124
frames repeated in a professional block|edit repeat 4 6 < pro.iec||1|d["findings"] == ["block structure broken at frame 192"] and d["crc_errors"] == [0, 0] and cs[0]["crc_ok"]
a dropped frame|edit drop 500 1 < tone.iec||1|d["findings"] == ["block structure broken at frame 575"] and d["status_changes"] == []
a zero word slipped in: found where it is, the blocks found again after it|slip 1001 tone.iec||1|d["channels"] == 2 and d["findings"] == ["block structure broken at frame 500"] and d["status_changes"] == [] and d["blocks"] == 124
a word lost: found where it is|slip 1001 tone.iec lost||1|d["findings"] == ["block structure broken at frame 500"] and d["status_changes"] == []
a zero word slipped in early in a long capture: the channels still detected|slip 20001 pluck.iec||1|d["channels"] == 2 and d["channels_detected"] and d["block_start"]["found_by"] == "preamble" and d["findings"] == ["block structure broken at frame 10000"] and d["status_changes"] == []
a stray block-start code, the blocks in place: one finding|edit code 1000 1 8 < tone.iec||1|d["findings"] == ["block structure broken at frame 1000"] and d["blocks"] == 125
the first block a second in: the report keeps to 80 columns|edit silence 48000 < tone.iec||0|d["block_start"]["frame"] == 48000 and d["findings"] == [] and "  first block   frame 48000\n" in text
a word cut at the front|edit skip 100 flip 20 2 28 badparity 30 1 < tone.iec > edited; tail -c +5 edited||1|d["leading_words"] == 1 and d["invalid_frames"] == [0, 1] and d["parity_errors"] == [1, 0] and d["first_parity_error"] == {"frame": 30, "channel": 1}
word length from 16 to 24 bits|cat tone.iec tone24.iec||1|d["findings"] == ["block 125, channel %d: maximum word length 20 bits -> 24 bits, word length 16 bits -> 24 bits" % c for c in (1, 2)]
a change in nearly every field, whole|cat cd.iec hd.iec||1|any(len(x) > 160 and x.endswith("original sampling frequency 44.1 kHz -> 96 kHz, CGMS-A copying permitted -> no copying") for x in d["findings"])
384 kHz in the rate code|cat rate384.iec||0|cs[0]["sample_rate_hz"] == 384000 and cs[0]["fields"]["sampling frequency"] == "384 kHz" and "384 kHz" in text
CGMS-A one generation|cat cgms.iec||0|cs[0]["fields"]["CGMS-A"] == "one generation only"
-c that the codes contradict|cat tone.iec|-c 3|1|d["findings"] == ["the preamble codes show 2 channels, but -c gives 3"] and d["status_changes"] == [] and d["frames"] == 16000 and cs[0]["bytes"] is None
-c that the codes contradict, with faults too|edit badparity 40 1 < tone.iec|-c 3|1|d["findings"][0] == "the preamble codes show 2 channels, but -c gives 3" and len(d["findings"]) == 2
an empty capture, -c 2|true|-c 2|1|d["findings"] == ["the capture holds no whole block"] and d["words"] == 0
three bytes, -c 2|printf abc|-c 2|1|d["findings"] == ["the capture holds no whole block"] and d["trailing_bytes"] == 3
an empty capture|true||1|d["findings"] == ["the capture holds no whole block"] and d["channels"] is None
zero words, -c 2|head -c 400000 /dev/zero|-c 2|1|d["findings"] == ["the capture holds only zero words: nothing was received"] and cs[0]["bytes"] is None and d["nothing_received"]
zero words|head -c 400000 /dev/zero||1|d["findings"] == ["the capture holds only zero words: nothing was received"] and d["words"] == 100000 and d["channels"] is None
EOF
}

@test "the text report wraps a long finding and says why the status is unknown" {
    cat cd.iec hd.iec > cap
    run $EMULATOR "$FRAMEDIG" --analyze -i cap -o report.txt
    [ "$status" -eq 1 ]
    grep -qx '  block 86, channel 1: copyright not asserted -> asserted, category' report.txt
    grep -qx '    laser-optical/CD -> broadcast, sampling frequency 44.1 kHz -> 96 kHz, clock' report.txt
    $EMULATOR "$FRAMEDIG" --analyze -c 3 -i tone.iec -o made-up.txt > /dev/null || true
    grep -qx '  format        unknown: -c contradicts the preamble codes' made-up.txt
    head -c 4000 /dev/zero > zeros
    $EMULATOR "$FRAMEDIG" --analyze -i zeros -o zeros.txt > /dev/null || true
    grep -qx '  channels      unknown (nothing to detect them from)' zeros.txt
}
