#!/usr/bin/env bats
# End-to-end tests of framedig --reference on the material users play: sox
# tones (periodic), plucked strings and pink noise, with and without silence
# around them, and minutes-long files. Each is played through alsa-lib's
# iec958 plugin into a capture (tests/support/iec958-encode.sh), also after
# the stages of a faulty path: sox swaps, inverts, scales, offsets, delays,
# resamples and cuts samples to fewer bits; editcap.py drops, repeats and
# corrupts words. The material is made once per run of this file. The JSON
# report is read by Python's parser.
# FRAMEDIG, EDITCAP and IEC958_ENCODE name the parts; EMULATOR, if set, runs framedig.

bats_require_minimum_version 1.5.0

# play NAME WAV: NAME.iec, the capture of WAV played through the plugin
# (consumer status, linear PCM, 48 kHz). 24-bit files are played as S32_LE.
play() {
    if [ "$(soxi -b "$2")" -gt 16 ]; then
        sox "$2" -b 32 -e signed-integer -t raw "$1.s32"
        "$IEC958_ENCODE" "$1.iec" '0x04 0x82 0x00 0x02' -t raw -f S32_LE -r "$(soxi -r "$2")" -c "$(soxi -c "$2")" "$1.s32"
        rm "$1.s32"
    else
        "$IEC958_ENCODE" "$1.iec" '0x04 0x82 0x00 0x02' "$2"
    fi
}

setup_file() {
    cd "$BATS_FILE_TMPDIR"
    # References as users make them; -D where the silence must be digital
    # silence and a tone exactly periodic (sox dithers 16-bit output otherwise).
    sox -n -r 48000 -c 2 -b 16 sine.wav synth 5 sine 1000 gain -6
    sox -D -n -r 48000 -c 2 -b 16 sine-exact.wav synth 5 sine 1000 gain -6
    sox -D -n -r 48000 -c 2 -b 16 sine-pad.wav synth 5 sine 1000 gain -6 pad 0.01
    sox -D -n -r 48000 -c 2 -b 16 tone-pad.wav synth 3 sine 1000 gain -1 pad 0.5 0.5
    sox -D -n -r 48000 -c 2 -b 16 decay.wav synth 10 pluck C4 pluck E4 pad 1 1
    sox -n -r 48000 -c 2 -b 16 dithered-lead.wav synth 6 pluck C4 pluck E4 pad 1 1
    sox -D -n -r 48000 -c 2 -b 16 sine997.wav synth 5 sine 997 gain -6 pad 0.5 0.5
    sox -D -n -r 48000 -c 2 -b 16 square.wav synth 5 square 1000 gain -6 pad 0.2 0.2
    sox -D -n -r 48000 -c 2 -b 16 gap.wav synth 1 sine 440 gain -6 pad 0 1 : synth 1 sine 660 gain -6
    sox -D -n -r 48000 -c 2 -b 16 pluck.wav synth 3 pluck C3 pluck E3 pad 0.5 0.5
    sox -D -n -r 48000 -c 2 -b 16 lead.wav synth 2 pluck C3 pluck E3 pad 2 0.2
    sox -D -n -r 48000 -c 2 -b 24 pink.wav synth 4 pinknoise gain -6 pad 0.3 0.3
    sox -D -n -r 48000 -c 2 -b 24 tones.wav synth 3 sine 1000 sine 1500 gain -6 pad 0.3 0.3
    sox -D -n -r 48000 -c 6 -b 16 six.wav synth 2 sine 300 sine 400 sine 500 sine 600 sine 700 sine 800 gain -6 pad 0.2
    sox -D -n -r 32000 -c 2 -b 16 long.wav synth 180 pinknoise gain -10 pad 0.5
    for name in sine sine-exact sine-pad tone-pad decay dithered-lead sine997 square gap pluck lead pink tones six long; do
        play "$name" "$name.wav"
    done
    # The stages of faulty paths.
    sox tones.wav swapped.wav remix 2 1
    sox tones.wav inverted.wav vol -1
    sox tones.wav right-inverted.wav remix 1 2v-1
    sox -D tones.wav -b 16 rounded.wav
    sox tones.wav -b 16 dithered.wav
    sox tones.wav resampled.wav rate 44100
    sox pink.wav halved.wav vol 0.5
    sox tones.wav offset.wav dcshift 0.001
    sox tones.wav skewed.wav delay 0 3s
    sox -D six.wav reordered.wav remix 1 2 5 6 3 4
    sox -D six.wav quiet-back.wav remix 1 2 3 4 5 6v0.5
    python3 - <<'PY'  # 100 added to channel 1 only, clipped
import array, wave
w = wave.open("decay.wav")
samples = array.array("h", w.readframes(w.getnframes()))
samples[0::2] = array.array("h", (min(v + 100, 32767) for v in samples[0::2]))
out = wave.open("left-offset.wav", "wb")
out.setparams(w.getparams())
out.writeframes(samples.tobytes())
PY
    sox -D long.wav long-gain.wav vol 0.8
    sox -D long.wav long-a.wav trim 0 60
    sox -D long.wav long-b.wav trim 60 vol 0.5
    sox long-a.wav long-b.wav long-from.wav
    for name in swapped inverted right-inverted rounded dithered resampled halved offset skewed reordered quiet-back \
        left-offset long-gain long-from; do
        play "$name" "$name.wav"
    done
    python3 "$EDITCAP" 2 clear 8 < pink.iec > truncated.iec
    head -c 4000 /dev/zero > zero-words.iec  # what a player's underrun may leave
}

setup() {
    cd "$BATS_FILE_TMPDIR"
}

fd() { $EMULATOR "$FRAMEDIG" "$@"; }

# Runs every row of a table: a name, the reference, the capture, editcap
# operations on it, the exit status and a Python expression over the report
# d (f: findings joined by "|", n: notes joined by "|", dg: the diagnosis).
# Every text line must fit 80 columns. Reports each failing row, then fails.
# Python starts once to edit the captures and once to check the reports.
run_table() {
    cat > rows
    python3 - "$EDITCAP" <<'PY'
import os, sys, wave
sys.path.insert(0, os.path.dirname(sys.argv[1]))
import editcap
for k, row in enumerate(open("rows").read().splitlines()):
    name, reference, capture, edits, want, check = row.split("|", 5)
    if edits:
        channels = open(reference + ".wav", "rb").read()[22]  # sox writes the fmt chunk first
        data = open(capture + ".iec", "rb").read()
        open("cap%d" % k, "wb").write(editcap.edit(channels, edits.split(), data))
PY
    local k=0 name reference capture edits want check code cap
    while IFS='|' read -r name reference capture edits want check; do
        cap=$capture.iec
        [ -z "$edits" ] || cap=cap$k
        code=0
        fd --reference "$reference.wav" --json -i "$cap" -o "report$k.json" > /dev/null || code=$?
        fd --reference "$reference.wav" -i "$cap" -o "report$k.txt" > /dev/null || true
        echo "$code" > "code$k"
        rm -f "cap$k"
        k=$((k + 1))
    done < rows
    python3 - <<'PY'
import json, re, sys
failed = 0
for k, row in enumerate(open("rows").read().splitlines()):
    name, reference, capture, edits, want, check = row.split("|", 5)
    try:
        d = json.load(open("report%d.json" % k))
        f = "|".join(d["findings"])
        n = "|".join(d["notes"])
        dg = d["diagnosis"]
        assert eval(check), check
        code = open("code%d" % k).read().strip()
        assert code == want, "exit %s, wanted %s" % (code, want)
        assert d["bit_exact"] == (d["findings"] == [])
        text = open("report%d.txt" % k).read().splitlines()
        assert text[0].startswith("bit-exact: " if d["bit_exact"] else "not bit-exact: "), text[0]
        assert all(len(line.encode()) <= 80 for line in text), "text report wider than 80 columns"
        assert not re.search(r"\b(inf|nan)\b", "\n".join(text), re.I), "a number that is not finite"
    except Exception as e:
        failed += 1
        print("%s: %r\n%s" % (name, e, open("report%d.json" % k).read()), file=sys.stderr)
sys.exit(1 if failed else 0)
PY
}

@test "alignment and realignment on tones, music and noise" {
    run_table <<'EOF'
sine 1 kHz as sox writes it, bit-exact|sine|sine||0|d["offset_frames"] == 0 and d["compared_frames"] == 240000 and d["aligned_by"] == "samples"
sine after 3000 silent frames|sine|sine|silence 3000|0|d["offset_frames"] == 3000 and d["repeated"] == [] and d["dropped"] == []
exact sine after 3000 silent frames|sine-exact|sine-exact|silence 3000|0|d["offset_frames"] == 3000 and d["period_frames"] is None
exact sine with one flipped bit|sine-exact|sine-exact|silence 3000 flip 103000 1 12|1|d["mismatched_frames"] == 1 and d["first_mismatch"]["frame"] == 103000 and d["repeated"] == [] and d["dropped"] == [] and dg == []
exact sine with a corrupted sample in every block|sine-exact|sine-exact|every 192 1 12|1|d["mismatched_frames"] == 1250 and d["repeated"] == [] and d["dropped"] == [] and d["offset_frames"] == 0
997 Hz after a long silence|sine997|sine997|silence 100000|0|d["offset_frames"] == 100000 and d["compared_frames"] == 288000
square wave after silence|square|square|silence 5000|0|d["offset_frames"] == 5000 and d["compared_frames"] == 259200
square wave with 20 frames missing|square|square|silence 5000 drop 60000 20|1|d["dropped"] == [{"frame": 60000, "count": 20}] and d["mismatched_frames"] == 0 and d["repeated"] == []
10 ms of silence before a long sine|sine-pad|sine-pad||0|d["offset_frames"] == 0 and d["compared_frames"] == 240480
capture started 2.1 s before playback|sine-pad|sine-pad|silence 100000|0|d["offset_frames"] == 100000 and d["compared_frames"] == 240480
capture started inside a sine|sine|sine|skip 100000|1|d["offset_frames"] == -100000 and "the capture began 100000 frames after the reference started" in f and d["mismatched_frames"] == 0
capture started inside an exactly periodic sine|sine-exact|sine-exact|skip 100000|1|d["offset_frames"] == -100000 and d["period_frames"] == 48 and "the reference repeats every 48 frames" in n and d["mismatched_frames"] == 0 and f == "the capture began 100000 frames after the reference started" and d["missing_after"] == 0
capture started inside a tone with silence around it|tone-pad|tone-pad|skip 50000|1|d["offset_frames"] == -50000 and d["period_frames"] == 48 and f == "the capture began 50000 frames after the reference started" and d["dropped"] == [] and d["missing_after"] == 0 and dg == []
silence, then a capture started inside a tone|tone-pad|tone-pad|skip 50000 silence 4800|1|d["offset_frames"] == -45200 and d["aligned_by"] == "samples" and d["missing_before"] == 50000 and f == "the capture began 50000 frames after the reference started" and dg == []
silence, then a capture started inside music|pluck|pluck|skip 40000 silence 4800|1|d["offset_frames"] == -35200 and d["missing_before"] == 40000 and d["mismatched_frames"] == 0 and f == "the capture began 40000 frames after the reference started"
capture started mid-frame|sine-exact|sine-exact|cutword|0|d["offset_frames"] == -1 and d["compared_frames"] == 239999 and d["silent_lead_missing"] == 1
clicks in digital silence|gap|gap|silence 2000 flip 62000 1 12 flip 72000 2 12 flip 82000 1 12|1|d["mismatched_frames"] == 3 and d["dropped"] == [] and d["repeated"] == []
music with sparse clicks|pluck|pluck|every 997 1 13 silence 4000|1|d["mismatched_frames"] == 193 and d["dropped"] == [] and d["repeated"] == [] and d["aligned_by"] == "samples"
a tone with every other frame corrupted|sine-exact|sine-exact|every 2 2 12 silence 4000|1|d["mismatched_frames"] == 120000 and d["dropped"] == [] and d["repeated"] == [] and d["aligned_by"] == "samples"
music with frames dropped and repeated|pluck|pluck|silence 4000 drop 50000 333 repeat 90000 17|1|d["dropped"] == [{"frame": 50000, "count": 333}] and d["repeated"] == [{"frame": 90017, "count": 17}] and d["mismatched_frames"] == 0
noise with a drop and a click at it|pink|pink|silence 4000 drop 60000 7 flip 60002 1 13|1|d["dropped"] == [{"frame": 60000, "count": 7}] and d["mismatched_frames"] == 1
a click before playback, then a 2 s lead-in|lead|lead|silence 100000 flip 10 1 20|0|d["offset_frames"] == 100000 and d["compared_frames"] == 201600 and d["uncompared_lead_frames"] == 0
silent lead-in the capture lacks|pluck|pluck|skip 9600|0|d["offset_frames"] == -9600 and d["silent_lead_missing"] == 9600 and "all silent (its lead-in)" in n
silent tail the capture lacks|pluck|pluck|silence 5000 truncate 190000|0|d["silent_tail_missing"] == 7000 and "all silent (its tail)" in n
a sink that swallows 100 ms of sound|pluck|pluck|skip 28800|1|d["offset_frames"] == -28800 and "the capture began 28800 frames after the reference started" in f and d["silent_lead_missing"] == 0
a capture that ends inside the sound|pluck|pluck|silence 5000 truncate 150000|1|"the capture ends 47000 frames before the reference does" in f
ten periods dropped inside a tone|tone-pad|tone-pad|drop 100000 480|1|d["dropped_frames"] == 480 and d["mismatched_frames"] == 0 and dg == [] and d["missing_frames"] == 480
a period played twice inside a tone|tone-pad|tone-pad|repeat 100000 48|1|d["repeated"] == [{"frame": 168001, "count": 48}] and d["mismatched_frames"] == 0 and d["inserted"] == []
a tone muted for a second: no -inf dB gain|tone-pad|tone-pad|mute 100000 48000|1|d["constant_gain_db"] is None and dg == [] and d["first_mismatch"]["frame"] == 100000
an underrun filled with zero words|pluck|pluck|insert 50000 zero-words.iec 0 500|1|d["inserted"] == [{"frame": 50000, "count": 500}] and d["inserted_frames"] == 500 and d["repeated"] == [] and "500 frames inserted at capture frame 50000" in f and d["mismatched_frames"] == 0
silent frames with their preamble codes inserted|pluck|pluck|insert 50000 pluck.iec 0 500|1|d["inserted"] == [{"frame": 50000, "count": 500}] and d["repeated"] == [] and d["repeated_frames"] == 0
a tone mixed into music|pluck|pluck|insert 50000 sine.iec 30000 300|1|d["inserted"] == [{"frame": 50000, "count": 300}] and d["repeated"] == [] and d["dropped"] == []
a buffer played twice is repeated, not inserted|pluck|pluck|repeat 50000 300|1|d["repeated"] == [{"frame": 50300, "count": 300}] and d["inserted"] == [] and d["inserted_frames"] == 0
EOF
}

@test "diagnosis of the stages a path applies" {
    run_table <<'EOF'
channels swapped|tones|swapped||1|{"kind": "channel_map", "map": [2, 1]} in dg and d["offset_frames"] == 0 and "ends" not in f and d["aligned_by"] == "relation"
5.1 order changed|six|reordered||1|dg == [{"kind": "channel_map", "map": [1, 2, 5, 6, 3, 4]}]
both channels inverted|tones|inverted|silence 7000|1|dg == [{"kind": "polarity", "channel": 1}, {"kind": "polarity", "channel": 2}] and d["offset_frames"] == 7000
right channel inverted|tones|right-inverted||1|dg == [{"kind": "polarity", "channel": 2}] and "ends" not in f
rounded to 16 bits|tones|rounded||1|dg == [{"kind": "word_length", "bits": 16, "how": "rounded"}] and d["low_bits_set"] is False
dithered to 16 bits|tones|dithered||1|dg == [{"kind": "word_length", "bits": 16, "how": "dithered"}]
truncated to 16 bits|pink|truncated||1|dg == [{"kind": "word_length", "bits": 16, "how": "truncated"}]
resampled to 44.1 kHz|tones|resampled||1|dg == [{"kind": "unrelated"}] and d["offset_frames"] is None and "ends" not in f and d["missing_frames"] == 172800
a volume stage of -6 dB|pink|halved||1|dg == [{"kind": "gain", "channel": None, "gain_db": -6.02, "from_frame": None}] and d["constant_gain_db"] == -6.02
the back right channel 6 dB down|six|quiet-back||1|dg == [{"kind": "gain", "channel": 6, "gain_db": -6.02, "from_frame": None}] and d["constant_gain_db"] is None
a constant added|tones|offset||1|dg == [{"kind": "dc_offset", "channel": 1, "value": 8389}, {"kind": "dc_offset", "channel": 2, "value": 8389}]
right channel 3 frames late|tones|skewed||1|dg == [{"kind": "skew", "channel": 2, "frames": 3}]
nothing to explain|tones|tones||0|dg == []
a volume stage after a dithered lead-in|dithered-lead|dithered-lead|gain -3|1|dg == [{"kind": "gain", "channel": None, "gain_db": -3.0, "from_frame": None}] and d["offset_frames"] == 0 and "began" not in f
channel 1 offset, after a second of silence|decay|left-offset||1|dg == [{"kind": "dc_offset", "channel": 1, "value": 100}] and d["offset_frames"] == 0
a muted gap in a quiet passage is no volume stage|decay|decay|mute 400000 1000|1|dg == [] and d["constant_gain_db"] is None and d["mismatched_frames"] == 1000 and "gain" not in f
a longer muted gap|decay|decay|mute 420000 3000|1|dg == [] and d["constant_gain_db"] is None and d["dropped"] == [] and d["repeated"] == []
48 frames dropped inside a tone: no -inf dB gain|tone-pad|tone-pad|drop 100000 48|1|d["constant_gain_db"] is None and dg == [] and d["dropped"] == [{"frame": 167953, "count": 48}] and d["mismatched_frames"] == 0
EOF
}

@test "minutes-long captures: a gain measured exactly, from the start or from a point on" {
    run_table <<'EOF'
three minutes through -1.94 dB|long|long-gain||1|dg == [{"kind": "gain", "channel": None, "gain_db": -1.94, "from_frame": None}] and d["constant_gain_db"] == -1.94
-6.02 dB from the first minute on|long|long-from||1|dg == [{"kind": "gain", "channel": None, "gain_db": -6.02, "from_frame": 1920000}] and d["first_mismatch"]["frame"] == 1920000
three minutes after 3 s of silence|long|long|silence 96000|0|d["offset_frames"] == 96000 and d["compared_frames"] == 5776000
EOF
}
