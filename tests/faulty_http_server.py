#!/usr/bin/env python3
"""An HTTP server that misbehaves in one way, for the fault tests: every request to it gets the
same fault, whatever its path.

  stall       declares 16 MiB, sends 1 MiB, then sends nothing more and keeps the connection
  silent      reads the request and never answers
  reset       declares 16 MiB, sends 1 MiB, then resets the connection
  short       declares 16 MiB, sends 1 MiB, then closes the connection cleanly
  bad-chunks  a chunked body whose second chunk size is not a number
  trickle     declares 1000 bytes, sends one a second, and closes after --trickle-seconds
  crawl       declares 1 MiB and sends 50 bytes a second: less than 4 KiB a minute
  loop        a redirect to itself
  longer      declares 100 bytes and sends 200
  error       answers every request with 500
  no-post     serves a GET, and answers a POST with 405

Every request is written to the journal (--journal FILE), a line each, so that a test can tell
whether a server was asked at all, and when.

Bounded in time: a connection it holds open ends after --hold seconds, and the server itself
stops after --lifetime seconds, so a test that fails cannot hang on it.
Run with --fault F --port P --pidfile FILE [--host A]: it detaches once it listens, and stops
on SIGTERM.
"""
import argparse
import fcntl
import http.server
import socket
import struct
import sys
import termios
import threading
import time

import http_test_server
from detach import detach

MIB = 1 << 20
DECLARED = 16 * MIB
options = None


class Handler(http_test_server.Handler):
    """Every request gets the server's one fault, whatever its path."""

    def first_mebibyte(self):
        self.head(200, DECLARED)
        self.wfile.write(b"x" * MIB)
        self.wfile.flush()

    def delivered(self):
        """Waits until the client's side has taken what was sent, and a moment more for it to
        read the headers: a reset discards what the client has not read, and the fault is a
        body broken off, not a response never seen."""
        ends = time.monotonic() + 5
        while time.monotonic() < ends:
            unsent = struct.unpack("i", fcntl.ioctl(self.connection, termios.TIOCOUTQ,
                                                    b"\0\0\0\0"))[0]
            if unsent == 0:
                break
            time.sleep(0.01)
        time.sleep(0.3)

    def hold(self):
        """Keeps the connection open and silent, for a bounded time."""
        time.sleep(options.hold)
        self.close_connection = True

    def do_GET(self):
        with open(options.journal, "a") as journal:
            journal.write("%.3f %s\n" % (time.time(), self.path))
        fault = options.fault
        if fault == "silent":
            self.hold()
        elif fault == "stall":
            self.first_mebibyte()
            self.hold()
        elif fault == "reset":
            self.first_mebibyte()
            self.delivered()
            self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER,
                                       struct.pack("ii", 1, 0))
            self.close_connection = True
        elif fault == "short":
            self.first_mebibyte()
            self.connection.shutdown(socket.SHUT_WR)
            self.close_connection = True
        elif fault == "bad-chunks":
            self.head(200, None, [("Transfer-Encoding", "chunked")])
            self.wfile.write(b"5\r\nhello\r\nzz\r\nworld\r\n0\r\n\r\n")
            self.close_connection = True
        elif fault == "trickle":
            self.head(200, 1000)
            for _ in range(options.trickle_seconds):
                self.wfile.write(b"t")
                self.wfile.flush()
                time.sleep(1)
            self.close_connection = True
        elif fault == "crawl":
            self.head(200, MIB)
            deadline = time.time() + options.hold
            while time.time() < deadline:
                self.wfile.write(b"c" * 50)
                self.wfile.flush()
                time.sleep(1)
            self.close_connection = True
        elif fault == "loop":
            self.head(302, 0, [("Location", self.path)])
        elif fault == "longer":
            self.head(200, 100)
            self.wfile.write(b"l" * 200)
            self.close_connection = True
        elif fault == "error":
            self.head(500, 0)
        elif fault == "no-post":
            self.head(200, MIB)
            self.wfile.write(b"g" * MIB)

    def do_POST(self):
        with open(options.journal, "a") as journal:
            journal.write("%.3f POST %s\n" % (time.time(), self.path))
        if options.fault in ("no-post", "error"):
            self.head(405 if options.fault == "no-post" else 500, 0, [("Allow", "GET")])
            self.close_connection = True
        else:
            self.do_GET()


def main():
    global options
    parser = argparse.ArgumentParser()
    parser.add_argument("--fault", required=True,
                        choices=["stall", "silent", "reset", "short", "bad-chunks", "trickle",
                                 "crawl", "loop", "longer", "error", "no-post"])
    parser.add_argument("--journal", default="/dev/null")
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--pidfile", required=True)
    parser.add_argument("--hold", type=float, default=150)
    parser.add_argument("--trickle-seconds", type=int, default=8)
    parser.add_argument("--lifetime", type=float, default=1200)
    options = parser.parse_args()
    # Room for a run's 64 connections at once, all taken without the client retransmitting.
    http.server.ThreadingHTTPServer.request_queue_size = 128
    server = http.server.ThreadingHTTPServer((options.host, options.port), Handler)
    server.daemon_threads = True
    detach(options.pidfile)  # the socket listens already
    threading.Timer(options.lifetime, server.shutdown).start()
    server.serve_forever()


if __name__ == "__main__":
    sys.exit(main())
