#!/usr/bin/env bash
# Measures framedig on a large synthetic capture against cat of the same file,
# and its peak memory. Usage: bench/framedig.sh [BUILD_DIR] [MiB]
# Targets: the extraction at the speed of copying the file: PCM (-b 16, 20
# and 24) within 1.2x of cat in > out, -s within 1.8x of cat in > out, -v
# (which writes almost nothing) within 1.5x of cat in > /dev/null;
# --analyze within 3x of cat (on the generator's ramp and on a 1 kHz tone,
# whose zero crossings the analysis follows), --reference within 3x of cat
# of both files (a PCM WAV reference, and a compressed one: AC-3 that ffmpeg
# encoded, wrapped and played through alsa-lib's iec958 plugin into a
# capture of the same length),
# a capture with every other frame corrupted within 5x of a bit-exact one,
# --analyze of the AC-3 capture (its codec frames unwrapped, CRCs checked)
# within 3x of cat of it;
# peak RSS under 8 MiB, under 16 MiB for --reference. With valgrind
# installed, callgrind also counts the instructions per word of the
# extraction and of the analysis (repeatable where times drift). Needs ffmpeg
# and aplay.
set -euo pipefail
bin=${1:-build/default}/bin
mib=${2:-1024}
runs=7
# On tmpfs by default, so that disk writeback does not swamp what is measured.
work=$(mktemp -d "${BENCH_DIR:-/dev/shm}/framedig-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
cap=$work/capture.wav

ref=$work/reference.wav
exact=$work/exact.wav
corrupted=$work/corrupted.wav
tone=$work/tone.wav
frames=$((mib * 1024 * 1024 / 8))
lead=96000  # the captures compared with the reference began 2 s before playback
# One period of a 1 kHz sine at 48 kHz, half of full scale.
period=$(awk 'BEGIN { for (n = 0; n < 48; n++) printf "%s%d", n ? "," : "", int(4194304 * sin(2 * 3.14159265358979 * n / 48)) }')
"$bin/mkstream" -w -c 2 -n $frames -V 2=1000 > "$cap"
"$bin/mkstream" -w -c 2 -n $frames -a "1=$period" -a "2=$period" > "$tone"
"$bin/mkstream" -R -c 2 -n $((frames - lead)) > "$ref"  # the same samples, 24-bit PCM
"$bin/mkstream" -w -c 2 -n $((frames - lead)) -L $lead > "$exact"
"$bin/mkstream" -w -c 2 -n $((frames - lead)) -L $lead -X > "$corrupted"
cat "$ref" "$exact" "$corrupted" > /dev/null
cat "$cap" "$tone" > /dev/null  # warm the page cache
# A minute of AC-3 repeated to the capture's length: a film's track.
seconds=$((mib * 1024 * 1024 / 8 / 48000))
ffmpeg -hide_banner -loglevel error -f lavfi -i "anoisesrc=color=pink:duration=60:sample_rate=48000:seed=3" \
    -ac 2 -c:a ac3 -b:a 448k "$work/minute.ac3"
ac3=$work/reference.ac3
for _ in $(seq $(((seconds + 59) / 60))); do cat "$work/minute.ac3"; done > "$ac3"
ffmpeg -hide_banner -loglevel error -i "$ac3" -c copy -f spdif "$work/reference.spdif"
"$(dirname "$0")/../tests/support/iec958-encode.sh" "$work/passthrough.iec" '0x06 0x82 0x00 0x02' \
    -t raw -f S16_LE -r 48000 -c 2 "$work/reference.spdif"
rm -f "$work/reference.spdif" "$work/minute.ac3"
pcap=$work/passthrough.iec
cat "$ac3" "$pcap" > /dev/null
echo "capture: $mib MiB, 2 channels (reference: the same samples as 24-bit PCM); best and median of $runs runs, interleaved"
echo "passthrough: $(($(stat -c %s "$pcap") / 1048576)) MiB capture of $(($(stat -c %s "$ac3") / 1048576)) MiB of 448 kbps AC-3"

# Wall time of one run in seconds. Outputs are removed and dirty pages written
# back first, so no run pays for another's writes.
one() {
    rm -f "$work"/out*
    sync
    local start end
    start=$(date +%s%N)
    "$@" > /dev/null || true  # a capture that is not bit-exact ends with 1
    end=$(date +%s%N)
    echo "$(((end - start) / 1000))"
}

names=(cp catout cat catboth pcm24 pcm20 pcm16 validity status analyze tone reference corrupted catpass passthrough catcap bitstream)
declare -A times
for _ in $(seq $runs); do
    times[cp]+=" $(one cp "$cap" "$work/out.copy")"
    times[catout]+=" $(one sh -c "cat '$cap' > '$work/out.copy'")"
    times[cat]+=" $(one sh -c "cat '$cap' > /dev/null")"
    times[catboth]+=" $(one sh -c "cat '$exact' '$ref' > /dev/null")"
    times[pcm24]+=" $(one "$bin/framedig" -w -b 24 -i "$cap" -o "$work/out.pcm")"
    times[pcm20]+=" $(one "$bin/framedig" -w -b 20 -i "$cap" -o "$work/out.pcm")"
    times[pcm16]+=" $(one "$bin/framedig" -w -b 16 -i "$cap" -o "$work/out.pcm")"
    times[validity]+=" $(one "$bin/framedig" -w -v -c 2 -i "$cap" -o "$work/out.txt")"
    times[status]+=" $(one "$bin/framedig" -w -s -c 2 -i "$cap" -o "$work/out.txt")"
    times[analyze]+=" $(one "$bin/framedig" -w --analyze -i "$cap" -o "$work/out.txt")"
    times[tone]+=" $(one "$bin/framedig" -w --analyze -i "$tone" -o "$work/out.txt")"
    times[reference]+=" $(one "$bin/framedig" -w --reference "$ref" -i "$exact" -o "$work/out.txt")"
    times[corrupted]+=" $(one "$bin/framedig" -w --reference "$ref" -i "$corrupted" -o "$work/out.txt")"
    times[catpass]+=" $(one sh -c "cat '$pcap' '$ac3' > /dev/null")"
    times[passthrough]+=" $(one "$bin/framedig" --reference "$ac3" -i "$pcap" -o "$work/out.txt")"
    times[catcap]+=" $(one sh -c "cat '$pcap' > /dev/null")"
    times[bitstream]+=" $(one "$bin/framedig" --analyze -i "$pcap" -o "$work/out.txt")"
done

declare -A best median
for name in "${names[@]}"; do
    read -r best[$name] median[$name] < <(tr ' ' '\n' <<< "${times[$name]}" | grep . | sort -n |
        awk '{ t[NR] = $1 } END { printf "%d %d\n", t[1], t[int((NR + 1) / 2)] }')
    printf '%-10s best %6.3f s  median %6.3f s\n' "$name" "$(bc -l <<< "${best[$name]} / 1000000")" \
        "$(bc -l <<< "${median[$name]} / 1000000")"
done
ratio() { printf '%-34s best %.2f  median %.2f  (target %s)\n' "$1" \
    "$(bc -l <<< "${best[$2]} / ${best[$3]}")" "$(bc -l <<< "${median[$2]} / ${median[$3]}")" "$4"; }
ratio "PCM 24-bit / cat>out" pcm24 catout 1.2
ratio "PCM 20-bit / cat>out" pcm20 catout 1.2
ratio "PCM 16-bit / cat>out" pcm16 catout 1.2
ratio "-s / cat>out" status catout 1.8
ratio "-v / cat>/dev/null" validity cat 1.5
ratio "PCM 24-bit / cp" pcm24 cp 1.2
ratio "--analyze / cat" analyze cat 3
ratio "--analyze tone / cat" tone cat 3
ratio "--reference / cat both" reference catboth 3
ratio "every other corrupted / bit-exact" corrupted reference 5
ratio "passthrough / cat both" passthrough catpass 3
ratio "--analyze AC-3 / cat" bitstream catcap 3

peak() { /usr/bin/time -f %M "$@" 2>&1 > /dev/null | tail -n 1; }
printf 'peak RSS KiB: -b 24 %s, -v %s, -s %s, --analyze %s and %s AC-3, --reference %s and %s corrupted, passthrough %s (target under 8192, 16384)\n' \
    "$(peak "$bin/framedig" -w -b 24 -i "$cap" -o "$work/out.pcm")" \
    "$(peak "$bin/framedig" -w -v -c 2 -i "$cap" -o "$work/out.txt")" \
    "$(peak "$bin/framedig" -w -s -c 2 -i "$cap" -o "$work/out.txt")" \
    "$(peak "$bin/framedig" -w --analyze -i "$cap" -o "$work/out.txt")" \
    "$(peak "$bin/framedig" --analyze -i "$pcap" -o "$work/out.txt")" \
    "$(peak "$bin/framedig" -w --reference "$ref" -i "$exact" -o "$work/out.txt")" \
    "$(peak "$bin/framedig" -w --reference "$ref" -i "$corrupted" -o "$work/out.txt")" \
    "$(peak "$bin/framedig" --reference "$ac3" -i "$pcap" -o "$work/out.txt")"
grep -q '^bit-exact passthrough: ' "$work/out.txt" || { echo "the passthrough was not bit-exact:" >&2; head -n 3 "$work/out.txt" >&2; exit 1; }

# Instructions of framedig with the given options for a capture of n words
# of the ramp or the tone.
instructions() {
    local kind=$1 words=$2
    shift 2
    head -c $((44 + 4 * words)) "$([ "$kind" = ramp ] && echo "$cap" || echo "$tone")" > "$work/small.wav"
    # The exit status is the operation's (1 with findings); the count is what matters.
    { valgrind --tool=callgrind --callgrind-out-file=/dev/null "$bin/framedig" -w "$@" \
        -i "$work/small.wav" -o "$work/out.txt" || true; } 2>&1 | awk '/Collected/ { print $NF }'
}

# Per word, from the difference of two lengths, so that start-up and the
# detection in the first MiB do not count.
per_word() {
    local name=$1 kind=$2 short long
    shift 2
    short=$(instructions "$kind" $((2 * 1024 * 1024)) "$@")
    long=$(instructions "$kind" $((6 * 1024 * 1024)) "$@")
    printf 'callgrind %s: %.2f instructions a word (%d for 2M words, %d for 6M)\n' "$name" \
        "$(bc -l <<< "($long - $short) / (4 * 1024 * 1024)")" "$short" "$long"
}

if command -v valgrind > /dev/null && [ "$mib" -ge 32 ]; then
    per_word "-b 24" ramp -b 24
    per_word "-b 16" ramp -b 16
    per_word "-s" ramp -s -c 2
    per_word "-v" ramp -v -c 2
    per_word "--analyze, ramp" ramp --analyze
    per_word "--analyze, tone" tone --analyze
fi
