#include "connection_report.h"

#include <memory>
#include <optional>

#include "automation_text.h"
#include "download_measure.h"
#include "echo_measure.h"
#include "interrupt.h"
#include "latency_measure.h"
#include "loopback_servers.h"
#include "responsiveness_measure.h"
#include "throughput_measure.h"
#include "upload_measure.h"

namespace telvario::cli {
namespace {

constexpr char kSelfAddress[] = "127.0.0.1";
constexpr char kSelfName[] = "localhost";
constexpr char kSelfDownload[] = "/bytes/100000000";  // 100 MB
constexpr char kSelfUpload[] = "/upload";
constexpr double kReportSeconds = 3;  // each way, for Sonde2's throughput in a report

std::string LookUp(ISonde& sonde, bool forward, const std::string& argument) {
  BSTR text = ToBstr(argument);
  BSTR answer = nullptr;
  if (forward) {
    sonde.get_Addr(text, &answer);
  } else {
    sonde.get_HostName(text, &answer);
  }
  std::string result = Narrow(answer);
  SysFreeString(answer);
  SysFreeString(text);
  return result;
}

// Forward and reverse: the name's address, and the name of that address (of 127.0.0.1 for the
// machine itself, which a name server need not know).
Report MeasureNames(ISonde& sonde, const std::string& host, bool self, bool* complete) {
  Report names;
  const std::string name = self ? kSelfName : host;
  const std::string address = LookUp(sonde, true, name);
  names.Add("Addr(" + name + ")", address);
  const std::string reversed = self ? kSelfAddress : address;
  if (!reversed.empty()) {
    const std::string reverseName = LookUp(sonde, false, reversed);
    names.Add("HostName(" + reversed + ")", reverseName);
    *complete = *complete && !reverseName.empty();
  }
  *complete = *complete && !address.empty();
  if (!self) {  // the check host is on the Internet
    LONG dnsOk = 0;
    sonde.get_is_DNS_OK(&dnsOk);
    names.Add("is_DNS_OK", static_cast<long long>(dnsOk));
  }
  return names;
}

// The object's Sonde2 side, where it has one (a report of a Sonde has no latency line).
ISonde2* AsSonde2(ISonde& sonde) {
  ISonde2* second = nullptr;
  if (sonde.QueryInterface(IID_ISonde2, reinterpret_cast<void**>(&second)) != S_OK) return nullptr;
  second->Release();  // the same object, held by the caller's reference
  return second;
}

Report Skipped(const std::string& why) {
  Report skipped;
  skipped.Add("Skipped", why);
  return skipped;
}

}  // namespace

bool ReportConnection(HMODULE library, ISonde& sonde, const ReportTargets& targets,
                      const std::string& where, Report& report, std::vector<RunResults>* runs) {
  const bool self = targets.None();
  std::string host = targets.host;
  std::string url = targets.url;
  std::string ftpHost = targets.ftpHost;
  std::unique_ptr<LoopbackServers> servers;
  if (self) {
    servers = std::make_unique<LoopbackServers>();
    host = kSelfAddress;
    if (servers->HttpPort() != 0) {
      url = "http://127.0.0.1:" + std::to_string(servers->HttpPort()) + kSelfDownload;
    }
    if (servers->FtpListening()) ftpHost = kSelfAddress;
  }
  report.Add("Network", where);
  bool complete = true;

  if (!host.empty()) {
    Report echo;
    MeasureEcho(sonde, echo, host, std::nullopt);
    complete = complete && !echo.Has("Failure");
    report.Add("Echo " + host, echo);
    Report hop;
    MeasureEcho(sonde, hop, host, targets.hop);
    complete = complete && !hop.Has("Failure");
    report.Add("Hop " + std::to_string(targets.hop) + " towards " + host, hop);
    if (ISonde2* sonde2 = AsSonde2(sonde)) {
      Report latency;
      std::string ignored;
      MeasureLatency(*sonde2, latency, host, LatencyOptions{}, false, runs, &ignored);
      complete = complete && !latency.Has("Failure");
      report.Add("Latency to " + host, latency);
      if (Interrupted()) return false;
    }
    report.Add("Names", MeasureNames(sonde, host, self, &complete));
  }
  if (!url.empty()) {
    Report download;
    MeasureDownload(sonde, download, url);
    complete = complete && !download.Has("Failure");
    report.Add("Download " + url, download);
  } else if (self) {
    report.Add("Download", Skipped("no loopback HTTP server: " + servers->HttpProblem()));
    complete = false;
  }
  // Sonde2's throughput over several connections: from the URL given, and both ways on loopback.
  if (ISonde2* sonde2 = AsSonde2(sonde); sonde2 != nullptr && !url.empty()) {
    ThroughputOptions options;
    options.durationSeconds = kReportSeconds;
    options.assumeYes = targets.assumeYes;
    if (self)
      options.uploadUrl = "http://127.0.0.1:" + std::to_string(servers->HttpPort()) + kSelfUpload;
    Report throughput;
    std::string ignored;
    MeasureThroughput(library, *sonde2, throughput, url, options, runs, &ignored);
    complete = complete && !throughput.Has("Failure");
    report.Add("Throughput", throughput);
    if (Interrupted()) return false;
    // The same link under load, probed all along, on loopback only: on a link of the user's the
    // throughput above already asked it for its capacity, and this would ask again as long.
    if (self) {
      ResponsivenessOptions loaded;
      loaded.durationSeconds = kReportSeconds;
      Report responsiveness;
      MeasureResponsiveness(library, *sonde2, responsiveness, url, loaded, false, runs, &ignored);
      complete = complete && !responsiveness.Has("Failure");
      report.Add("Responsiveness", responsiveness);
      if (Interrupted()) return false;
    }
  }
  if (!ftpHost.empty()) {
    Report upload;
    MeasureUpload(library, sonde, upload, ftpHost, targets.assumeYes);
    complete = complete && !upload.Has("Failure");
    report.Add("Upload to " + ftpHost, upload);
  } else if (self) {
    report.Add("Upload", Skipped("no loopback FTP server: " + servers->FtpProblem()));
    complete = false;
  }
  return complete;
}

}  // namespace telvario::cli
