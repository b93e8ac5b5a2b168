#!/usr/bin/env python3
"""A name server that is slow or silent, for the fault tests: UDP on port 53 of one address.

  slow.fault.test     answered with 192.0.2.1 (a documentation address), after --delay seconds
  silent.fault.test   never answered
  any other name      answered at once: no such name

Bounded in time: the server stops after --lifetime seconds. Run with --address A --pidfile F:
it detaches once it listens, and stops on SIGTERM.
"""
import argparse
import os
import socket
import struct
import sys
import threading

from detach import detach

SLOW_ADDRESS = bytes([192, 0, 2, 1])


def question(packet):
    """The query's id, flags, its name in lower case, and the end of its question section."""
    ident, flags, count = struct.unpack("!HHH", packet[:6])
    if count != 1:
        return None
    labels, at = [], 12
    while at < len(packet) and packet[at] != 0:
        length = packet[at]
        labels.append(packet[at + 1:at + 1 + length].decode("ascii", "replace").lower())
        at += 1 + length
    end = at + 5  # the root label, then type and class
    if end > len(packet):
        return None
    qtype = struct.unpack("!H", packet[at + 1:at + 3])[0]
    return ident, flags, ".".join(labels), qtype, end


def answer(packet, parsed, address):
    ident, flags, _, qtype, end = parsed
    recursion = flags & 0x0100
    if address is not None and qtype == 1:
        header = struct.pack("!HHHHHH", ident, 0x8080 | recursion, 1, 1, 0, 0)
        record = struct.pack("!HHHIH", 0xC00C, 1, 1, 60, 4) + address
        return header + packet[12:end] + record
    code = 0 if address is not None else 3  # no records of that type / no such name
    header = struct.pack("!HHHHHH", ident, 0x8080 | recursion | code, 1, 0, 0, 0)
    return header + packet[12:end]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--address", default="127.0.0.53")
    parser.add_argument("--pidfile", required=True)
    parser.add_argument("--delay", type=float, default=3)
    parser.add_argument("--lifetime", type=float, default=1800)
    options = parser.parse_args()
    server = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    server.bind((options.address, 53))
    detach(options.pidfile)  # the socket listens already
    threading.Timer(options.lifetime, lambda: os._exit(0)).start()
    while True:
        packet, client = server.recvfrom(4096)
        try:
            parsed = question(packet)
        except (struct.error, IndexError):
            continue
        if parsed is None:
            continue
        name = parsed[2]
        if name == "silent.fault.test":
            continue
        if name == "slow.fault.test":
            reply = answer(packet, parsed, SLOW_ADDRESS)
            threading.Timer(options.delay, server.sendto, (reply, client)).start()
            continue
        server.sendto(answer(packet, parsed, None), client)


if __name__ == "__main__":
    sys.exit(main())
