#!/usr/bin/env bats
# End-to-end tests: the built clockpull against real and scripted servers on
# 127.0.0.1. clockpull always runs in a user namespace, where setting the
# clock fails even for root; where a test wants success it also preloads the
# fake settimeofday, which only records what it was given.
# CLOCKPULL, FAKECLOCK and HTTPSTUB name the parts; EMULATOR, if set, runs clockpull.

bats_require_minimum_version 1.5.0

setup() {
    cd "$BATS_TEST_TMPDIR"
    server_pid=
}

teardown() {
    [ -z "$server_pid" ] || kill "$server_pid" 2>/dev/null || true
}

# clockpull ARGS...: run without any way to set the clock.
clockpull() { run --separate-stderr unshare -U -r $EMULATOR "$CLOCKPULL" "$@"; }

# faked ARGS...: the same, with settimeofday recorded into ./clock (and time()
# standing still at FAKECLOCK_NOW, when that is set).
faked() {
    local preload=(env LD_PRELOAD="$FAKECLOCK")
    [ -z "$EMULATOR" ] || preload=(env QEMU_SET_ENV="LD_PRELOAD=$FAKECLOCK")
    unshare -U -r "${preload[@]}" FAKECLOCK_LOG="$PWD/clock" $EMULATOR "$CLOCKPULL" "$@"
}
clockpull_faked() { run --separate-stderr faked "$@"; }

# Waits (bounded) for a server to write its port to the file $1.
wait_port() {
    for _ in $(seq 100); do
        [ -s "$1" ] && { port=$(cat "$1"); return 0; }
        sleep 0.1
    done
    echo "server did not start" >&2
    return 1
}

# stub [--pause S] PART...: a scripted server for one connection.
stub() {
    rm -f port request
    timeout 30 python3 "$HTTPSTUB" port request "$@" &
    server_pid=$!
    wait_port port
}

# real_server: Python's http.server on a free loopback port, with its Date of now.
real_server() {
    mkdir www
    timeout 60 python3 -u -m http.server 0 --bind 127.0.0.1 --directory www > server.log 2>&1 &
    server_pid=$!
    for _ in $(seq 100); do grep -q 'port [0-9]' server.log && break; sleep 0.1; done
    port=$(grep -oE 'port [0-9]+' server.log | head -n 1 | cut -d' ' -f2)
    [ -n "$port" ]
}

date_reply='HTTP/1.1 200 OK\r\nServer: stub\r\nDate: Sun, 06 Nov 1994 08:49:37 GMT\r\nContent-Length: 0\r\n\r\n'

@test "usage and help" {
    for args in "" "-q" "--query"; do
        clockpull $args
        [ "$status" -eq 1 ]
        [ -z "$output" ]
        [ "$stderr" = "Usage: $CLOCKPULL <server_ip> [port]
Try '$CLOCKPULL --help' for more information." ]
    done

    for args in "-h" "--help" "--help 127.0.0.1 80"; do
        clockpull $args
        [ "$status" -eq 0 ]
        [ -z "$stderr" ]
        diff <(printf '%s\n' "$output") - <<EOF
Usage: $CLOCKPULL <server_ip> [port]

Options:
  -h, --help    Show this help message and exit
  -q, --query   Print the server's time and the offset; set nothing

Arguments:
  server_ip     The IP address of the time server
  port          The port number (default: 80)
EOF
    done
}

@test "arguments that are refused before connecting" {
    for mode in "" -q --query; do
        for port in 0 65536 65616 -1 80abc abc '' 99999999999 ' 80' +80; do
            clockpull $mode 127.0.0.1 "$port"
            [ "$status" -eq 1 ]
            [ -z "$output" ]
            expected="Error: Invalid port: $port"
            [ "$stderr" = "${expected% }" ]  # bats drops the blank that ends the line for ''
        done
        # After -q, -h and -q are servers, not options.
        for server in localhost -x ${mode:+-h -q} 127.0.0.256 127.1 127.000.0.1 '[::1]' ::1%lo ''; do
            clockpull $mode "$server" 8080
            [ "$status" -eq 1 ]
            [ "$output" = "[*] Connecting to $server:8080..." ]
            [ "$stderr" = "Invalid address / Address not supported: Invalid argument" ]
        done
    done
}

@test "a refused connection is reported in the perror form" {
    stub   # take a free port, then leave it closed
    kill "$server_pid"; wait "$server_pid" 2>/dev/null || true
    clockpull 127.0.0.1 "0000$port"
    [ "$status" -eq 1 ]
    [ "$output" = "[*] Connecting to 127.0.0.1:$port..." ]
    [ "$stderr" = "Connection failed: Connection refused" ]
}

@test "a real HTTP server's Date sets the clock to that second" {
    real_server

    clockpull_faked 127.0.0.1 "$port"
    [ "$status" -eq 0 ]
    [ -z "$stderr" ]
    set -- $(cat clock)
    [ "$#" -eq 3 ]
    [ "$2" -eq 0 ]
    [ "$3" = null ]
    now=$(date +%s)
    [ $((now - $1)) -ge 0 ]
    [ $((now - $1)) -le 5 ]
    [ "$(sed -n 4p <<< "$output")" = "[*] Setting system time to timestamp: $1" ]
    [ "$(sed -n 1,2p <<< "$output")" = "[*] Connecting to 127.0.0.1:$port...
[*] Sending HTTP HEAD request..." ]
    [[ "$(sed -n 3p <<< "$output")" == "[*] Server Time String: "*" GMT" ]]
    [ "$(sed -n 5p <<< "$output")" = "[SUCCESS] System time updated successfully!" ]
    [[ "$(sed -n 6p <<< "$output")" == "Current Local Time: "* ]]
}

@test "without the privilege the clock is not set and the run fails" {
    stub "$date_reply"
    clockpull 127.0.0.1 "$port"
    [ "$status" -eq 1 ]
    [ "$(tail -n 1 <<< "$output")" = "[*] Setting system time to timestamp: 784111777" ]
    [ "$stderr" = "settimeofday failed (Are you root?): Operation not permitted" ]

    stub "$date_reply"
    FAKECLOCK_FAIL=1 clockpull_faked 127.0.0.1 "$port"
    [ "$status" -eq 1 ]
    [ "$stderr" = "settimeofday failed (Are you root?): Operation not permitted" ]
    [ ! -e clock ]
}

@test "the request is exactly one HEAD for / with the server alone as Host, whatever descriptor is closed" {
    # A closed standard descriptor must not become the socket: the progress
    # lines would go into the request.
    while IFS='|' read -r name redirections; do
        rm -f clock
        stub "$date_reply"
        code=0
        eval "faked 127.0.0.1 \"\$port\" $redirections" || code=$?
        [ "$code" -eq 0 ] || { echo "$name: status $code" >&2; false; }
        cmp request <(printf 'HEAD / HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n') ||
            { echo "$name: request [$(cat -A request)]" >&2; false; }
        [ "$(cat clock)" = "784111777 0 null" ]
    done <<'EOF'
all open|> out 2> err
stdout closed|>&- 2> err
stdin closed|<&- > out 2> err
stderr closed|> out 2>&-
stdin and stdout closed|<&- >&- 2> err
all three closed|<&- >&- 2>&-
EOF
}

@test "the Date is found in replies split, padded and disguised" {
    long=$(printf 'X-Pad: %04100d\\r\\n' 0)
    while IFS='|' read -r name found parts; do
        rm -f clock
        eval "stub $parts"
        clockpull_faked 127.0.0.1 "$port"
        if [ "$found" = yes ]; then
            [ "$status" -eq 0 ] || { echo "$name: $stderr" >&2; false; }
            [ "$(cat clock)" = "784111777 0 null" ]
            grep -qx '\[\*\] Server Time String: Sun, 06 Nov 1994 08:49:37 GMT' <<< "$output"
        else
            [ "$status" -eq 1 ] || { echo "$name: $output" >&2; false; }
            [ "$stderr" = "Error: 'Date' header not found in response." ]
            [ ! -e clock ]
        fi
    done <<'EOF'
headers in three pieces|yes|--pause 0.3 'HTTP/1.1 200 OK\r\nServer: stub\r\n' 'Da' 'te: Sun, 06 Nov 1994 08:49:37 GMT\r\n\r\n'
X-Date before Date|yes|'HTTP/1.1 200 OK\r\nX-Date: Mon, 01 Jan 2001 00:00:00 GMT\r\nDate: Sun, 06 Nov 1994 08:49:37 GMT\r\n\r\n'
lower-case name, tab|yes|'HTTP/1.1 200 OK\r\ndate:\tSun, 06 Nov 1994 08:49:37 GMT\r\n\r\n'
error status still dated|yes|'HTTP/1.1 503 Service Unavailable\r\nDate: Sun, 06 Nov 1994 08:49:37 GMT\r\n\r\n'
close without a blank line|yes|'HTTP/1.1 200 OK\r\nDate: Sun, 06 Nov 1994 08:49:37 GMT\r\n'
only X-Date|no|'HTTP/1.1 200 OK\r\nX-Date: Sun, 06 Nov 1994 08:49:37 GMT\r\n\r\n'
close without sending|no|
no Date at all|no|'HTTP/1.1 200 OK\r\nServer: stub\r\n\r\n'
Date beyond the first 4095 bytes|no|"HTTP/1.1 200 OK\r\n$long" 'Date: Sun, 06 Nov 1994 08:49:37 GMT\r\n\r\n'
zero byte before Date|yes|'HTTP/1.1 200 OK\r\nX-Odd: \x00\r\nDate: Sun, 06 Nov 1994 08:49:37 GMT\r\n\r\n'
Date after the header block|no|'HTTP/1.1 200 OK\r\nServer: stub\r\n\r\n' 'Date: Sun, 06 Nov 1994 08:49:37 GMT\r\n'
EOF
}

@test "server replies: what is printed, the exit status and the second set or queried" {
    # Fill the 4095-byte buffer so that it ends inside the seconds of the
    # Date, or right after a whole Date line that a folded line continues.
    cut=$(printf 'X-Pad: %04039d\\r\\n' 0)
    full=$(printf 'X-Pad: %04036d\\r\\n' 0)
    date='Sun, 06 Nov 1994 08:49:37 GMT'
    parse_error='Error: Failed to parse date string.'
    shopt -s extglob
    # Each reply is asked for twice: to set the clock, and with -q, which
    # prints the second and its offset from the local clock instead (with a
    # second of slack either side) and fails in the same way.
    while IFS='|' read -r name parts want_status want_clock want_value want_stderr; do
        eval "want_value=\"$want_value\" want_stderr=\"$want_stderr\""
        eval "stub --connections 2 $parts"
        for mode in set query; do
            rm -f clock
            before=$(date +%s)
            if [ "$mode" = set ]; then clockpull_faked 127.0.0.1 "$port"; else clockpull_faked -q 127.0.0.1 "$port"; fi
            after=$(date +%s)
            shown=$(sed -n 's/^\[\*\] Server Time String: //p' <<< "$output")
            stamp=$(sed -n 's/^\[\*\] Server timestamp: //p' <<< "$output")
            offset=$(sed -n 's/^\[\*\] Offset: \([-+][0-9]*\) s$/\1/p' <<< "$output")
            [ -e clock ] && got_clock=$(cut -d' ' -f1 clock) || got_clock=-
            ok=yes
            [ "$status" -eq "$want_status" ] && [ "$shown" = "$want_value" ] && [[ "$stderr" == $want_stderr ]] || ok=no
            if [ "$mode" = set ]; then
                [ "$got_clock" = "$want_clock" ] && [ -z "$stamp$offset" ] || ok=no
            else
                [ "$got_clock" = - ] && [ "$stamp" = "${want_clock#-}" ] && [[ "$output" != *Setting* ]] || ok=no
                [ "$want_clock" = - ] || { [ -n "$offset" ] && [ $((offset)) -ge $((want_clock - after - 1)) ] &&
                    [ $((offset)) -le $((want_clock - before + 1)) ]; } || ok=no
            fi
            if [ "$ok" = no ]; then
                printf '%s (%s):\n  status %s clock %s value [%s]\n  stderr [%s]\n  output [%s]\n' "$name" "$mode" \
                    "$status" "$got_clock" "$shown" "$stderr" "$output" >&2
                return 1
            fi
        done
    done <<'EOF'
IMF-fixdate|"HTTP/1.1 200 OK\r\nDate: $date\r\n\r\n"|0|784111777|$date|
RFC 850 date|'HTTP/1.1 200 OK\r\nDate: Sunday, 06-Nov-94 08:49:37 GMT\r\n\r\n'|0|784111777|Sunday, 06-Nov-94 08:49:37 GMT|
asctime date|'HTTP/1.1 200 OK\r\nDate: Sun Nov  6 08:49:37 1994\r\n\r\n'|0|784111777|Sun Nov  6 08:49:37 1994|
leap second|'HTTP/1.1 200 OK\r\nDate: Sat, 31 Dec 2016 23:59:60 GMT\r\n\r\n'|0|1483228800|Sat, 31 Dec 2016 23:59:60 GMT|
bare LF line ends|"HTTP/1.1 200 OK\nServer: stub\nDate: $date\n\n"|0|784111777|$date|
103 Early Hints first|'HTTP/1.1 103 Early Hints\r\nDate: Mon, 01 Jan 2001 00:00:00 GMT\r\n\r\n' "HTTP/1.1 200 OK\r\nDate: $date\r\n\r\n"|0|784111777|$date|
interim response only|'HTTP/1.1 100 Continue\r\nDate: Mon, 01 Jan 2001 00:00:00 GMT\r\n\r\n'|1|-||Error: \'Date\' header not found in response.
Date cut by the close|'HTTP/1.1 200 OK\r\nDate: Sun, 06 Nov 1994 08:49:3'|1|-|Sun, 06 Nov 1994 08:49:3|$parse_error
Date cut by the buffer|"HTTP/1.1 200 OK\r\n$cut" "Date: $date\r\n\r\n"|1|-|Sun, 06 Nov 1994 08:49:3|$parse_error
control bytes shown escaped|'HTTP/1.1 200 OK\r\nDate: Sun,\t06 Nov 1994 08:49:37 GMT\x1b[2J\x7f\r\n\r\n'|1|-|Sun,\\x0906 Nov 1994 08:49:37 GMT\\x1B[2J\\x7F|$parse_error
8-bit bytes shown escaped|"HTTP/1.1 200 OK\r\nDate: $date\x9b2J\xe2\x80\xae\r\n\r\n"|1|-|$date\\x9B2J\\xE2\\x80\\xAE|$parse_error
folded zone +0500|'HTTP/1.1 200 OK\r\nDate: Sun, 06 Nov 1994 08:49:37\r\n +0500\r\n\r\n'|1|-|Sun, 06 Nov 1994 08:49:37 +0500|$parse_error
folded zone PST, tab and bare LF|'HTTP/1.1 200 OK\nDate: Sun, 06 Nov 1994 08:49:37\n\tPST\n\n'|1|-|Sun, 06 Nov 1994 08:49:37 PST|$parse_error
folded zone GMT, tab|'HTTP/1.1 200 OK\r\nDate: Sun, 06 Nov 1994 08:49:37\r\n\tGMT\r\nServer: stub\r\n\r\n'|0|784111777|$date|
folded year|'HTTP/1.1 200 OK\r\nDate: Sun, 06 Nov\r\n   1994 08:49:37 GMT\r\n\r\n'|0|784111777|$date|
Date line ends a full buffer, fold unseen|"HTTP/1.1 200 OK\r\n$full" 'Date: Sun, 06 Nov 1994 08:49:37\r\n' ' +0500\r\n\r\n'|1|-|Sun, 06 Nov 1994 08:49:37|$parse_error
two Date fields that differ|"HTTP/1.1 200 OK\r\nDate: $date\r\nServer: stub\r\nDate: Sun, 06 Nov 1994 13:49:37 GMT\r\n\r\n"|1|-||Error: conflicting Date fields.
two equal Date fields|"HTTP/1.1 200 OK\r\nDate: $date\r\nServer: stub\r\ndate: $date\r\n\r\n"|0|784111777|$date|
a mail server's banner|"220 mail.example ESMTP\r\nDate: $date\r\n\r\n"|1|-||Error: the reply is not HTTP.
binary bytes|"\x16\x03\x01\x00\xa5\r\nDate: $date\r\n\r\n"|1|-||Error: the reply is not HTTP.
empty line before an interim response|'\r\nHTTP/1.1 103 Early Hints\r\nDate: Mon, 01 Jan 2001 00:00:00 GMT\r\n\r\n' "HTTP/1.1 200 OK\r\nDate: $date\r\n\r\n"|1|-||Error: the reply is not HTTP.
far future, ahead of the local clock|'HTTP/1.1 200 OK\r\nDate: Mon, 01 Mar 2100 00:00:00 GMT\r\n\r\n'|0|4107542400|Mon, 01 Mar 2100 00:00:00 GMT|
no such day|'HTTP/1.1 200 OK\r\nDate: Thu, 30 Feb 2023 12:00:00 GMT\r\n\r\n'|1|-|Thu, 30 Feb 2023 12:00:00 GMT|$parse_error
second 61|'HTTP/1.1 200 OK\r\nDate: Sun, 06 Nov 1994 08:49:61 GMT\r\n\r\n'|1|-|Sun, 06 Nov 1994 08:49:61 GMT|$parse_error
zone PST|'HTTP/1.1 200 OK\r\nDate: Sun, 06 Nov 1994 08:49:37 PST\r\n\r\n'|1|-|Sun, 06 Nov 1994 08:49:37 PST|$parse_error
offset +0500|'HTTP/1.1 200 OK\r\nDate: Sun, 06 Nov 1994 08:49:37 +0500\r\n\r\n'|1|-|Sun, 06 Nov 1994 08:49:37 +0500|$parse_error
empty value|'HTTP/1.1 200 OK\r\nDate: \r\n\r\n'|1|-||$parse_error
before 1970|'HTTP/1.1 200 OK\r\nDate: Wed, 31 Dec 1969 23:59:59 GMT\r\n\r\n'|1|-|Wed, 31 Dec 1969 23:59:59 GMT|Error: Failed to convert time structure.
long before 1970|'HTTP/1.1 200 OK\r\nDate: Wednesday, 31-Dec-69 00:00:00 GMT\r\n\r\n'|1|-|Wednesday, 31-Dec-69 00:00:00 GMT|Error: Failed to convert time structure.
connection reset, never SIGPIPE|--reset|1|-||@(Connection|Send|Receive) failed: @(Connection reset by peer|Broken pipe)
EOF
}

@test "a silent, a trickling and an unaccepting server all end at the 10-second deadline" {
    # The three run side by side, so the test costs one deadline.
    timeout 30 python3 "$HTTPSTUB" port.silent request --hold 20 &
    timeout 30 python3 "$HTTPSTUB" port.trickle request --trickle 1 "$date_reply" &
    timeout 30 python3 - > port.full <<'PY' &
import socket, time
server = socket.socket()
server.bind(("127.0.0.1", 0))
server.listen(0)
fillers = []
for _ in range(3):  # fill the accept queue so that further SYNs are dropped
    c = socket.socket()
    c.setblocking(False)
    c.connect_ex(server.getsockname())
    fillers.append(c)
time.sleep(0.3)
print(server.getsockname()[1], flush=True)
time.sleep(25)
PY
    for kind in silent trickle full; do
        wait_port port.$kind
        (
            start=$(date +%s%N)
            code=0
            unshare -U -r $EMULATOR "$CLOCKPULL" 127.0.0.1 "$port" > out.$kind 2> err.$kind || code=$?
            echo "$code $((($(date +%s%N) - start) / 1000000))" > result.$kind
        ) &
    done
    for _ in $(seq 300); do
        [ -s result.silent ] && [ -s result.trickle ] && [ -s result.full ] && break
        sleep 0.1
    done
    while read -r kind message; do
        read -r code ms < result.$kind
        echo "$kind: status $code after $ms ms: $(cat err.$kind)"
        [ "$code" -eq 1 ]
        [ "$ms" -ge 9500 ]
        [ "$ms" -lt 15000 ]
        [ "$(cat err.$kind)" = "$message" ]
    done <<'EOF'
silent Receive failed: Connection timed out
trickle Receive failed: Connection timed out
full Connection failed: Connection timed out
EOF
    [ "$(cat out.full)" = "[*] Connecting to 127.0.0.1:$(cat port.full)..." ]
    [ "$(tail -n 1 out.silent)" = "[*] Sending HTTP HEAD request..." ]
}

@test "IPv6 literals: bracketed in the Host field and the connecting line" {
    python3 -c 'import socket; s = socket.socket(socket.AF_INET6); s.bind(("::1", 0))' 2> /dev/null ||
        skip "this machine has no IPv6 loopback"
    for server in ::1 0:0:0:0:0:0:0:1; do
        rm -f clock
        stub --ipv6 "$date_reply"
        clockpull_faked "$server" "$port"
        [ "$status" -eq 0 ]
        [ "$(head -n 1 <<< "$output")" = "[*] Connecting to [$server]:$port..." ]
        cmp request <(printf 'HEAD / HTTP/1.1\r\nHost: [%s]\r\nConnection: close\r\n\r\n' "$server")
        [ "$(cat clock)" = "784111777 0 null" ]
    done
}

@test "progress and error lines keep their order in one file" {
    stub 'HTTP/1.1 200 OK\r\nDate: Sun, 06 Nov 1994 08:49:37 PST\r\n\r\n'
    unshare -U -r $EMULATOR "$CLOCKPULL" 127.0.0.1 "$port" > both 2>&1 || true
    diff both - <<EOF
[*] Connecting to 127.0.0.1:$port...
[*] Sending HTTP HEAD request...
[*] Server Time String: Sun, 06 Nov 1994 08:49:37 PST
Error: Failed to parse date string.
EOF
}

@test "a log reader that goes away does not stop the clock being set" {
    # head takes the first line and leaves; the reply comes a second later,
    # so the lines after it meet a closed pipe.
    stub --pause 1 'HTTP/1.1 200 OK\r\nServer: stub\r\n' 'Date: Sun, 06 Nov 1994 08:49:37 GMT\r\n\r\n'
    faked 127.0.0.1 "$port" 2> err | head -n 1 > first
    statuses=("${PIPESTATUS[@]}")
    [ "${statuses[0]}" -eq 0 ]
    [ "${statuses[1]}" -eq 0 ]
    [ "$(cat first)" = "[*] Connecting to 127.0.0.1:$port..." ]
    [ "$(cat clock)" = "784111777 0 null" ]
    [ ! -s err ]
}

@test "query mode: the server's second and the offset from the local clock, nothing set" {
    # time() stands still at FAKECLOCK_NOW, so the offset is exact.
    stub --connections 5 "$date_reply"
    while read -r now offset; do
        rm -f clock
        FAKECLOCK_NOW=$now clockpull_faked -q 127.0.0.1 "$port"
        [ "$status" -eq 0 ]
        [ -z "$stderr" ]
        [ ! -e clock ]
        diff <(printf '%s\n' "$output") - <<EOF
[*] Connecting to 127.0.0.1:$port...
[*] Sending HTTP HEAD request...
[*] Server Time String: Sun, 06 Nov 1994 08:49:37 GMT
[*] Server timestamp: 784111777
[*] Offset: $offset
EOF
    done <<'EOF'
784111774 +3 s
784111777 +0 s
784111778 -1 s
0 +784111777 s
1700000000 -915888223 s
EOF

    # A real server's Date is now: the offset is within a second of zero.
    # No privilege is needed, and none is asked for.
    real_server
    for run in privileged unprivileged; do
        rm -f clock
        before=$(date +%s)
        if [ "$run" = privileged ]; then
            clockpull_faked --query 127.0.0.1 "$port"
        else
            clockpull --query 127.0.0.1 "$port"
        fi
        after=$(date +%s)
        [ "$status" -eq 0 ]
        [ -z "$stderr" ]
        [ ! -e clock ]
        stamp=$(sed -n 's/^\[\*\] Server timestamp: //p' <<< "$output")
        [ "$stamp" -ge "$before" ]
        [ "$stamp" -le "$after" ]
        [[ "$(tail -n 1 <<< "$output")" =~ ^\[\*\]\ Offset:\ ([-+][0-9]+)\ s$ ]]
        offset=${BASH_REMATCH[1]}
        [ $((offset)) -ge -1 ]
        [ $((offset)) -le 1 ]
        [ "$(wc -l <<< "$output")" -eq 5 ]
    done
}

@test "the second set does not depend on the zone database" {
    # The "right" zones count leap seconds: 19 of them by 1994.
    [ -d /usr/share/zoneinfo/right ] || skip "this machine has no /usr/share/zoneinfo/right"
    for zone in UTC Europe/Berlin unset; do
        stub "$date_reply"
        rm -f clock
        if [ "$zone" = unset ]; then unset TZ; else export TZ=$zone; fi
        TZDIR=/usr/share/zoneinfo/right clockpull_faked 127.0.0.1 "$port"
        [ "$status" -eq 0 ] || { echo "$zone: $stderr" >&2; false; }
        [ "$(cat clock)" = "784111777 0 null" ]
        [ "$(sed -n 4p <<< "$output")" = "[*] Setting system time to timestamp: 784111777" ]
        [[ "$(tail -n 1 <<< "$output")" == "Current Local Time: "* ]]
    done
}

@test "the conversion is UTC whatever TZ says, and the local time line is in TZ's zone" {
    for zone in JST-9 NZST-12 EST5 unset; do
        stub "$date_reply"
        rm -f clock
        if [ "$zone" = unset ]; then
            unset TZ
        else
            export TZ=$zone
        fi
        clockpull_faked 127.0.0.1 "$port"
        [ "$status" -eq 0 ]
        [ "$(cat clock)" = "784111777 0 null" ]
        # The printed local time, read back in the same zone, is now.
        shown=$(sed -n 's/^Current Local Time: //p' <<< "$output")
        [ $(($(date +%s) - $(date -d "$shown" +%s))) -le 5 ]
    done
    # And the zone matters: 9 hours east of UTC is 9 hours later on the wall.
    stub "$date_reply"
    TZ=JST-9 clockpull_faked 127.0.0.1 "$port"
    jst=$(sed -n 's/^Current Local Time: //p' <<< "$output")
    [ $(( $(TZ=UTC date -d "$jst" +%s) - $(date +%s) )) -ge $((9 * 3600 - 5)) ]
}
