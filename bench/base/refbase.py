#!/usr/bin/env python3
"""A minimal base station, as a user would write one instead of Tavrix: it
opens the base modem's serial line, waits with select() for bytes, cuts them
into the modem's addressed packets (0xE9, header, length, data), gathers each
remote's frame from STX to ETX, and writes the answer at once: the same frame
with the byte at offset 10 replaced by a letter A to J, as one data packet.
Nothing is shown. It ends on SIGTERM or SIGINT.

usage: refbase.py LINE [BAUD]
"""
import os
import select
import signal
import sys
import termios
import tty

STX, ETX, START = 0x02, 0x03, 0xE9


def main():
    path = sys.argv[1]
    baud = int(sys.argv[2]) if len(sys.argv) > 2 else 115200
    fd = os.open(path, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
    tty.setraw(fd)
    attrs = termios.tcgetattr(fd)
    speed = getattr(termios, "B%d" % baud)
    attrs[4] = attrs[5] = speed
    termios.tcsetattr(fd, termios.TCSANOW, attrs)
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))

    state, header, length, data = 0, 0, 0, bytearray()
    frames = {}    # address -> frame being gathered (None: no frame)
    replies = {}   # address -> answers sent
    while True:
        select.select([fd], [], [])
        try:
            chunk = os.read(fd, 4096)
        except BlockingIOError:
            continue
        if not chunk:
            return
        out = bytearray()
        for b in chunk:
            if state == 0:
                state = 1 if b == START else 0
            elif state == 1:
                header, state = b, 2
            elif state == 2:
                kind = header >> 6
                if kind == 3 or b > 212:
                    state = 0
                elif kind == 2:
                    state = 4
                else:
                    length, data, state = b, bytearray(), (3 if b else 0)
            elif state == 3:
                data.append(b)
                if len(data) == length:
                    state = 0
                    if header >> 6 == 0:
                        out += take(header & 0x3F, data, frames, replies)
            else:
                state = 0
        if out:
            os.write(fd, out)


def take(addr, data, frames, replies):
    """The answers that the data packet from addr completes."""
    out = bytearray()
    frame = frames.get(addr)
    for b in data:
        if b == STX:
            frame = bytearray([STX])
            continue
        if frame is None:
            continue
        if len(frame) < 256:
            frame.append(b)
        if b != ETX:
            continue
        n = replies.get(addr, 0)
        if len(frame) > 10:
            frame[10] = ord("A") + n % 10
        replies[addr] = n + 1
        if len(frame) <= 212:
            out += bytes([START, addr, len(frame)]) + frame
        frame = None
    frames[addr] = frame
    return out


if __name__ == "__main__":
    try:
        main()
    except KeyboardInterrupt:
        pass
