#!/usr/bin/env python3
"""A serial KISS TNC as far as the program can tell: a pseudo-terminal whose far end is made to look like a
USB serial adapter (group dialout, mode 0660) and linked at the path given, as /dev/ttyUSB0 would be.

Usage: pty-tnc.py LINK SECONDS
Prints "ready" once the link is there, then the KISS frames the program writes, in hex, one a line. Exits 0
once a KISS command frame for TXDELAY (0xC0 0x01 n 0xC0) arrives, 1 if none came within SECONDS.
"""
import grp
import os
import select
import sys
import time

FEND = 0xC0
TXDELAY = 0x01


def main():
    link, seconds = sys.argv[1], float(sys.argv[2])
    master, slave = os.openpty()
    device = os.ttyname(slave)
    os.chown(device, -1, grp.getgrnam("dialout").gr_gid)
    os.chmod(device, 0o660)
    os.symlink(device, link)
    # The program opens the line by its path; the TNC's side keeps the master only.
    os.close(slave)
    print("ready", flush=True)

    received = bytearray()
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        ready, _, _ = select.select([master], [], [], max(0.0, deadline - time.monotonic()))
        if not ready:
            continue
        try:
            received += os.read(master, 4096)
        except OSError:  # EIO: nobody holds the line open (yet, or any more)
            time.sleep(0.05)
            continue
        frames = [frame for frame in received.split(bytes([FEND])) if frame]
        for frame in frames:
            print(frame.hex(" "), flush=True)
        if any(frame[0] == TXDELAY and len(frame) == 2 for frame in frames):
            return 0
        received = received[received.rfind(bytes([FEND])):]
    return 1


if __name__ == "__main__":
    sys.exit(main())
