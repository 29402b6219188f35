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

# Consumer status, non-audio, at 48, 192 and 44.1 kHz.
na48='0x06 0x82 0x00 0x02'
na192='0x06 0x82 0x00 0x0E'
na441='0x06 0x82 0x00 0x00'

# spdif NAME FIXTURE [MUXER-OPTIONS]: ffmpeg's IEC 61937 stream of a fixture.
spdif() { ffmpeg -hide_banner -loglevel error -y -i "$FIXTURES/$2" -c copy -f spdif "${@:3}" "$1.spdif"; }
# play NAME STATUS RATE CHANNELS [FORMAT [FILE]]: the stream through the iec958 plugin into NAME.iec.
play() { "$ENCODE" "$1.iec" "$2" -t raw -f "${5:-S16_LE}" -r "$3" -c "$4" "${6:-$1.spdif}"; }

setup_file() {
    cd "$BATS_FILE_TMPDIR"
    spdif ac3 pluck-51.ac3 && play ac3 "$na48" 48000 2
    spdif eac3 pluck-51.eac3 && play eac3 "$na192" 192000 2
    spdif dts pluck.dts && play dts "$na48" 48000 2
    spdif dtshd pluck.dts -dtshd_rate 768000 && play dtshd "$na192" 192000 8
    spdif thd pluck.thd && play thd "$na192" 192000 8
    spdif mp2 pluck.mp2 && play mp2 "$na48" 48000 2
    spdif mp3 pluck-mono.mp3 && play mp3 "$na441" 44100 2
    # The same AC-3 bursts in the 20- and 24-bit modes of SMPTE 337.
    for bits in 20 24; do
        python3 "$REPACK" $bits < ac3.spdif > ac3-$bits.s32
        play ac3-$bits "$na48" 48000 2 S32_LE ac3-$bits.s32
    done
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
gap filled with zeros|ac3|2|zero 4608 1536|pluck-51.ac3|1|m["within"] == 1 and p["extra"] == 0 and p["matched"] == 31
pause burst in the gap|ac3|2|zero 4608 1536 pause 4608|pluck-51.ac3|1|m["within"] == 1 and p["extra"] == 0 and d["data_bursts"] == 31
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
