#!/usr/bin/python3
"""The client's --svg pictures and --openmetrics output, each from one run on loopback.

  cli_pictures_test.py latency TELVARIO
  cli_pictures_test.py throughput TELVARIO PORT     (the loopback test server on PORT)
  cli_pictures_test.py responsiveness RESULTS_CHART  (a record of the documented form, drawn by
                                                     the client's own drawing code)
  cli_pictures_test.py report TELVARIO PATTERN      (the report of the machine itself, its JSON
                                                     matching PATTERN, and its picture)
  cli_pictures_test.py route TELVARIO               (across the lab's chain, in its client's
                                                     namespace: the route past the hop that does
                                                     not answer, over IPv4 then IPv6, and one that
                                                     never reaches its destination)

Each runs once with both --svg and --openmetrics: standard error stays empty (no terminal), the
metrics parse with prometheus_client's OpenMetrics parser and agree with the run's record, and
the picture, rendered to PNG, shows what chart_check.py checks.
"""
import json
import os
import random
import re
import subprocess
import sys
import tempfile
import time

# A Windows build's client runs under Wine, through the launcher its build names.
LAUNCHER = [os.environ["TELVARIO_CLIENT_LAUNCHER"]] if "TELVARIO_CLIENT_LAUNCHER" in os.environ else []

from prometheus_client.openmetrics.parser import text_string_to_metric_families

from chart_check import (Checks, check_round_trips, check_route, check_transfer, panels_of,
                         render)

check = Checks()


def families(text):
    parsed = {}
    for family in text_string_to_metric_families(text):
        parsed[family.name] = family
    return parsed


def value(found, name):
    samples = found[name].samples if name in found else []
    return samples[0].value if samples else None


def close(a, b):
    return a is not None and b is not None and abs(a - b) <= 1e-9 * max(1.0, abs(b))


def run_client(command):
    started = time.time()
    done = subprocess.run(LAUNCHER + command, stdin=subprocess.DEVNULL, capture_output=True,
                          timeout=120)
    check(done.returncode == 0, "%s exits with 0 (got %d)" % (command[1], done.returncode))
    check(done.stderr == b"", "nothing on standard error without a terminal: %r"
          % done.stderr[:300])
    return done.stdout.decode(), started


def check_metrics(text, record, started):
    check(text.endswith("# EOF\n"), "the metrics end with # EOF")
    found = families(text)
    when = value(found, "telvario_run_timestamp_seconds")
    check(when is not None and started - 1 <= when <= time.time(),
          "telvario_run_timestamp_seconds is when the run began")
    check(value(found, "telvario_run_succeeded") == 1, "telvario_run_succeeded is 1")
    check(value(found, "telvario_run_cancelled") == 0, "telvario_run_cancelled is 0")
    counters = ("telvario_echo_requests", "telvario_echo_replies")
    for family in found.values():
        kind = "counter" if family.name in counters else "gauge"
        check(family.type == kind and family.documentation and family.name.startswith("telvario_")
              and (not family.unit or family.name.endswith("_" + family.unit)),
              "%s: a documented %s, its unit last in its name" % (family.name, kind))
    return found


def check_title(title, what):
    check(title.startswith("Telvario: " + what), "the title says what was measured: %r" % title)


def latency(telvario):
    with tempfile.TemporaryDirectory() as folder:
        svg = os.path.join(folder, "latency.svg")
        out, started = run_client([telvario, "latency", "127.0.0.1", "--probes", "60",
                                   "--interval", "10", "--svg", svg, "--openmetrics"])
        title, panels = panels_of(svg)
        check_title(title, "latency to 127.0.0.1")
        check(len(panels) == 1 and panels[0].measurement == "latency", "one latency panel")
        record = panels[0].record
        found = check_metrics(out, record, started)
        for name, key in (("median", "median"), ("p90", "p90"), ("p99", "p99"), ("min", "min"),
                          ("max", "max"), ("mean", "mean"), ("jitter", "jitter")):
            family = "telvario_latency_%s_seconds" % name
            check(close(value(found, family), record[key] / 1000) and
                  found[family].unit == "seconds", "%s is the run's %s in seconds" % (family, key))
        check(close(value(found, "telvario_loss_ratio"), record["loss"]),
              "telvario_loss_ratio is the run's loss")
        check(value(found, "telvario_echo_requests") == record["sent"] == 60 and
              found["telvario_echo_requests"].type == "counter",
              "telvario_echo_requests_total is the 60 probes sent, a counter as the exporter's")
        check_round_trips(check, render(svg), panels[0], "latency")


def throughput(telvario, port):
    url = "http://127.0.0.1:%s/bytes/100000000000" % port
    with tempfile.TemporaryDirectory() as folder:
        svg = os.path.join(folder, "throughput.svg")
        out, started = run_client([telvario, "throughput", url, "--upload",
                                   "http://127.0.0.1:%s/pictures" % port, "--duration", "2",
                                   "--streams", "3", "--yes", "--svg", svg, "--openmetrics"])
        title, panels = panels_of(svg)
        check_title(title, "throughput of " + url)
        check([p.measurement for p in panels] == ["download", "upload"],
              "a download panel, then an upload panel")
        found = check_metrics(out, panels[0].record, started)
        image = render(svg)
        for panel in panels:
            record, way = panel.record, panel.measurement
            check(close(value(found, "telvario_%s_bits_per_second" % way), record["result"] * 1e6),
                  "telvario_%s_bits_per_second is the run's rate" % way)
            check(close(value(found, "telvario_%s_bytes" % way), record["bytes"]),
                  "telvario_%s_bytes is the run's bytes" % way)
            check(all(len(s["connections"]) == 3 for s in record["samples"]),
                  "%s: every sample has its 3 connections" % way)
            check_transfer(check, image, panel, way)


def responsiveness_record():
    """A run of the documented form: idle, then loaded round trips, with the load's samples."""
    shuffle = random.Random(25)
    probes, samples = [], []
    for i in range(40):
        probes.append({"kind": ("echo", "tcp", "http")[i % 3], "phase": "idle", "t": i * 0.05,
                       "rttMs": None if i == 7 else round(shuffle.uniform(3, 9), 3)})
    for i in range(120):
        probes.append({"kind": ("echo", "tcp", "http")[i % 3], "phase": "loaded",
                       "t": 2 + i * 0.08, "rttMs": round(shuffle.uniform(20, 80), 3)})
    for i in range(100):
        each = [shuffle.randint(200000, 900000) for _ in range(4)]
        samples.append({"t": round(2 + (i + 1) * 0.1, 1), "bytes": sum(each), "connections": each})
    loaded = sorted(p["rttMs"] for p in probes if p["phase"] == "loaded")
    return {"measurement": "responsiveness", "url": "http://127.0.0.1:1/responsiveness",
            "result": 1500.0, "idleLatency": 5.5, "loadedLatency": loaded[59],
            "loadedLatencyP90": loaded[107], "rpm": 1500.0, "cancelled": False,
            "probes": probes, "samples": samples}


def responsiveness(results_chart):
    record = responsiveness_record()
    with tempfile.TemporaryDirectory() as folder:
        source = os.path.join(folder, "responsiveness.json")
        svg = os.path.join(folder, "responsiveness.svg")
        with open(source, "w", encoding="utf-8") as file:
            json.dump(record, file)
        done = subprocess.run([results_chart, source, svg], capture_output=True, timeout=60)
        check(done.returncode == 0, "the record is drawn")
        found = families(done.stdout.decode())
        check(close(value(found, "telvario_responsiveness_rpm"), 1500.0) and
              found["telvario_responsiveness_rpm"].unit == "rpm", "telvario_responsiveness_rpm")
        check(close(value(found, "telvario_responsiveness_loaded_latency_p90_seconds"),
                    record["loadedLatencyP90"] / 1000),
              "telvario_responsiveness_loaded_latency_p90_seconds")
        title, panels = panels_of(svg)
        check([p.measurement for p in panels] == ["responsiveness"] * 2,
              "the load's panel, then the round trips' panel")
        image = render(svg)
        check_transfer(check, image, panels[0], "the load")
        check_round_trips(check, image, panels[1], "idle beside loaded")


def report(telvario, pattern):
    with tempfile.TemporaryDirectory() as folder:
        svg = os.path.join(folder, "report.svg")
        out, _ = run_client([telvario, "report", "--yes", "--json", "--svg", svg])
        check(re.search(pattern, out) is not None, "the report has every measurement: %s" % out)
        title, panels = panels_of(svg)
        check_title(title, "connection report")
        check([p.measurement for p in panels] ==
              ["latency", "download", "upload", "responsiveness", "responsiveness"],
              "a latency panel, the throughput both ways, then the responsiveness's two")
        image = render(svg)
        check_round_trips(check, image, panels[0], "latency")
        check_transfer(check, image, panels[1], "download")
        check_transfer(check, image, panels[2], "upload")
        # Its round trips are drawn as the responsiveness case checks them; on loopback their
        # marks fall on one another.
        check_transfer(check, image, panels[3], "the responsiveness's load")


HOP_KEYS = ["Hop", "Address", "Addresses", "Sent", "Received", "Loss", "LatencyLast", "LatencyMin",
            "LatencyMedian", "LatencyMean", "LatencyP90", "LatencyMax", "Jitter", "ForwardLoss",
            "AddedLatency", "Reading"]


def check_route_json(out, record):
    report = json.loads(out)
    check(list(report)[:4] == ["Route", "RouteEnd", "PeerAddress", "Hops"] and report["Route"] == 4
          and report["RouteEnd"] == "destination", "the route's members, then its 4 hops: %s"
          % out[:200])
    hops = report["Hops"]
    check(all(list(hop)[0] == "Hop" and set(hop) <= set(HOP_KEYS) for hop in hops) and
          [hop["Hop"] for hop in hops] == [1, 2, 3, 4], "each hop's members, Hop first")
    silent = hops[1]
    check(silent["Address"] == "" and silent["Loss"] == 1 and silent["ForwardLoss"] == 0 and
          "LatencyMedian" not in silent and "not loss on the path" in silent.get("Reading", ""),
          "hop 2 never answers about itself, and that is no loss on the path: %s" % silent)
    answered = [hop for hop in hops if hop["Received"] > 0]
    check(all(hop["LatencyMin"] <= hop["LatencyMedian"] <= hop["LatencyP90"] <= hop["LatencyMax"]
              and 35 <= hop["LatencyMedian"] for hop in answered) and
          hops[3]["Address"] == "10.213.5.10", "the other hops' round trips, across the 40 ms path")
    check([h["hop"] for h in record["hops"]] == [1, 2, 3, 4] and
          record["hops"][0]["median"] == hops[0]["LatencyMedian"],
          "the record behind the picture is the members' route")


def route(telvario):
    with tempfile.TemporaryDirectory() as folder:
        svg = os.path.join(folder, "route.svg")
        out, _ = run_client([telvario, "route", "10.213.5.10", "--probes", "10", "--interval",
                             "50", "--json", "--svg", svg])
        title, panels = panels_of(svg)
        check_title(title, "route to 10.213.5.10")
        check([p.measurement for p in panels] == ["route", "route"],
              "a route's round trips, then its loss")
        check_route_json(out, panels[0].record)
        check_route(check, render(svg), panels[0], panels[1], "route past a silent hop")

    out, started = run_client([telvario, "route", "echo.lab.test", "-6", "--probes", "5",
                               "--interval", "50", "--openmetrics"])
    found = check_metrics(out, None, started)
    check(value(found, "telvario_route_hops") == 4, "telvario_route_hops is the 4 hops")
    losses = {s.labels["hop"]: s for s in found["telvario_hop_loss_ratio"].samples}
    check(sorted(losses) == ["1", "2", "3", "4"] and losses["4"].labels["address"] ==
          "fd13:213:0:3::10" and all(s.value == 0 for s in losses.values()),
          "each hop's loss, labelled with the hop and its address, over IPv6")
    medians = found["telvario_hop_latency_median_seconds"].samples
    check(len(medians) == 4 and all(0.035 <= s.value < 1 for s in medians),
          "each hop's median round trip in seconds")

    done = subprocess.run(LAUNCHER + [telvario, "route", "10.213.4.10", "--probes", "3",
                                      "--interval", "50", "--max-hops", "5"],
                          stdin=subprocess.DEVNULL, capture_output=True, timeout=120)
    text = done.stdout.decode()
    check(done.returncode == 1 and "RouteNotReached: the destination did not answer within the "
          "most hops" in text and "10.213.12.2" in text,
          "a destination that never answers: exit 1, the code's name and the hops that did: %r"
          % text[-400:])


def main():
    case = sys.argv[1]
    if case == "latency":
        latency(sys.argv[2])
    elif case == "throughput":
        throughput(sys.argv[2], sys.argv[3])
    elif case == "report":
        report(sys.argv[2], sys.argv[3])
    elif case == "route":
        route(sys.argv[2])
    else:
        responsiveness(sys.argv[2])
    print("%d checks failed" % len(check.failures) if check.failures else "every check passed")
    return 1 if check.failures else 0


if __name__ == "__main__":
    sys.exit(main())
