#!/usr/bin/env bats
# End-to-end tests of what framedig --analyze decodes from IEC 61937 bursts:
# codec frames, CRCs and metadata, pauses, the timeline, gaps and rates. The
# captures are the streams ffmpeg encoded (tests/fixtures/pluck*), wrapped
# by ffmpeg's spdif muxer and played through alsa-lib's iec958 plugin in the
# test run at the rate each type needs; faults are edits of those captures
# (tests/support/editcap.py). The JSON report is read by Python's parser.
# FRAMEDIG, FIXTURES, EDITCAP, IEC958_ENCODE and REPACK name the parts;
# EMULATOR, if set, runs framedig.

bats_require_minimum_version 1.5.0

fd() { $EMULATOR "$FRAMEDIG" "$@"; }

load bitstream-captures

# wav NAME RATE CHANNELS: NAME.iec behind a WAV header that gives RATE.
wav() {
    python3 - "$1" "$2" "$3" <<'PY'
import struct, sys
name, rate, channels = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
data = open(name + ".iec", "rb").read()
header = b"RIFF" + struct.pack("<I", 36 + len(data)) + b"WAVEfmt " + struct.pack("<IHHIIHH", 16, 1, channels, rate,
    rate * channels * 4, channels * 4, 32) + b"data" + struct.pack("<I", len(data))
open("%s-%d.wav" % (name, rate), "wb").write(header + data)
PY
}

setup_file() {
    cd "$BATS_FILE_TMPDIR"
    make_bitstream_captures
    # The status of a wrong rate: E-AC-3 on a 48 kHz link, AC-3 on a 192 kHz one.
    play eac3-at-48 "$na48" 192000 2 S16_LE eac3.spdif
    play ac3-at-192 "$na192" 192000 2 S16_LE ac3.spdif
    # A second AC-3 stream with another dialnorm after the first: the
    # metadata changes once.
    ffmpeg -hide_banner -loglevel error -y -f lavfi -i "sine=frequency=440:duration=0.2:sample_rate=48000" \
        -ac 2 -c:a ac3 -b:a 192k -dialnorm -20 other.ac3
    cat "$FIXTURES/pluck-51.ac3" other.ac3 > two.ac3
    spdif two two.ac3 && play two "$na48" 48000 2
    # Linear PCM, then the AC-3 stream.
    cat "$FIXTURES/stereo-48k.iec" ac3.iec > pcm-then-ac3.iec
    wav ac3 44100 2 && wav ac3 48000 2
}

setup() {
    cd "$BATS_TEST_TMPDIR"
}

# Each row: a name, the capture (made by the setup) and its channels, the
# edits, the options, the exit status, and a Python expression over the
# report d (b: d["bursts"], c: its first codec, f: the findings joined by "|").
@test "what the bursts carry, and each fault of the path" {
    n=0
    while IFS='|' read -r name capture channels edits options want check; do
        n=$((n + 1))
        if [ -n "$edits" ]; then
            python3 "$EDITCAP" "$channels" $edits < "$BATS_FILE_TMPDIR/$capture" > cap
        else
            cp "$BATS_FILE_TMPDIR/$capture" cap
        fi
        code=0
        fd --analyze --json $options -i cap -o $n.json > /dev/null || code=$?
        fd --analyze $options -i cap -o $n.txt > /dev/null || true
        printf '%s|%s|%s|%s|%s\n' "$n" "$name" "$want" "$code" "$check" >> cases
    done <<'EOF'
AC-3 5.1, whole|ac3.iec|2|||0|c["type"] == "AC-3" and c["frames"] == 32 and c["crc_errors"] == 0 and c["metadata_changes"] == 0 and b["pause_count"] == 0 and b["timeline"][0] == {"frame": 0, "content": "AC-3"} and f == ""
E-AC-3 at a 192 kHz link|eac3.iec|2|||0|c["type"] == "E-AC-3" and c["frames"] == 32 and c["metadata"]["substreams"] == 1 and f == ""
DTS|dts.iec|2|||0|c["type"] == "DTS" and c["frames"] == 94 and b["data_types"] == ["DTS-I"]
DTS in DTS-HD bursts, 8 channels at 192 kHz|dtshd.iec|8|||0|c["type"] == "DTS" and c["frames"] == 94 and b["data_types"] == ["DTS-HD"] and f == ""
TrueHD in MAT frames, 8 channels|thd.iec|8|||0|c["type"] == "TrueHD" and c["frames"] == 1176 and b["timeline"][0] == {"frame": 0, "content": "TrueHD"} and f == ""
MPEG-1 layer 2|mp2.iec|2|||0|c["type"] == "MPEG-1 layer 2" and c["frames"] == 42
AC-3 in 20-bit mode bursts, named as such|ac3-20.iec|2|||0|b["data_types"] == ["AC-3 (20-bit)"] and c["frames"] == 32 and c["metadata"]["dialnorm_db"] == -27
AC-3 in 24-bit mode bursts, named as such|ac3-24.iec|2|||0|b["data_types"] == ["AC-3 (24-bit)"] and c["frames"] == 32 and b["count"] == 32
two AC-3 streams: the metadata of the first, one change|two.iec|2|||0|c["frames"] == 32 + 7 and c["metadata_changes"] == 1 and c["metadata"]["dialnorm_db"] == -27 and c["metadata"]["channels"] == 6
a flipped payload byte fails the CRC|ac3.iec|2|flip 4618 1 12||1|c["crc_errors"] == 1 and d["findings"] == ["1 AC-3 frames fail their CRC, the first at frame 4608"]
flipped bytes in two frames|ac3.iec|2|flip 1600 2 20 flip 9300 1 16||1|c["crc_errors"] == 2 and "2 AC-3 frames fail their CRC, the first at frame 1536" in f
E-AC-3: a flipped payload byte|eac3.iec|2|flip 6200 1 14||1|c["crc_errors"] == 1 and "1 E-AC-3 frames fail their CRC, the first at frame 6144" in f
every payload byte-swapped: the frames are still read|ac3.iec|2|swap16||0|c["frames"] == 32 and c["crc_errors"] == 0
a burst muted: a gap where it was due|ac3.iec|2|mute 4608 1536||1|c["frames"] == 31 and d["findings"] == ["gap in the AC-3 bursts at frame 4608: 32.0 ms"] and {"frame": 4608, "content": "silence"} in b["timeline"]
a burst dropped: the next came early, a shorter gap|ac3.iec|2|drop 4000 1000||1|"|gap in the AC-3 bursts at frame 4608: 11.2 ms" in f and c["frames"] == 31
a repeated burst: one frame more, on time, no finding|ac3.iec|2|repeat 4608 1536||0|c["frames"] == 33 and b["spacing_varies"] is False and f == ""
a pause burst fills the gap|ac3.iec|2|mute 4608 1536 pause 4608||0|b["pause_count"] == 1 and b["timeline"][:3] == [{"frame": 0, "content": "AC-3"}, {"frame": 4608, "content": "pause"}, {"frame": 6144, "content": "AC-3"}] and f == ""
E-AC-3: a burst muted|eac3.iec|2|mute 12288 6144||1|d["findings"] == ["gap in the E-AC-3 bursts at frame 12288: 32.0 ms"]
TrueHD: a MAT frame muted, periods of an 8-channel link|thd.iec|8|mute 3840 3840||1|d["findings"] == ["gap in the TrueHD bursts at frame 3840: 20.0 ms"]
DTS-HD: a burst muted|dtshd.iec|8|mute 2048 2048||1|d["findings"] == ["gap in the DTS-HD bursts at frame 2048: 10.7 ms"]
linear PCM, then AC-3|pcm-then-ac3.iec|2|||1|b["timeline"][0]["content"] == "PCM" and b["timeline"][1] == {"frame": 6000, "content": "AC-3"} and c["frames"] == 32 and "gap" not in f
E-AC-3 on a link whose status says 48 kHz|eac3-at-48.iec|2|||1|d["findings"] == ["channel status says 48 kHz, but E-AC-3 at 48 kHz needs 192 kHz"]
AC-3 on a link whose status says 192 kHz|ac3-at-192.iec|2|||1|d["findings"] == ["channel status says 192 kHz, but AC-3 at 48 kHz needs 48 kHz"]
a WAV header whose rate the status contradicts|ac3-44100.wav|2||-w|1|d["findings"] == ["WAV header says 44.1 kHz, but channel status says 48 kHz"]
a WAV header that agrees with the status|ac3-48000.wav|2||-w|0|f == "" and c["frames"] == 32
EOF
    # One Python run reads every report.
    python3 - <<'PY'
import json
failed = []
for row in open("cases"):
    n, name, want, code, check = row.rstrip("\n").split("|", 4)
    try:
        d = json.load(open(n + ".json"))
        b = d["bursts"]
        c = b["codecs"][0]
        f = "|".join(d["findings"])
        assert code == want, "exit %s, wanted %s" % (code, want)
        assert eval(check), check
        assert set(c) == {"type", "frames", "crc_errors", "metadata", "metadata_changes"}, c
        assert len(b["timeline"]) <= 20
        text = open(n + ".txt").read()
        section = text[text.index("\nBitstream\n"):text.index("\nWord length")]
        assert "  %-13s %d frames, %d CRC errors, %d metadata changes\n" % (c["type"], c["frames"], c["crc_errors"],
                                                                          c["metadata_changes"]) in section, section
        assert all(line in text for line in d["findings"]), "a finding missing from the text report"
        assert all(len(line) <= 80 for line in text.splitlines()), "text report wider than 80 columns"
    except Exception as e:
        failed.append("%s: %r\n  %s" % (name, e, open(n + ".json").read()))
assert not failed, "\n".join(failed)
PY
}

# Each row: a capture of the setup, its source, and a Python expression over
# the metadata md of the capture's first codec and ffprobe's stream s. The
# AC-3 encoder was told dialnorm -27 and the hearing impaired service
# (bsmod 3), the E-AC-3 one dialnorm -20 (make-fixtures.sh); ffprobe
# reports neither.
@test "the metadata of the bursts agrees with ffprobe's report on the source" {
    while IFS='|' read -r capture source check; do
        fd --analyze --json -i "$BATS_FILE_TMPDIR/$capture.iec" -o "$capture.json" > /dev/null
        ffprobe -v error -count_packets -show_streams -of json "$FIXTURES/$source" > "$capture.probe"
        printf '%s|%s\n' "$capture" "$check" >> cases
    done <<'EOF'
ac3|pluck-51.ac3|md["acmod"] == "3/2" and md["dialnorm_db"] == -27 and md["bsmod"] == 3 and md["bitrate_kbps"] * 1000 == int(s["bit_rate"])
eac3|pluck-51.eac3|md["acmod"] == "3/2" and md["dialnorm_db"] == -20 and md["bsmod"] == 0 and md["substreams"] == 1 and "bitrate_kbps" not in md
dts|pluck.dts|md["bitrate_kbps"] * 1000 == int(s["bit_rate"]) and md["hd"] == s["profile"].startswith("DTS-HD")
dtshd|pluck.dts|md["bitrate_kbps"] * 1000 == int(s["bit_rate"]) and md["hd"] == s["profile"].startswith("DTS-HD")
thd|pluck.thd|set(md) == {"sample_rate_hz", "channels"}
mp2|pluck.mp2|md["layer"] == 2 and md["bitrate_kbps"] * 1000 == int(s["bit_rate"])
EOF
    python3 - <<'PY'
import json
names = {"ac3": "AC-3", "eac3": "E-AC-3", "dts": "DTS", "truehd": "TrueHD", "mp2": "MPEG-1 layer 2"}
for row in open("cases"):
    capture, check = row.rstrip("\n").split("|", 1)
    codec = json.load(open(capture + ".json"))["bursts"]["codecs"][0]
    s = json.load(open(capture + ".probe"))["streams"][0]
    md = codec["metadata"]
    facts = (capture, codec, s)
    assert codec["type"] == names[s["codec_name"]], facts
    assert md["sample_rate_hz"] == int(s["sample_rate"]) and md["channels"] == s["channels"], facts
    assert codec["frames"] == int(s["nb_read_packets"]) or s["codec_name"] == "truehd", facts
    lfe = "LFE" in s["channel_layout"] or ".1" in s["channel_layout"]
    assert md.get("lfe", lfe) == lfe, facts
    assert eval(check), (check, facts)
PY
}
