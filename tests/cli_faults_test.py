#!/usr/bin/python3
"""The client's faults that a person meets, each checked on a few runs of the real client against
HTTP servers this test runs itself on loopback, on ports the system gives it (the Windows build's
client under Wine, through the launcher its build names):

  output files     a usage error touches no file; --svg replaces an existing file only once the
                   new picture is whole, keeping its permissions, never leaves a file of its own
                   behind, writes a device or a FIFO directly (never replacing it), follows a
                   link to the file it names, and fails before measuring where it cannot write
  standard output  output that cannot be written whole (a full disk) is a failure
  credentials      a URL's user name and password appear in no output and no file
  failed runs      a run that failed shows no figure it did not measure in any output; a load
                   both ways whose uploads all failed says so and fails
  late-bound call  `call Upload` sends nothing unless its question is answered, as --yes does
  two failures     both directions of throughput failing give two reasons under two names, and no
                   JSON object names a key twice
  progress         each phase's figure in its own unit on the progress line (a pseudo-terminal)
  numbers          byte counts print whole; a report's settings stand under their heading
  bounds           the settings' ranges in the help and in the usage errors are the same words

  cli_faults_test.py TELVARIO
"""
import http.server
import json
import os
import pty
import re
import select
import stat
import subprocess
import sys
import tempfile
import threading
import time

import http_test_server

LAUNCHER = [os.environ["TELVARIO_CLIENT_LAUNCHER"]] if "TELVARIO_CLIENT_LAUNCHER" in os.environ else []
WINE = bool(LAUNCHER)
failures = []


def check(condition, what):
    print(("ok    " if condition else "FAIL  ") + what)
    if not condition:
        failures.append(what)
    return condition


class ErrorHandler(http_test_server.Handler):
    """Answers every request with 500."""

    def do_GET(self):
        self.head(500, 0)

    def do_POST(self):
        self.read_body()
        self.head(500, 0)


class GetOnlyHandler(http_test_server.Handler):
    """Serves GET as the test server does, and refuses every POST with 405."""

    def do_POST(self):
        self.read_body()
        self.head(405, 0, [("Allow", "GET")])
        self.close_connection = True


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True

    def handle_error(self, request, client_address):
        pass  # a client that ends its transfers at its run's end resets them


def serve(handler):
    server = Server(("127.0.0.1", 0), handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return "http://127.0.0.1:%d" % server.server_address[1]


def run(arguments, stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=None):
    return subprocess.run(LAUNCHER + arguments, stdin=subprocess.DEVNULL, stdout=stdout,
                          stderr=stderr, timeout=120, env=env)


def no_duplicates(pairs):
    names = [name for name, _ in pairs]
    if len(names) != len(set(names)):
        check(False, "no JSON object names a key twice: %s" % names)
    return dict(pairs)


def read_json(text):
    return json.loads(text, object_pairs_hook=no_duplicates)


def read(path):
    with open(path, "rb") as file:
        return file.read()


def leftovers(folder, expected):
    return sorted(set(os.listdir(folder)) - set(expected))


def fifo_picture(telvario, folder):
    """--svg into a FIFO: written directly to whoever reads it, the FIFO left a FIFO."""
    fifo = os.path.join(folder, "picture.fifo")
    os.mkfifo(fifo)
    got = []
    reader = threading.Thread(target=lambda: got.append(read(fifo)), daemon=True)
    reader.start()
    run([telvario, "latency", "127.0.0.1", "--probes", "2", "--interval", "10", "--svg", fifo])
    reader.join(30)
    check(got and got[0].rstrip().endswith(b"</svg>") and stat.S_ISFIFO(os.stat(fifo).st_mode),
          "a FIFO gets the picture directly and stays a FIFO")


def device_picture(telvario, folder, url):
    """A character device (root makes one of its own, as /dev/null is): no usage error and no
    run replaces it."""
    device = os.path.join(folder, "null")
    os.mknod(device, 0o666 | stat.S_IFCHR, os.makedev(1, 3))
    done = run([telvario, "throughput", url, "--streams", "33", "--svg", device])
    run([telvario, "latency", "127.0.0.1", "--probes", "2", "--interval", "10", "--svg", device])
    check(done.returncode == 2 and stat.S_ISCHR(os.stat(device).st_mode),
          "a device named by --svg stays the device, after a usage error and after a run")
    done = run([telvario, "latency", "127.0.0.1", "--probes", "2", "--interval", "10",
                "--svg", "/dev/full"])
    check(done.returncode == 1 and b"/dev/full could not be written whole" in done.stderr and
          stat.S_ISCHR(os.stat("/dev/full").st_mode),
          "a device that refuses the picture fails the run and stays as it was")


def output_files(telvario, url):
    with tempfile.TemporaryDirectory() as folder:
        existing = os.path.join(folder, "existing.svg")
        with open(existing, "wb") as file:
            file.write(b"<keep/>")
        os.chmod(existing, 0o640)
        latency = [telvario, "latency", "127.0.0.1", "--probes", "2", "--interval", "10"]
        done = run([telvario, "throughput", url, "--streams", "33", "--svg", existing])
        check(done.returncode == 2 and read(existing) == b"<keep/>",
              "a usage error leaves the file --svg names as it was (status %d)" % done.returncode)
        done = run(latency + ["--svg", os.path.join(folder, "no", "such.svg")])
        check(done.returncode == 1 and b"cannot write" in done.stderr and done.stdout == b"",
              "a picture that cannot be written fails the run before it measures: %r"
              % done.stderr)
        run(latency + ["--svg", existing])
        check(read(existing).rstrip().endswith(b"</svg>"), "a run replaces the file with its picture")
        if not WINE:
            check(stat.S_IMODE(os.stat(existing).st_mode) == 0o640,
                  "the replaced file keeps its permissions")
            link = os.path.join(folder, "link.svg")
            os.symlink(existing, link)
            with open(existing, "wb") as file:
                file.write(b"<old/>")
            run(latency + ["--svg", link])
            check(os.path.islink(link) and read(existing).rstrip().endswith(b"</svg>"),
                  "a link named by --svg stays a link; the file it names gets the picture")
            fifo_picture(telvario, folder)
            if os.geteuid() == 0:
                device_picture(telvario, folder, url)
        check(leftovers(folder, ["existing.svg", "link.svg", "picture.fifo", "null", "no"]) == [],
              "no file of the client's own is left behind: %s" % os.listdir(folder))


def standard_output(telvario):
    with open("/dev/full", "wb") as full:
        for arguments in (["latency", "127.0.0.1", "--probes", "2", "--interval", "10", "--json"],
                          ["latency", "127.0.0.1", "--probes", "2", "--interval", "10",
                           "--openmetrics"],
                          ["--help"]):
            done = run([telvario] + arguments, stdout=full)
            check(done.returncode == 1 and
                  done.stderr.count(b"standard output could not be written whole") == 1,
                  "%s to a full disk fails, saying so once: %d %r"
                  % (" ".join(arguments), done.returncode, done.stderr))


def credentials(telvario, url):
    secret_url = url.replace("http://", "http://someone:s3cr3t@") + "/bytes/100000000"
    with tempfile.TemporaryDirectory() as folder:
        picture = os.path.join(folder, "run.svg")
        throughput = [telvario, "throughput", secret_url, "--duration", "2", "--streams", "1",
                      "--yes"]
        report = [telvario, "report", "--url", secret_url]
        outputs = [run(throughput + ["--svg", picture, "--openmetrics"]), run(report + ["--json"]),
                   run(report)]
        seen = b"".join(done.stdout + done.stderr for done in outputs) + read(picture)
        check(b"s3cr3t" not in seen and b"someone" not in seen,
              "the URL's user name and password appear in no output and in no picture")
        check(url.encode() + b"/bytes/100000000" in read(picture) and
              b'target="' + url.encode() in outputs[0].stdout,
              "the URL itself is shown, without them")


def failed_runs(telvario, error_url, get_only_url):
    responsiveness = [telvario, "responsiveness", error_url + "/bytes/100000000", "--duration", "2"]
    with tempfile.TemporaryDirectory() as folder:
        picture = os.path.join(folder, "failed.svg")
        text = run(responsiveness + ["--svg", picture])
        as_json = run(responsiveness + ["--json"])
        metrics = run(responsiveness + ["--openmetrics"])
        svg = read(picture).decode()
    check(text.returncode == as_json.returncode == metrics.returncode == 1,
          "a server answering 500 fails responsiveness")
    check(b"RPM" not in text.stdout and b"LoadedLatency" not in text.stdout and
          b"Failure" in text.stdout, "the text shows the failure and no RPM: %r" % text.stdout)
    result = read_json(as_json.stdout)
    check("RPM" not in result and "LoadedLatency" not in result and
          "LoadThroughput" not in result and "Failure" in result,
          "the JSON has the failure and no RPM nor load rate: %s" % result)
    check(b"telvario_responsiveness_rpm" not in metrics.stdout and
          b"telvario_responsiveness_load" not in metrics.stdout and
          b"telvario_run_succeeded{" in metrics.stdout, "the metrics have no RPM nor load rate")
    check("no RPM" in svg and not re.search(r"[0-9] RPM", svg), "the picture shows no RPM")

    done = run([telvario, "latency", "127.0.0.1", "-6", "--openmetrics"])
    check(done.returncode == 1 and b"telvario_loss_ratio" not in done.stdout and
          b"telvario_echo_requests_total{" in done.stdout,
          "a latency run that sent nothing exports no loss")

    if WINE:
        return  # with no display Wine's box refuses the upload, which then never runs
    done = run([telvario, "responsiveness", get_only_url + "/bytes/100000000", "--upload", "--yes",
                "--duration", "2", "--json"])
    result = read_json(done.stdout)
    check(done.returncode == 1 and "405" in result.get("UploadFailure", ""),
          "a load whose uploads were all refused says so and fails: %s" % result)


def late_bound_upload(telvario, get_only_url):
    """`call Upload` asks first, as a script's host does: no answer sends nothing (0); --yes
    sends, here to a server that refuses every body (a failure code)."""
    results = []
    with tempfile.TemporaryDirectory() as folder:  # registered in registries of its own
        env = dict(os.environ, TELVARIO_REGISTRY=os.path.join(folder, "user.sqlite3"),
                   TELVARIO_MACHINE_REGISTRY=os.path.join(folder, "machine.sqlite3"))
        run([telvario, "register"], env=env)
        for answer in ([], ["--yes"]):
            done = run([telvario, "call", "Upload", get_only_url + "/up", "--json"] + answer,
                       env=env)
            results.append(read_json(done.stdout).get("Result") if done.returncode == 0 else None)
    check(results[0] == 0 and results[1] is not None and results[1] < 0,
          "call Upload sends nothing unasked and sends with --yes: %s" % results)


def two_failures(telvario, error_url):
    done = run([telvario, "throughput", error_url + "/down", "--upload", error_url + "/up",
                "--duration", "2", "--yes", "--json"])
    result = read_json(done.stdout)
    check(done.returncode == 1 and "DownloadFailure" in result and "UploadFailure" in result and
          "Failure" not in result, "each direction's failure under its own name: %s" % result)


def progress_lines(telvario, url):
    """Every line the progress draws on a terminal, for the arguments."""
    master, slave = pty.openpty()
    client = subprocess.Popen(LAUNCHER + [telvario] + url, stdin=subprocess.DEVNULL,
                              stdout=subprocess.DEVNULL, stderr=slave, start_new_session=True)
    os.close(slave)
    shown = b""
    deadline = time.monotonic() + 90
    while time.monotonic() < deadline:
        ready, _, _ = select.select([master], [], [], 0.2)
        try:
            more = os.read(master, 4096) if ready else b""
        except OSError:
            break
        if ready and not more:
            break
        shown += more
    client.wait(30)
    os.close(master)
    return [line.strip() for line in shown.decode(errors="replace").split("\r") if line.strip()]


def progress(telvario, url):
    units = {"idle": "ms", "loaded": "ms", "download": "Mbit/s", "upload": "Mbit/s"}
    lines = (progress_lines(telvario, ["responsiveness", url + "/bytes/100000000", "--duration",
                                       "2"]) +
             progress_lines(telvario, ["throughput", url + "/bytes/100000000", "--duration", "2",
                                       "--streams", "1", "--yes"]))
    shown, longest = {}, 0.0
    for line in lines:
        match = re.fullmatch(r"(\w+) +\d+%  ([0-9.e+-]+) (\S+)", line)
        shown.setdefault(match.group(1) if match else "?", set()).add(match.group(3) if match else line)
        if match and match.group(3) == "ms":
            longest = max(longest, float(match.group(2)))
    # (The idle phase's echo requests may be refused to a user the ping range leaves out: then it
    # ends within the second before a line is drawn.)
    check(all(shown[phase] == {units.get(phase)} for phase in shown) and
          {"loaded", "download", "upload"} <= set(shown),
          "every phase's figure is in its own unit on the progress line: %s" % shown)
    # A round trip on loopback, loaded or not, takes well under ten seconds: an RPM would not.
    check(longest < 10000, "every round trip shown is one (the longest: %g ms)" % longest)


def numbers(telvario, url):
    throughput = [telvario, "throughput", url + "/bytes/100000000", "--duration", "2",
                  "--streams", "1", "--yes"]
    as_json = run(throughput + ["--json"])
    text = run(throughput)
    # (With no display Wine's box refuses the upload, which then counts no bytes.)
    check(re.search(rb'"DownloadBytes": [1-9][0-9]*[,}]', as_json.stdout) is not None and
          (WINE or re.search(rb'"UploadBytes": [1-9][0-9]*[,}]', as_json.stdout) is not None),
          "byte counts are whole numbers in JSON: %r" % as_json.stdout)
    check(re.search(rb"^DownloadBytes +[1-9][0-9]*\r?$", text.stdout, re.M) is not None,
          "and in the text: %r" % text.stdout)
    report = run([telvario, "report", "127.0.0.1", "--ping-reps", "1", "--json"])
    result = read_json(report.stdout)
    check(list(result)[:2] == ["Settings", "Echo 127.0.0.1"] and
          result["Settings"].get("PingReps") == 1,
          "a report opens with its settings under their heading: %s" % list(result))


def bounds(telvario, url):
    help_text = run([telvario, "--help"]).stdout.decode()
    for option, shown, wrong, told in (
            ("--streams", "(1..32; 4 unless given)", ["throughput", url, "--streams", "0"],
             "--streams takes 1 to 32"),
            ("--duration", "(2..60; 10 unless given)", ["responsiveness", url, "--duration", "61"],
             "--duration takes 2 to 60 seconds"),
            ("--interval", "(10..60000; 100 unless given)",
             ["latency", "127.0.0.1", "--interval", "5"], "--interval takes 10 to 60000 ms")):
        done = run([telvario] + wrong)
        check(re.search(re.escape(option) + r" \S+ +[^\n]*" + re.escape(shown), help_text)
              is not None, "the help gives %s's range %s" % (option, shown))
        # (Under Wine the launcher adds a line of its own about the status.)
        said = [line for line in done.stderr.decode().splitlines()
                if not line.startswith("wine-run:")]
        check(done.returncode == 2 and said == ["telvario: " + told, "see 'telvario --help'"],
              "%s out of range is a usage error in the same words: %r" % (option, done.stderr))


def main():
    telvario = sys.argv[1]
    url = serve(http_test_server.Handler)
    error_url = serve(ErrorHandler)
    get_only_url = serve(GetOnlyHandler)
    output_files(telvario, url + "/bytes/1000")
    standard_output(telvario)
    credentials(telvario, url)
    failed_runs(telvario, error_url, get_only_url)
    two_failures(telvario, error_url)
    if not WINE:
        late_bound_upload(telvario, get_only_url)  # registration in a registry file is posix's
        progress(telvario, url)  # the pseudo-terminal is posix's
    numbers(telvario, url)
    bounds(telvario, url)
    print("%d checks failed" % len(failures) if failures else "every check passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
