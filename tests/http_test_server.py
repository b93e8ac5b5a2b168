#!/usr/bin/env python3
"""The HTTP server of the download tests, on loopback (or a lab host's own address).

  /bytes/N        N bytes of body
  /empty          an empty body
  /broken/N       announces 2N bytes, sends N, then closes the connection
  /bad-chunks     a chunked body whose second chunk size is not a number
  /redirect       302 to /bytes/1234
  /chain/N        N redirects (each a relative 302 to /chain/N-1) before /bytes/1234
  /loop/KEY       302 to itself, counting the requests for KEY as /counted/KEY does
  /redirect-to?L  302 to the location L, as given
  /longer/N       declares N bytes of body and sends 2N
  /missing        404 with an 8-byte body
  /counted/KEY    200 with a small body; counts the requests for KEY
  /hits/KEY       the number of requests /counted/KEY has had, as the body
  /close          closes the connection without answering
  /silent         reads the request and never answers
  /stall/N        declares 16 MiB of body, sends N bytes, then holds the connection silent for
                  30 s before it closes it
  /endless        a body without end, until the client goes (or ten minutes have passed)
  /peer/KEY/N     N bytes of body; notes the client's address and port for KEY
  /peers/KEY      the number of connections (address and port) /peer/KEY/N has been fetched on
  POST (any path) reads the body (declared or chunked) and discards it; answers 200 with the
                  count of bytes taken, as text; for /upload/KEY it also adds them to KEY's
  /taken/KEY      the bytes POSTs to /upload/KEY have brought, as the body
  POST /no-post   405: this server takes no uploads there

Run with [--host A] --port P --pidfile F: it detaches once it listens, and stops on SIGTERM.
"""
import argparse
import http.server
import socket
import sys
import threading
import time

from detach import detach

hits = {}
uploaded = {}
peers = {}
hits_lock = threading.Lock()
CHUNK = b"x" * 65536


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def head(self, status, length, extra=()):
        self.send_response(status)
        self.send_header("Content-Type", "application/octet-stream")
        if length is not None:
            self.send_header("Content-Length", str(length))
        for name, value in extra:
            self.send_header(name, value)
        self.end_headers()

    def send_bytes(self, count):
        while count > 0:
            piece = CHUNK[: min(count, len(CHUNK))]
            self.wfile.write(piece)
            count -= len(piece)

    def do_GET(self):
        parts = self.path.strip("/").split("/")
        kind, arg = parts[0], (parts[1] if len(parts) > 1 else "")
        if kind == "bytes":
            self.head(200, int(arg))
            self.send_bytes(int(arg))
        elif kind == "empty":
            self.head(200, 0)
        elif kind == "broken":
            self.head(200, 2 * int(arg))
            self.send_bytes(int(arg))
            self.wfile.flush()
            self.close_connection = True
            self.connection.shutdown(socket.SHUT_RDWR)
        elif kind == "bad-chunks":
            self.head(200, None, [("Transfer-Encoding", "chunked")])
            self.wfile.write(b"5\r\nhello\r\nzz\r\nworld\r\n0\r\n\r\n")
            self.close_connection = True
        elif kind == "redirect":
            self.head(302, 0, [("Location", "/bytes/1234")])
        elif kind == "chain":
            left = int(arg)
            target = "../chain/%d" % (left - 1) if left > 1 else "/bytes/1234"
            self.head(302, 5, [("Location", target)])
            self.wfile.write(b"hop!\n")  # a redirect's own body, which is not the download's
        elif kind == "loop":
            with hits_lock:
                hits[arg] = hits.get(arg, 0) + 1
            self.head(302, 0, [("Location", self.path)])
        elif kind.startswith("redirect-to"):
            self.head(302, 0, [("Location", self.path.split("?", 1)[1])])
        elif kind == "longer":
            self.head(200, int(arg))
            self.send_bytes(2 * int(arg))
            self.close_connection = True
        elif kind == "missing":
            self.head(404, 8)
            self.wfile.write(b"not here")
        elif kind == "counted":
            with hits_lock:
                hits[arg] = hits.get(arg, 0) + 1
            self.head(200, 5, [("Cache-Control", "max-age=3600")])
            self.wfile.write(b"count")
        elif kind in ("hits", "taken"):
            with hits_lock:
                body = str((hits if kind == "hits" else uploaded).get(arg, 0)).encode()
            self.head(200, len(body), [("Cache-Control", "no-store")])
            self.wfile.write(body)
        elif kind == "silent":
            time.sleep(3600)
        elif kind == "stall":
            self.head(200, 16 << 20)
            self.send_bytes(int(arg))
            self.wfile.flush()
            time.sleep(30)
            self.close_connection = True
        elif kind == "endless":
            self.head(200, None)
            self.close_connection = True
            ends = time.monotonic() + 600
            try:
                while time.monotonic() < ends:
                    self.wfile.write(CHUNK)
            except OSError:
                pass
        elif kind == "peer":
            with hits_lock:
                peers.setdefault(arg, set()).add(self.client_address)
            self.head(200, int(parts[2]))
            self.send_bytes(int(parts[2]))
        elif kind == "peers":
            with hits_lock:
                body = str(len(peers.get(arg, ()))).encode()
            self.head(200, len(body), [("Cache-Control", "no-store")])
            self.wfile.write(body)
        elif kind == "close":
            self.close_connection = True
            self.connection.close()
        else:
            self.head(404, 0)


    def read_body(self):
        """Reads and discards the request's body; gives its length."""
        taken = 0
        if self.headers.get("Transfer-Encoding", "").lower() == "chunked":
            while True:
                size = int(self.rfile.readline().split(b";")[0], 16)
                if size == 0:
                    self.rfile.readline()
                    return taken
                while size > 0:
                    piece = self.rfile.read(min(size, 1 << 20))
                    if not piece:
                        return taken
                    taken += len(piece)
                    size -= len(piece)
                self.rfile.readline()
        left = int(self.headers.get("Content-Length", "0"))
        while left > 0:
            piece = self.rfile.read(min(left, 1 << 20))
            if not piece:
                break
            taken += len(piece)
            left -= len(piece)
        return taken

    def do_POST(self):
        taken = self.read_body()
        parts = self.path.strip("/").split("/")
        if parts[0] == "no-post":
            self.head(405, 0, [("Allow", "GET")])
            return
        if parts[0] == "upload" and len(parts) > 1:
            with hits_lock:
                uploaded[parts[1]] = uploaded.get(parts[1], 0) + taken
        body = str(taken).encode()
        self.head(200, len(body))
        self.wfile.write(body)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--pidfile", required=True)
    options = parser.parse_args()
    # Room for a run's 64 connections at once: the default backlog of 5 makes the rest wait
    # for the client's retransmission, a second and more.
    http.server.ThreadingHTTPServer.request_queue_size = 128
    server = http.server.ThreadingHTTPServer((options.host, options.port), Handler)
    server.daemon_threads = True
    detach(options.pidfile)  # the socket listens already
    server.serve_forever()


if __name__ == "__main__":
    sys.exit(main())
