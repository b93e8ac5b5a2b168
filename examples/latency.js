// Measures latency as people judge it now with Telvario's Sonde2: the median, spread, jitter and
// loss of a run of echo requests sent on a fixed schedule, over IPv4 or IPv6; and, on the same
// object, a member Sonde already had.
// Usage: cscript //nologo latency.js [HOST] [PROBES] [INTERVAL-MS] [FAMILY: 0, 4 or 6]
// Ends with a line "TELVARIO-EXAMPLE-DONE failures=N" and exits with N.
var failures = 0;
var args = WScript.Arguments;
var host = args.length > 0 ? args(0) : "127.0.0.1";

function report(label, value, ok) {
  WScript.Echo(label + ": " + value + (ok ? "" : "   <- unexpected"));
  if (!ok) failures++;
}

var sonde = WScript.CreateObject("Telvario.Sonde2");
sonde.Probes = args.length > 1 ? parseInt(args(1), 10) : 20;
if (args.length > 2) sonde.ProbeInterval = parseInt(args(2), 10);
if (args.length > 3) sonde.Family = parseInt(args(3), 10);

var median = sonde.Latency(host);
report("Latency(" + host + ") median ms", median, median >= 0);
report("PeerAddress", sonde.PeerAddress, sonde.PeerAddress.length > 0);
report("Sent / Received", sonde.Sent + " / " + sonde.Received, sonde.Sent == sonde.Probes);
report("Loss", (sonde.Loss * 100).toFixed(1) + "%", sonde.Loss >= 0 && sonde.Loss <= 1);
report("min / median / mean", sonde.LatencyMin + " / " + sonde.LatencyMedian + " / " +
       sonde.LatencyMean, sonde.LatencyMin <= sonde.LatencyMedian);
report("p90 / p99 / max", sonde.LatencyP90 + " / " + sonde.LatencyP99 + " / " + sonde.LatencyMax,
       sonde.LatencyP90 <= sonde.LatencyP99 && sonde.LatencyP99 <= sonde.LatencyMax);
report("Jitter ms", sonde.Jitter, sonde.Jitter >= 0);
var results = sonde.Results;
report("Results (JSON)", results.substring(0, 60) + "...", results.charAt(0) == "{");
report("Addresses(" + host + ")", sonde.Addresses(host), sonde.Addresses(host).length > 0);
// Everything Sonde answers, Sonde2 answers too.
report("PingTime(" + host + ") ms", sonde.PingTime(host), sonde.PingTime(host) >= 0);

WScript.Echo("TELVARIO-EXAMPLE-DONE failures=" + failures);
WScript.Quit(failures);
