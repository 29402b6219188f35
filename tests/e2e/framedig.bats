#!/usr/bin/env bats
# End-to-end tests: the built framedig run as a user runs it.
# FRAMEDIG and MKSTREAM name the programs; EMULATOR, if set, runs them.

bats_require_minimum_version 1.5.0

setup() {
    cd "$BATS_TEST_TMPDIR"
}

fd() { $EMULATOR "$FRAMEDIG" "$@"; }
mk() { $EMULATOR "$MKSTREAM" "$@"; }

# Runs framedig with the words of $1 and checks its status and standard output.
check() {
    local args=$1 want_status=$2 want_output=$3
    run --separate-stderr fd $args
    if [ "$status" -ne "$want_status" ] || [ "$output" != "$want_output" ]; then
        printf 'framedig %s\n  status %s, wanted %s\n  stdout: %s\n  wanted: %s\n' \
            "$args" "$status" "$want_status" "$output" "$want_output" >&2
        return 1
    fi
}

@test "usage text is exact, and help opens no file" {
    {
        printf '%s\n' \
            'Usage: framedig [OPTION]... [FILE]...' \
            '-h,--help      help' \
            '-b,--bits      sample bits in origin iec958 stream' \
            '-v,--validity  abstract the validity bit. It can not use together with -s' \
            '-i,--input     input iec958 stream' \
            '-o,--output    ouput file to store the output pcm/validity/status bit. 16bit -> S16_LE; 20bit and 24bit -> S24_LE' \
            '-s,--status    abstract the status bit. It can not use together with -v' \
            '-w,--wav       source file is wav file' \
            '-c,--channel   channel nunbers in source file' \
            '   --analyze   report status, blocks, parity, validity, bursts and signal; -c is optional' \
            '   --json      write the --analyze or --reference report as JSON' \
            '   --reference compare the capture with the file that was played: a WAV file or a compressed stream'
        echo
    } > expected
    fd -h > help.txt
    cmp expected help.txt
    check "-v -h -o made" 0 "output file is made
$(cat help.txt)"
    [ ! -e made ]
}

@test "option order: conflicts end the run at the second flag, help and channel checks come before files" {
    while IFS='|' read -r args status expected; do
        check "$args" "$status" "$(printf '%b' "$expected")"
    done <<'EOF'
|1|Open input file error, please check.
-s -v|1|Error: validity(-v) and status(-s) can not be set together.
-v -s -i a|1|Error: validity(-v) and status(-s) can not be set together.
-v -i a -s|1|input file is a\nError: validity(-v) and status(-s) can not be set together.
-h -s -v|1|Error: validity(-v) and status(-s) can not be set together.
-sv|1|Error: validity(-v) and status(-s) can not be set together.
--stat --val|1|Error: validity(-v) and status(-s) can not be set together.
-i a -i b|1|input file is a\ninput file is b\nOpen input file error, please check.
-s -i missing|1|input file is missing\nError: channel number(-c) must be at least 1 with -s or -v.
-v -c 0 -i missing|1|input file is missing\nError: channel number(-c) must be at least 1 with -s or -v.
--validity --channel x|1|Error: channel number(-c) must be at least 1 with -s or -v.
-s -c 4294967296|1|Error: channel number(-c) must be at least 1 with -s or -v.
-s -c 1 -i missing|1|input file is missing\nOpen input file error, please check.
-i /dev/null|1|input file is /dev/null\nOpen output file error, please check.
-i /dev/null -o no/such/dir/out|1|input file is /dev/null\noutput file is no/such/dir/out\nOpen output file error, please check.
EOF
}

@test "a rejected option is named as typed, with the parser's diagnostic on stderr" {
    while IFS='|' read -r args name; do
        check "$args" 1 "Unsurported args: $name."
        [ -n "$stderr" ]
    done <<'EOF'
-x|-x
-s -x|-x
-sx|-x
--wav -sx|-x
--frobnicate|--frobnicate
nonoption --frob=3|--frob
-b|-b
-s -b|-b
--bits|--bits
--help=3|--help
--wav=yes|--wav
EOF
}

@test "numbers and option spellings reach the conversion as getopt_long and strtol give them" {
    mk -c 1 -n 4 -b 16 -a 1=1,-2,300,-32768 > cap
    fd -b 16 -i cap -o ref.pcm
    [ "$(od -An -v -td2 ref.pcm | xargs)" = "1 -2 300 -32768" ]
    for spelling in "--bits=16" "-b16" "--bi 16" "-b 4294967312" "-b +16" "-b 16abc"; do
        check "$spelling --in=cap --out out.pcm" 0 "input file is cap
output file is out.pcm"
        cmp ref.pcm out.pcm
    done
    check "-b x -i cap -o out.pcm" 1 "input file is cap
output file is out.pcm
Unsupported sample bits: 0"
}

@test "PCM samples round-trip at every width, channels interleaved" {
    while read -r bits od_type values1 values2; do
        mk -c 2 -n 4 -b "$bits" -a "1=$values1" -a "2=$values2" > cap
        fd -b "$bits" -i cap -o out.pcm
        IFS=, read -r -a a <<< "$values1"
        IFS=, read -r -a b <<< "$values2"
        [ "$(od -An -v -t"$od_type" out.pcm | xargs)" = "${a[0]} ${b[0]} ${a[1]} ${b[1]} ${a[2]} ${b[2]} ${a[3]} ${b[3]}" ]
    done <<'EOF'
16 d2 0,1,-1,32767 -32768,12345,-12345,2
20 d4 0,1,-1,524287 -524288,123456,-123456,2
24 d4 0,1,-1,8388607 -8388608,1234567,-1234567,2
EOF
}

@test "PCM over many read chunks: nothing lost, doubled or shifted at chunk boundaries" {
    # 7 values against power-of-two chunks: any slip shows as a wrong value.
    mk -w -c 1 -n 600001 -b 20 -a 1=1,-2,3,-4,5,-6,7 > cap.wav
    fd -w -b 20 -i cap.wav -o out.pcm
    [ "$(stat -c %s out.pcm)" -eq $((600001 * 4)) ]
    od -An -v -td4 -w4 out.pcm | awk 'BEGIN { split("1 -2 3 -4 5 -6 7", v) }
        $1 != v[(NR - 1) % 7 + 1] { print "sample " NR ": " $1; bad = 1; exit } END { exit bad }'
}

@test "WAV header: skipped with -w, even from a pipe; read as words without it" {
    mk -c 2 -n 10 > raw
    mk -c 2 -n 10 -w > cap.wav
    fd -b 24 -i raw -o raw.pcm
    fd -w -b 24 -i cap.wav -o wav.pcm
    cmp raw.pcm wav.pcm
    cat cap.wav | fd -w -b 24 -i /dev/stdin -o pipe.pcm
    cmp raw.pcm pipe.pcm
    fd -b 24 -i cap.wav -o nowav.pcm
    [ "$(stat -c %s nowav.pcm)" -eq $((44 + 80)) ]
    cmp <(tail -c 80 nowav.pcm) raw.pcm
}

@test "short, empty and unsupported inputs" {
    printf '\x00\x00\x10\x00\xff\xff' > six
    check "-b 24 -i six -o out" 0 "input file is six
output file is out"
    [ "$(od -An -v -td4 out | xargs)" = "65536" ]
    printf 'abc' > three
    check "-i three -o out" 0 "input file is three
output file is out"
    [ ! -s out ]
    check "-b 32 -i six -o out" 1 "input file is six
output file is out
Unsupported sample bits: 32"
    [ -e out ] && [ ! -s out ]
    head -c 44 /dev/zero > header-only
    for op in "-b 16" "-s -c 2" "-v -c 2"; do
        echo junk > out
        fd -w $op -i header-only -o out
        [ ! -s out ]
    done
}

@test "read errors fail every operation and are reported as such" {
    for op in "-b 16" "-s -c 2" "-v -c 2" "-w -v -c 1"; do
        check "$op -i . -o out" 1 "input file is .
output file is out
Meet error during reading origin iec stream: 1"
    done
}

@test "write errors fail every operation instead of passing" {
    mk -c 2 -n 400 > cap
    for op in "-b 24" "-b 16" "-s -c 2" "-v -c 2"; do
        check "$op -i cap -o /dev/full" 1 "input file is cap
output file is /dev/full
Write output file error, please check."
    done
}

@test "output naming the input file is refused before it is truncated" {
    mk -c 2 -n 10 > cap
    cp cap keep
    ln cap hardlink
    ln -s cap symlink
    mkdir sub
    for out in cap ./cap sub/../cap hardlink symlink "$PWD/cap"; do
        check "-b 24 -i cap -o $out" 1 "input file is cap
output file is $out
Input and output are the same file, please check."
        cmp cap keep
    done
    # Devices may be both: nothing is lost by writing them.
    check "-b 24 -i /dev/null -o /dev/null" 0 "input file is /dev/null
output file is /dev/null"
}

@test "paths longer than 255 characters are used whole" {
    dir=$(printf 'd%.0s' {1..200})/$(printf 'e%.0s' {1..100})
    mkdir -p "$dir"
    mk -c 1 -n 3 > "$dir/in"
    check "-b 24 -i $dir/in -o $dir/out" 0 "input file is $dir/in
output file is $dir/out"
    [ "$(stat -c %s "$dir/out")" -eq 12 ]
}

@test "status report: channel 2 disagreeing with channel 1 of the first block" {
    mk -c 2 -n 192 -s 1=03 > cap
    check "-s -c 2 -i cap -o report" 1 "input file is cap
output file is report
Status bit self-checking failure!"
    between="between$(printf '%33s' '')channel"
    diff report - <<EOF
The 1th status of channel 1 is: 3.
The 2th status of channel 1 is: 0.
The 3th status of channel 1 is: 0.
The 4th status of channel 1 is: 0.
The 5th status of channel 1 is: 0.
The 6th status of channel 1 is: 0.
The 1th status of channel 2 is: 0.
Error happens: different channel status information $between 2, word 1 and channel 1.
The 2th status of channel 2 is: 0.
The 3th status of channel 2 is: 0.
The 4th status of channel 2 is: 0.
The 5th status of channel 2 is: 0.
The 6th status of channel 2 is: 0.
EOF
}

@test "status report: agreeing blocks pass, a change in a later block fails for every channel" {
    bytes=0400000200000000000000000000000000000000000000ff
    mk -w -c 2 -n $((3 * 192 + 100)) -s 1=$bytes -s 2=$bytes > same.wav
    check "-w -s -c 2 -i same.wav -o report" 0 "input file is same.wav
output file is report"
    [ "$(wc -l < report)" -eq 36 ]
    [ "$(grep -c 'status of channel 2 is: 33554436\.' report)" -eq 3 ]
    [ "$(grep -c 'The 6th status of channel 1 is: 4278190080\.' report)" -eq 3 ]

    mk -c 2 -n $((2 * 192)) -s 1=04 -s 2=04 -s 1@1=05 -s 2@1=05 > change
    check "-s -c 2 -i change -o report" 1 "input file is change
output file is report
Status bit self-checking failure!"
    [ "$(grep -c '^Error happens' report)" -eq 2 ]
    grep -A1 'The 1th status of channel 1 is: 5\.' report | grep -q 'channel 1, word 1 and channel 1\.'
    grep -A1 'The 1th status of channel 2 is: 5\.' report | grep -q 'channel 2, word 1 and channel 1\.'

    mk -c 2 -n 191 > short
    check "-s -c 2 -i short -o report" 0 "input file is short
output file is report"
    [ ! -s report ]
}

@test "validity report: first frame per channel, then every differing frame" {
    mk -c 2 -n 3 -V 2=0 > cap
    check "-v -c 2 -i cap -o report" 1 "input file is cap
output file is report"
    diff report - <<'EOF'
The validity bit of channel 1 is: 0.
The validity bit of channel 2 is: 1.
Sample 2, channel 2 has different validity value: 0.
Sample 3, channel 2 has different validity value: 0.
EOF
    mk -w -c 3 -n 10 -V 3=5-6 > run.wav
    fd -w --validity -c 3 -i run.wav -o report || [ $? -eq 1 ]
    [ "$(grep '^Sample' report | xargs)" = "Sample 6, channel 3 has different validity value: 1. Sample 7, channel 3 has different validity value: 1." ]
    mk -c 2 -n 1 -V 1=0 > one
    check "-v -c 2 -i one -o report" 0 "input file is one
output file is report"
    [ "$(wc -l < report)" -eq 2 ]
}

@test "channel counts out of range: allocation messages, or nothing read" {
    mk -c 1 -n 10 > cap
    check "-v -c -1 -i cap -o out" 1 "input file is cap
output file is out
Failed to allocate memory for firstV."
    check "-s -c -1 -i cap -o out" 1 "input file is cap
output file is out
Failed to allocate memory for oneblock."
    check "-s -c 2796203 -i cap -o out" 1 "input file is cap
output file is out
Failed to allocate memory for oneblock."
    check "-v -c 100000000 -i cap -o out" 0 "input file is cap
output file is out"
}
