' Measures a connection with the Telvario component: echo round trips to a host and the time
' to its first hop, forward and reverse names, and optionally a download and an upload to an
' anonymous FTP server (which asks for consent first; 0 when it is not given).
' Usage: cscript //nologo measure.vbs [HOST] [URL|-] [FTPHOST]
' Ends with a line "TELVARIO-EXAMPLE-DONE failures=N" and exits with N.
Option Explicit

Dim failures, host, url, ftpHost
failures = 0
host = "127.0.0.1"
url = ""
ftpHost = ""
If WScript.Arguments.Count > 0 Then host = WScript.Arguments(0)
If WScript.Arguments.Count > 1 Then url = WScript.Arguments(1)
If WScript.Arguments.Count > 2 Then ftpHost = WScript.Arguments(2)

Sub Report(label, value, ok)
  If ok Then
    WScript.Echo label & ": " & value
  Else
    WScript.Echo label & ": " & value & "   <- unexpected"
    failures = failures + 1
  End If
End Sub

Dim sonde, result, i
' The script host's CreateObject: some hosts' VBScript engines refuse, in their own CreateObject,
' an object that accepts a site when the host offers no service provider.
Set sonde = WScript.CreateObject("Telvario.Sonde")
sonde.PingReps = 3
sonde.PacketSize = 64
Report "PacketSize", sonde.PacketSize, sonde.PacketSize = 64

result = sonde.PingTime(host)
Report "PingTime(" & host & ") ms", result, result >= 0
For i = 0 To sonde.PingReps - 1
  Report "  RTT(" & i & ")", sonde.RTT(i), sonde.RTT(i) >= 0
Next
Report "NGoodPings", sonde.NGoodPings, sonde.NGoodPings >= 0
Report "ReplyIP", sonde.ReplyIP, Len(sonde.ReplyIP) > 0

result = sonde.TraceRouteTime(host, 1)
Report "TraceRouteTime(" & host & ", 1) ms", result, result >= -1

Report "Addr(""localhost"")", sonde.Addr("localhost"), sonde.Addr("localhost") = "127.0.0.1"
Report "HostName(""127.0.0.1"")", sonde.HostName("127.0.0.1"), True
Report "is_DNS_OK", sonde.is_DNS_OK, sonde.is_DNS_OK = 0 Or sonde.is_DNS_OK = 1

If url <> "" And url <> "-" Then
  result = sonde.ReadURL(url)
  Report "ReadURL kbit/s", result, result > 0
  Report "DataRead bytes", sonde.DataRead, sonde.DataRead > 0
  Report "ElapsedTime s", sonde.ElapsedTime, sonde.ElapsedTime >= 0
End If

If ftpHost <> "" Then
  result = sonde.UploadTest(ftpHost)
  Report "UploadTest kbit/s", result, result >= 0
End If

sonde.Sleep 10
WScript.Echo "TELVARIO-EXAMPLE-DONE failures=" & failures
WScript.Quit failures
