#include "command_table.h"

#include "commands.h"

namespace telvario::cli {
namespace {

constexpr CommandEntry kCommands[] = {
    {"show", "print the object's properties (the default)", AddShowCommand},
    {"sleep", "pause MS milliseconds, keeping the thread's messages flowing (Sleep)",
     AddSleepCommand},
    {"download",
     "measure the download rate of URL in kbit/s, the bytes read and the seconds "
     "taken (ReadURL)",
     AddDownloadCommand},
    {"addr", "the first IPv4 address of NAME (Addr)", AddAddrCommand},
    {"hostname", "the name of a dotted IPv4 address (HostName)", AddHostnameCommand},
    {"dns-check", "whether the resolver gives the expected address of a fixed host (is_DNS_OK)",
     AddDnsCheckCommand},
    {"dhcp", "the DHCP server's address, where the system records one (DHCPServer)",
     AddDhcpCommand},
    {"ping", "the mean round-trip time to HOST in ms by ICMP echo (PingTime)", AddPingCommand},
    {"trace", "the round-trip time to the N-th router towards HOST (TraceRouteTime)",
     AddTraceCommand},
    {"latency",
     "echo requests sent on a fixed schedule by a Sonde2 object: the median round "
     "trip, its spread (min, mean, p90, p99, max), jitter and loss (Latency)",
     AddLatencyCommand},
    {"route",
     "every router on the way to HOST by a Sonde2 object: rounds of echo requests, one for "
     "each time to live at once; each hop's address, loss, round trips (last, median, mean, "
     "best, worst, p90) and jitter, the loss and latency that carry on to the hops after it, "
     "and what a router's own figures do not mean (Route)",
     AddRouteCommand},
    {"addresses", "every address of NAME, both families, in the resolver's order (Addresses)",
     AddAddressesCommand},
    {"throughput",
     "the download rate from URL and the upload rate to the --upload URL (URL "
     "itself unless given) in Mbit/s: several connections for a bounded time, the "
     "start-up left out (Download, Upload); the upload asks first",
     AddThroughputCommand},
    {"responsiveness",
     "latency under working conditions: ten echo requests to the server idle, "
     "then, while downloads of URL (and uploads to it with --upload, which asks "
     "first) fill the link, an echo request every 100 ms and new connections "
     "and small requests to the server; the RPM (round trips per minute) and "
     "the round trip it stands for, IdleLatency, LoadedLatency and "
     "LoadedLatencyP90 (Responsiveness), and the load's rate in Mbit/s, both ways "
     "together with --upload (LoadThroughput)",
     AddResponsivenessCommand},
    {"report",
     "every measurement in one go: echo and one hop to HOST and its names, its "
     "latency, a download of the --url URL (with Sonde2's throughput on it), an upload "
     "to the --ftp server; with no targets, the machine itself: echo and latency to "
     "127.0.0.1, the loopback names, a 100 MB download and an upload, throughput both "
     "ways and responsiveness, from servers it runs on loopback, in a network "
     "namespace of its own where it may make one",
     AddReportCommand},
    {"upload",
     "the upload rate to the anonymous FTP server HOST in kbit/s: about five seconds "
     "of writing to a file in its /temp, deleted afterwards (UploadTest); asks first, "
     "as the component does",
     AddUploadCommand},
    {"serve",
     "the other end of a measurement, for throughput and responsiveness from another "
     "machine: HTTP/1.1 and HTTP/2 (with TLS: --tls-cert and --tls-key, or --self-signed) "
     "serving the responsiveness configuration at /.well-known/nq, downloads of bytes that "
     "do not compress and uploads of any size, within limits that keep one client from "
     "taking it from the others; runs until Ctrl-C (Linux only)",
     AddServeCommand},
    {"exporter",
     "a prober that Prometheus scrapes: continuous latency to every target of the --config "
     "file, as histograms with request and reply counters per target and family, at "
     "/metrics; one measurement of a target a scrape at /probe?target=HOST&module=latency; "
     "listens on 127.0.0.1:9731 unless told otherwise (Linux only)",
     AddExporterCommand},
    {"call",
     "call any member by name through IDispatch, as a script does: numbers pass as "
     "numbers, anything else as text",
     AddCallCommand},
    {"put", "set a property by name through IDispatch, then print the object", AddPutCommand},
    {"register",
     "enter the component in the registry, as regsvr32 does: its classes, ProgIDs "
     "(Telvario.Sonde, Telvario.Sonde2) and type libraries; with "
     "TELVARIO_REGISTRY_LAYER=machine (root), in the machine's registry, for every "
     "user",
     AddRegisterCommand},
    {"unregister", "remove those entries again, as regsvr32 /u does", AddUnregisterCommand},
};

}  // namespace

std::span<const CommandEntry> CommandTable() {
  return kCommands;
}

}  // namespace telvario::cli
