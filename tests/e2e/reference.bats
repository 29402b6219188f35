#!/usr/bin/env bats
# End-to-end tests of framedig --reference: captures made by alsa-lib's iec958
# plugin from WAV files that sox wrote (tests/fixtures), then edited word by
# word as a faulty audio path would (tests/support/editcap.py). The JSON
# report is read by Python's parser.
# FRAMEDIG, MKSTREAM, FIXTURES and EDITCAP name the parts; EMULATOR, if set, runs
# the programs.

bats_require_minimum_version 1.5.0

setup() {
    cd "$BATS_TEST_TMPDIR"
}

fd() { $EMULATOR "$FRAMEDIG" "$@"; }

# A 32-bit reference with the 24-bit fixture's samples in its top bits.
make_32bit_wav() {
    python3 - "$FIXTURES/stereo-24bit.wav" ref32.wav <<'PY'
import struct, sys, wave
data = open(sys.argv[1], "rb").read()
pcm = data[data.index(b"data") + 8:]
samples = [pcm[i:i + 3] for i in range(0, len(pcm) - 2, 3)]
out = wave.open(sys.argv[2], "wb")
out.setnchannels(2); out.setsampwidth(4); out.setframerate(48000)
out.writeframes(b"".join(b"\x00" + s for s in samples))
PY
}

# Each row: a name, the capture fixture, the edits, the reference, the exit
# status and a Python expression over the report d (f: findings joined by "|").
@test "comparison with the reference: alignment, drops, repeats, differences, the end" {
    make_32bit_wav
    while IFS='|' read -r name capture edits reference want check; do
        python3 "$EDITCAP" 2 $edits < "$FIXTURES/$capture.iec" > cap
        ref=$reference
        [ -e "$ref" ] || ref=$FIXTURES/$reference
        code=0
        fd --reference "$ref" --json -i cap -o report.json > /dev/null || code=$?
        fd --reference="$ref" -i cap -o report.txt > /dev/null || true
        python3 - "$check" <<'PY' || { echo "$name: $(cat report.json)" >&2; return 1; }
import json, sys
d = json.load(open("report.json"))
f = "|".join(d["findings"])
assert eval(sys.argv[1]), sys.argv[1]
assert d["reference"]["kind"] == "pcm"
assert d["bit_exact"] == (d["findings"] == [])
text = open("report.txt").read().splitlines()
assert text[0].startswith("bit-exact: " if d["bit_exact"] else "not bit-exact: "), text[0]
assert all(len(line.encode()) <= 80 for line in text), "text report wider than 80 columns"
PY
        [ "$code" -eq "$want" ] || { echo "$name: exit $code, wanted $want" >&2; return 1; }
    done <<'EOF'
16-bit, bit-exact|stereo-48k||stereo-48k.wav|0|d["reference"]["channels"] == 2 and d["reference"]["bits"] == 16 and d["reference"]["frames"] == 2400 and d["offset_frames"] == 0 and d["compared_frames"] == 2400 and d["missing_frames"] == 0 and d["first_mismatch"] is None
24-bit extensible, bit-exact|stereo-24bit||stereo-24bit.wav|0|d["reference"]["bits"] == 24 and d["compared_bits"] == 24 and d["compared_frames"] == 2400
32-bit compared by its top 24 bits|stereo-24bit||ref32.wav|0|d["reference"]["bits"] == 32 and d["compared_bits"] == 24 and d["bit_exact"]
leading silence|stereo-48k|silence 1536|stereo-48k.wav|0|d["offset_frames"] == 1536 and d["compared_frames"] == 2400
late start|stereo-48k|skip 100|stereo-48k.wav|1|d["offset_frames"] == -100 and d["missing_frames"] == 100 and d["compared_frames"] == 2300 and "the capture began 100 frames after the reference started" in f
a zero word slipped in: one frame differs, the channels stay in place|stereo-48k|slip 1000 2|stereo-48k.wav|1|d["mismatched_frames"] == 1 and d["first_mismatch"] == {"frame": 1000, "channel": 2, "expected": 16423, "got": 0} and d["diagnosis"] == []
a word lost: a frame differs and one is dropped, the channels stay in place|stereo-48k|lose 1000 2|stereo-48k.wav|1|d["first_mismatch"]["frame"] == 1000 and d["mismatched_frames"] <= 16 and d["missing_frames"] == 1 and d["diagnosis"] == []
a zero word slipped in before a frame: nothing lost|stereo-48k|slip 1000 1|stereo-48k.wav|0|d["bit_exact"] and d["compared_frames"] == 2400
dropped frames|stereo-48k|drop 1000 192|stereo-48k.wav|1|d["dropped"] == [{"frame": 1000, "count": 192}] and d["missing_frames"] == 192 and d["mismatched_frames"] == 0 and "192 frames dropped at capture frame 1000" in f
repeated frames|stereo-24bit|repeat 1000 64|stereo-24bit.wav|1|d["repeated"] == [{"frame": 1064, "count": 64}] and d["missing_frames"] == 0 and d["mismatched_frames"] == 0
drop and repeat|stereo-48k|drop 300 5 repeat 1500 7|stereo-48k.wav|1|d["dropped"] == [{"frame": 300, "count": 5}] and d["repeated"] == [{"frame": 1507, "count": 7}]
one flipped sample|stereo-48k|flip 500 2 20|stereo-48k.wav|1|d["mismatched_frames"] == 1 and d["first_mismatch"]["frame"] == 500 and d["first_mismatch"]["channel"] == 2 and abs(d["first_mismatch"]["got"] - d["first_mismatch"]["expected"]) == 256 and d["largest_difference"] == 256 and d["constant_gain_db"] is None
gain of -6 dB|stereo-48k|gain -6|stereo-48k.wav|1|abs(d["constant_gain_db"] + 6) < 0.05 and d["low_bits_set"] and d["mismatched_frames"] > 2000 and d["dropped"] == []
short capture|stereo-48k|truncate 2000|stereo-48k.wav|1|d["missing_frames"] == 400 and "the capture ends 400 frames before the reference does" in f
bitstream, not the reference|ac3-nonaudio||stereo-48k.wav|1|d["offset_frames"] is None and d["capture_non_audio"] and "no alignment found: the capture holds non-zero audio, but not the reference's; its channel status says non-audio" in f
silence only|stereo-48k|truncate 0 silence 3000|stereo-48k.wav|1|d["offset_frames"] is None and d["missing_frames"] == 2400 and "no non-zero audio" in f
cut mid-frame after words of zeros|stereo-48k|cutword silence 1000|stereo-48k.wav|0|d["offset_frames"] == 999 and d["compared_frames"] == 2400
EOF
}

@test "references that cannot be used get one line, also with --json" {
    wav=$FIXTURES/stereo-48k.wav
    python3 - "$wav" <<'PY'
import struct, sys
good = open(sys.argv[1], "rb").read()
def fmt(tag, bits, channels=2):
    body = struct.pack("<HHIIHH", tag, channels, 48000, 48000 * channels * bits // 8, channels * bits // 8, bits)
    return b"fmt " + struct.pack("<I", len(body)) + body
def riff(*chunks):
    body = b"WAVE" + b"".join(chunks)
    return b"RIFF" + struct.pack("<I", len(body)) + body
data = b"data" + struct.pack("<I", 8) + bytes(8)
files = {
    "float.wav": riff(fmt(3, 32), data),
    "8bit.wav": riff(fmt(1, 8), data),
    "alaw.wav": riff(fmt(6, 8), data),
    "truncated.wav": good[:30],
    "pastend.wav": good[:40] + struct.pack("<I", 10 ** 6) + good[44:],
    "text.wav": b"this is not audio at all\n",
    "avi.wav": b"RIFF" + struct.pack("<I", 20) + b"AVI LIST" + bytes(12),
    "nothing.wav": b"",
    "nodata.wav": riff(fmt(1, 16)),
    "empty.wav": riff(fmt(1, 16), b"data" + struct.pack("<I", 0)),
    "halfframe.wav": riff(fmt(1, 16), b"data" + struct.pack("<I", 2) + bytes(2)),
    "mono.wav": riff(fmt(1, 16, 1), data),
    # An odd-sized LIST chunk with its pad byte before fmt: a good reference.
    "list.wav": riff(b"LIST" + struct.pack("<I", 5) + b"INFO!" + b"\0", good[12:]),
}
for name, content in files.items():
    open(name, "wb").write(content)
PY
    cp "$FIXTURES/stereo-48k.iec" cap
    while IFS='|' read -r args want expected; do
        run --separate-stderr fd $args -i cap -o out
        [ "$status" -eq "$want" ] && [ "$output" = "$(printf 'input file is cap\noutput file is out\n%b' "$expected")" ] ||
            { printf 'framedig %s: status %s\n%s\n' "$args" "$status" "$output" >&2; return 1; }
    done <<'EOF'
--reference missing.wav|1|Open reference file error, please check.
--reference text.wav --json|1|Reference file error: neither a PCM WAV file nor a known bitstream.
--reference nothing.wav|1|Reference file error: neither a PCM WAV file nor a known bitstream.
--reference avi.wav|1|Reference file error: not a RIFF/WAVE file.
--reference float.wav|1|Reference file error: floating-point samples; integer PCM of 16, 24 or 32 bits is needed.
--reference 8bit.wav|1|Reference file error: 8-bit samples; integer PCM of 16, 24 or 32 bits is needed.
--reference alaw.wav --json|1|Reference file error: A-law samples; integer PCM of 16, 24 or 32 bits is needed.
--reference truncated.wav|1|Reference file error: truncated header: a chunk runs past the end of the file.
--reference pastend.wav|1|Reference file error: data chunk size runs past the end of the file.
--reference nodata.wav|1|Reference file error: no data chunk.
--reference empty.wav|1|Reference file error: the data chunk holds no frames.
--reference halfframe.wav --json|1|Reference file error: the data chunk holds no frames.
--reference mono.wav|1|Error: the capture has 2 channels, but the reference has 1 channels.
--reference mono.wav -c 2|1|Error: channel number(-c) is 2, but the reference has 1 channels.
--reference list.wav -c 3|1|Error: channel number(-c) is 3, but the reference has 2 channels.
--reference list.wav -c 2 -b 7|0|
EOF
    grep -q '^bit-exact: 2400 frames at offset 0$' out
}

# A writer that cannot seek back leaves 0xFFFFFFFF for the sizes; files of
# more than 4 GiB are RF64 (or BW64) with the sizes in a ds64 chunk.
@test "references written while streaming, and RF64 and BW64 files" {
    wav=$FIXTURES/stereo-48k.wav
    ffmpeg -hide_banner -loglevel error -i "$wav" -c:a pcm_s16le -f wav - | cat > streamed.wav
    ffmpeg -hide_banner -loglevel error -i "$wav" -c:a pcm_s16le -rf64 always -y rf64.wav
    python3 - <<'PY'
data = bytearray(open("rf64.wav", "rb").read())
assert data[:4] == b"RF64" and data[12:16] == b"ds64"
data[:4] = b"BW64"
open("bw64.wav", "wb").write(data)
data = open("streamed.wav", "rb").read()
assert data[4:8] == b"\xff" * 4 and data.find(b"data\xff\xff\xff\xff") > 0
PY
    for ref in streamed.wav rf64.wav bw64.wav /dev/stdin; do
        run --separate-stderr fd --reference "$ref" --json -i "$FIXTURES/stereo-48k.iec" -o report.json < streamed.wav
        [ "$status" -eq 0 ] || { echo "$ref: status $status: $output" >&2; return 1; }
        python3 -c 'import json; d = json.load(open("report.json")); assert d["bit_exact"] and d["reference"]["frames"] == 2400, d'
    done
    ffmpeg -hide_banner -loglevel error -i "$wav" -c:a pcm_s16le -f wav - |
        fd --reference /dev/stdin -i "$FIXTURES/stereo-48k.iec" -o report.txt > /dev/null
    grep -qx 'bit-exact: 2400 frames at offset 0' report.txt
}

# The reference is opened and checked before the output is created, and
# the output must not be the reference under any spelling or link.
@test "-o naming the reference, or a reference that cannot be used, leaves every file as it was" {
    cp "$FIXTURES/stereo-48k.wav" ref.wav
    ln -s ref.wav link.wav
    ln ref.wav hard.wav
    for out in ref.wav ./ref.wav "$PWD/ref.wav" link.wav hard.wav; do
        run --separate-stderr fd --reference ref.wav -i "$FIXTURES/stereo-48k.iec" -o "$out"
        [ "$status" -eq 1 ] && [ "${lines[2]}" = "Output and reference are the same file, please check." ] ||
            { echo "-o $out: status $status: $output" >&2; return 1; }
        cmp ref.wav "$FIXTURES/stereo-48k.wav"
    done
    echo keep > out.txt
    for ref in missing.wav "$FIXTURES/stereo-48k.iec"; do
        run --separate-stderr fd --reference "$ref" -i "$FIXTURES/stereo-48k.iec" -o out.txt
        [ "$status" -eq 1 ] && [ "$(cat out.txt)" = keep ] || { echo "$ref: status $status: $output" >&2; return 1; }
    done
}

# Paths are bytes: the JSON escapes those that are not UTF-8, and the text
# report wraps a long one within 80 columns.
@test "reports on a reference path of any bytes: valid JSON, 80 columns" {
    dir=$(printf 'd\xff\xfe-%s-\xc3\xa9-\xe2\x82' "$(printf 'x%.0s' $(seq 90))")
    mkdir "$dir"
    cp "$FIXTURES/stereo-48k.wav" "$dir/ref.wav"
    python3 "$EDITCAP" 2 flip 1000 1 26 < "$FIXTURES/stereo-48k.iec" > cap
    fd --reference "$dir/ref.wav" --json -i cap -o report.json > /dev/null || true
    fd --reference "$dir/ref.wav" -i cap -o report.txt > /dev/null || true
    python3 - "$dir" <<'PY'
import json, os, sys
raw = open("report.json", "rb").read()
path = json.loads(raw)["reference"]["path"]
# Bytes that are not part of valid UTF-8 come back as the characters U+0080 to U+00FF.
expected = os.fsencode(sys.argv[1]).decode("utf-8", "surrogateescape")
expected = "".join(chr(ord(c) - 0xDC00) if 0xDC80 <= ord(c) <= 0xDCFF else c for c in expected)
assert path == expected + "/ref.wav", (path, expected)
assert b"\\u00ff\\u00fe-" in raw and "é".encode() in raw, raw
text = open("report.txt", "rb").read().splitlines()
assert all(len(line) <= 80 for line in text), [len(line) for line in text]
assert "é".encode() in b"".join(text)
PY
}

# A capture that never aligns is not told how it ends; through a stage that
# swaps or inverts channels it is aligned and the stage is named.
@test "captures that never align exactly: no end findings, a diagnosis where there is one" {
    while IFS='|' read -r name effect check; do
        sox "$FIXTURES/stereo-48k.wav" through.wav $effect
        "$IEC958_ENCODE" cap '0x04 0x82 0x00 0x02' through.wav
        ! fd --reference "$FIXTURES/stereo-48k.wav" --json -i cap -o report.json > /dev/null
        python3 - "$check" <<'PY' || { echo "$name: $(cat report.json)" >&2; return 1; }
import json, sys
d = json.load(open("report.json"))
f = "|".join(d["findings"])
assert "ends" not in f and d["missing_after"] == 0, f
assert eval(sys.argv[1]), sys.argv[1]
PY
    done <<'EOF'
channels swapped|remix 2 1|d["diagnosis"] == [{"kind": "channel_map", "map": [2, 1]}]
right channel inverted|remix 1 2v-1|{"kind": "polarity", "channel": 2} in d["diagnosis"]
resampled|rate 44100|d["diagnosis"] == [{"kind": "unrelated"}] and d["offset_frames"] is None
EOF
}

@test "--reference on the command line" {
    while IFS='|' read -r args expected; do
        run --separate-stderr fd $args
        [ "$status" -eq 1 ] && [ "$output" = "$(printf '%b' "$expected")" ] ||
            { printf 'framedig %s: status %s\n%s\n' "$args" "$status" "$output" >&2; return 1; }
    done <<'EOF'
--reference r.wav -s|Error: reference(--reference) and status(-s) can not be set together.
-v --ref=r.wav|Error: reference(--reference) and validity(-v) can not be set together.
--analyze --reference r.wav|Error: reference(--reference) and analyze(--analyze) can not be set together.
--reference|Unsurported args: --reference.
EOF
}

# Six seconds, longer than the window the codes are detected in; a receiver's
# glitch slips a word in early, in the silence before the music or in it.
@test "a word slipped in early in a long capture: the channels stay where they are" {
    sox -n -D -b 16 -r 48000 -c 2 pluck.wav synth 4 pluck C4 pluck E4 pad 1 1
    "$IEC958_ENCODE" pluck.iec '0x04 0x82 0x00 0x02' pluck.wav
    while IFS='|' read -r name edits want check; do
        python3 "$EDITCAP" 2 $edits < pluck.iec > cap
        code=0
        fd --reference pluck.wav --json -i cap -o report.json > /dev/null || code=$?
        python3 - "$check" <<'PY' || { echo "$name: $(cat report.json)" >&2; return 1; }
import json, sys
d = json.load(open("report.json"))
assert d["diagnosis"] == [] and d["offset_frames"] == 0, d["diagnosis"]
assert eval(sys.argv[1]), sys.argv[1]
PY
        [ "$code" -eq "$want" ] || { echo "$name: exit $code, wanted $want" >&2; return 1; }
    done <<'EOF'
in the silence: every sample still in place|slip 5000 2|0|d["bit_exact"] and d["compared_frames"] == 288000
in the music: the one sample it took the place of|slip 100000 2|1|d["mismatched_frames"] == 1 and d["first_mismatch"]["frame"] == 100000 and d["first_mismatch"]["channel"] == 2
EOF
}

@test "long captures: frames past the ring and inside 16-frame runs are compared one by one" {
    mk() { $EMULATOR "$MKSTREAM" "$@"; }
    mk -R -c 2 -n 200000 > ref.wav
    mk -c 2 -n 200000 -D 150001-150003 > dropped
    fd --reference ref.wav --json -i dropped -o dropped.json > /dev/null || true
    python3 "$EDITCAP" 2 flip 131077 1 13 < <(mk -c 2 -n 200000) > flipped
    fd --reference ref.wav --json -i flipped -o flipped.json > /dev/null || true
    python3 - <<'PY'
import json
d = json.load(open("dropped.json"))
assert d["dropped"] == [{"frame": 150001, "count": 3}] and d["compared_frames"] == 199997, d
assert d["mismatched_frames"] == 0 and d["missing_frames"] == 3, d
f = json.load(open("flipped.json"))
assert f["mismatched_frames"] == 1 and f["first_mismatch"]["frame"] == 131077, f
assert f["first_mismatch"]["channel"] == 1 and f["compared_frames"] == 200000, f
PY
}
