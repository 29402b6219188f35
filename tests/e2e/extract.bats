#!/usr/bin/env bats
# End-to-end tests of the extraction reports (-s, -v, -b 16/20/24) against
# a model that reads word by word (tests/support/extract-model.py): the
# output file, what follows framedig's two lines on standard output, and the
# exit status must be the same byte for byte. The reports take whole chunks
# of frames at once and fall back to one word at a time where something
# differs, so the rows put differences in later chunks, on one channel of
# many, in the first frame, and leave the last frame cut; channel counts
# whose frames straddle the chunks' ends; with and without a WAV header.
# The captures are sox material played through alsa-lib's iec958 plugin
# (tests/support/iec958-encode.sh), edited by editcap.py.
# FRAMEDIG, EDITCAP, IEC958_ENCODE and SUPPORT name the parts; EMULATOR, if
# set, runs framedig.

bats_require_minimum_version 1.5.0

setup_file() {
    cd "$BATS_FILE_TMPDIR"
    sox -D -n -r 48000 -c 1 -b 16 one.wav synth 1 sine 1000 gain -6 pad 0.2 0.2
    sox -D -n -r 48000 -c 2 -b 24 two.wav synth 0.5 pluck C3 pluck E3 pad 0.2 0.2
    sox -D -n -r 48000 -c 3 -b 16 three.wav synth 0.6 pinknoise gain -6
    sox -D -n -r 48000 -c 8 -b 16 eight.wav synth 0.25 sine 300 sine 400 sine 500 sine 600 sine 700 gain -6
    sox -D -n -r 48000 -c 33 -b 16 many.wav synth 0.1 sine 1000 gain -6
    for name in one two three eight many; do
        # 24-bit files are played as S32_LE, as capture paths carry them.
        if [ "$(soxi -b "$name.wav")" -gt 16 ]; then
            sox "$name.wav" -b 32 -e signed-integer -t raw "$name.s32"
            "$IEC958_ENCODE" "$name.iec" '0x04 0x82 0x00 0x02' -t raw -f S32_LE -r 48000 -c "$(soxi -c "$name.wav")" "$name.s32"
        else
            "$IEC958_ENCODE" "$name.iec" '0x04 0x82 0x00 0x02' "$name.wav"
        fi
        head -c 44 "$name.wav" > "$name.header"
    done
}

setup() {
    cd "$BATS_FILE_TMPDIR"
}

fd() { $EMULATOR "$FRAMEDIG" "$@"; }

# compare NAME OP CAPTURE FLAGS...: framedig with FLAGS on CAPTURE against
# the model's OP.
compare() {
    local name=$1 op=$2 capture=$3
    shift 3
    run --separate-stderr fd "$@" -i "$capture" -o out
    local want
    want=$(printf 'input file is %s\noutput file is out\n%s' "$capture" "$(cat "model/$op.stdout")")
    if [ "$status" -ne "$(cat "model/$op.status")" ] || [ "$output" != "$want" ] || ! cmp out "model/$op" >&2; then
        printf '%s: framedig %s -i %s\n  status %s, model %s\n  stdout: %s\n  model: %s\n' \
            "$name" "$*" "$capture" "$status" "$(cat "model/$op.status")" "$output" "$want" >&2
        return 1
    fi
}

@test "extraction reports agree with the word-by-word model on every channel count and fault" {
    local rows=0
    while IFS='|' read -r name source channels edits cut; do
        # The capture: the played source, edited, its last cut bytes left out.
        python3 "$EDITCAP" "$(soxi -c "$source.wav")" $edits < "$source.iec" > cap.raw
        head -c "-$cut" cap.raw > cap
        cat "$source.header" cap > cap.wav
        mkdir -p model
        python3 "$SUPPORT/extract-model.py" "$channels" cap model
        for wav in "" -w; do
            input=cap${wav:+.wav}
            compare "$name" status "$input" $wav -s -c "$channels"
            compare "$name" validity "$input" $wav -v -c "$channels"
        done
        for bits in 16 20 24; do
            compare "$name" pcm$bits cap.wav -w -b $bits
        done
        rows=$((rows + 1))
    done <<'ROWS'
1 channel, clean: one word a frame|one|1||0
1 channel, V set in the first frames, the last word cut|one|1|flip 0 1 28 flip 1 1 28 flip 2 1 28|2
2 channels, clean, a music-like signal|two|2||0
2 channels, V of channel 2 in a later chunk, C of channel 2 in block 150|two|2|flip 20000 2 28 flip 28810 2 30|0
2 channels, V of channel 1 in the first frame: every later frame differs|two|2|flip 0 1 28|0
2 channels, V of channel 1 in the very last frame, C of channel 1 in the first block|two|2|truncate 40000 flip 39999 1 28 flip 3 1 30|0
2 channels, the last frame cut after its first word|two|2||4
2 channels read as 3: frames across every chunk's end|two|3|flip 30001 1 28|0
3 channels, clean: frames across every chunk's end|three|3||0
3 channels, V of channel 1 in the frame across the first chunk's end|three|3|flip 5461 1 28|0
3 channels, V of channel 3 in a run of frames, C of channel 3 later, the last frame cut|three|3|flip 9000 3 28 flip 9001 3 28 flip 9002 3 28 flip 20000 3 30|8
8 channels, C of channel 5 in the first block, V of channel 8 near the end|eight|8|flip 5 5 30 flip 11000 8 28|0
8 channels, the last frame and a half word cut|eight|8||6
33 channels, clean: more channels than a 32-bit mask|many|33||0
33 channels, V of channel 33 and C of channel 1 later on, the last frame cut|many|33|flip 5000 33 28 flip 1920 1 30|100
33 channels, V of channel 2 in the frame across the first chunk's end|many|33|flip 496 2 28|0
33 channels, V of channels 32 and 33 in the first frame|many|33|flip 0 32 28 flip 0 33 28|0
ROWS
    [ "$rows" -eq 17 ]
}
