#!/usr/bin/env python3
"""Scripted HTTP peer for the clockpull tests, on 127.0.0.1 only.

httpstub.py PORTFILE REQFILE [--pause SECONDS] PART...

Listens on a free loopback port and writes its number to PORTFILE, accepts
one connection, saves the request bytes to REQFILE, then sends each PART
(backslash escapes such as \\r\\n and \\x00 are decoded) with the pause
between parts, and closes. With no PART it closes without sending anything.
Every wait is bounded so the stub never outlives a test by much.
"""
import os
import socket
import sys
import time

def main():
    port_file, request_file = sys.argv[1], sys.argv[2]
    args = sys.argv[3:]
    pause = 0.0
    if args[:1] == ["--pause"]:
        pause = float(args[1])
        args = args[2:]
    parts = [a.encode("latin-1").decode("unicode_escape").encode("latin-1") for a in args]

    server = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    server.bind(("127.0.0.1", 0))
    server.listen(1)
    server.settimeout(20)
    with open(port_file + ".tmp", "w") as f:
        f.write(str(server.getsockname()[1]))
    os.rename(port_file + ".tmp", port_file)

    conn, _ = server.accept()
    conn.settimeout(5)
    request = b""
    try:
        while b"\r\n\r\n" not in request:
            chunk = conn.recv(4096)
            if not chunk:
                break
            request += chunk
    except socket.timeout:
        pass
    with open(request_file, "wb") as f:
        f.write(request)
    try:
        for i, part in enumerate(parts):
            if i > 0:
                time.sleep(pause)
            conn.sendall(part)
    except OSError:
        pass  # the client may close once it has what it needs
    conn.close()
    server.close()

main()
