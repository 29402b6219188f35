#!/usr/bin/env python3
"""Runs a command that reads a fifo the way framedig reads a device, and
signals it once it has read everything sent so far:

  live-signal.py SIGNAL CAPTURE FIFO -- COMMAND...

Writes CAPTURE into FIFO (which COMMAND must read), waits until the fifo is
drained, sends SIGNAL (INT or TERM) to COMMAND and keeps the fifo open, so
that only the signal can end the reading. Prints how COMMAND ended: its exit
status, or "signal N". Gives up after 60 seconds."""
import fcntl
import os
import signal
import struct
import subprocess
import sys
import termios
import time


def unread(fd):
    return struct.unpack("i", fcntl.ioctl(fd, termios.FIONREAD, b"\0\0\0\0"))[0]


def main():
    sig = getattr(signal, "SIG" + sys.argv[1])
    data = open(sys.argv[2], "rb").read()
    fifo = sys.argv[3]
    command = sys.argv[sys.argv.index("--") + 1 :]
    os.mkfifo(fifo)
    # Started with the default dispositions, as from an interactive shell.
    child = subprocess.Popen(command, stdout=subprocess.DEVNULL,
                             preexec_fn=lambda: signal.signal(signal.SIGINT, signal.SIG_DFL))
    writer = os.open(fifo, os.O_WRONLY)
    watcher = os.open(fifo, os.O_RDONLY | os.O_NONBLOCK)
    deadline = time.monotonic() + 60
    for start in range(0, len(data), 4096):
        os.write(writer, data[start : start + 4096])
    # Drained: the reader's last read returned, whatever it does next.
    while unread(watcher) > 0 and time.monotonic() < deadline:
        time.sleep(0.05)
    child.send_signal(sig)
    try:
        code = child.wait(timeout=max(1, deadline - time.monotonic()))
    except subprocess.TimeoutExpired:
        child.kill()
        code = "hung"
    os.close(writer)
    os.close(watcher)
    print("signal %d" % -code if isinstance(code, int) and code < 0 else code)


main()
