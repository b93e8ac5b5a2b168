#!/usr/bin/python3
"""The client's progress line and Ctrl-C, as a person meets them.

  cli_interrupt_test.py TELVARIO PORT latency
      latency to 127.0.0.1 with standard error on a pseudo-terminal: the progress line appears
      (phase, percentage, figure with its unit) and is cleared at the end; SIGINT mid-run gives
      the partial result marked cancelled, exit status 130, and no process left behind.
  cli_interrupt_test.py TELVARIO PORT throughput
      a download from the loopback test server with no terminal: nothing on standard error;
      SIGINT once it is connected gives the partial result marked cancelled, no upload after it, status 130,
      and the picture of what was measured.
"""
import html
import json
import os
import pty
import re
import select
import signal
import subprocess
import sys
import tempfile
import time

# A Windows build's client runs under Wine, through the launcher its build names.
LAUNCHER = [os.environ["TELVARIO_CLIENT_LAUNCHER"]] if "TELVARIO_CLIENT_LAUNCHER" in os.environ else []

INTERRUPTED = 130
failures = []


def check(condition, what):
    print(("ok    " if condition else "FAIL  ") + what)
    if not condition:
        failures.append(what)


def nothing_left(pid):
    """Whether the client's process group (its own session) is empty."""
    try:
        os.killpg(pid, 0)
    except ProcessLookupError:
        return True
    return False


def sockets_of_group(group):
    """The sockets held by the processes of process group `group`: the client's, and with a
    launcher (which waits for it) the launcher's and the client's."""
    sockets = set()
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            if os.getpgid(int(pid)) != group:
                continue
            sockets |= {os.readlink("/proc/%s/fd/%s" % (pid, fd))
                        for fd in os.listdir("/proc/%s/fd" % pid)}
        except OSError:  # gone meanwhile
            continue
    return sockets


def connected(group, port):
    """Whether a process of the client's group holds a TCP connection to `port` (so its
    transfer has begun)."""
    sockets = sockets_of_group(group)
    for table in ("/proc/net/tcp", "/proc/net/tcp6"):
        with open(table) as rows:
            for row in rows.readlines()[1:]:
                fields = row.split()
                remote_port = int(fields[2].rsplit(":", 1)[1], 16)
                established = fields[3] == "01"
                if remote_port == port and established and "socket:[%s]" % fields[9] in sockets:
                    return True
    return False


def read_until(fd, pattern, seconds):
    """What the terminal shows until `pattern` appears (None: until it is closed), or the time
    runs out."""
    seen = b""
    deadline = time.monotonic() + seconds
    while (pattern is None or not re.search(pattern, seen)) and time.monotonic() < deadline:
        ready, _, _ = select.select([fd], [], [], 0.2)
        if ready:
            try:
                more = os.read(fd, 4096)
            except OSError:  # the other side closed
                break
            if not more:
                break
            seen += more
    return seen


def latency_on_a_terminal(telvario):
    master, slave = pty.openpty()
    client = subprocess.Popen(
        LAUNCHER + [telvario, "latency", "127.0.0.1", "--probes", "600", "--interval", "50", "--json"],
        stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=slave, start_new_session=True)
    os.close(slave)
    # A line like "latency   12%  0.081 ms", redrawn in place.
    line = rb"\rlatency +\d+%  [0-9.e+-]+ ms"
    shown = read_until(master, line, 60)
    check(re.search(line, shown) is not None,
          "the progress line shows the phase, the share done and the figure: %r" % shown[-80:])
    os.kill(client.pid, signal.SIGINT)
    shown += read_until(master, None, 60)  # until the terminal is closed: the client has ended
    out, _ = client.communicate(timeout=60)
    os.close(master)
    check(client.returncode == INTERRUPTED, "Ctrl-C gives status 130 (got %s)" % client.returncode)
    result = json.loads(out)
    check(result.get("LatencyCancelled") is True, "the result is marked cancelled")
    check(0 < result.get("Sent", 0) < 600, "the partial result has what was sent: %s"
          % result.get("Sent"))
    check(result.get("LatencyMedian", -1) >= 0, "the partial result has its median")
    last_line = shown.rsplit(b"\r", 2)
    check(len(last_line) == 3 and last_line[1].strip() == b"" and last_line[2] == b"",
          "the line is cleared at the end: %r" % shown[-60:])
    check(nothing_left(client.pid), "no process is left behind")


def throughput_without_a_terminal(telvario, port):
    with tempfile.TemporaryDirectory() as folder:
        picture = os.path.join(folder, "cancelled.svg")
        url = "http://127.0.0.1:%s/bytes/100000000000" % port
        client = subprocess.Popen(
            LAUNCHER + [telvario, "throughput", url, "--duration", "30", "--streams", "2", "--yes",
                        "--json", "--svg", picture],
            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
            start_new_session=True)
        # No terminal shows the run: its connections to the server do.
        deadline = time.monotonic() + 60
        while not connected(client.pid, int(port)) and time.monotonic() < deadline:
            time.sleep(0.1)
        time.sleep(1.5)  # some 100 ms samples in
        os.kill(client.pid, signal.SIGINT)
        out, err = client.communicate(timeout=60)
        check(client.returncode == INTERRUPTED,
              "Ctrl-C gives status 130 (got %s)" % client.returncode)
        check(err == b"", "nothing on standard error without a terminal: %r" % err[:200])
        result = json.loads(out)
        check(result.get("DownloadCancelled") is True, "the download is marked cancelled")
        check("DownloadBytes" in result and "DownloadElapsed" in result,
              "the partial download is reported")
        check("Upload" not in result, "nothing is measured after Ctrl-C")
        with open(picture, encoding="utf-8") as drawn:
            svg = drawn.read()
        check("cancelled before its end" in svg and svg.rstrip().endswith("</svg>"),
              "the picture of what was measured is written whole, marked cancelled")
        record = json.loads(html.unescape(svg.split('<metadata class="results">')[1]
                                          .split("</metadata>")[0]))
        check(record["cancelled"] is True and len(record["samples"]) > 0,
              "the picture holds the samples measured before Ctrl-C")
        check(nothing_left(client.pid), "no process is left behind")


def main():
    telvario, port, case = sys.argv[1:4]
    if case == "latency":
        latency_on_a_terminal(telvario)
    else:
        throughput_without_a_terminal(telvario, port)
    print("%d checks failed" % len(failures) if failures else "every check passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
