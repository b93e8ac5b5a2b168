#include "sonde2_probe.h"

#include <new>
#include <optional>

#include "address_lookup.h"
#include "ftp_upload.h"
#include "web_address.h"
#include "string_conversion.h"

namespace telvario {
namespace {

BSTR TextBstr(const std::string& text) {
  return text.empty() ? EmptyBstr() : ToWideBstr(text.c_str());
}

int AddressFamily(LONG family) {
  return family == 4 ? AF_INET : family == 6 ? AF_INET6 : AF_UNSPEC;
}

// Watches one phase of a measurement for its Sonde2: tells the listener of progress, at most
// every kProgressEveryMs, and says whether the run may go on.
class PhaseWatch final : public LatencyObserver, public ThroughputObserver {
 public:
  PhaseWatch(const char* phase, ProgressListener* listener, const std::atomic<bool>& cancelled)
      : phase_(phase), listener_(listener), cancelled_(cancelled) {}

  bool KeepGoing(LONG sent, LONG planned, double latestMs) override {
    return Tell(planned > 0 ? static_cast<double>(sent) / planned : 0, latestMs);
  }
  bool KeepGoing(double fraction, double latestMbps) override { return Tell(fraction, latestMbps); }
  // The phase's last word: its whole fraction and its figure.
  void Done(double value) {
    if (listener_ != nullptr) listener_->Progress(phase_, 1.0, value);
  }

 private:
  bool Tell(double fraction, double value) {
    const DWORD now = GetTickCount();
    if (listener_ != nullptr && (!told_ || now - lastTold_ >= kProgressEveryMs)) {
      told_ = true;
      lastTold_ = now;
      listener_->Progress(phase_, fraction, value);  // which may cancel
    }
    return !cancelled_.load();
  }

  const char* phase_;
  ProgressListener* listener_;
  const std::atomic<bool>& cancelled_;
  bool told_ = false;
  DWORD lastTold_ = 0;
};

// Watches a responsiveness run: its two phases told as they come, each once more at its end.
class ResponsivenessWatch final : public ResponsivenessObserver {
 public:
  ResponsivenessWatch(ProgressListener* listener, const std::atomic<bool>& cancelled)
      : listener_(listener), cancelled_(cancelled) {}
  bool KeepGoing(const char* phase, double fraction, double latestMs) override {
    if (phase_ != nullptr && std::string(phase_) != phase && listener_ != nullptr) {
      listener_->Progress(phase_, 1.0, lastMs_);  // the idle phase is over
    }
    if (phase_ == nullptr || std::string(phase_) != phase)
      watch_.emplace(phase, listener_, cancelled_);
    phase_ = phase;
    lastMs_ = latestMs;
    return watch_->KeepGoing(fraction, latestMs);
  }
  void Done(double rpm) {
    if (watch_) watch_->Done(rpm);
  }

 private:
  ProgressListener* listener_;
  const std::atomic<bool>& cancelled_;
  const char* phase_ = nullptr;
  double lastMs_ = 0;
  std::optional<PhaseWatch> watch_;
};

}  // namespace

std::string LatencyResultsJson(const LatencyPlan& plan, const LatencyRun& run) {
  const LatencyStatistics& s = run.statistics;
  std::string json = "{\"measurement\": \"latency\", \"host\": ";
  json += JsonString(plan.host != nullptr ? plan.host : "");
  json += ", \"peer\": " + JsonString(run.peer);
  json += ", \"probes\": " + std::to_string(plan.probes);
  json += ", \"intervalMs\": " + std::to_string(plan.intervalMs);
  json += ", \"packetSize\": " + std::to_string(plan.packetSize);
  json += ", \"result\": " + JsonNumber(run.result);
  if (!run.failure.empty()) json += ", \"failure\": " + JsonString(run.failure);
  json += ", \"cancelled\": ";
  json += run.stopped ? "true" : "false";
  json += ", \"sent\": " + std::to_string(s.sent) + ", \"received\": " + std::to_string(s.received);
  json += ", \"loss\": " + JsonNumber(s.loss) + ", \"min\": " + JsonNumber(s.min);
  json += ", \"median\": " + JsonNumber(s.median) + ", \"mean\": " + JsonNumber(s.mean);
  json += ", \"p90\": " + JsonNumber(s.p90) + ", \"p99\": " + JsonNumber(s.p99);
  json += ", \"max\": " + JsonNumber(s.max) + ", \"jitter\": " + JsonNumber(s.jitter);
  json += ", \"samples\": [";
  for (std::size_t i = 0; i < run.samples.size(); ++i) {
    const LatencySample& sample = run.samples[i];
    if (i > 0) json += ", ";
    json += "{\"sentMs\": " + JsonNumber(sample.sendOffsetMs) + ", \"rttMs\": ";
    json += sample.answered ? JsonNumber(sample.roundTripMs) : "null";
    json += "}";
  }
  return json + "]}";
}

HRESULT Sonde2Probe::get_Probes(LONG* pVal) {
  *pVal = settings_.probes;
  return S_OK;
}
HRESULT Sonde2Probe::put_Probes(LONG newVal) {
  if (newVal < 1 || newVal > kMostProbes) return E_INVALIDARG;
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

HRESULT Sonde2Probe::Latency(BSTR host, LONG packetSize, double* pVal) {
  const NarrowArgument name(host);
  LatencyPlan plan;
  plan.host = name.Get();
  plan.probes = settings_.probes;
  plan.intervalMs = settings_.probeIntervalMs;
  plan.family = AddressFamily(settings_.family);
  plan.packetSize = packetSize;
  cancelled_.store(false);
  PhaseWatch watch("latency", listener_, cancelled_);
  const LatencyRun run = MeasureLatency(plan, &watch);
  watch.Done(run.result);
  statistics_ = run.statistics;
  peer_ = run.peer;
  results_ = LatencyResultsJson(plan, run);
  *pVal = run.result;
  return S_OK;
}

HRESULT Sonde2Probe::get_LatencyMin(double* pVal) {
  *pVal = statistics_.min;
  return S_OK;
}
HRESULT Sonde2Probe::get_LatencyMedian(double* pVal) {
  *pVal = statistics_.median;
  return S_OK;
}
HRESULT Sonde2Probe::get_LatencyMean(double* pVal) {
  *pVal = statistics_.mean;
  return S_OK;
}
HRESULT Sonde2Probe::get_LatencyP90(double* pVal) {
  *pVal = statistics_.p90;
  return S_OK;
}
HRESULT Sonde2Probe::get_LatencyP99(double* pVal) {
  *pVal = statistics_.p99;
  return S_OK;
}
HRESULT Sonde2Probe::get_LatencyMax(double* pVal) {
  *pVal = statistics_.max;
  return S_OK;
}
HRESULT Sonde2Probe::get_Jitter(double* pVal) {
  *pVal = statistics_.jitter;
  return S_OK;
}
HRESULT Sonde2Probe::get_Loss(double* pVal) {
  *pVal = statistics_.loss;
  return S_OK;
}
HRESULT Sonde2Probe::get_Sent(LONG* pVal) {
  *pVal = statistics_.sent;
  return S_OK;
}
HRESULT Sonde2Probe::get_Received(LONG* pVal) {
  *pVal = statistics_.received;
  return S_OK;
}
HRESULT Sonde2Probe::get_PeerAddress(BSTR* pVal) {
  *pVal = TextBstr(peer_);
  return S_OK;
}
HRESULT Sonde2Probe::get_Results(BSTR* pVal) {
  *pVal = TextBstr(results_);
  return S_OK;
}

HRESULT Sonde2Probe::get_Streams(LONG* pVal) {
  *pVal = settings_.streams;
  return S_OK;
}
HRESULT Sonde2Probe::put_Streams(LONG newVal) {
  if (newVal < 1 || newVal > kMostStreams) return E_INVALIDARG;
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

HRESULT Sonde2Probe::Throughput(BSTR url, Direction direction, LONG packetSize, double* pVal) {
  const NarrowArgument text(url);
  ThroughputPlan plan;
  plan.url = text.Get() != nullptr ? text.Get() : "";
  plan.direction = direction;
  plan.streams = settings_.streams;
  plan.durationSeconds = settings_.durationSeconds;
  cancelled_.store(false);
  PhaseWatch watch(direction == Direction::Download ? "download" : "upload", listener_, cancelled_);
  // Echo requests to the server all along: the latency under this load.
  std::unique_ptr<LoadedLatency> echoes;
  ProbeTarget target;
  std::string ignored;
  if (ResolveTarget(plan.url, &target, &ignored)) {
    echoes = std::make_unique<LoadedLatency>(target, false, packetSize, plan.durationSeconds);
    echoes->Start();
  }
  const ThroughputRun run = MeasureThroughput(plan, &watch, echoes.get());
  loadedLatency_ = loadedLatencyP90_ = 0;
  if (echoes != nullptr) {
    echoes->Finish();
    EchoStatistics(ProbesAfterStartup(echoes->Probes(), run.startupSeconds), &loadedLatency_,
                   &loadedLatencyP90_);
  }
  watch.Done(run.result);
  bytes_ = run.bytes;
  elapsed_ = run.elapsed;
  results_ = ThroughputResultsJson(plan, run);
  *pVal = run.result;
  return S_OK;
}

HRESULT Sonde2Probe::Download(BSTR url, LONG packetSize, double* pVal) {
  return Throughput(url, Direction::Download, packetSize, pVal);
}

HRESULT Sonde2Probe::Upload(BSTR url, LONG packetSize, double* pVal) {
  *pVal = 0;
  const NarrowArgument text(url);
  WebAddress address;
  const bool readable = text.Get() != nullptr && ParseWebAddress(text.Get(), &address);
  if (!AskUploadConsent(readable ? address.host.c_str() : nullptr)) return S_OK;
  return Throughput(url, Direction::Upload, packetSize, pVal);
}

HRESULT Sonde2Probe::Responsiveness(BSTR url, LONG packetSize, double* pVal) {
  *pVal = 0;
  const NarrowArgument text(url);
  ResponsivenessPlan plan;
  plan.url = text.Get() != nullptr ? text.Get() : "";
  plan.streams = settings_.streams;
  plan.durationSeconds = settings_.durationSeconds;
  plan.packetSize = packetSize;
  if (settings_.responsivenessUpload) {
    WebAddress address;
    const bool readable = ParseWebAddress(plan.url, &address);
    plan.withUpload = AskUploadConsent(readable ? address.host.c_str() : nullptr);
  }
  cancelled_.store(false);
  ResponsivenessWatch watch(listener_, cancelled_);
  const ResponsivenessRun run = MeasureResponsiveness(plan, &watch);
  watch.Done(run.result);
  idleLatency_ = run.idleLatencyMs;
  loadedLatency_ = run.loadedLatencyMs;
  loadedLatencyP90_ = run.loadedLatencyP90Ms;
  rpm_ = run.rpm;
  bytes_ = run.load.bytes;
  elapsed_ = run.load.elapsed;
  results_ = ResponsivenessResultsJson(plan, run);
  *pVal = run.result;
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
  *pVal = idleLatency_;
  return S_OK;
}
HRESULT Sonde2Probe::get_LoadedLatency(double* pVal) {
  *pVal = loadedLatency_;
  return S_OK;
}
HRESULT Sonde2Probe::get_LoadedLatencyP90(double* pVal) {
  *pVal = loadedLatencyP90_;
  return S_OK;
}
HRESULT Sonde2Probe::get_RPM(double* pVal) {
  *pVal = rpm_;
  return S_OK;
}

HRESULT Sonde2Probe::Cancel() {
  cancelled_.store(true);
  return S_OK;
}

HRESULT Sonde2Probe::get_Bytes(double* pVal) {
  *pVal = bytes_;
  return S_OK;
}
HRESULT Sonde2Probe::get_Elapsed(double* pVal) {
  *pVal = elapsed_;
  return S_OK;
}

HRESULT Sonde2Probe::Addresses(BSTR name, BSTR* pVal) {
  const NarrowArgument text(name);
  std::vector<ResolvedAddress> found;
  std::string list;
  if (LookUpAddresses(text.Get(), AF_UNSPEC, &found) == LookupEnd::Found) {
    for (const ResolvedAddress& address : found) {
      if (!list.empty()) list += ",";
      list += address.text;
    }
  }
  *pVal = TextBstr(list);
  return S_OK;
}

}  // namespace telvario
