#include "sonde2_probe.h"

#include <new>

#include "address_lookup.h"
#include "ftp_upload.h"
#include "progress_watch.h"
#include "results_json.h"
#include "string_conversion.h"
#include "web_address.h"

namespace telvario {

BSTR TextBstr(const std::string& text) {
  return text.empty() ? EmptyBstr() : ToWideBstr(text.c_str());
}

int AddressFamily(LONG family) {
  return family == 4 ? AF_INET : family == 6 ? AF_INET6 : AF_UNSPEC;
}

HRESULT Sonde2Probe::get_Probes(LONG* pVal) {
  *pVal = settings_.probes;
  return S_OK;
}
HRESULT Sonde2Probe::put_Probes(LONG newVal) {
  if (newVal < kLeastProbes || newVal > kMostProbes) return E_INVALIDARG;
  settings_.probes = newVal;
  return S_OK;
}
HRESULT Sonde2Probe::get_ProbeInterval(LONG* pVal) {
  *pVal = settings_.probeIntervalMs;
  return S_OK;
}
HRESULT Sonde2Probe::put_ProbeInterval(LONG newVal) {
  if (newVal < kLeastProbeIntervalMs || newVal > kMostProbeIntervalMs) return E_INVALIDARG;
  settings_.probeIntervalMs = newVal;
  return S_OK;
}
HRESULT Sonde2Probe::get_Family(LONG* pVal) {
  *pVal = settings_.family;
  return S_OK;
}
HRESULT Sonde2Probe::put_Family(LONG newVal) {
  if (newVal != 0 && newVal != 4 && newVal != 6) return E_INVALIDARG;
  settings_.family = newVal;
  return S_OK;
}

bool Sonde2Probe::BeginRun() {
  if (running_) return false;
  running_ = true;
  figures_ = Sonde2Figures{};
  cancelled_.store(false);
  return true;
}

HRESULT Sonde2Probe::Latency(BSTR host, LONG packetSize, double* pVal) {
  if (!BeginRun()) return kRunInProgress;
  const NarrowArgument name(host);
  LatencyPlan plan;
  plan.host = name.Get();
  plan.probes = settings_.probes;
  plan.intervalMs = settings_.probeIntervalMs;
  plan.family = AddressFamily(settings_.family);
  plan.packetSize = packetSize;
  LatencyRun run;
  if (name.HasEmbeddedNul()) {
    run.result = LATENCY_RESOLVE_FAILED;
    run.failure = "the name holds a NUL character";
  } else {
    PhaseWatch watch("latency", listener_, cancelled_);
    run = MeasureLatency(plan, &watch);
    watch.Done(run.result);
  }
  figures_.statistics = run.statistics;
  figures_.peer = run.peer;
  figures_.results = LatencyResultsJson(plan, run);
  *pVal = run.result;
  EndRun();
  return S_OK;
}

HRESULT Sonde2Probe::get_LatencyMin(double* pVal) {
  *pVal = figures_.statistics.min;
  return S_OK;
}
HRESULT Sonde2Probe::get_LatencyMedian(double* pVal) {
  *pVal = figures_.statistics.median;
  return S_OK;
}
HRESULT Sonde2Probe::get_LatencyMean(double* pVal) {
  *pVal = figures_.statistics.mean;
  return S_OK;
}
HRESULT Sonde2Probe::get_LatencyP90(double* pVal) {
  *pVal = figures_.statistics.p90;
  return S_OK;
}
HRESULT Sonde2Probe::get_LatencyP99(double* pVal) {
  *pVal = figures_.statistics.p99;
  return S_OK;
}
HRESULT Sonde2Probe::get_LatencyMax(double* pVal) {
  *pVal = figures_.statistics.max;
  return S_OK;
}
HRESULT Sonde2Probe::get_Jitter(double* pVal) {
  *pVal = figures_.statistics.jitter;
  return S_OK;
}
HRESULT Sonde2Probe::get_Loss(double* pVal) {
  *pVal = figures_.statistics.loss;
  return S_OK;
}
HRESULT Sonde2Probe::get_Sent(LONG* pVal) {
  *pVal = figures_.statistics.sent;
  return S_OK;
}
HRESULT Sonde2Probe::get_Received(LONG* pVal) {
  *pVal = figures_.statistics.received;
  return S_OK;
}
HRESULT Sonde2Probe::get_PeerAddress(BSTR* pVal) {
  *pVal = TextBstr(figures_.peer);
  return S_OK;
}
HRESULT Sonde2Probe::get_Results(BSTR* pVal) {
  *pVal = TextBstr(figures_.results);
  return S_OK;
}

HRESULT Sonde2Probe::get_Streams(LONG* pVal) {
  *pVal = settings_.streams;
  return S_OK;
}
HRESULT Sonde2Probe::put_Streams(LONG newVal) {
  if (newVal < kLeastStreams || newVal > kMostStreams) return E_INVALIDARG;
  settings_.streams = newVal;
  return S_OK;
}
HRESULT Sonde2Probe::get_Duration(double* pVal) {
  *pVal = settings_.durationSeconds;
  return S_OK;
}
HRESULT Sonde2Probe::put_Duration(double newVal) {
  // (A comparison that is false for NaN, which is refused too.)
  if (!(newVal >= kLeastDurationSeconds && newVal <= kMostDurationSeconds)) return E_INVALIDARG;
  settings_.durationSeconds = newVal;
  return S_OK;
}

namespace {

// The caller's address, read and checked once: false, with why, where it cannot be measured.
bool ReadAddress(const NarrowArgument& text, WebAddress* address, std::string* failure) {
  if (text.Get() == nullptr || text.HasEmbeddedNul() || !ParseWebAddress(text.Get(), address)) {
    *failure = "the URL cannot be read (an absolute http or https URL, of printable characters)";
    return false;
  }
  if (!address->IsHttp()) {
    *failure = "only http and https URLs can be measured";
    return false;
  }
  return true;
}

const char* MeasurementName(Direction direction) {
  return direction == Direction::Download ? "download" : "upload";
}

}  // namespace

void Sonde2Probe::MeasureThroughputOf(const ThroughputPlan& plan, LONG packetSize, double* pVal) {
  PhaseWatch watch(MeasurementName(plan.direction), listener_, cancelled_);
  // Echo requests to the server all along: the latency under this load.
  std::unique_ptr<LoadedLatency> echoes;
  ProbeTarget target;
  std::string ignored;
  if (ResolveTarget(plan.address, &target, &ignored)) {
    echoes = std::make_unique<LoadedLatency>(target, false, packetSize, plan.durationSeconds);
    echoes->Start();
  }
  const ThroughputRun run = MeasureThroughput(plan, &watch, echoes.get());
  if (echoes != nullptr) {
    echoes->Finish();
    if (run.result >= 0) {
      EchoStatistics(ProbesAfterStartup(echoes->Probes(), run.startupSeconds),
                     &figures_.loadedLatency, &figures_.loadedLatencyP90);
    }
  }
  watch.Done(run.result);
  figures_.bytes = run.bytes;
  figures_.elapsed = run.elapsed;
  figures_.results = ThroughputResultsJson(plan, run);
  *pVal = run.result;
}

HRESULT Sonde2Probe::Throughput(BSTR url, Direction direction, LONG packetSize, double* pVal) {
  const NarrowArgument text(url);
  ThroughputPlan plan;
  plan.direction = direction;
  plan.streams = settings_.streams;
  plan.durationSeconds = settings_.durationSeconds;
  std::string failure;
  if (!ReadAddress(text, &plan.address, &failure)) {
    *pVal = THROUGHPUT_CANNOT_START;
    figures_.results = RefusedResultsJson(MeasurementName(direction),
                                          text.Get() != nullptr ? text.Get() : "", *pVal, failure);
    return S_OK;
  }
  if (direction == Direction::Upload && !AskUploadConsent(plan.address.host.c_str())) {
    *pVal = 0;
    figures_.results = RefusedResultsJson("upload", plan.address.Text(), 0,
                                          "the upload was not confirmed, so nothing was sent");
    return S_OK;
  }
  MeasureThroughputOf(plan, packetSize, pVal);
  return S_OK;
}

HRESULT Sonde2Probe::Download(BSTR url, LONG packetSize, double* pVal) {
  if (!BeginRun()) return kRunInProgress;
  const HRESULT hr = Throughput(url, Direction::Download, packetSize, pVal);
  EndRun();
  return hr;
}

HRESULT Sonde2Probe::Upload(BSTR url, LONG packetSize, double* pVal) {
  if (!BeginRun()) return kRunInProgress;
  const HRESULT hr = Throughput(url, Direction::Upload, packetSize, pVal);
  EndRun();
  return hr;
}

HRESULT Sonde2Probe::Responsiveness(BSTR url, LONG packetSize, double* pVal) {
  if (!BeginRun()) return kRunInProgress;
  const NarrowArgument text(url);
  ResponsivenessPlan plan;
  plan.streams = settings_.streams;
  plan.durationSeconds = settings_.durationSeconds;
  plan.packetSize = packetSize;
  std::string failure;
  if (!ReadAddress(text, &plan.address, &failure)) {
    *pVal = THROUGHPUT_CANNOT_START;
    figures_.results = RefusedResultsJson("responsiveness", text.Get() != nullptr ? text.Get() : "",
                                          *pVal, failure);
    EndRun();
    return S_OK;
  }
  plan.withUpload = settings_.responsivenessUpload && AskUploadConsent(plan.address.host.c_str());
  ResponsivenessWatch watch(listener_, cancelled_);
  const ResponsivenessRun run = MeasureResponsiveness(plan, &watch);
  watch.Done(run.loadedLatencyMs > 0 ? run.loadedLatencyMs : run.idleLatencyMs);
  figures_.idleLatency = run.idleLatencyMs;
  figures_.loadedLatency = run.loadedLatencyMs;
  figures_.loadedLatencyP90 = run.loadedLatencyP90Ms;
  figures_.rpm = run.rpm;
  if (run.load.result >= 0) {
    figures_.bytes = run.load.bytes;
    figures_.elapsed = run.load.elapsed;
  }
  figures_.results = ResponsivenessResultsJson(plan, run);
  *pVal = run.result;
  EndRun();
  return S_OK;
}

HRESULT Sonde2Probe::get_ResponsivenessUpload(VARIANT_BOOL* pVal) {
  *pVal = settings_.responsivenessUpload ? VARIANT_TRUE : VARIANT_FALSE;
  return S_OK;
}
HRESULT Sonde2Probe::put_ResponsivenessUpload(VARIANT_BOOL newVal) {
  settings_.responsivenessUpload = newVal != VARIANT_FALSE;
  return S_OK;
}
HRESULT Sonde2Probe::get_IdleLatency(double* pVal) {
  *pVal = figures_.idleLatency;
  return S_OK;
}
HRESULT Sonde2Probe::get_LoadedLatency(double* pVal) {
  *pVal = figures_.loadedLatency;
  return S_OK;
}
HRESULT Sonde2Probe::get_LoadedLatencyP90(double* pVal) {
  *pVal = figures_.loadedLatencyP90;
  return S_OK;
}
HRESULT Sonde2Probe::get_RPM(double* pVal) {
  *pVal = figures_.rpm;
  return S_OK;
}

HRESULT Sonde2Probe::Cancel() {
  cancelled_.store(true);
  return S_OK;
}

HRESULT Sonde2Probe::get_Bytes(double* pVal) {
  *pVal = figures_.bytes;
  return S_OK;
}
HRESULT Sonde2Probe::get_Elapsed(double* pVal) {
  *pVal = figures_.elapsed;
  return S_OK;
}

HRESULT Sonde2Probe::Addresses(BSTR name, BSTR* pVal) {
  const NarrowArgument text(name);
  std::vector<ResolvedAddress> found;
  std::string list;
  if (!text.HasEmbeddedNul() &&
      LookUpAddresses(text.Get(), AF_UNSPEC, &found) == LookupEnd::Found) {
    for (const ResolvedAddress& address : found) {
      if (!list.empty()) list += ",";
      list += address.text;
    }
  }
  *pVal = TextBstr(list);
  return S_OK;
}

}  // namespace telvario
