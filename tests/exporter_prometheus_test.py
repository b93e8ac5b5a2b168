#!/usr/bin/python3
"""`telvario exporter` scraped by a real Prometheus (Debian's), both in the lab's client
namespace, measuring across the lab (tests/lab/lab.sh): the 40 ms path to the lab's host over
both families, the jittery path that drops 5% of the requests, and the host that never answers.
Beside them, ping measures the same paths. What Prometheus then holds:

  - histogram_quantile(0.5) over the 40 ms path's histogram lies within one bucket of ping's
    median, over IPv4 and IPv6;
  - the jittery path's loss from the request and reply counters agrees with ping's loss;
  - the silent host's requests are counted, none answered, and the others' counters went on
    all the while: one target that does not answer delays no other;
  - the /probe job (the multi-target pattern) gives the 40 ms path's median, and a probe of the
    silent host answers within its scrape's time-out with success 0;
  - the route to the lab's host, run once on its schedule, hop by hop: four hops, the first
    router and the host each by its address, the host's median round trip about 40 ms;
  - then, a throughput entry added by a reload (the route kept on its schedule, not run again),
    its download, upload and responsiveness against the lab host's HTTP server, each with a rate
    or an RPM and when it ran; and every scrape of /metrics while they ran answered within
    100 ms.

Root, in the lab's client namespace:
  ip netns exec PREFIX-client exporter_prometheus_test.py TELVARIO PROMETHEUS
"""
import json
import os
import re
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time
import urllib.parse
import urllib.request

HOST4 = "10.213.3.10"
HOST6 = "fd13:213:0:3::10"
JITTER = "10.213.7.10"
ROUTER1 = "10.213.10.2"
BYTES = "http://10.213.3.10:8080/bytes/50000000"
UPLOAD = "http://10.213.3.10:8080/upload"
SILENT = "10.213.4.10"
# How long both measure: enough requests that the two losses agree well within the bound.
SECONDS = 30
# The default buckets' bounds (exporter_config.cpp), to place a median in its bucket.
BOUNDS = [0.0005, 0.001, 0.002, 0.003, 0.005, 0.0075, 0.01, 0.015, 0.02, 0.025, 0.03, 0.04,
          0.05, 0.06, 0.075, 0.1, 0.15, 0.2, 0.3, 0.5, 0.75, 1]

failures = []


def check(condition, what):
    print(("ok    " if condition else "FAIL  ") + what)
    if not condition:
        failures.append(what)
    return condition


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def bucket(seconds):
    return next((i for i, bound in enumerate(BOUNDS) if seconds <= bound), len(BOUNDS))


def write_config(path, throughput):
    with open(path + ".new", "w") as file:
        file.write("latency:\n"
                   "  - target: %s\n    interval: 200ms\n"
                   "  - target: %s\n    interval: 200ms\n"
                   "  - target: %s\n    interval: 100ms\n"
                   "  - target: %s\n    interval: 200ms\n"
                   "route:\n  - target: %s\n    first: 1s\n"
                   % (HOST4, HOST6, JITTER, SILENT, HOST4))
        if throughput:
            # The password must appear nowhere the exporter writes.
            file.write("throughput:\n  - url: %s\n    upload: %s\n    first: 1s\n"
                       "    duration: 2s\n" % (BYTES.replace("//", "//who:secret@"), UPLOAD))
    os.rename(path + ".new", path)


def start_exporter(telvario, folder):
    path = os.path.join(folder, "exporter.yaml")
    write_config(path, throughput=False)
    process = subprocess.Popen([telvario, "exporter", "--listen", "127.0.0.1:0", "--config", path],
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    line = process.stdout.readline()
    found = re.search(r"listening on http://(\S+)/$", line)
    if not found:
        process.kill()
        raise RuntimeError("the exporter did not start: " + line + process.stderr.read())
    process.stderr_lines = []
    threading.Thread(target=lambda: process.stderr_lines.extend(process.stderr),
                     daemon=True).start()
    return process, found.group(1)


def start_prometheus(prometheus, folder, exporter):
    path = os.path.join(folder, "prometheus.yml")
    with open(path, "w") as file:
        file.write("""global:
  scrape_interval: 1s
  scrape_timeout: 1s
scrape_configs:
  - job_name: telvario
    static_configs:
      - targets: ['%(exporter)s']
  - job_name: telvario_probe
    metrics_path: /probe
    params:
      module: [latency]
    scrape_interval: 4s
    scrape_timeout: 3s
    static_configs:
      - targets: ['%(host)s', '%(silent)s']
    relabel_configs:
      - source_labels: [__address__]
        target_label: __param_target
      - source_labels: [__param_target]
        target_label: instance
      - target_label: __address__
        replacement: '%(exporter)s'
""" % {"exporter": exporter, "host": HOST4, "silent": SILENT})
    address = "127.0.0.1:%d" % free_port()
    process = subprocess.Popen([prometheus, "--config.file=" + path,
                                "--storage.tsdb.path=" + os.path.join(folder, "data"),
                                "--web.listen-address=" + address, "--log.level=warn"],
                               stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    url = "http://" + address
    for _ in range(100):
        try:
            with urllib.request.urlopen(url + "/-/ready", timeout=2) as answer:
                if answer.status == 200:
                    return process, url
        except OSError:
            time.sleep(0.2)
    process.kill()
    raise RuntimeError("Prometheus did not become ready: " + process.stderr.read())


def query(prometheus, expression):
    """The instant vector of one query, as {labels: value}."""
    url = prometheus + "/api/v1/query?" + urllib.parse.urlencode({"query": expression})
    with urllib.request.urlopen(url, timeout=10) as answer:
        result = json.load(answer)["data"]["result"]
    return {tuple(sorted(r["metric"].items())): float(r["value"][1]) for r in result}


def one(prometheus, expression):
    values = list(query(prometheus, expression).values())
    return values[0] if len(values) == 1 else None


def ping(*arguments):
    return subprocess.Popen(["ping", "-n", *arguments], stdout=subprocess.PIPE, text=True)


def ping_median(process):
    times = [float(t) for t in re.findall(r"time=([0-9.]+) ms", process.communicate()[0])]
    return statistics.median(times) / 1000 if times else None


def ping_loss(process):
    found = re.search(r"(\d+) packets transmitted, (\d+) received", process.communicate()[0])
    return 1 - int(found.group(2)) / int(found.group(1)) if found else None


def check_medians(prometheus, median4, median6):
    for family, target, median in (("4", HOST4, median4), ("6", HOST6, median6)):
        estimate = one(prometheus, 'histogram_quantile(0.5, telvario_latency_seconds_bucket'
                                   '{job="telvario",target="%s",family="%s"})' % (target, family))
        check(estimate is not None and median is not None and
              abs(bucket(estimate) - bucket(median)) <= 1,
              "IPv%s: histogram_quantile(0.5) %s within a bucket of ping's median %s"
              % (family, estimate, median))


def check_losses(prometheus, pinged):
    counted = {}
    for name in ("requests", "replies"):
        counted[name] = one(prometheus, 'telvario_echo_%s_total{job="telvario",target="%s"}'
                            % (name, JITTER))
    loss = 1 - counted["replies"] / counted["requests"] if counted["requests"] else None
    check(loss is not None and pinged is not None and 0.01 <= loss <= 0.12 and
          abs(loss - pinged) <= 0.07,
          "the jittery path: loss from the counters %.3f (of %s) beside ping's %.3f"
          % (loss or -1, counted["requests"], pinged or -1))


def check_silent(prometheus):
    requests = one(prometheus, 'telvario_echo_requests_total{job="telvario",target="%s"}'
                   % SILENT)
    replies = one(prometheus, 'telvario_echo_replies_total{job="telvario",target="%s"}'
                  % SILENT)
    check(requests and requests >= SECONDS * 3 and replies == 0,
          "the silent host: %s requests counted, %s answered" % (requests, replies))
    # Scraped each second: a second without a reply would show as a flat stretch.
    flat = one(prometheus, 'max_over_time((changes(telvario_echo_replies_total{job="telvario",'
                           'target="%s"}[3s]) < bool 1)[%ds:1s])' % (HOST4, SECONDS - 10))
    check(flat == 0, "the 40 ms path's replies went on all the while, every 3 s")


def check_probes(prometheus):
    success = query(prometheus, 'telvario_probe_success{job="telvario_probe"}')
    by_instance = {dict(labels)["instance"]: got for labels, got in success.items()}
    check(by_instance == {HOST4: 1, SILENT: 0},
          "/probe as Prometheus scrapes it: the host 1, the silent host 0 (%s)" % by_instance)
    median = one(prometheus, 'telvario_latency_median_seconds{job="telvario_probe"}')
    check(median is not None and 0.039 <= median <= 0.05,
          "/probe's median of the 40 ms path (%s)" % median)
    up = query(prometheus, 'up{job="telvario_probe"}')
    check(sorted(up.values()) == [1, 1],
          "both probe scrapes answered within their 3 s time-out (up %s)" % list(up.values()))


def check_route(prometheus):
    median = 'telvario_hop_latency_median_seconds{job="telvario",target="%s"}' % HOST4
    by_hop = {dict(labels)["hop"]: got for labels, got in query(prometheus, median).items()}
    info = query(prometheus, 'telvario_hop_info{job="telvario",target="%s"}' % HOST4)
    addresses = {dict(labels)["hop"]: dict(labels)["address"] for labels in info}
    check(one(prometheus, 'telvario_route_hops{target="%s"}' % HOST4) == 4 and
          one(prometheus, 'telvario_route_reached{target="%s"}' % HOST4) == 1 and
          addresses.get("1") == ROUTER1 and addresses.get("4") == HOST4,
          "the route to the host: four hops, reached, router 1 first (%s)" % addresses)
    check(0.039 <= by_hop.get("4", 0) <= 0.06,
          "the host's median round trip on the route (%s)" % by_hop.get("4"))
    loss = one(prometheus, 'telvario_hop_loss_ratio{target="%s",hop="4"}' % HOST4)
    check(loss == 0, "no loss to the host on the route (%s)" % loss)


class TimedScrapes:
    """/metrics scraped every 50 ms on a thread of its own, each answer's time kept."""

    def __init__(self, address):
        self.url, self.times, self.stop = "http://%s/metrics" % address, [], False
        self.thread = threading.Thread(target=self.run)
        self.thread.start()

    def run(self):
        while not self.stop:
            began = time.monotonic()
            with urllib.request.urlopen(self.url, timeout=10) as answer:
                self.text = answer.read().decode()
            self.times.append(time.monotonic() - began)
            time.sleep(0.05)

    def finish(self):
        self.stop = True
        self.thread.join()


def check_throughput(prometheus, address, path, exporter):
    write_config(path, throughput=True)
    request = urllib.request.Request("http://%s/-/reload" % address, method="POST")
    with urllib.request.urlopen(request, timeout=30) as answer:
        check(answer.status == 200, "the reload adding a throughput entry is taken")
    scrapes = TimedScrapes(address)
    try:
        end = time.monotonic() + 60
        while time.monotonic() < end and 'runs_total{kind="responsiveness"} 1' not in getattr(
                scrapes, "text", ""):
            time.sleep(0.2)
    finally:
        scrapes.finish()
    slowest = max(scrapes.times)
    check(len(scrapes.times) >= 40 and slowest < 0.1,
          "%d scrapes of /metrics while the throughput runs went on, the slowest in %.1f ms"
          % (len(scrapes.times), slowest * 1000))
    check("secret" not in scrapes.text and "who:" not in scrapes.text,
          "the URL's password appears nowhere on the page")
    time.sleep(2.5)  # Prometheus' next scrapes
    now = time.time()
    for kind, name, least in (("download", "bits_per_second", 1e6),
                              ("upload", "bits_per_second", 1e6),
                              ("responsiveness", "rpm", 100)):
        target = UPLOAD if kind == "upload" else BYTES
        got = one(prometheus, 'telvario_%s_%s{job="telvario",target="%s"}' % (kind, name, target))
        ran = one(prometheus, 'telvario_%s_last_run_timestamp_seconds{target="%s"}'
                  % (kind, target))
        check(got is not None and got >= least and ran is not None and now - 60 <= ran <= now,
              "%s through Prometheus: %s %s, run at %s" % (kind, name, got, ran))
    loaded = one(prometheus, 'telvario_responsiveness_loaded_latency_seconds{target="%s"}'
                 % BYTES)
    check(loaded is not None and loaded >= 0.039, "the loaded latency (%s)" % loaded)
    runs = query(prometheus, 'telvario_exporter_runs_total{job="telvario"}')
    by_kind = {dict(labels)["kind"]: got for labels, got in runs.items()}
    check(by_kind == {"route": 1, "download": 1, "upload": 1, "responsiveness": 1},
          "one run of each kind: the route kept its schedule across the reload (%s)" % by_kind)
    check(not any("secret" in line for line in exporter.stderr_lines),
          "the URL's password appears nowhere in the log")


def main():
    telvario, prometheus_program = sys.argv[1], sys.argv[2]
    with tempfile.TemporaryDirectory() as folder:
        exporter, address = start_exporter(telvario, folder)
        prometheus = None
        try:
            prometheus, url = start_prometheus(prometheus_program, folder, address)
            pings = [ping("-c", str(SECONDS * 5), "-i", "0.2", HOST4),
                     ping("-6", "-c", str(SECONDS * 5), "-i", "0.2", HOST6),
                     ping("-c", str(SECONDS * 20), "-i", "0.05", JITTER)]
            median4, median6 = ping_median(pings[0]), ping_median(pings[1])
            pinged = ping_loss(pings[2])
            time.sleep(3)  # the last scrapes
            check_medians(url, median4, median6)
            check_losses(url, pinged)
            check_silent(url)
            check_probes(url)
            check_route(url)
            check_throughput(url, address, os.path.join(folder, "exporter.yaml"), exporter)
        finally:
            for process in (prometheus, exporter):
                if process is not None:
                    process.send_signal(signal.SIGTERM)
                    process.wait(30)
    check(exporter.returncode == 0, "the exporter stops at SIGTERM, exit 0")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
