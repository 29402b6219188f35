#!/usr/bin/env bats
# What framedig --analyze says of the samples: level, DC offset, stuck audio
# bits, the frequency of a tone, mutes. The audio is sox's, of known level
# and frequency, played through alsa-lib's iec958 plugin into a capture
# (tests/support/iec958-encode.sh) and edited word by word where a fault is
# wanted (tests/support/editcap.py).

bats_require_minimum_version 1.5.0

load analyze-table

pcm48k='0x04 0x82 0x00 0x02 0x02'

# wav NAME SOX-EFFECTS...: one second of stereo 16-bit audio at 48 kHz.
wav() {
    local name=$1
    shift
    sox -D -n -r 48000 -c 2 -b 16 "$name.wav" "$@"
}

setup_file() {
    cd "$BATS_FILE_TMPDIR"
    wav tone synth 1 sine 1000 vol 0.5
    "$IEC958_ENCODE" tone.iec "$pcm48k" tone.wav
    wav padded synth 1 sine 1000 vol 0.5 pad 1 1
    "$IEC958_ENCODE" padded.iec "$pcm48k" padded.wav
    wav dc synth 1 sine 1000 vol 0.5 dcshift 0.1
    "$IEC958_ENCODE" dc.iec "$pcm48k" dc.wav
    wav white synth 1 whitenoise vol 0.5
    "$IEC958_ENCODE" white.iec "$pcm48k" white.wav
    wav pink synth 1 pinknoise vol 0.5
    "$IEC958_ENCODE" pink.iec "$pcm48k" pink.wav
    wav pluck synth 1 pluck C3 vol 0.5
    "$IEC958_ENCODE" pluck.iec "$pcm48k" pluck.wav
    sox -D -n -r 48000 -c 2 -b 16 silence.wav trim 0 1
    "$IEC958_ENCODE" silence.iec "$pcm48k" silence.wav
    # Without -D, sox dithers: samples of -1, 0 and 1.
    sox -n -r 48000 -c 2 -b 16 dithered.wav trim 0 1
    "$IEC958_ENCODE" dithered.iec "$pcm48k" dithered.wav
    # Played at 44.1 kHz under a status that says 48 kHz: the 1 kHz tone
    # reads 1000 * 48000 / 44100 = 1088.4 Hz.
    sox -D -n -r 44100 -c 2 -b 16 fast.wav synth 1 sine 1000 vol 0.5
    "$IEC958_ENCODE" fast.iec "$pcm48k" fast.wav
    # ... and at 48 kHz under a status that says 44.1 kHz: 918.75 Hz.
    "$IEC958_ENCODE" slow.iec '0x04 0x82 0x00 0x00 0x02' tone.wav
    # 24-bit noise, where every audio bit is in use.
    sox -D -n -r 48000 -c 2 -b 24 noise24.wav synth 1 whitenoise vol 0.5
    sox noise24.wav -b 32 -e signed-integer -t raw noise24.s32
    "$IEC958_ENCODE" noise24.iec '0x04 0x82 0x00 0x02 0x0b' -t raw -f S32_LE -r 48000 -c 2 noise24.s32
}

setup() {
    cd "$BATS_FILE_TMPDIR"
}

edit() { python3 "$EDITCAP" 2 "$@"; }

@test "what the samples show: level, DC offset, stuck bits, tone and mutes" {
    analyze_table <<'EOF'
a 1 kHz tone at -6 dB|cat tone.iec||0|[(c["peak_dbfs"], c["rms_dbfs"], c["tone_hz"]) for c in s] == [(-6.02, -9.03, 1000.0)] * 2 and abs(s[0]["dc_offset"]) < 1 and s[0]["bits_stuck_at_0"] == [] and s[0]["bits_stuck_at_1"] == [] and s[0]["mutes"] == [] and s[0]["mute_count"] == 0 and s[0]["samples"] == 47999
the tone with a second of silence around it|cat padded.iec||0|s[0]["rms_dbfs"] == -9.03 and s[0]["tone_hz"] == 1000.0 and s[0]["mute_count"] == 0 and s[0]["samples"] == 47999
a 300 ms gap of silence in the tone|edit mute 24011 14400 < tone.iec||0|s[0]["mute_count"] == 1 and s[1]["mutes"] == [{"frame": 24011, "frames": 14400, "seconds": 0.5, "duration_ms": 300.0}] and s[0]["tone_hz"] == 1000.0 and s[0]["rms_dbfs"] == -9.03 and "at 0.500 s (frame 24011): 300.0 ms, 14400 frames" in text
a gap of 9 ms is no mute|edit mute 24011 432 < tone.iec||0|s[0]["mute_count"] == 0
44.1 kHz audio under a 48 kHz status|cat fast.iec||0|abs(s[0]["tone_hz"] - 1088.4) < 0.06
48 kHz audio under a 44.1 kHz status|cat slow.iec||0|s[0]["tone_hz"] == 918.8 and "918.8" in text
a DC offset of 0.1 of full scale|cat dc.iec||0|abs(s[0]["dc_offset"] - 838860.8) < 300 and s[1]["tone_hz"] == 1000.0
white noise has no tone|cat white.iec||0|s[0]["tone_hz"] is None and s[1]["tone_hz"] is None and -12 < s[0]["rms_dbfs"] < -9 and s[0]["bits_stuck_at_0"] == []
pink noise has no tone|cat pink.iec||0|s[0]["tone_hz"] is None and s[0]["peak_dbfs"] <= 0
a plucked string|cat pluck.iec||0|s[0]["peak_dbfs"] < -5.9 and s[0]["bits_stuck_at_0"] == []
digital silence|cat silence.iec||0|s[0]["peak_dbfs"] is None and s[0]["rms_dbfs"] is None and s[0]["dc_offset"] == 0 and s[0]["tone_hz"] is None and "digital silence" in text
dithered silence has no stuck bit|cat dithered.iec||0|s[0]["bits_stuck_at_1"] == [] and s[0]["peak_dbfs"] < -90 and d["findings"] == []
a data line stuck at 0|edit clearbit 15 < noise24.iec||1|s[0]["bits_stuck_at_0"] == [15] and s[1]["bits_stuck_at_0"] == [15] and "channel 1: audio bit 15 is never set, though lower bits are" in f
a data line stuck at 1|edit setbit 20 < noise24.iec||1|s[1]["bits_stuck_at_1"] == [20] and d["findings"] == ["channel %d: audio bit 20 is always set" % c for c in (1, 2)]
a 16-bit sample shifted 8 bits down|edit clearbit 27 clearbit 26 clearbit 25 clearbit 24 < noise24.iec||1|s[0]["bits_stuck_at_0"] == [24, 25, 26, 27] and "channel 1: audio bits 24-27 are never set, though lower bits are" in f
an AC-3 bitstream is not linear PCM|cat "$FIXTURES/ac3-nonaudio.iec"||0|s[0]["samples"] == 0 and s[0]["peak_dbfs"] is None and s[0]["dc_offset"] is None and "no linear PCM samples" in text
six channels of tones|cat "$FIXTURES/six-channel.iec"||0|[c["tone_hz"] for c in s] == [300.0, 400.0, 500.0, 600.0, 700.0, 800.0]
EOF
}

@test "a tone, then an AC-3 bitstream: the statistics skip the bursts" {
    cat tone.iec "$FIXTURES/ac3-nonaudio.iec" > cap
    run $EMULATOR "$FRAMEDIG" --analyze --json -i cap -o report.json
    [ "$status" -eq 1 ]
    python3 - <<'PY'
import json
d = json.load(open("report.json"))
s = d["signal"]
assert [c["tone_hz"] for c in s] == [1000.0, 1000.0], s
assert s[0]["peak_dbfs"] == -6.02 and s[0]["rms_dbfs"] == -9.03, s
assert s[0]["bits_stuck_at_0"] == [] and s[0]["mute_count"] == 0, s
assert d["bursts"]["data_types"] == ["AC-3"], d["bursts"]
PY
}
