' Measures latency as people judge it now with Telvario's Sonde2: the median, spread, jitter and
' loss of a run of echo requests sent on a fixed schedule, over IPv4 or IPv6; and, on the same
' object, a member Sonde already had.
' Usage: cscript //nologo latency.vbs [HOST] [PROBES] [INTERVAL-MS] [FAMILY: 0, 4 or 6]
' Ends with a line "TELVARIO-EXAMPLE-DONE failures=N" and exits with N.
Option Explicit

Dim failures, host, sonde, median
failures = 0
host = "127.0.0.1"
If WScript.Arguments.Count > 0 Then host = WScript.Arguments(0)

Sub Report(label, value, ok)
  If ok Then
    WScript.Echo label & ": " & value
  Else
    WScript.Echo label & ": " & value & "   <- unexpected"
    failures = failures + 1
  End If
End Sub

Set sonde = WScript.CreateObject("Telvario.Sonde2")
sonde.Probes = 20
If WScript.Arguments.Count > 1 Then sonde.Probes = CLng(WScript.Arguments(1))
If WScript.Arguments.Count > 2 Then sonde.ProbeInterval = CLng(WScript.Arguments(2))
If WScript.Arguments.Count > 3 Then sonde.Family = CLng(WScript.Arguments(3))

median = sonde.Latency(host)
Report "Latency(" & host & ") median ms", median, median >= 0
Report "PeerAddress", sonde.PeerAddress, Len(sonde.PeerAddress) > 0
Report "Sent / Received", sonde.Sent & " / " & sonde.Received, sonde.Sent = sonde.Probes
Report "Loss", FormatPercent(sonde.Loss, 1), sonde.Loss >= 0 And sonde.Loss <= 1
Report "min / median / mean", sonde.LatencyMin & " / " & sonde.LatencyMedian & " / " & _
       sonde.LatencyMean, sonde.LatencyMin <= sonde.LatencyMedian
Report "p90 / p99 / max", sonde.LatencyP90 & " / " & sonde.LatencyP99 & " / " & sonde.LatencyMax, _
       sonde.LatencyP90 <= sonde.LatencyP99 And sonde.LatencyP99 <= sonde.LatencyMax
Report "Jitter ms", sonde.Jitter, sonde.Jitter >= 0
Report "Results (JSON)", Left(sonde.Results, 60) & "...", Left(sonde.Results, 1) = "{"
Report "Addresses(" & host & ")", sonde.Addresses(host), Len(sonde.Addresses(host)) > 0
' Everything Sonde answers, Sonde2 answers too.
Report "PingTime(" & host & ") ms", sonde.PingTime(host), sonde.PingTime(host) >= 0

WScript.Echo "TELVARIO-EXAMPLE-DONE failures=" & failures
WScript.Quit failures
