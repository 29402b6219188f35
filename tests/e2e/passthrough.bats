#!/usr/bin/env bats
# End-to-end tests of framedig --reference with compressed references: the
# streams ffmpeg encoded (tests/fixtures/pluck*), wrapped by ffmpeg's spdif
# muxer and played through alsa-lib's iec958 plugin in the test run
# (tests/support/iec958-encode.sh), at the rate each type needs; faults are
# edits of those captures (tests/support/editcap.py). The JSON report is read
# by Python's parser. FRAMEDIG, FIXTURES, EDITCAP, ENCODE and REPACK name the
# parts; EMULATOR, if set, runs framedig.

bats_require_minimum_version 1.5.0

fd() { $EMULATOR "$FRAMEDIG" "$@"; }

load bitstream-captures

setup_file() {
    cd "$BATS_FILE_TMPDIR"
    make_bitstream_captures
    spdif mp3 pluck-mono.mp3 && play mp3 "$na441" 44100 2
    # A second of silence before the music: the encoders' frames for it are
    # byte-identical, AC-3 at a 48 kHz link and E-AC-3 at 192 kHz.
    sox -n -D -b 16 -r 48000 -c 2 lead.wav synth 1 pluck C4 pluck E4 pad 1 0
    for codec in ac3 eac3; do
        ffmpeg -hide_banner -loglevel error -y -i lead.wav -c:a $codec lead.$codec
        ffmpeg -hide_banner -loglevel error -y -i lead.$codec -c copy -f spdif lead-$codec.spdif
    done
    play lead-ac3 "$na48" 48000 2
    play lead-eac3 "$na192" 192000 2
    python3 "$EDITCAP" 2 mute 0 3072 < lead-ac3.iec > quiet.iec
}

setup() {
    cd "$BATS_TEST_TMPDIR"
}

# Each row: a name, the capture (made by the setup, or a fixture) and its
# channels, the edits (@setup/ and @fixtures/ name those folders), the
# reference (a fixture, or a file of the setup), the exit status, and a
# Python expression over the report d (p: d["passthrough"], m: p["missing"],
# f: the findings joined by "|", r: d["reference"]).
@test "passthrough of each codec, and each fault of the path" {
    n=0
    while IFS='|' read -r name capture channels edits reference want check; do
        n=$((n + 1))
        source=$BATS_FILE_TMPDIR/$capture.iec
        [ -e "$source" ] || source=$FIXTURES/$capture.iec
        edits=${edits//@setup\//$BATS_FILE_TMPDIR/}
        if [ -n "$edits" ]; then
            python3 "$EDITCAP" "$channels" ${edits//@fixtures\//$FIXTURES/} < "$source" > cap
        else
            cp "$source" cap
        fi
        ref=$FIXTURES/$reference
        [ -e "$ref" ] || ref=$BATS_FILE_TMPDIR/$reference
        code=0
        fd --reference "$ref" --json -i cap -o $n.json > /dev/null || code=$?
        fd --reference "$ref" -i cap -o $n.txt > /dev/null || true
        printf '%s|%s|%s|%s|%s\n' "$n" "$name" "$want" "$code" "$check" >> cases
    done <<'EOF'
AC-3 5.1, bit-exact|ac3|2||pluck-51.ac3|0|r["codec"] == "AC-3" and r["codec_frames"] == 32 and p["matched"] == 32 and d["offset_frames"] == 0 and m == {"before": 0, "within": 0, "after": 0} and d["data_bursts"] == 32
E-AC-3 at a 192 kHz link, bit-exact|eac3|2||pluck-51.eac3|0|r["codec"] == "E-AC-3" and p["matched"] == r["codec_frames"] == 32
DTS, bit-exact|dts|2||pluck.dts|0|r["codec"] == "DTS" and p["matched"] == r["codec_frames"]
DTS in DTS-HD bursts at 768 kHz (8 channels at 192 kHz), bit-exact|dtshd|8||pluck.dts|0|p["matched"] == r["codec_frames"] and d["channels"] == 8
TrueHD in MAT frames against ffmpeg's bursts, bit-exact|thd|8||thd.spdif|0|r["codec"] == "TrueHD" and r["container"] == "IEC 61937 bursts" and p["matched"] == r["codec_frames"] == 1176
TrueHD against the stream: ffmpeg's muxer keeps its last MAT frame back|thd|8||pluck.thd|1|r["codec_frames"] == 1200 and p["matched"] == 1176 and m["after"] == 24 and "the capture ends 24 TrueHD frames before the reference does" in f
MPEG-1 layer 2, bit-exact|mp2|2||pluck.mp2|0|r["codec"] == "MPEG-1 layer 2" and p["matched"] == r["codec_frames"] == 42
MPEG-1 layer 3 with ID3 and Xing frames in the file, bit-exact|mp3|2||pluck-mono.mp3|0|r["codec"] == "MPEG-1 layer 3" and p["matched"] == r["codec_frames"] == 40 and r["skipped_bytes"] > 0
AC-3 in 24-bit mode bursts, bit-exact|ac3-24|2||pluck-51.ac3|0|p["matched"] == 32
AC-3 in 20-bit mode bursts, bit-exact|ac3-20|2||pluck-51.ac3|0|p["matched"] == 32
leading silence before the stream|ac3|2|silence 5000|pluck-51.ac3|0|d["offset_frames"] == 5000 and p["matched"] == 32
the first burst never arrived|ac3|2|skip 1536|pluck-51.ac3|1|m["before"] == 1 and p["matched"] == 31 and p["first_problem"] == {"codec_frame": 0, "capture_frame": 0, "what": "missing"} and "the first 1 AC-3 frames never arrived (the first to arrive is codec frame 1)" in f
capture began inside the first burst|ac3|2|skip 1000|pluck-51.ac3|1|m["before"] == 1 and d["offset_frames"] == 536
dropped burst|ac3|2|drop 4608 1536|pluck-51.ac3|1|m == {"before": 0, "within": 1, "after": 0} and p["first_problem"] == {"codec_frame": 3, "capture_frame": 4608, "what": "missing"} and "1 AC-3 frames missing within the capture, the first is codec frame 3 (due at capture frame 4608)" in f
gap filled with zeros|ac3|2|mute 4608 1536|pluck-51.ac3|1|m["within"] == 1 and p["extra"] == 0 and p["matched"] == 31
gap filled with zeros: the frame was due where its burst was muted|ac3|2|mute 4608 1536|pluck-51.ac3|1|p["first_problem"] == {"codec_frame": 3, "capture_frame": 4608, "what": "missing"} and "the first is codec frame 3 (due at capture frame 4608)" in f
DTS: three bursts muted, due from the first|dts|2|mute 1024 1536|pluck.dts|1|m["within"] == 3 and p["first_problem"] == {"codec_frame": 2, "capture_frame": 1024, "what": "missing"}
identical lead-in frames: one corrupted is not taken for a lost first frame|lead-ac3|2|flip 30800 1 20|lead.ac3|1|p["corrupted"] == 1 and p["extra"] == 0 and m == {"before": 0, "within": 0, "after": 0} and p["first_problem"] == {"codec_frame": 20, "capture_frame": 30720, "what": "corrupted"}
identical lead-in frames: one dropped is missing within the capture|lead-ac3|2|drop 15360 1536|lead.ac3|1|m == {"before": 0, "within": 1, "after": 0} and p["extra"] == 0 and p["matched"] == r["codec_frames"] - 1 and p["first_problem"]["what"] == "missing"
identical lead-in frames: one muted is missing where its burst was due|lead-ac3|2|mute 15360 1536|lead.ac3|1|m == {"before": 0, "within": 1, "after": 0} and p["first_problem"] == {"codec_frame": 10, "capture_frame": 15360, "what": "missing"}
identical lead-in frames: a stall of zeros loses nothing|lead-ac3|2|insert 15360 @setup/quiet.iec 0 1536|lead.ac3|0|m == {"before": 0, "within": 0, "after": 0} and p["matched"] == r["codec_frames"]
E-AC-3: identical lead-in frames, one muted|lead-eac3|2|mute 61440 6144|lead.eac3|1|m == {"before": 0, "within": 1, "after": 0} and p["first_problem"] == {"codec_frame": 10, "capture_frame": 61440, "what": "missing"}
E-AC-3: identical lead-in frames, one corrupted|lead-eac3|2|flip 61500 1 20|lead.eac3|1|p["corrupted"] == 1 and p["extra"] == 0 and p["first_problem"]["codec_frame"] == 10
pause burst in the gap|ac3|2|mute 4608 1536 pause 4608|pluck-51.ac3|1|m["within"] == 1 and p["extra"] == 0 and d["data_bursts"] == 31
repeated burst|ac3|2|repeat 4608 1536|pluck-51.ac3|1|p["repeated"] == 1 and p["matched"] == 32 and p["first_problem"] == {"codec_frame": 3, "capture_frame": 6144, "what": "repeated"}
flipped payload byte|ac3|2|flip 4618 1 12|pluck-51.ac3|1|p["corrupted"] == 1 and p["matched"] == 31 and p["first_problem"]["what"] == "corrupted" and "the first is codec frame 3 at capture frame 4608, from byte 33" in f
every payload byte-swapped|ac3|2|swap16|pluck-51.ac3|1|p["byte_swapped"] and p["matched"] == 32 and p["corrupted"] == 0 and d["findings"] == ["every payload arrived with its 16-bit words byte-swapped (first at capture frame 0)"]
bursts of another stream in between|ac3|2|insert 4608 @setup/dts.iec 0 1536|pluck-51.ac3|1|p["extra"] == 3 and p["matched"] == 32 and m["within"] == 0 and "3 data bursts match no reference frame, the first at capture frame 4608" in f
a burst replaced by another AC-3 stream's|ac3|2|drop 4608 1536 insert 4608 @fixtures/ac3-nonaudio.iec 0 1536|pluck-51.ac3|1|p["corrupted"] == 1 and p["extra"] == 0 and m["within"] == 0
capture ended early|ac3|2|truncate 30000|pluck-51.ac3|1|m["after"] == 12 and p["matched"] == 20 and "the capture ends 12 AC-3 frames before the reference does" in f
E-AC-3: dropped burst|eac3|2|drop 12288 6144|pluck-51.eac3|1|m["within"] == 1 and p["first_problem"]["codec_frame"] == 2
E-AC-3: every payload byte-swapped|eac3|2|swap16|pluck-51.eac3|1|p["byte_swapped"] and p["matched"] == 32
DTS: repeated burst|dts|2|repeat 1024 512|pluck.dts|1|p["repeated"] == 1 and p["first_problem"]["codec_frame"] == 2
DTS-HD bursts: dropped burst|dtshd|8|drop 2048 2048|pluck.dts|1|m["within"] == 1 and p["first_problem"]["codec_frame"] == 1
TrueHD: a MAT frame dropped is 24 units|thd|8|drop 3840 3840|thd.spdif|1|m["within"] == 24 and p["first_problem"] == {"codec_frame": 24, "capture_frame": 3840, "what": "missing"}
TrueHD: a byte flipped inside a unit|thd|8|flip 4 3 12|thd.spdif|1|p["corrupted"] == 1 and p["first_problem"]["codec_frame"] == 0
TrueHD: every payload byte-swapped|thd|8|swap16|thd.spdif|1|p["byte_swapped"] and p["matched"] == 1176
MPEG audio: flipped payload byte|mp2|2|flip 2310 2 20|pluck.mp2|1|p["corrupted"] == 1 and p["first_problem"]["codec_frame"] == 2
a different stream than the reference|ac3|2||pluck.mp2|1|d["offset_frames"] is None and p["matched"] == 0 and m["within"] == 42 and "none of the reference's 42 MPEG-1 layer 2 frames arrived: the capture holds 32 data bursts" in f
linear PCM, no bursts at all|stereo-48k|2||pluck-51.ac3|1|d["data_bursts"] == 0 and d["offset_frames"] is None and "the capture holds 0 data bursts" in f
EOF
    # One Python run reads every report.
    python3 - <<'PY'
import json
failed = []
for row in open("cases"):
    n, name, want, code, check = row.rstrip("\n").split("|", 4)
    try:
        d = json.load(open(n + ".json"))
        p, r = d["passthrough"], d["reference"]
        m = p["missing"]
        f = "|".join(d["findings"])
        assert code == want, "exit %s, wanted %s" % (code, want)
        assert r["kind"] == "bitstream"
        assert eval(check), check
        assert d["bit_exact"] == (d["findings"] == []) == (p["first_problem"] is None)
        lines = open(n + ".txt").read().splitlines()
        verdict = lines[0] + "".join(" " + line.strip() for line in lines[1:lines.index("")])
        if d["bit_exact"]:
            assert verdict == "bit-exact passthrough: %d %s frames" % (p["matched"], r["codec"]), verdict
        else:
            assert verdict == "not bit-exact: " + d["findings"][0], verdict
        assert all(len(line) <= 80 for line in lines), "text report wider than 80 columns"
    except Exception as e:
        failed.append("%s: %r\n  %s" % (name, e, open(n + ".json").read()))
assert not failed, "\n".join(failed)
PY
}

# Each row: a fixture and a Python expression over its metadata md, ffprobe's
# stream s (with the packet count) and the report d. The AC-3 encoder was
# told dialnorm -27 and the hearing impaired service (bsmod 3), the E-AC-3
# one dialnorm -20 (make-fixtures.sh); ffprobe reports neither.
@test "reference metadata agrees with ffprobe's report and the encoder's settings" {
    while IFS='|' read -r fixture check; do
        fd --reference "$FIXTURES/$fixture" --json -i /dev/null -o "$fixture.json" > /dev/null || true
        ffprobe -v error -count_packets -show_streams -of json "$FIXTURES/$fixture" > "$fixture.probe"
        printf '%s|%s\n' "$fixture" "$check" >> cases
    done <<'EOF'
pluck-51.ac3|md["acmod"] == "3/2" and md["lfe"] and md["dialnorm_db"] == -27 and md["bsmod"] == 3 and md["bitrate_kbps"] * 1000 == int(s["bit_rate"])
pluck-51.eac3|md["acmod"] == "3/2" and md["lfe"] and md["dialnorm_db"] == -20 and md["bsmod"] == 0 and md["substreams"] == 1 and "bitrate_kbps" not in md
pluck.dts|md["bitrate_kbps"] * 1000 == int(s["bit_rate"]) and md["hd"] == s["profile"].startswith("DTS-HD") and not md["lfe"]
pluck.thd|set(md) == {"sample_rate_hz", "channels"}
pluck.mp2|md["layer"] == 2 and md["bitrate_kbps"] * 1000 == int(s["bit_rate"])
pluck-mono.mp3|md["layer"] == 3 and md["bitrate_kbps"] * 1000 == int(s["bit_rate"])
EOF
    python3 - <<'PY'
import json
names = {"ac3": "AC-3", "eac3": "E-AC-3", "dts": "DTS", "truehd": "TrueHD", "mp2": "MPEG-1 layer 2", "mp3": "MPEG-1 layer 3"}
for row in open("cases"):
    fixture, check = row.rstrip("\n").split("|", 1)
    d = json.load(open(fixture + ".json"))
    s = json.load(open(fixture + ".probe"))["streams"][0]
    md = d["reference"]["metadata"]
    facts = (fixture, d["reference"], s)
    assert d["reference"]["codec"] == names[s["codec_name"]], facts
    assert md["sample_rate_hz"] == int(s["sample_rate"]) and md["channels"] == s["channels"], facts
    assert d["reference"]["codec_frames"] == int(s["nb_read_packets"]), facts
    assert md.get("lfe", "LFE" in s["channel_layout"] or ".1" in s["channel_layout"]) == ("LFE" in s["channel_layout"] or ".1" in s["channel_layout"]), facts
    assert d["reference"]["crc_errors"] == 0, facts
    assert eval(check), (check, facts)
PY
}

# Each row: a name, the reference (a shell word, evaluated: process
# substitution makes a pipe), the capture, the exit status and the verdict.
@test "references of every form: IEC 61937 raw or in a WAV, pipes, junk, a bad CRC, silence" {
    cp "$FIXTURES/pluck-51.ac3" bad.ac3
    printf '\xff' | dd of=bad.ac3 bs=1 seek=$((5 * 1536 + 700)) conv=notrunc status=none
    { printf 'no frame here %.0s' 1 2 3 4 5 6 7; cat "$FIXTURES/pluck-51.ac3"; } > junk.ac3
    ffmpeg -hide_banner -loglevel error -f s16le -ar 48000 -ac 2 -i "$BATS_FILE_TMPDIR/ac3.spdif" -c:a pcm_s16le spdif.wav
    # Identical frames (as silence often is) at the start: the first of three lost.
    python3 -c 'import sys; d = open(sys.argv[1], "rb").read(); open("same.ac3", "wb").write(d[:1536] * 3 + d[1536:])' \
        "$FIXTURES/pluck-51.ac3"
    ffmpeg -hide_banner -loglevel error -y -i same.ac3 -c copy -f spdif same.spdif
    "$IEC958_ENCODE" same.iec "$na48" -t raw -f S16_LE -r 48000 -c 2 same.spdif
    python3 "$EDITCAP" 2 skip 1536 < same.iec > same-late.iec
    while IFS='|' read -r name reference capture want verdict; do
        run --separate-stderr eval fd --reference "$reference" -i "$capture" -o out.txt
        # The verdict, with the lines it was wrapped onto joined.
        got=$(awk 'NR == 1 { v = $0; next } /^$/ { exit } { sub(/^ +/, " "); v = v $0 } END { print v }' out.txt)
        [ "$status" -eq "$want" ] && [ "$got" = "$verdict" ] ||
            { printf '%s: status %s\n%s\n' "$name" "$status" "$(cat out.txt)" >&2; return 1; }
    done <<'EOF'
raw IEC 61937 bursts|$BATS_FILE_TMPDIR/ac3.spdif|$BATS_FILE_TMPDIR/ac3.iec|0|bit-exact passthrough: 32 AC-3 frames
IEC 61937 bursts in a WAV file|spdif.wav|$BATS_FILE_TMPDIR/ac3.iec|0|bit-exact passthrough: 32 AC-3 frames
an elementary stream through a pipe|<(cat $FIXTURES/pluck-51.ac3)|$BATS_FILE_TMPDIR/ac3.iec|0|bit-exact passthrough: 32 AC-3 frames
a PCM WAV file through a pipe, compared from its start|<(cat $FIXTURES/stereo-48k.wav)|$FIXTURES/stereo-48k.iec|0|bit-exact: 2400 frames at offset 0
bytes before the first frame|junk.ac3|$BATS_FILE_TMPDIR/ac3.iec|0|bit-exact passthrough: 32 AC-3 frames
a reference frame that fails its CRC|bad.ac3|$BATS_FILE_TMPDIR/ac3.iec|1|not bit-exact: 1 AC-3 frames corrupted, the first is codec frame 5 at capture frame 7680, from byte 700
identical frames at the start, the first lost: taken in order, the loss shows where they end|same.ac3|same-late.iec|1|not bit-exact: 1 AC-3 frames missing within the capture, the first is codec frame 2 (due at capture frame 3072)
EOF
    fd --reference junk.ac3 --json -i "$BATS_FILE_TMPDIR/ac3.iec" -o junk.json > /dev/null
    fd --reference bad.ac3 --json -i "$BATS_FILE_TMPDIR/ac3.iec" -o bad.json > /dev/null || true
    fd --reference spdif.wav --json -i "$BATS_FILE_TMPDIR/ac3.iec" -o wav.json > /dev/null
    python3 - <<'PY'
import json
junk, bad, wav = (json.load(open(n + ".json"))["reference"] for n in ("junk", "bad", "wav"))
assert junk["skipped_bytes"] == 7 * 14 and junk["codec_frames"] == 32, junk
assert bad["crc_errors"] == 1, bad
assert wav["container"] == "IEC 61937 bursts" and wav["metadata"]["channels"] == 6, wav
PY
    grep -qx '              1 frames fail their CRC, the first is frame 5' <(fd --reference bad.ac3 -i /dev/null -o /dev/stdout | tail -n +3)
}

@test "--reference with a bitstream on the command line" {
    cp "$FIXTURES/pluck-51.ac3" "$BATS_FILE_TMPDIR/ac3.iec" .
    while IFS='|' read -r args want expected; do
        run --separate-stderr fd $args
        [ "$status" -eq "$want" ] && [ "$output" = "$(printf '%b' "$expected")" ] ||
            { printf 'framedig %s: status %s\n%s\n' "$args" "$status" "$output" >&2; return 1; }
    done <<'EOF'
--reference pluck-51.ac3 -c 0 -i ac3.iec -o out|1|input file is ac3.iec\noutput file is out\nError: channel number(-c) must be at least 1.
--reference pluck-51.ac3 -i missing -o out|1|input file is missing\noutput file is out\nOpen input file error, please check.
--reference pluck-51.ac3 -c 2 -i ac3.iec -o out|0|input file is ac3.iec\noutput file is out
--reference=pluck-51.ac3 --json -i ac3.iec -o out|0|input file is ac3.iec\noutput file is out
EOF
    # A capture behind a WAV header, read with -w; an 8-channel capture read as 2 channels.
    { head -c 44 "$FIXTURES/stereo-48k.wav"; cat "$BATS_FILE_TMPDIR/ac3.iec"; } > ac3.wav
    run fd -w --reference "$FIXTURES/pluck-51.ac3" -i ac3.wav -o out.txt
    [ "$status" -eq 0 ] && grep -qx 'bit-exact passthrough: 32 AC-3 frames' out.txt
    fd --reference "$BATS_FILE_TMPDIR/thd.spdif" -c 2 --json -i "$BATS_FILE_TMPDIR/thd.iec" -o thd.json > /dev/null
    python3 -c 'import json; d = json.load(open("thd.json")); assert d["channels"] == 2 and d["bit_exact"], d'
}

# 90 seconds of pink noise as 640 kbps AC-3 (7 MB, more than the 4 MiB of
# reference frames held) and its 35 MB capture, made in the test run; the
# faults are cut out of the capture's bytes.
@test "minutes-long material: frames far past the rings, a capture that began a minute late" {
    ffmpeg -hide_banner -loglevel error -f lavfi -i "anoisesrc=color=pink:duration=90:sample_rate=48000:amplitude=0.5:seed=7" \
        -ac 2 -c:a ac3 -b:a 640k long.ac3
    ffmpeg -hide_banner -loglevel error -i long.ac3 -c copy -f spdif long.spdif
    "$IEC958_ENCODE" long.iec "$na48" -t raw -f S16_LE -r 48000 -c 2 long.spdif
    burst=$((1536 * 8))  # the bytes of one burst's period
    tail -c +$((2000 * burst + 1)) long.iec > late.iec
    { head -c $((2400 * burst)) long.iec; tail -c +$((2401 * burst + 1)) long.iec; } > dropped.iec
    { head -c $((100 * burst)) long.iec; head -c $((2 * burst)) late.iec; tail -c +$((100 * burst + 1)) long.iec; } > extra.iec
    while IFS='|' read -r name capture want verdict; do
        run fd --reference long.ac3 -i "$capture" -o out.txt
        got=$(awk 'NR == 1 { v = $0; next } /^$/ { exit } { sub(/^ +/, " "); v = v $0 } END { print v }' out.txt)
        [ "$status" -eq "$want" ] && [ "$got" = "$verdict" ] ||
            { printf '%s: status %s\n%s\n' "$name" "$status" "$(cat out.txt)" >&2; return 1; }
    done <<'EOF'
bit-exact|long.iec|0|bit-exact passthrough: 2813 AC-3 frames
a burst dropped after 77 seconds|dropped.iec|1|not bit-exact: 1 AC-3 frames missing within the capture, the first is codec frame 2400 (due at capture frame 3686400)
capture began 64 seconds in|late.iec|1|not bit-exact: the first 2000 AC-3 frames never arrived (the first to arrive is codec frame 2000)
two bursts from a minute later sent in between|extra.iec|1|not bit-exact: 2 data bursts match no reference frame, the first at capture frame 153600
EOF
}
