#!/usr/bin/python3
"""FTP servers that misbehave, for the fault tests: anonymous, on port 21 of loopback addresses
inside a namespace of the tests' own, each with one fault, all in one process.

  --no-greeting ADDR    accepts connections and never says a word
  --silent-stor ADDR    logs in, then never answers STOR
  --stalling ADDR       stops reading a data connection after 1 MiB, and holds it
  --resetting ADDR      resets a data connection after 1 MiB
  --no-delete ADDR      a writable /temp whose files may not be deleted (DELE is refused)
  --slow-reader ADDR    reads a data connection at --slow-rate bytes a second
  --no-226 ADDR         takes the data, and never confirms the transfer
  --busy-dele ADDR      never answers DELE on a session that has uploaded (another session's
                        DELE is answered)

Commands and files are written to the journal, and warnings beside it, as tests/ftp_test_server.py
does. Bounded in time: a connection held silent, stalled or slow ends after --hold seconds, and the
server stops after --lifetime seconds. Run with --root DIR --journal FILE --pidfile FILE: it
detaches once it listens, and stops on SIGTERM. Needs Debian's python3-pyftpdlib.
"""
import argparse
import os
import socket
import sys
import threading
import time
import warnings

from pyftpdlib.ioloop import IOLoop
from pyftpdlib.servers import FTPServer

import ftp_test_server
from detach import detach

MIB = 1 << 20
options = None


def end_session(dtp):
    """Ends a data connection and its session, without a word: the end of a held fault."""
    channel = dtp.cmd_channel
    dtp.close()
    channel.close()


class StallingDTPHandler(ftp_test_server.DTPHandler):
    """Stops reading once it has taken 1 MiB, so that the client's writes find no room, and
    ends the session after --hold seconds."""
    stalled = False

    def handle_read(self):
        super().handle_read()
        if self.tot_bytes_received >= MIB and not self.stalled and not self._closed:
            self.stalled = True
            self.ioloop.unregister(self._fileno)  # the socket stays open, unread
            self.ioloop.call_later(options.hold, end_session, self)

    handle_read_event = handle_read  # the loop calls this name, bound to the base's otherwise


class SlowReadingDTPHandler(ftp_test_server.DTPHandler):
    """Takes --slow-rate bytes a second: reads that much, then stops reading for a second."""
    resting = False

    def handle_read(self):
        if self.resting or self._closed:
            return
        if self.tot_bytes_received == 0:
            self.ioloop.call_later(options.hold, end_session, self)
        self.ac_in_buffer_size = options.slow_rate
        super().handle_read()
        if not self._closed:
            self.resting = True
            self.ioloop.unregister(self._fileno)
            self.ioloop.call_later(1, self.wake)

    def wake(self):
        self.resting = False
        if not self._closed:
            self.ioloop.register(self._fileno, self, self.ioloop.READ)

    handle_read_event = handle_read


class UnconfirmingDTPHandler(ftp_test_server.DTPHandler):
    """Takes the whole upload, then says nothing: no 226."""

    def close(self):
        self._resp = None
        if not self._closed:
            channel = self.cmd_channel
            channel.ioloop.call_later(options.hold, channel.close)
        super().close()


def busy_dele_handler(root):
    handler = ftp_test_server.handler_for(root, "elradfmw")
    base_stor, base_dele = handler.ftp_STOR, handler.ftp_DELE

    def ftp_STOR(self, file, mode="w"):
        self.uploaded = True
        return base_stor(self, file, mode)

    def ftp_DELE(self, path):
        if getattr(self, "uploaded", False):
            self.ioloop.call_later(options.hold, self.close)
            return None  # busy: no answer
        return base_dele(self, path)

    handler.ftp_STOR, handler.ftp_DELE = ftp_STOR, ftp_DELE
    return handler


def silent_stor_handler(root):
    handler = ftp_test_server.handler_for(root, "elradfmw")

    def ftp_STOR(self, file, mode="w"):
        self.ioloop.call_later(options.hold, self.close)  # no answer: not 150, not an error

    handler.ftp_STOR = ftp_STOR
    return handler


def listen_without_greeting(address, port):
    listener = socket.socket()
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind((address, port))
    listener.listen(16)
    return listener


def serve_no_greeting(listener):
    """Accepts, holds each connection silent for a bounded time, then closes it. Started after
    the server has detached: its threads would not survive the fork."""

    def hold(connection):
        time.sleep(options.hold)
        connection.close()

    def accept():
        while True:
            connection, _ = listener.accept()
            threading.Thread(target=hold, args=(connection,), daemon=True).start()

    threading.Thread(target=accept, daemon=True).start()


def main():
    global options
    warnings.simplefilter("ignore")
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", required=True)
    parser.add_argument("--journal", required=True)
    parser.add_argument("--pidfile", required=True)
    parser.add_argument("--port", type=int, default=21)
    parser.add_argument("--hold", type=float, default=150)
    parser.add_argument("--lifetime", type=float, default=1800)
    parser.add_argument("--slow-rate", type=int, default=1024)
    for fault in ("no-greeting", "silent-stor", "stalling", "resetting", "no-delete",
                  "slow-reader", "no-226", "busy-dele"):
        parser.add_argument("--" + fault)
    options = parser.parse_args()
    ftp_test_server.journal_path = options.journal
    open(options.journal, "a").close()

    def root(name):
        path = os.path.join(options.root, name)
        os.makedirs(os.path.join(path, "temp"), exist_ok=True)
        return path

    loop = IOLoop()
    servers = []
    if options.silent_stor:
        servers.append(FTPServer((options.silent_stor, options.port),
                                 silent_stor_handler(root("silent-stor")), ioloop=loop))
    if options.stalling:
        servers.append(FTPServer((options.stalling, options.port),
                                 ftp_test_server.handler_for(root("stalling"), "elradfmw",
                                                             StallingDTPHandler), ioloop=loop))
    if options.resetting:
        dtp = type("Resetting", (ftp_test_server.DroppingDTPHandler,), {"drop_after": MIB})
        servers.append(FTPServer((options.resetting, options.port),
                                 ftp_test_server.handler_for(root("resetting"), "elradfmw", dtp),
                                 ioloop=loop))
    if options.no_delete:
        servers.append(FTPServer((options.no_delete, options.port),
                                 ftp_test_server.handler_for(root("no-delete"), "elrafmw"),
                                 ioloop=loop))
    if options.slow_reader:
        servers.append(FTPServer((options.slow_reader, options.port),
                                 ftp_test_server.handler_for(root("slow-reader"), "elradfmw",
                                                             SlowReadingDTPHandler), ioloop=loop))
    if options.no_226:
        servers.append(FTPServer((options.no_226, options.port),
                                 ftp_test_server.handler_for(root("no-226"), "elradfmw",
                                                             UnconfirmingDTPHandler), ioloop=loop))
    if options.busy_dele:
        servers.append(FTPServer((options.busy_dele, options.port),
                                 busy_dele_handler(root("busy-dele")), ioloop=loop))
    silent = None
    if options.no_greeting:
        silent = listen_without_greeting(options.no_greeting, options.port)

    detach(options.pidfile)  # the sockets listen already
    if silent is not None:
        serve_no_greeting(silent)
    ftp_test_server.log_warnings(options.journal)
    threading.Timer(options.lifetime, lambda: os._exit(0)).start()
    loop.loop()


if __name__ == "__main__":
    sys.exit(main())
