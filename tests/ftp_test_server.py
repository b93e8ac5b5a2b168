#!/usr/bin/python3
"""The FTP servers of the upload tests: anonymous, on port 21 of loopback addresses inside a
namespace of the tests' own (tests/lab/ftp_lab.sh), all in one process.

  --writable ADDR   a root with a writable /temp
  --no-temp ADDR    a root without /temp, where nothing may be written
  --dropping ADDR   a writable /temp whose data connections are reset after --drop-after bytes

Every command and every file received is written to the journal, one line each:
  ADDR SESSION COMMAND ARGUMENT
  ADDR SESSION received PATH SIZE FIRST-8-BYTES-IN-HEX
  ADDR SESSION incomplete PATH SIZE
The library's own warnings (a transfer it aborted, and why) go to FILE.log beside the journal.
Run with --root DIR --journal FILE --pidfile FILE: it detaches once it listens, and stops on
SIGTERM. Needs Debian's python3-pyftpdlib.
"""
import argparse
import logging
import os
import socket
import struct
import sys
import warnings

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.filesystems import AbstractedFS
from pyftpdlib.handlers import DTPHandler, FTPHandler
from pyftpdlib.ioloop import IOLoop
from pyftpdlib.servers import FTPServer

from detach import detach

journal_path = None


def note(handler, *words):
    with open(journal_path, "a") as journal:
        journal.write(" ".join([handler.socket.getsockname()[0], "%x" % id(handler)] +
                               [str(word) for word in words]) + "\n")


def first_bytes(path):
    try:
        with open(path, "rb") as received:
            return received.read(8).hex() or "-"
    except OSError:
        return "-"


class SparseUpload:
    """A file being uploaded that keeps its first bytes and only counts the rest: on loopback an
    upload runs at gigabits a second, and the tests read no more than its size and first bytes.
    Closed, it has its full size, as a sparse file."""
    kept = 65536

    def __init__(self, real):
        self._real = real
        self._size = 0

    def write(self, data):
        room = self.kept - self._size
        if room > 0:
            self._real.write(data[:room])
        self._size += len(data)
        return len(data)

    def close(self):
        if not self._real.closed:
            self._real.truncate(self._size)
            self._real.close()

    def __getattr__(self, name):
        return getattr(self._real, name)


class SparseFS(AbstractedFS):
    def open(self, filename, mode):
        opened = super().open(filename, mode)
        return SparseUpload(opened) if "w" in mode else opened


class JournalHandler(FTPHandler):
    def pre_process_command(self, line, cmd, arg):
        note(self, cmd, arg if arg is not None else "")
        super().pre_process_command(line, cmd, arg)

    def on_file_received(self, path):
        note(self, "received", self.fs.fs2ftp(path), os.path.getsize(path), first_bytes(path))

    def on_incomplete_file_received(self, path):
        size = os.path.getsize(path) if os.path.exists(path) else 0
        note(self, "incomplete", self.fs.fs2ftp(path), size)

    def _on_dtp_connection(self):
        # An active connection's connector has handed its socket to the data channel, yet the
        # library keeps it, and closing this session later closes it again by its descriptor
        # number: by then perhaps another session's data connection, which the loop then stops
        # reading. Forgotten here, it is closed only by the data channel that owns it.
        self._dtp_connector = None
        super()._on_dtp_connection()


class DroppingDTPHandler(DTPHandler):
    """Resets the data connection once it has taken the configured number of bytes."""
    drop_after = 0

    def handle_read(self):
        super().handle_read()
        if self.tot_bytes_received >= self.drop_after and self.socket is not None:
            self.socket.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            self.handle_close()

    handle_read_event = handle_read  # the loop calls this name, bound to the base's otherwise


def log_warnings(journal):
    """The library's warnings and errors, for a failed test to show beside the journal."""
    logging.basicConfig(filename=journal + ".log", level=logging.WARNING,
                        format="%(asctime)s %(message)s")


def handler_for(root, permissions, dtp=DTPHandler):
    authorizer = DummyAuthorizer()
    authorizer.add_anonymous(root, perm=permissions)
    handler = type("Handler", (JournalHandler,), {})
    handler.authorizer = authorizer
    handler.abstracted_fs = SparseFS
    handler.dtp_handler = dtp
    handler.permit_foreign_addresses = False
    handler.banner = "telvario test server ready."
    return handler


def main():
    global journal_path
    warnings.simplefilter("ignore")
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", required=True)
    parser.add_argument("--journal", required=True)
    parser.add_argument("--pidfile", required=True)
    parser.add_argument("--port", type=int, default=21)
    parser.add_argument("--writable")
    parser.add_argument("--no-temp")
    parser.add_argument("--dropping")
    parser.add_argument("--drop-after", type=int, default=1 << 20)
    options = parser.parse_args()
    journal_path = options.journal
    open(journal_path, "w").close()

    loop = IOLoop()
    servers = []
    writable_perms = "elradfmw"
    if options.writable:
        root = os.path.join(options.root, "writable")
        os.makedirs(os.path.join(root, "temp"), exist_ok=True)
        servers.append(FTPServer((options.writable, options.port),
                                 handler_for(root, writable_perms), ioloop=loop))
    if options.no_temp:
        root = os.path.join(options.root, "no-temp")
        os.makedirs(root, exist_ok=True)
        servers.append(FTPServer((options.no_temp, options.port), handler_for(root, "elr"),
                                 ioloop=loop))
    if options.dropping:
        root = os.path.join(options.root, "dropping")
        os.makedirs(os.path.join(root, "temp"), exist_ok=True)
        dtp = type("Dropping", (DroppingDTPHandler,), {"drop_after": options.drop_after})
        servers.append(FTPServer((options.dropping, options.port),
                                 handler_for(root, writable_perms, dtp), ioloop=loop))

    detach(options.pidfile)  # the sockets listen already
    log_warnings(journal_path)
    loop.loop()


if __name__ == "__main__":
    sys.exit(main())
