# The bitstream captures of the passthrough and analysis suites: the
# streams ffmpeg encoded (tests/fixtures/pluck*), wrapped by ffmpeg's spdif
# muxer and played through alsa-lib's iec958 plugin at the rate each type
# needs. FIXTURES, IEC958_ENCODE and REPACK name the parts.

# Consumer status, non-audio, at 48, 192 and 44.1 kHz.
na48='0x06 0x82 0x00 0x02'
na192='0x06 0x82 0x00 0x0E'
na441='0x06 0x82 0x00 0x00'

# spdif NAME FILE [MUXER-OPTIONS]: ffmpeg's IEC 61937 stream of a file (a
# fixture by its name, or a path).
spdif() {
    local source=$2
    [ -e "$source" ] || source=$FIXTURES/$2
    ffmpeg -hide_banner -loglevel error -y -i "$source" -c copy -f spdif "${@:3}" "$1.spdif"
}
# play NAME STATUS RATE CHANNELS [FORMAT [FILE]]: the stream through the iec958 plugin into NAME.iec.
play() { "$IEC958_ENCODE" "$1.iec" "$2" -t raw -f "${5:-S16_LE}" -r "$3" -c "$4" "${6:-$1.spdif}"; }

# The capture of each codec, in the current directory: ac3, eac3, dts, dtshd
# (8 channels), thd (8 channels), mp2, and ac3-20 and ac3-24, the AC-3 bursts
# in the 20- and 24-bit modes of SMPTE 337.
make_bitstream_captures() {
    spdif ac3 pluck-51.ac3 && play ac3 "$na48" 48000 2
    spdif eac3 pluck-51.eac3 && play eac3 "$na192" 192000 2
    spdif dts pluck.dts && play dts "$na48" 48000 2
    spdif dtshd pluck.dts -dtshd_rate 768000 && play dtshd "$na192" 192000 8
    spdif thd pluck.thd && play thd "$na192" 192000 8
    spdif mp2 pluck.mp2 && play mp2 "$na48" 48000 2
    for bits in 20 24; do
        python3 "$REPACK" $bits < ac3.spdif > ac3-$bits.s32
        play ac3-$bits "$na48" 48000 2 S32_LE ac3-$bits.s32
    done
}
