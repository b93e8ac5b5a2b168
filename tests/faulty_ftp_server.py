#!/usr/bin/python3
"""FTP servers that misbehave, for the fault tests: anonymous, on port 21 of loopback addresses
inside a namespace of the tests' own, each with one fault, all in one process.

  --no-greeting ADDR    accepts connections and never says a word
  --silent-stor ADDR    logs in, then never answers STOR
  --stalling ADDR       stops reading a data connection after 1 MiB, and holds it
  --resetting ADDR      resets a data connection after 1 MiB
  --no-delete ADDR      a writable /temp whose files may not be deleted (DELE is refused)

Commands and files are written to the journal, as tests/ftp_test_server.py does. Bounded in
time: a connection held silent or stalled ends after --hold seconds, and the server stops after
--lifetime seconds. Run with --root DIR --journal FILE --pidfile FILE: it detaches once it
listens, and stops on SIGTERM. Needs Debian's python3-pyftpdlib.
"""
import argparse
import logging
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


class StallingDTPHandler(ftp_test_server.DTPHandler):
    """Stops reading once it has taken 1 MiB, so that the client's writes find no room, and
    closes the data connection after --hold seconds."""
    stalled = False

    def handle_read(self):
        super().handle_read()
        if self.tot_bytes_received >= MIB and not self.stalled and not self._closed:
            self.stalled = True
            self.ioloop.unregister(self._fileno)  # the socket stays open, unread
            self.ioloop.call_later(options.hold, self.close)

    handle_read_event = handle_read  # the loop calls this name, bound to the base's otherwise


def silent_stor_handler(root):
    handler = ftp_test_server.handler_for(root, "elradfmw")

    def ftp_STOR(self, file, mode="w"):
        pass  # no answer: not 150, not an error

    handler.ftp_STOR = ftp_STOR
    return handler


def serve_no_greeting(address, port):
    """Accepts, holds each connection silent for a bounded time, then closes it."""
    listener = socket.socket()
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind((address, port))
    listener.listen(16)

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
    for fault in ("no-greeting", "silent-stor", "stalling", "resetting", "no-delete"):
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
    if options.no_greeting:
        serve_no_greeting(options.no_greeting, options.port)

    detach(options.pidfile)  # the sockets listen already
    logging.disable(logging.CRITICAL)
    threading.Timer(options.lifetime, lambda: os._exit(0)).start()
    loop.loop()


if __name__ == "__main__":
    sys.exit(main())
