#!/usr/bin/env python3
"""The lidar end of the serial-port tests: a pseudo-terminal whose slave Wine maps to a COM
port, and on its master a peer that does what the Windows test program asks over the line.

Usage: serial_peer.py PATH_FILE
Writes the slave's path to PATH_FILE once the pseudo-terminal is ready, then serves commands:
  D tttt nnnn <bytes>   send the nnnn bytes back at once after tttt milliseconds
  H tttt                close the master after tttt milliseconds and end (the port vanishes)
(numbers in four decimal digits, no blanks between the parts). The peer ends by itself after a
time limit, so a test program that hangs never leaves it behind.
"""
import fcntl
import os
import select
import signal
import sys
import time
import termios
import tty

LIMIT_SECONDS = 300


def main():
    master, slave = os.openpty()
    # The slave becomes the controlling terminal of the peer's own session, so that no Wine
    # process takes it for its own and gets the hang-up signal when the master closes.
    os.setsid()
    fcntl.ioctl(slave, termios.TIOCSCTTY, 0)
    signal.signal(signal.SIGHUP, signal.SIG_IGN)
    # Raw on both sides, so that no byte is echoed, translated or taken as a signal before
    # the port's own settings apply.
    tty.setraw(slave)
    tty.setraw(master)
    # The peer keeps the slave open, so that the pseudo-terminal lives while Wine reopens it.
    path = os.ttyname(slave)
    with open(sys.argv[1] + ".part", "w") as out:
        out.write(path + "\n")
    os.rename(sys.argv[1] + ".part", sys.argv[1])

    deadline = time.monotonic() + LIMIT_SECONDS
    pending = b""

    def take(count):
        nonlocal pending
        while len(pending) < count:
            left = deadline - time.monotonic()
            if left <= 0:
                sys.exit("serial_peer: time limit reached")
            ready, _, _ = select.select([master], [], [], left)
            if ready:
                pending += os.read(master, 65536)
        got, pending = pending[:count], pending[count:]
        return got

    while True:
        command = take(1)
        if command == b"D":
            delay = int(take(4)) / 1000.0
            payload = take(int(take(4)))
            time.sleep(delay)
            # A blocking write to the pseudo-terminal returns once all of it went.
            os.write(master, payload)
        elif command == b"H":
            time.sleep(int(take(4)) / 1000.0)
            os.close(master)
            os.close(slave)
            return
        else:
            sys.exit("serial_peer: unknown command %r" % command)


if __name__ == "__main__":
    main()
