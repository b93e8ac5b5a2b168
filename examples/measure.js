// Measures a connection with the Telvario component: echo round trips to a host and the time
// to its first hop, forward and reverse names, and optionally a download and an upload to an
// anonymous FTP server (which asks for consent first; 0 when it is not given).
// Usage: cscript //nologo measure.js [HOST] [URL|-] [FTPHOST]
// Ends with a line "TELVARIO-EXAMPLE-DONE failures=N" and exits with N.
var failures = 0;
var host = WScript.Arguments.length > 0 ? WScript.Arguments(0) : "127.0.0.1";
var url = WScript.Arguments.length > 1 ? WScript.Arguments(1) : "";
var ftpHost = WScript.Arguments.length > 2 ? WScript.Arguments(2) : "";

function report(label, value, ok) {
  WScript.Echo(label + ": " + value + (ok ? "" : "   <- unexpected"));
  if (!ok) failures++;
}

var sonde = new ActiveXObject("Telvario.Sonde");
sonde.PingReps = 3;
sonde.PacketSize = 64;
report("PacketSize", sonde.PacketSize, sonde.PacketSize == 64);

var result = sonde.PingTime(host);
report("PingTime(" + host + ") ms", result, result >= 0);
for (var i = 0; i < sonde.PingReps; i++) {
  report("  RTT(" + i + ")", sonde.RTT(i), sonde.RTT(i) >= 0);
}
report("NGoodPings", sonde.NGoodPings, sonde.NGoodPings >= 0);
report("ReplyIP", sonde.ReplyIP, sonde.ReplyIP.length > 0);

result = sonde.TraceRouteTime(host, 1);
report("TraceRouteTime(" + host + ", 1) ms", result, result >= -1);

report("Addr(\"localhost\")", sonde.Addr("localhost"), sonde.Addr("localhost") == "127.0.0.1");
report("HostName(\"127.0.0.1\")", sonde.HostName("127.0.0.1"), true);
report("is_DNS_OK", sonde.is_DNS_OK, sonde.is_DNS_OK == 0 || sonde.is_DNS_OK == 1);

if (url != "" && url != "-") {
  result = sonde.ReadURL(url);
  report("ReadURL kbit/s", result, result > 0);
  report("DataRead bytes", sonde.DataRead, sonde.DataRead > 0);
  report("ElapsedTime s", sonde.ElapsedTime, sonde.ElapsedTime >= 0);
}

if (ftpHost != "") {
  result = sonde.UploadTest(ftpHost);
  report("UploadTest kbit/s", result, result >= 0);
}

sonde.Sleep(10);
WScript.Echo("TELVARIO-EXAMPLE-DONE failures=" + failures);
WScript.Quit(failures);
