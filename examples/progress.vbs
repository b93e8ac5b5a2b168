' Watches a Sonde2 measurement as it runs: the object raises Progress on this thread while a
' Download goes on, and the handler cancels the run once it has seen enough.
' Usage: cscript //nologo progress.vbs URL [CANCEL-AT: fraction of the run, 0-1, default 0.5]
' Needs a script host that sinks events (Windows Script Host; Wine's does not).
Option Explicit

Dim sonde, url, cancelAt, events, rate
If WScript.Arguments.Count < 1 Then
  WScript.Echo "usage: cscript //nologo progress.vbs URL [CANCEL-AT]"
  WScript.Quit 2
End If
url = WScript.Arguments(0)
cancelAt = 0.5
If WScript.Arguments.Count > 1 Then cancelAt = CDbl(WScript.Arguments(1))
events = 0

' The second argument connects this script's ev_* procedures to the object's events.
Set sonde = WScript.CreateObject("Telvario.Sonde2", "ev_")
sonde.Streams = 2
sonde.Duration = 10

Sub ev_Progress(phase, fraction, value)
  events = events + 1
  WScript.Echo phase & " " & FormatPercent(fraction, 0) & " " & FormatNumber(value, 1) & " Mbit/s"
  If fraction >= cancelAt Then sonde.Cancel
End Sub

rate = sonde.Download(url)
WScript.Echo "Download: " & rate & " Mbit/s after " & sonde.Elapsed & " s, " & events & " events"
WScript.Echo "Cancelled: " & (InStr(sonde.Results, """cancelled"": true") > 0)
