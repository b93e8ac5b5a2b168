#!/usr/bin/python3
"""`telvario serve` on loopback, on ports the system gives it, against real clients and real
misbehaving peers; one group a run:

  options   bad options exit 2, a port in use and an unreadable certificate or log exit 1, each
            with one line; a process that may open few files holds fewer connections, and says
            so; Ctrl-C and SIGTERM stop it with what it served
  clients   the responsiveness configuration names the three endpoints; the page, the 1-byte and
            sized downloads, a path it has not; curl fetches and posts over HTTP/1.1, h2c and h2
            over TLS (a certificate made for the run, and one from files); our client's
            throughput both ways and responsiveness; the access log's combined-format lines
  limits    a head sent a byte at a time is dropped, a 1 MB request line answered 400, a body
            without end 413 (a peer still sending either may find it reset instead), one
            address opening connections without end 429 and the server in all 503 with
            Retry-After; all the while another client is served; a bandwidth cap paces
            downloads, and past an upload that overran it requests get 503 with Retry-After

  serve_test.py TELVARIO options|clients|limits
"""
import json
import os
import re
import resource
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time

failures = []


def check(condition, what):
    print(("ok    " if condition else "FAIL  ") + what)
    if not condition:
        failures.append(what)
    return condition


class Serve:
    """The server, running until the block ends; its first URL as it printed it."""

    def __init__(self, telvario, *arguments, files=None):
        def limit_files():
            resource.setrlimit(resource.RLIMIT_NOFILE, (files, files))

        self.process = subprocess.Popen([telvario, "serve", *arguments], stdin=subprocess.DEVNULL,
                                        stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                                        preexec_fn=limit_files if files else None)
        line = self.process.stdout.readline()
        found = re.search(r"listening on (\S+)/$", line)
        if not found:
            self.process.kill()
            raise RuntimeError("serve did not start: " + line + self.process.stderr.read())
        self.url = found.group(1)
        self.port = int(self.url.rsplit(":", 1)[1])
        self.out = []
        threading.Thread(target=lambda: self.out.extend(self.process.stdout), daemon=True).start()

    def __enter__(self):
        return self

    def stop(self, how=signal.SIGINT):
        if self.process.poll() is None:
            self.process.send_signal(how)
        return self.process.wait(30)

    def __exit__(self, *_):
        self.stop()


def curl(*arguments):
    done = subprocess.run(["curl", "-sS", "--max-time", "20", *arguments],
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=60)
    return done.stdout


def status(url, *arguments):
    """HTTP version, status and body size of one request."""
    got = curl("-o", "/dev/null", "-w", "%{http_version} %{http_code} %{size_download}",
               *arguments, url).decode()
    return got


def served(url):
    return curl("-w", "%{http_code}", url + "/small").endswith(b"200")


# --- options -----------------------------------------------------------------------------------

def one_line(done):
    return done.stderr.decode().splitlines()[0] if done.stderr else ""


def options(telvario):
    def run(*arguments):
        return subprocess.run([telvario, "serve", *arguments], stdin=subprocess.DEVNULL,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=30)

    for arguments, says in [(["--bogus"], "no option --bogus"),
                            (["--listen", "nowhere"], "is not ADDR:PORT"),
                            (["--listen", "127.0.0.1:65536"], "a number from 0 to 65535"),
                            (["--max-connections", "0"], "at least 1"),
                            (["--max-upload", "12Q"], "takes bytes"),
                            (["--header-timeout", "-1"], "positive number of seconds"),
                            (["--tls-cert", "a.pem"], "go together"),
                            (["--self-signed", "--tls-cert", "a", "--tls-key", "b"], "not both")]:
        done = run(*arguments)
        check(done.returncode == 2 and says in one_line(done) and not done.stdout,
              "%s: exit 2, '%s'" % (" ".join(arguments), one_line(done)))
    with Serve(telvario, "--listen", "127.0.0.1:0") as server, \
            tempfile.TemporaryDirectory() as folder:
        done = run("--listen", "127.0.0.1:%d" % server.port)
        check(done.returncode == 1 and "Address already in use" in one_line(done)
              and len(done.stderr.splitlines()) == 1, "a port in use: exit 1, one line")
        garbage = os.path.join(folder, "garbage.pem")
        with open(garbage, "w") as file:
            file.write("not a certificate\n")
        for cert, key in [(os.path.join(folder, "missing.pem"), garbage), (garbage, garbage)]:
            done = run("--listen", "127.0.0.1:0", "--tls-cert", cert, "--tls-key", key)
            check(done.returncode == 1 and cert in one_line(done)
                  and len(done.stderr.splitlines()) == 1,
                  "a certificate it cannot read: exit 1, '%s'" % one_line(done))
        done = run("--listen", "127.0.0.1:0", "--access-log", folder + "/none/access.log")
        check(done.returncode == 1 and "--access-log" in one_line(done),
              "a log it cannot write: exit 1, '%s'" % one_line(done))
        check(served(server.url), "the server in the way went on serving")
    with Serve(telvario, "--listen", "127.0.0.1:0", files=300) as server:
        check(served(server.url), "with few files it may open, it serves")
        server.stop()
        check(re.match(r"telvario serve: at most \d+ connections at once, as this process may "
                       r"open 300 files$", server.process.stderr.read()),
              "and says how many connections those let it hold")
    for how in (signal.SIGINT, signal.SIGTERM):
        server = Serve(telvario, "--listen", "127.0.0.1:0")
        served(server.url)
        code = server.stop(how)
        time.sleep(0.1)
        check(code == 0 and any("stopped after 1 connections, 1 downloads" in line
                                for line in server.out),
              "%s stops it, saying what it served" % signal.Signals(how).name)


# --- clients -----------------------------------------------------------------------------------

def endpoints(server):
    url = server.url
    configuration = json.loads(curl(url + "/.well-known/nq"))
    check(configuration.get("version") == 1 and configuration.get("urls") == {
        "large_download_url": url + "/large", "small_download_url": url + "/small",
        "upload_url": url + "/upload"}, "/.well-known/nq names the three endpoints")
    for name in ("large_download_url", "small_download_url", "upload_url"):
        check(re.match(r"^https?://", configuration["urls"][name]), "%s is a URL" % name)
    check(b"Telvario measurement server" in curl(url + "/"), "GET / says what it is")
    check(curl(url + "/small") and len(curl(url + "/small")) == 1, "/small is one byte")
    check(status(url + "/nothing-here").endswith(" 404 29"), "a path it has not: 404")
    check(status(url + "/bytes/x").split()[1] == "404", "/bytes/ with no number: 404")
    got = status(url + "/large", "--max-time", "1").split()
    check(got[1] == "200" and int(got[2]) > 1000000, "/large sends for as long as it is read")


def curl_clients(server, tls):
    url = server.url
    secure = ["-k"] if tls else []
    for version, arguments in [("1.1", ["--http1.1"]),
                               ("2", ["--http2"] if tls else ["--http2-prior-knowledge"])]:
        got = status(url + "/bytes/10000000", *secure, *arguments)
        check(got == "%s 200 10000000" % version, "curl fetches over HTTP/%s%s: %s"
              % (version, " with TLS" if tls else "", got))
        body = subprocess.run(["curl", "-sS", *secure, *arguments, "--data-binary", "@-",
                               url + "/upload"], input=b"u" * 3000000, stdout=subprocess.PIPE,
                              timeout=60).stdout
        check(body == b"3000000\n", "curl posts over HTTP/%s%s: it counted %r"
              % (version, " with TLS" if tls else "", body))
    if not tls:
        got = status(url + "/bytes/1000", "--http2")
        check(got == "2 200 1000", "an HTTP/1.1 request asking to upgrade gets h2c: %s" % got)


def our_client(telvario, server):
    done = subprocess.run([telvario, "throughput", server.url + "/large", "--upload",
                           server.url + "/upload", "--duration", "2", "--yes", "--json"],
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=120)
    figures = json.loads(done.stdout or b"{}")
    check(done.returncode == 0 and figures.get("Download", 0) > 0 and figures.get("Upload", 0) > 0,
          "our client's throughput both ways: %s" % done.stdout.decode().strip())
    done = subprocess.run([telvario, "responsiveness", server.url + "/large", "--upload",
                           "--duration", "2", "--yes", "--json"],
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=120)
    figures = json.loads(done.stdout or b"{}")
    check(done.returncode == 0 and figures.get("RPM", 0) > 0 and
          figures.get("LoadThroughput", 0) > 0,
          "our client's responsiveness, and its load's rate: %s" % done.stdout.decode().strip())


def self_signed_files(folder):
    cert, key = os.path.join(folder, "cert.pem"), os.path.join(folder, "key.pem")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt",
                    "ec_paramgen_curve:prime256v1", "-nodes", "-days", "1",
                    "-subj", "/CN=localhost",
                    "-keyout", key, "-out", cert], check=True, stderr=subprocess.DEVNULL)
    return cert, key


def clients(telvario):
    with tempfile.TemporaryDirectory() as folder:
        log = os.path.join(folder, "access.log")
        with Serve(telvario, "--listen", "127.0.0.1:0", "--access-log", log) as server:
            endpoints(server)
            curl_clients(server, tls=False)
            our_client(telvario, server)
        with open(log) as file:
            lines = file.read().splitlines()
        combined = r'^127\.0\.0\.1 - - \[[^]]+\] "GET /small HTTP/1\.1" 200 1 "-" "curl/[^"]+"$'
        check(any(re.match(combined, line) for line in lines),
              "the access log has a combined-format line a request")
        with Serve(telvario, "--listen", "127.0.0.1:0", "--self-signed") as server:
            time.sleep(0.1)
            check(server.url.startswith("https://") and
                  any(re.search(r"SHA-256 ([0-9A-F]{2}:){31}[0-9A-F]{2}$", line)
                      for line in server.out), "--self-signed serves https, saying its print")
            curl_clients(server, tls=True)
        cert, key = self_signed_files(folder)
        with Serve(telvario, "--listen", "127.0.0.1:0", "--tls-cert", cert, "--tls-key",
                   key) as server:
            got = status("https://localhost:%d/bytes/1000" % server.port, "--cacert", cert,
                         "--resolve", "localhost:%d:127.0.0.1" % server.port)
            check(got.endswith(" 200 1000"), "curl verifies a certificate from files: %s" % got)
    if socket.has_ipv6:
        with Serve(telvario, "--listen", "[::1]:0") as server:
            check(status(server.url + "/bytes/1000") == "1.1 200 1000", "served on IPv6")

# --- limits ------------------------------------------------------------------------------------

class Peer:
    """A connection from a loopback address of its own that sends what it is given (a callable
    for what goes on), reading whatever comes back until the server ends it."""

    def __init__(self, port, source="127.0.0.1"):
        self.socket = socket.socket()
        self.socket.bind((source, 0))
        self.socket.connect(("127.0.0.1", port))
        self.answer, self.ended = b"", None
        self.started = time.monotonic()
        self.reader = threading.Thread(target=self.read, daemon=True)
        self.reader.start()

    def read(self):
        try:
            while chunk := self.socket.recv(65536):
                self.answer += chunk
        except OSError:
            pass
        self.ended = time.monotonic() - self.started

    def send(self, data):
        try:
            self.socket.sendall(data)
            return True
        except OSError:
            return False

    def status(self, within=10):
        """The answer's status, once its head has come or the connection ended."""
        waited = time.monotonic() + within
        while self.ended is None and b"\r\n\r\n" not in self.answer and time.monotonic() < waited:
            time.sleep(0.01)
        found = re.match(rb"HTTP/1\.1 (\d+) ", self.answer)
        return int(found.group(1)) if found else None

    def close(self):
        try:
            self.socket.shutdown(socket.SHUT_RDWR)  # wakes the reader, which close would not
        except OSError:
            pass
        self.socket.close()
        self.reader.join(10)


REQUEST = b"GET /small HTTP/1.1\r\nHost: x\r\n\r\n"


def served_from(server, source):
    got = curl("--interface", source, "-w", " %{http_code}", server.url + "/bytes/100000")
    return got.endswith(b" 200") and len(got) == 100004


def slow_head(server):
    peer = Peer(server.port)
    head = b"GET /small HTTP/1.1\r\nHost: " + b"x" * 100 + b"\r\n\r\n"
    others = True
    for byte in head:
        if peer.ended is not None or not peer.send(bytes([byte])):
            break
        others = others and (byte % 8 != 0 or served_from(server, "127.0.0.2"))
        time.sleep(0.2)
    peer.reader.join(10)
    check(peer.ended is not None and peer.ended < 6 and peer.status() is None,
          "a head sent a byte at a time is dropped after the header time-out (%.1f s)"
          % (peer.ended or -1))
    check(others, "others were served all the while")


def answered_or_reset(peer, status):
    """The library closes a connection it refuses without reading what is still coming, so a
    peer still sending may find it reset before it reads the answer: either, and soon."""
    peer.reader.join(10)
    got = peer.status()
    return peer.ended is not None and peer.ended < 10 and (got == status or not peer.answer)


def long_request_line(server):
    peer = Peer(server.port)
    peer.send(b"GET /" + b"a" * 1000000 + b" HTTP/1.1\r\nHost: x\r\n\r\n")
    check(answered_or_reset(peer, 400), "a request line of 1 MB is answered 400, or reset while "
          "it is still sent (%r)" % peer.answer[:12])
    check(served_from(server, "127.0.0.2"), "and others are served")


def endless_body(server):
    peer = Peer(server.port)
    peer.send(b"POST /upload HTTP/1.1\r\nHost: x\r\nContent-Length: 1000000000000\r\n\r\n")
    check(peer.status() == 413, "a body said to be beyond the upload limit is answered 413 at once")
    peer = Peer(server.port)
    peer.send(b"POST /upload HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n")
    chunk, sent = b"10000\r\n" + b"x" * 65536 + b"\r\n", 0
    while peer.ended is None and sent < 1 << 30 and peer.send(chunk):
        sent += 65536
    check(answered_or_reset(peer, 413) and sent < 1 << 30,
          "a body without end is answered 413 at the limit, or reset while it is still sent "
          "(%r after %d bytes)" % (peer.answer[:12], sent))
    check(served_from(server, "127.0.0.2"), "and others are served")


def refusals(peers, status):
    answered = [peer.status() for peer in peers]
    right = [peer for peer, got in zip(peers, answered) if got == status]
    return answered, all(b"\r\nretry-after: 1\r\n" in peer.answer.lower() for peer in right), \
        len(right)


def endless_connections(server):
    """One address opening connections without end, each asking for a byte."""
    peers = [Peer(server.port) for _ in range(300)]
    for peer in peers:
        peer.send(REQUEST)
    answered, retry, refused = refusals(peers, 429)
    # A refusal's head may be read before its reader has seen the close that follows it.
    turned_away = [peer for peer, got in zip(peers, answered) if got != 200]
    for peer in turned_away:
        peer.reader.join(5)
    check(answered.count(200) == 8 and refused > 0 and retry and
          all(got in (200, 429, None) for got in answered) and
          all(peer.ended is not None for peer in turned_away),
          "one address's connections beyond its limit are answered 429 with Retry-After or "
          "closed, none held (%d served, %d refused)" % (answered.count(200), refused))
    check(served_from(server, "127.0.0.2"), "another address is served meanwhile")
    for peer in peers:
        peer.close()


def limit_in_all(server):
    """The server's limit in all, reached from four addresses."""
    peers = [Peer(server.port, "127.0.1.%d" % (1 + n % 4)) for n in range(24)]
    for peer in peers:
        peer.send(REQUEST)
    answered, retry, refused = refusals(peers, 503)
    check(answered.count(200) == 20 and refused == 4 and retry,
          "connections beyond the limit in all are answered 503 with Retry-After")
    for peer in peers:
        peer.close()
    deadline = time.monotonic() + 10
    while not served_from(server, "127.0.0.2") and time.monotonic() < deadline:
        time.sleep(0.1)
    check(time.monotonic() < deadline, "once they are gone, others are served")


def bandwidth(server):
    """A cap of 8 Mbit/s: a download is paced to it; an upload that overran it has requests
    told when to come back."""
    began = time.monotonic()
    got = status(server.url + "/bytes/3000000")
    check(got == "1.1 200 3000000" and time.monotonic() - began > 1.5,
          "a download is paced to the bandwidth cap (3 MB in %.1f s)" % (time.monotonic() - began))
    body = subprocess.run(["curl", "-sS", "--data-binary", "@-", server.url + "/upload"],
                          input=b"u" * 5000000, stdout=subprocess.PIPE, timeout=60).stdout
    head = curl("-i", server.url + "/small").decode().lower()
    wait = re.search(r"\r\nretry-after: (\d+)\r\n", head)
    check(body == b"5000000\n" and head.startswith("http/1.1 503") and wait and
          int(wait.group(1)) >= 1, "past an upload that overran it, requests get 503 with "
          "Retry-After (%s s)" % (wait.group(1) if wait else None))


def limits(telvario):
    arguments = ["--listen", "127.0.0.1:0", "--header-timeout", "1", "--idle-timeout", "30",
                 "--max-upload", "1M", "--max-connections", "20",
                 "--max-connections-per-client", "8"]
    with Serve(telvario, *arguments) as server:
        slow_head(server)
        long_request_line(server)
        endless_body(server)
    # Each with a server of its own, whose connections the peers before have left.
    with Serve(telvario, *arguments) as server:
        endless_connections(server)
    with Serve(telvario, *arguments) as server:
        limit_in_all(server)
    with Serve(telvario, "--listen", "127.0.0.1:0", "--bandwidth", "8") as server:
        bandwidth(server)

def main():
    telvario, group = sys.argv[1], sys.argv[2]
    {"options": options, "clients": clients, "limits": limits}[group](telvario)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
