// Measures throughput and responsiveness with Telvario's Sonde2, the way speed tests do now:
// several connections each way for a bounded time, the start-up left out; then the latency of
// the link idle and while downloads fill it, as round trips per minute (RPM).
// Usage: cscript //nologo throughput.js DOWNLOAD-URL [UPLOAD-URL] [STREAMS] [SECONDS]
// The upload asks the user first, as UploadTest does: without an OK it gives 0 and sends nothing.
// Ends with a line "TELVARIO-EXAMPLE-DONE failures=N" and exits with N.
var failures = 0;
var args = WScript.Arguments;
var download = args(0);
var upload = args.length > 1 ? args(1) : download;

function report(label, value, ok) {
  WScript.Echo(label + ": " + value + (ok ? "" : "   <- unexpected"));
  if (!ok) failures++;
}

var sonde = WScript.CreateObject("Telvario.Sonde2");
if (args.length > 2) sonde.Streams = parseInt(args(2), 10);
if (args.length > 3) sonde.Duration = parseFloat(args(3));

var rate = sonde.Download(download);
report("Download Mbit/s", rate, rate > 0);
report("  counted after the start-up", sonde.Bytes + " bytes in " + sonde.Elapsed + " s",
       sonde.Elapsed > 0);
report("  latency under the load, median / p90 ms", sonde.LoadedLatency + " / " +
       sonde.LoadedLatencyP90, sonde.LoadedLatency >= 0);

rate = sonde.Upload(upload);
report("Upload Mbit/s", rate == 0 ? "0 (not confirmed, so nothing was sent)" : rate, rate >= 0);

var rpm = sonde.Responsiveness(download);
report("Responsiveness RPM", rpm, rpm > 0);
report("  idle / loaded latency ms", sonde.IdleLatency + " / " + sonde.LoadedLatency,
       sonde.IdleLatency > 0);
report("  that is a round trip under load of ms", rpm > 0 ? 60000 / rpm : "-", true);

WScript.Echo("TELVARIO-EXAMPLE-DONE failures=" + failures);
WScript.Quit(failures);
