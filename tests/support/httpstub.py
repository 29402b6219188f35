#!/usr/bin/env python3
"""Scripted HTTP peer for the clockpull tests, on the loopback only.

httpstub.py PORTFILE REQFILE [OPTION]... PART...

Listens on a free loopback port and writes its number to PORTFILE, accepts
one connection, saves the request bytes to REQFILE, then sends each PART
(backslash escapes such as \\r\\n and \\x00 are decoded) and closes. With no
PART it closes without sending anything.

  --connections N  serve N connections one after the other, the same way

  --pause S    wait S seconds between parts
  --trickle S  send the parts one byte at a time, S seconds apart
  --hold S     stay connected S seconds after the parts instead of closing
  --reset      reset the connection (RST) as soon as it is accepted
  --ipv6       listen on ::1 instead of 127.0.0.1

Every wait is bounded so the stub never outlives a test by much.
"""
import os
import socket
import struct
import sys
import time


def main():
    port_file, request_file = sys.argv[1], sys.argv[2]
    args = sys.argv[3:]
    pause = trickle = hold = 0.0
    reset = ipv6 = False
    connections = 1
    while args[:1] and args[0].startswith("--"):
        option = args.pop(0)
        if option == "--pause":
            pause = float(args.pop(0))
        elif option == "--trickle":
            trickle = float(args.pop(0))
        elif option == "--hold":
            hold = float(args.pop(0))
        elif option == "--reset":
            reset = True
        elif option == "--ipv6":
            ipv6 = True
        elif option == "--connections":
            connections = int(args.pop(0))
    parts = [a.encode("latin-1").decode("unicode_escape").encode("latin-1") for a in args]
    if trickle:
        parts = [bytes([b]) for b in b"".join(parts)]
        pause = trickle

    family, host = (socket.AF_INET6, "::1") if ipv6 else (socket.AF_INET, "127.0.0.1")
    server = socket.socket(family, socket.SOCK_STREAM)
    server.bind((host, 0))
    server.listen(1)
    server.settimeout(20)
    with open(port_file + ".tmp", "w") as f:
        f.write(str(server.getsockname()[1]))
    os.rename(port_file + ".tmp", port_file)

    for _ in range(connections):
        serve(server.accept()[0], request_file, parts, pause, hold, reset)
    server.close()


def serve(conn, request_file, parts, pause, hold, reset):
    """Saves the request of one connection, answers it with the parts and closes it."""
    if reset:
        conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        conn.close()
        return
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
        time.sleep(hold)
    except OSError:
        pass  # the client may close once it has what it needs
    conn.close()


main()
