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
#include "url_text.h"

namespace telvario::cli {
namespace {

constexpr char kSelfAddress[] = "127.0.0.1";
constexpr char kSelfName[] = "localhost";
constexpr char kSelfDownload[] = "/bytes/100000000";  // 100 MB
constexpr char kSelfUpload[] = "/upload";
constexpr double kReportSeconds = 3;  // each way, for Sonde2's throughput in a report

// What one report measures: the targets given, or the machine's own servers on loopback.
struct Plan {
  bool self = false;
  std::string host, url, uploadUrl, ftpHost;
  std::unique_ptr<LoopbackServers> servers;
};

Plan PlanFor(const ReportTargets& targets) {
  Plan plan{targets.None(), targets.host, targets.url, "", targets.ftpHost, nullptr};
  if (!plan.self) return plan;
  plan.servers = std::make_unique<LoopbackServers>();
  plan.host = kSelfAddress;
  if (plan.servers->HttpPort() != 0) {
    const std::string server = "http://127.0.0.1:" + std::to_string(plan.servers->HttpPort());
    plan.url = server + kSelfDownload;
    plan.uploadUrl = server + kSelfUpload;
  }
  if (plan.servers->FtpListening()) plan.ftpHost = kSelfAddress;
  return plan;
}

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
Report MeasureNames(ISonde& sonde, const std::string& host, bool self) {
  Report names;
  const std::string name = self ? kSelfName : host;
  const std::string address = LookUp(sonde, true, name);
  names.Add("Addr(" + name + ")", address);
  const std::string reversed = self ? kSelfAddress : address;
  if (!reversed.empty()) {
    const std::string reverseName = LookUp(sonde, false, reversed);
    names.Add("HostName(" + reversed + ")", reverseName);
    if (reverseName.empty()) names.AddFailure("Failure", "the address has no name");
  } else {
    names.AddFailure("Failure", "the name could not be resolved");
  }
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
  skipped.AddFailure("Skipped", why);
  return skipped;
}

// What every part measures with, under a heading of its own.
Report Settings(ISonde& sonde, const ReportTargets& targets, const std::string& where) {
  SHORT packetSize = 0, pingReps = 0;
  sonde.get_PacketSize(&packetSize);
  sonde.get_PingReps(&pingReps);
  Report settings;
  settings.Add("Network", where);
  settings.Add("PacketSize", static_cast<long long>(packetSize));
  settings.Add("PingReps", static_cast<long long>(pingReps));
  settings.Add("Hop", static_cast<long long>(targets.hop));
  return settings;
}

// Echo, the hop, Sonde2's latency and the names of the host. False once Ctrl-C cut it short.
bool ReportHost(ISonde& sonde, const Plan& plan, short hop, Report& report,
                std::vector<RunResults>* runs) {
  Report echo;
  MeasureEcho(sonde, echo, plan.host, std::nullopt);
  report.Add("Echo " + plan.host, echo);
  Report hopReport;
  MeasureEcho(sonde, hopReport, plan.host, hop);
  report.Add("Hop " + std::to_string(hop) + " towards " + plan.host, hopReport);
  if (ISonde2* sonde2 = AsSonde2(sonde)) {
    Report latency;
    MeasureLatency(*sonde2, latency, plan.host, LatencyOptions{}, false, runs);
    report.Add("Latency to " + plan.host, latency);
    if (Interrupted()) return false;
  }
  report.Add("Names", MeasureNames(sonde, plan.host, plan.self));
  return true;
}

// Sonde2's throughput over several connections from the URL (both ways on loopback), and the
// same link under load, probed all along, on loopback only: on a link of the user's the
// throughput already asked it for its capacity, and this would ask again as long. False once
// Ctrl-C cut it short.
bool ReportLoad(HMODULE library, ISonde2& sonde, const Plan& plan, bool assumeYes, Report& report,
                std::vector<RunResults>* runs) {
  ThroughputOptions options;
  options.load.durationSeconds = kReportSeconds;
  options.assumeYes = assumeYes;
  options.uploadUrl = plan.uploadUrl;
  Report throughput;
  MeasureThroughput(library, sonde, throughput, plan.url, options, runs);
  report.Add("Throughput", throughput);
  if (Interrupted()) return false;
  if (!plan.self) return true;
  ResponsivenessOptions loaded;
  loaded.load.durationSeconds = kReportSeconds;
  Report responsiveness;
  MeasureResponsiveness(library, sonde, responsiveness, plan.url, loaded, false, runs);
  report.Add("Responsiveness", responsiveness);
  return !Interrupted();
}

}  // namespace

void ReportConnection(HMODULE library, ISonde& sonde, const ReportTargets& targets,
                      const std::string& where, Report& report, std::vector<RunResults>* runs) {
  const Plan plan = PlanFor(targets);
  report.Add("Settings", Settings(sonde, targets, where));
  if (!plan.host.empty() && !ReportHost(sonde, plan, targets.hop, report, runs)) return;
  if (!plan.url.empty()) {
    Report download;
    MeasureDownload(sonde, download, plan.url);
    report.Add("Download " + WithoutUserinfo(plan.url), download);
  } else if (plan.self) {
    report.Add("Download", Skipped("no loopback HTTP server: " + plan.servers->HttpProblem()));
  }
  ISonde2* sonde2 = AsSonde2(sonde);
  if (sonde2 != nullptr && !plan.url.empty() &&
      !ReportLoad(library, *sonde2, plan, targets.assumeYes, report, runs)) {
    return;
  }
  if (!plan.ftpHost.empty()) {
    Report upload;
    MeasureUpload(library, sonde, upload, plan.ftpHost, targets.assumeYes);
    report.Add("Upload to " + plan.ftpHost, upload);
  } else if (plan.self) {
    report.Add("Upload", Skipped("no loopback FTP server: " + plan.servers->FtpProblem()));
  }
}

}  // namespace telvario::cli
