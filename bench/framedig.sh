#!/usr/bin/env bash
# Measures framedig on a large synthetic capture against cp and cat of the
# same file, and its peak memory. Usage: bench/framedig.sh [BUILD_DIR] [MiB]
# Targets: PCM within 1.2x of cp, -v within 4x of cat, --analyze within 3x of
# cat, --reference within 3x of cat of both files (a PCM WAV reference, and a
# compressed one: AC-3 that ffmpeg encoded, wrapped and played through
# alsa-lib's iec958 plugin into a capture of the same length), peak RSS
# under 8 MiB. Needs ffmpeg and aplay for the compressed one.
set -euo pipefail
bin=${1:-build/default}/bin
mib=${2:-1024}
runs=7
# On tmpfs by default, so that disk writeback does not swamp what is measured.
work=$(mktemp -d "${BENCH_DIR:-/dev/shm}/framedig-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
cap=$work/capture.wav

ref=$work/reference.wav
"$bin/mkstream" -w -c 2 -n $((mib * 1024 * 1024 / 8)) -V 2=1000 > "$cap"
"$bin/mkstream" -R -c 2 -n $((mib * 1024 * 1024 / 8)) > "$ref"  # the same samples, 24-bit PCM
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
cat "$ref" "$ac3" "$pcap" > /dev/null
cat "$cap" > /dev/null  # warm the page cache
echo "capture: $mib MiB, 2 channels (reference: the same samples as 24-bit PCM); best and median of $runs runs, interleaved"
echo "passthrough: $(($(stat -c %s "$pcap") / 1048576)) MiB capture of $(($(stat -c %s "$ac3") / 1048576)) MiB of 448 kbps AC-3"

# Wall time of one run in seconds. Outputs are removed and dirty pages written
# back first, so no run pays for another's writes.
one() {
    rm -f "$work"/out*
    sync
    local start end
    start=$(date +%s%N)
    "$@" > /dev/null
    end=$(date +%s%N)
    echo "$(((end - start) / 1000))"
}

names=(cp cat catboth pcm24 pcm16 validity status analyze reference catpass passthrough)
declare -A times
for _ in $(seq $runs); do
    times[cp]+=" $(one cp "$cap" "$work/out.copy")"
    times[cat]+=" $(one sh -c "cat '$cap' > /dev/null")"
    times[catboth]+=" $(one sh -c "cat '$cap' '$ref' > /dev/null")"
    times[pcm24]+=" $(one "$bin/framedig" -w -b 24 -i "$cap" -o "$work/out.pcm")"
    times[pcm16]+=" $(one "$bin/framedig" -w -b 16 -i "$cap" -o "$work/out.pcm")"
    times[validity]+=" $(one "$bin/framedig" -w -v -c 2 -i "$cap" -o "$work/out.txt")"
    times[status]+=" $(one "$bin/framedig" -w -s -c 2 -i "$cap" -o "$work/out.txt")"
    times[analyze]+=" $(one "$bin/framedig" -w --analyze -i "$cap" -o "$work/out.txt")"
    times[reference]+=" $(one "$bin/framedig" -w --reference "$ref" -i "$cap" -o "$work/out.txt")"
    times[catpass]+=" $(one sh -c "cat '$pcap' '$ac3' > /dev/null")"
    times[passthrough]+=" $(one "$bin/framedig" --reference "$ac3" -i "$pcap" -o "$work/out.txt")"
done

declare -A best median
for name in "${names[@]}"; do
    read -r best[$name] median[$name] < <(tr ' ' '\n' <<< "${times[$name]}" | grep . | sort -n |
        awk '{ t[NR] = $1 } END { printf "%d %d\n", t[1], t[int((NR + 1) / 2)] }')
    printf '%-10s best %6.3f s  median %6.3f s\n' "$name" "$(bc -l <<< "${best[$name]} / 1000000")" \
        "$(bc -l <<< "${median[$name]} / 1000000")"
done
ratio() { printf '%-22s best %.2f  median %.2f  (target %s)\n' "$1" \
    "$(bc -l <<< "${best[$2]} / ${best[$3]}")" "$(bc -l <<< "${median[$2]} / ${median[$3]}")" "$4"; }
ratio "PCM 24-bit / cp" pcm24 cp 1.2
ratio "PCM 16-bit / cp" pcm16 cp 1.2
ratio "-v / cat" validity cat 4
ratio "--analyze / cat" analyze cat 3
ratio "--reference / cat both" reference catboth 3
ratio "passthrough / cat both" passthrough catpass 3

peak() { /usr/bin/time -f %M "$@" 2>&1 > /dev/null | tail -n 1; }
printf 'peak RSS KiB: -b 24 %s, -v %s, -s %s, --analyze %s, --reference %s, passthrough %s (target under 8192)\n' \
    "$(peak "$bin/framedig" -w -b 24 -i "$cap" -o "$work/out.pcm")" \
    "$(peak "$bin/framedig" -w -v -c 2 -i "$cap" -o "$work/out.txt")" \
    "$(peak "$bin/framedig" -w -s -c 2 -i "$cap" -o "$work/out.txt")" \
    "$(peak "$bin/framedig" -w --analyze -i "$cap" -o "$work/out.txt")" \
    "$(peak "$bin/framedig" -w --reference "$ref" -i "$cap" -o "$work/out.txt")" \
    "$(peak "$bin/framedig" --reference "$ac3" -i "$pcap" -o "$work/out.txt")"
grep -q '^bit-exact passthrough: ' "$work/out.txt" || { echo "the passthrough was not bit-exact:" >&2; head -n 3 "$work/out.txt" >&2; exit 1; }
