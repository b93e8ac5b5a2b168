// telvario: the command-line client. It creates one Sonde2 object (or, asked, a Sonde) in this
// process through the component's class object, as any host would, and prints what the object
// answers.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "automation_text.h"
#include "component.h"
#include "connection_report.h"
#include "download_measure.h"
#include "echo_privilege.h"
#include "loopback_servers.h"
#include "echo_measure.h"
#include "late_bound_call.h"
#include "latency_measure.h"
#include "progress.h"
#include "report.h"
#include "responsiveness_measure.h"
#include "run_output.h"
#include "throughput_measure.h"
#include "upload_measure.h"

namespace {

using telvario::cli::kFailed;
using telvario::cli::kMeasured;
using telvario::cli::kUsageError;
using telvario::cli::Narrow;
using telvario::cli::Report;
using telvario::cli::RunResults;
using telvario::cli::ToBstr;

constexpr char kUsage[] =
    "usage: telvario [COMMAND] [OPTIONS]\n"
    "\n"
    "Measures this machine's Internet connection with a Telvario Sonde2 object.\n"
    "\n"
    "commands:\n"
    "  show            print the object's properties (the default)\n"
    "  sleep MS        pause MS milliseconds, keeping the thread's messages flowing\n"
    "  download URL    measure the download rate of URL (ReadURL), in kbit/s\n"
    "  addr NAME       the first IPv4 address of NAME (Addr)\n"
    "  hostname ADDR   the name of a dotted IPv4 address (HostName)\n"
    "  dns-check       whether the resolver gives the expected address (is_DNS_OK)\n"
    "  dhcp            the DHCP server's address, where the system records one (DHCPServer)\n"
    "  ping HOST       the mean round-trip time to HOST in ms by ICMP echo (PingTime)\n"
    "  trace HOST --hop N\n"
    "                  the round-trip time to the N-th router towards HOST (TraceRouteTime)\n"
    "  latency HOST [--probes N] [--interval MS] [-4|-6]\n"
    "                  echo requests sent on a fixed schedule: the median round trip, its\n"
    "                  spread (min, mean, p90, p99, max), jitter and loss (Latency)\n"
    "  addresses NAME  every address of NAME, both families, in the resolver's order\n"
    "  throughput URL [--upload URL] [--streams N] [--duration S]\n"
    "                  the download rate from URL and the upload rate to the --upload URL (URL\n"
    "                  itself unless given) in Mbit/s: several connections for a bounded\n"
    "                  time, the start-up left out (Download, Upload); the upload asks first\n"
    "  responsiveness URL [--upload] [--streams N] [--duration S]\n"
    "                  latency under working conditions: idle, then while downloads (and\n"
    "                  uploads with --upload, which asks first) fill the link; RPM\n"
    "                  (Responsiveness)\n"
    "  report [HOST] [--url URL] [--ftp HOST] [--hop N]\n"
    "                  every measurement in one go: echo and one hop (default 1) to HOST and\n"
    "                  its names, its latency, a download of URL, an upload to the FTP server;\n"
    "                  with no targets, the machine itself: echo and latency to 127.0.0.1, the\n"
    "                  loopback names, a 100 MB download and an upload, throughput both ways\n"
    "                  and responsiveness, from servers it runs on loopback, in a network\n"
    "                  namespace of its own where it may make one\n"
    "  upload HOST     the upload rate to the anonymous FTP server HOST in kbit/s: about five\n"
    "                  seconds of writing to a file in its /temp, deleted afterwards\n"
    "                  (UploadTest); asks first, as the component does\n"
    "  call MEMBER [ARG...]\n"
    "                  call any member by name through IDispatch, as a script does; numbers\n"
    "                  pass as numbers, anything else as text (of Sonde2, or of the class\n"
    "                  --class names)\n"
    "  put MEMBER VALUE  set a property by name through IDispatch, then print the object\n"
    "  register        enter the component in the registry, as regsvr32 does: its classes,\n"
    "                  ProgIDs (Telvario.Sonde, Telvario.Sonde2) and type libraries\n"
    "  unregister      remove those entries again, as regsvr32 /u does\n"
    "\n"
    "options:\n"
    "  --packet-size N set PacketSize first (8..1500; other values give 32)\n"
    "  --ping-reps N   set PingReps first (1..100; other values give 1)\n"
    "  --size N        the same as --packet-size\n"
    "  --reps N        the same as --ping-reps\n"
    "  --hop N         the hop (time to live) for trace and report\n"
    "  --probes N      latency: echo requests (1..10000; 20 unless given)\n"
    "  --interval MS   latency: milliseconds between them (10..60000; 100 unless given)\n"
    "  -4, -6          latency: IPv4 or IPv6 only\n"
    "  --streams N     throughput: connections each way (1..32; 4 unless given)\n"
    "  --duration S    throughput: seconds each way may take (2..60; 10 unless given)\n"
    "  --upload URL    throughput: where the upload goes\n"
    "  --upload        responsiveness: load with uploads too\n"
    "  --class NAME    the object to make: Sonde2 (the default) or Sonde\n"
    "  --url URL       the download of report\n"
    "  --ftp HOST      the FTP server of report's upload\n"
    "  --yes           answer the uploads' prompt with OK without asking\n"
    "  --json          print one JSON object instead of text\n"
    "  --openmetrics   latency, throughput, responsiveness, report: print Sonde2's results\n"
    "                  in the OpenMetrics text format (telvario_... gauges, units in their\n"
    "                  names, ending with # EOF) for a monitoring system's text-file\n"
    "                  collector, instead of text or --json\n"
    "  --svg FILE      latency, throughput, responsiveness, report: draw the runs into FILE\n"
    "                  (SVG): throughput over time per 100 ms, all connections and each, in\n"
    "                  Mbit/s; round trips as a distribution (CDF) with the median, p90 and p99\n"
    "                  marked, loaded beside idle where there is a load\n"
    "  --version       print the component's version\n"
    "  --help          print this help\n"
    "\n"
    "Results go to standard output; errors, and progress on a terminal, to standard error:\n"
    "latency, throughput, responsiveness and report show the phase, the share done and the\n"
    "latest figure once a Sonde2 measurement has taken a second. Ctrl-C during one cancels it:\n"
    "what it had measured is printed (marked LatencyCancelled, DownloadCancelled,\n"
    "UploadCancelled or ResponsivenessCancelled) and drawn, and nothing more is measured; a\n"
    "second Ctrl-C ends the program at once.\n"
    "\n"
    "exit status:\n"
    "  0    the measurement gave a result\n"
    "  1    it failed: a negative code, a failure result, no component to ask, or a picture\n"
    "       that could not be written\n"
    "  2    the command line was wrong\n"
    "  130  Ctrl-C cancelled a measurement; its partial results were printed\n";

struct Options {
  std::string command = "show";
  std::vector<std::string> arguments;
  bool help = false;
  bool version = false;
  bool json = false;
  bool openMetrics = false;
  std::string svgPath;
  bool yes = false;
  bool hasPacketSize = false;
  long packetSize = 0;
  bool hasPingReps = false;
  long pingReps = 0;
  std::optional<long> hop;
  std::string url;
  std::string ftpHost;
  telvario::cli::LatencyOptions latency;
  telvario::cli::ThroughputOptions throughput;
  bool uploadLoad = false;  // responsiveness --upload
  std::string className = "Sonde2";
};

// A whole number that fits the 32-bit arguments of the object's members.
bool ParseNumber(const char* text, long& value) {
  char* end = nullptr;
  errno = 0;
  const long long parsed = std::strtoll(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0') return false;
  if (parsed < -2147483647LL - 1 || parsed > 2147483647LL) return false;
  value = static_cast<long>(parsed);
  return true;
}

// The property puts take 16-bit values, as a script's would be converted.
short To16(long value) {
  return static_cast<short>(value);
}

// A usage error: one line, and where the help is.
int Fail(const std::string& message) {
  std::fprintf(stderr, "telvario: %s\nsee 'telvario --help'\n", message.c_str());
  return kUsageError;
}

// A failure before anything was measured: one line.
int Failed(const std::string& message) {
  std::fprintf(stderr, "telvario: %s\n", message.c_str());
  return kFailed;
}

// Prints the report; the exit status says whether it holds a failure.
int Finish(const Report& report, bool json) {
  report.Print(stdout, json);
  return report.Has("Failure") ? kFailed : kMeasured;
}

// A text answer, or the failure of an empty one.
void AddText(Report& report, const char* name, BSTR answer, const char* failure) {
  const std::string text = Narrow(answer);
  report.Add(name, text);
  if (text.empty()) report.Add("Failure", std::string(failure));
}

void AddProperties(ISonde& sonde, Report& report) {
  SHORT packetSize = 0, pingReps = 0, goodPings = 0, rtt = 0;
  LONG dataRead = 0;
  double elapsed = 0;
  sonde.get_PacketSize(&packetSize);
  sonde.get_PingReps(&pingReps);
  sonde.get_NGoodPings(&goodPings);
  report.Add("PacketSize", static_cast<long long>(packetSize));
  report.Add("PingReps", static_cast<long long>(pingReps));
  report.Add("NGoodPings", static_cast<long long>(goodPings));
  for (SHORT i = 0; i < pingReps; ++i) {
    sonde.get_RTT(i, &rtt);
    report.Add("RTT(" + std::to_string(i) + ")", static_cast<long long>(rtt));
  }
  sonde.get_DataRead(&dataRead);
  sonde.get_ElapsedTime(&elapsed);
  report.Add("DataRead", static_cast<long long>(dataRead));
  report.Add("ElapsedTime", elapsed);
}

// Whether the command may send echo requests on this machine's network. A report with no
// targets measures in a namespace of its own, where it may open what it needs itself.
bool SendsEcho(const Options& options) {
  const std::string& command = options.command;
  return command == "ping" || command == "trace" || command == "call" || command == "latency" ||
         (command == "report" && !options.arguments.empty());
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  bool commandSeen = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    // Either ends the command line: what follows is not read.
    if (arg == "--help" || arg == "-h") {
      options.help = true;
      break;
    }
    if (arg == "--version") {
      options.version = true;
      break;
    }
    if (arg == "--json") {
      options.json = true;
    } else if (arg == "--openmetrics") {
      options.openMetrics = true;
    } else if (arg == "--svg") {
      if (i + 1 >= argc || argv[i + 1][0] == '\0') return Fail(arg + " needs a file");
      options.svgPath = argv[++i];
    } else if (arg == "--yes") {
      options.yes = true;
    } else if (arg == "-4" || arg == "-6") {
      options.latency.family = arg == "-4" ? 4 : 6;
    } else if (arg == "--upload" &&
               (i + 1 >= argc || std::string(argv[i + 1]).find("://") == std::string::npos)) {
      options.uploadLoad = true;  // responsiveness's: a URL would follow throughput's
    } else if (arg == "--url" || arg == "--ftp" || arg == "--class" || arg == "--upload") {
      if (i + 1 >= argc) return Fail(arg + " needs a value");
      (arg == "--url"      ? options.url
       : arg == "--ftp"    ? options.ftpHost
       : arg == "--upload" ? options.throughput.uploadUrl
                           : options.className) = argv[++i];
    } else if (arg == "--duration") {
      char* end = nullptr;
      const double seconds = i + 1 < argc ? std::strtod(argv[i + 1], &end) : 0;
      if (i + 1 >= argc || end == argv[i + 1] || *end != '\0') return Fail(arg + " needs seconds");
      options.throughput.durationSeconds = seconds;
      ++i;
    } else if (arg == "--streams") {
      long value = 0;
      if (i + 1 >= argc || !ParseNumber(argv[i + 1], value)) return Fail(arg + " needs a number");
      options.throughput.streams = value;
      ++i;
    } else if (arg == "--probes" || arg == "--interval") {
      long value = 0;
      if (i + 1 >= argc || !ParseNumber(argv[i + 1], value)) return Fail(arg + " needs a number");
      ++i;
      (arg == "--probes" ? options.latency.probes : options.latency.intervalMs) = value;
    } else if (arg == "--packet-size" || arg == "--size" || arg == "--ping-reps" ||
               arg == "--reps" || arg == "--hop") {
      long value = 0;
      if (i + 1 >= argc || !ParseNumber(argv[i + 1], value)) return Fail(arg + " needs a number");
      ++i;
      if (arg == "--packet-size" || arg == "--size") {
        options.hasPacketSize = true, options.packetSize = value;
      } else if (arg == "--hop") {
        options.hop = value;
      } else {
        options.hasPingReps = true, options.pingReps = value;
      }
    } else if (arg.rfind("--", 0) == 0) {
      return Fail("unknown option " + arg);
    } else if (!commandSeen) {
      options.command = arg;
      commandSeen = true;
    } else {
      options.arguments.push_back(arg);
    }
  }

  // Before the component is loaded, or anything but the command line read.
  telvario::cli::EchoSockets echoSockets;
  if (!telvario::cli::KeepOnlyTheEchoSockets(
          !options.help && !options.version && SendsEcho(options), &echoSockets)) {
    std::fprintf(stderr,
                 "telvario: the capabilities this program started with cannot be dropped\n");
    return kFailed;
  }
  if (options.help) {
    std::fputs(kUsage, stdout);
    return kMeasured;
  }
  if (options.version) {
    const std::string version = telvario::cli::ComponentVersion();
    if (version.empty()) {
      std::fprintf(stderr, "telvario: the component's version record cannot be read\n");
      return kFailed;
    }
    std::printf("telvario %s\n", version.c_str());
    return kMeasured;
  }

  telvario::cli::ReportTargets targets;
  std::string where = "this machine's own network";
  if (options.command == "report") {
    if (options.arguments.size() > 1) return Fail("report takes at most one host");
    if (!options.arguments.empty()) targets.host = options.arguments[0];
    targets.url = options.url;
    targets.ftpHost = options.ftpHost;
    targets.hop = To16(options.hop.value_or(1));
    targets.assumeYes = options.yes;
    // Before anything starts a thread: a process with several may not change namespaces.
    if (targets.None()) where = telvario::cli::EnterPrivateNetwork();
  } else if (!options.url.empty() || !options.ftpHost.empty()) {
    return Fail("--url and --ftp belong to report");
  }
  if (options.className != "Sonde2" && options.className != "Sonde") {
    return Fail("--class takes Sonde2 or Sonde");
  }
  const bool latencyOptions =
      options.latency.probes || options.latency.intervalMs || options.latency.family != 0;
  if (latencyOptions && options.command != "latency") {
    return Fail("--probes, --interval, -4 and -6 belong to latency");
  }
  const bool throughputOptions = options.throughput.streams || options.throughput.durationSeconds ||
                                 !options.throughput.uploadUrl.empty();
  const bool loadCommand = options.command == "throughput" || options.command == "responsiveness";
  if (throughputOptions && !loadCommand) {
    return Fail("--streams, --duration and --upload belong to throughput and responsiveness");
  }
  if (options.uploadLoad && options.command != "responsiveness") {
    return Fail("--upload without a URL belongs to responsiveness");
  }
  const bool draws = options.command == "latency" || options.command == "throughput" ||
                     options.command == "responsiveness" || options.command == "report";
  if ((options.openMetrics || !options.svgPath.empty()) && !draws) {
    return Fail("--svg and --openmetrics belong to latency, throughput, responsiveness and report");
  }
  if (options.openMetrics && options.json) {
    return Fail("--openmetrics and --json exclude each other");
  }
  telvario::cli::RunOutput output({options.json, options.openMetrics, options.svgPath});
  std::vector<RunResults> runs;

  const telvario::cli::Component component(options.className == "Sonde" ? CLSID_Sonde
                                                                        : CLSID_Sonde2);
  if (component.Sonde() == nullptr) {
    std::fprintf(stderr, "telvario: %s\n", component.Error().c_str());
    return kFailed;
  }
  telvario::cli::HandOverEchoSockets(
      echoSockets, reinterpret_cast<telvario::cli::TakeSocketFn>(reinterpret_cast<void*>(
                       GetProcAddress(component.Library(), "SetIcmpRawSocket"))));
  ISonde& sonde = *component.Sonde();
  if (options.hasPacketSize) sonde.put_PacketSize(To16(options.packetSize));
  if (options.hasPingReps) sonde.put_PingReps(To16(options.pingReps));

  Report report;
  if (options.command == "show") {
    if (!options.arguments.empty()) return Fail("show takes no arguments");
  } else if (options.command == "sleep") {
    long ms = 0;
    if (options.arguments.size() != 1 || !ParseNumber(options.arguments[0].c_str(), ms)) {
      return Fail("sleep needs the milliseconds");
    }
    sonde.Sleep(static_cast<LONG>(ms));
    report.Add("Slept", static_cast<long long>(ms));
  } else if (options.command == "addr" || options.command == "hostname") {
    if (options.arguments.size() != 1) return Fail(options.command + " needs one argument");
    BSTR argument = ToBstr(options.arguments[0]);
    BSTR answer = nullptr;
    const bool forward = options.command == "addr";
    if (forward) {
      sonde.get_Addr(argument, &answer);
    } else {
      sonde.get_HostName(argument, &answer);
    }
    AddText(report, forward ? "Addr" : "HostName", answer, "the name could not be resolved");
    SysFreeString(answer);
    SysFreeString(argument);
    return Finish(report, options.json);
  } else if (options.command == "dns-check") {
    LONG ok = 0;
    sonde.get_is_DNS_OK(&ok);
    report.Add("is_DNS_OK", static_cast<long long>(ok));
    if (ok == 0)
      report.Add("Failure", std::string("the resolver did not give the expected address"));
    return Finish(report, options.json);
  } else if (options.command == "dhcp") {
    BSTR answer = nullptr;
    sonde.get_DHCPServer(&answer);
    AddText(report, "DHCPServer", answer, "this system records no DHCP server");
    SysFreeString(answer);
    return Finish(report, options.json);
  } else if (options.command == "ping" || options.command == "trace") {
    const bool trace = options.command == "trace";
    if (options.arguments.size() != 1) return Fail(options.command + " needs a host");
    if (trace != options.hop.has_value()) {
      return Fail(trace ? "trace needs --hop N" : "--hop belongs to trace");
    }
    std::optional<short> hop;
    if (trace) hop = To16(*options.hop);
    telvario::cli::MeasureEcho(sonde, report, options.arguments[0], hop);
    return Finish(report, options.json);
  } else if (options.command == "responsiveness") {
    if (component.Sonde2() == nullptr) return Fail("responsiveness needs --class Sonde2");
    if (options.arguments.size() != 1) return Fail("responsiveness needs a URL");
    if (!options.throughput.uploadUrl.empty()) return Fail("responsiveness loads its own URL");
    telvario::cli::ResponsivenessOptions measure;
    measure.upload = options.uploadLoad;
    measure.streams = options.throughput.streams;
    measure.durationSeconds = options.throughput.durationSeconds;
    measure.assumeYes = options.yes;
    std::string error;
    if (!output.Open(&error)) return Failed(error);
    if (!telvario::cli::MeasureResponsiveness(
            component.Library(), *component.Sonde2(), report, options.arguments[0], measure,
            !options.json && !options.openMetrics, &runs, &error)) {
      return Fail(error);
    }
    return output.Finish(report, runs, "responsiveness of " + options.arguments[0],
                         report.Has("Failure"));
  } else if (options.command == "throughput") {
    if (component.Sonde2() == nullptr) return Fail("throughput needs --class Sonde2");
    if (options.arguments.size() != 1) return Fail("throughput needs a URL");
    if (options.throughput.uploadUrl.empty()) options.throughput.uploadUrl = options.arguments[0];
    options.throughput.assumeYes = options.yes;
    std::string error;
    if (!output.Open(&error)) return Failed(error);
    if (!telvario::cli::MeasureThroughput(component.Library(), *component.Sonde2(), report,
                                          options.arguments[0], options.throughput, &runs,
                                          &error)) {
      return Fail(error);
    }
    const bool both = options.throughput.uploadUrl != options.arguments[0];
    return output.Finish(report, runs,
                         "throughput of " + options.arguments[0] +
                             (both ? " and " + options.throughput.uploadUrl : ""),
                         report.Has("Failure"));
  } else if (options.command == "latency" || options.command == "addresses") {
    if (component.Sonde2() == nullptr) return Fail(options.command + " needs --class Sonde2");
    if (options.arguments.size() != 1) return Fail(options.command + " needs one argument");
    if (options.command == "addresses") {
      telvario::cli::ListAddresses(*component.Sonde2(), report, options.arguments[0]);
      return Finish(report, options.json);
    }
    std::string error;
    if (!output.Open(&error)) return Failed(error);
    if (!telvario::cli::MeasureLatency(*component.Sonde2(), report, options.arguments[0],
                                       options.latency, !options.json && !options.openMetrics,
                                       &runs, &error)) {
      return Fail(error);
    }
    return output.Finish(report, runs, "latency to " + options.arguments[0], report.Has("Failure"));
  } else if (options.command == "register" || options.command == "unregister") {
    if (!options.arguments.empty()) return Fail(options.command + " takes no arguments");
    const bool doRegister = options.command == "register";
    using RegisterFn = HRESULT(STDAPICALLTYPE*)();
    const auto entry = reinterpret_cast<RegisterFn>(reinterpret_cast<void*>(GetProcAddress(
        component.Library(), doRegister ? "DllRegisterServer" : "DllUnregisterServer")));
    const HRESULT result = entry != nullptr ? entry() : E_FAIL;
    char code[16];
    std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned int>(result));
    report.Add(doRegister ? "DllRegisterServer" : "DllUnregisterServer", std::string(code));
    report.Print(stdout, options.json);
    return FAILED(result) ? kFailed : kMeasured;
  } else if (options.command == "call" || options.command == "put") {
    const bool put = options.command == "put";
    if (options.arguments.empty() || (put && options.arguments.size() != 2)) {
      return Fail(put ? "put needs a member and a value" : "call needs a member");
    }
    const std::vector<std::string> arguments(options.arguments.begin() + 1,
                                             options.arguments.end());
    std::string error;
    if (!telvario::cli::LateBoundCall(sonde, options.arguments[0], arguments, put, report,
                                      &error)) {
      std::fprintf(stderr, "telvario: %s\n", error.c_str());
      return kFailed;
    }
    if (!put) return Finish(report, options.json);
  } else if (options.command == "report") {
    if (!options.hasPingReps) sonde.put_PingReps(4);
    std::string error;
    if (!output.Open(&error)) return Failed(error);
    const bool complete =
        telvario::cli::ReportConnection(component.Library(), sonde, targets, where, report, &runs);
    const std::string& about = !targets.host.empty()  ? targets.host
                               : !targets.url.empty() ? targets.url
                                                      : targets.ftpHost;
    return output.Finish(report, runs, "connection report, " + (targets.None() ? where : about),
                         !complete);
  } else if (options.command == "upload") {
    if (options.arguments.size() != 1) return Fail("upload needs a host");
    telvario::cli::MeasureUpload(component.Library(), sonde, report, options.arguments[0],
                                 options.yes);
    return Finish(report, options.json);
  } else if (options.command == "download") {
    if (options.arguments.size() != 1) return Fail("download needs a URL");
    telvario::cli::MeasureDownload(sonde, report, options.arguments[0]);
    return Finish(report, options.json);
  } else {
    return Fail("unknown command " + options.command);
  }
  AddProperties(sonde, report);
  report.Print(stdout, options.json);
  return kMeasured;
}
