// The measurement side of Sonde2's own members: its settings and the results of its last run
// (the route's members in sonde2_route.cpp). ISonde's members stay with SondeProbe, whose packet
// size the runs use.
#ifndef TELVARIO_PROBES_SONDE2_PROBE_H
#define TELVARIO_PROBES_SONDE2_PROBE_H

#include <atomic>
#include <string>

#include "latency_probe.h"
#include "responsiveness_probe.h"
#include "route_probe.h"
#include "throughput_probe.h"
#include "windows_api.h"

namespace telvario {

struct Sonde2Settings {
  LONG probes = kDefaultProbes;
  LONG probeIntervalMs = kDefaultProbeIntervalMs;
  LONG family = 0;  // 0 the system's choice, 4 IPv4 only, 6 IPv6 only
  LONG streams = kDefaultStreams;
  double durationSeconds = kDefaultDurationSeconds;
  bool responsivenessUpload = false;
  LONG maxHops = kDefaultMaxHops;
  bool resolveHopNames = false;
};

// Hears of a measurement's progress: its phase ("latency", "download", "upload", "idle",
// "loaded", "route"), the fraction of the run done (0 to 1) and the latest figure (ms or
// Mbit/s; a route's: the destination's median so far).
class ProgressListener {
 public:
  virtual ~ProgressListener() = default;
  virtual void Progress(const char* phase, double fraction, double value) = 0;
};

// A measurement member called while one of the same object's runs (a Progress handler calling
// back, or a call dispatched from another apartment while the run waits): refused, the run and
// its results left alone.
constexpr HRESULT kRunInProgress = static_cast<HRESULT>(0x8000000EL);  // E_ILLEGAL_METHOD_CALL

// What the last run reported; every run starts from none of it.
struct Sonde2Figures {
  LatencyStatistics statistics;
  std::string peer;
  double bytes = 0;  // of the last Download or Upload, or the load of Responsiveness
  double elapsed = 0;
  double idleLatency = 0;
  double loadedLatency = 0;  // of the last load: Download, Upload or Responsiveness
  double loadedLatencyP90 = 0;
  double rpm = 0;
  RouteRun route;       // of the last Route, and of the one in progress as far as it has come
  std::string results;  // the last run as JSON; "" before the first
};

// What Sonde2's members share: a text result ("" as an empty string), and the family setting
// as an address family.
BSTR TextBstr(const std::string& text);
int AddressFamily(LONG family);

class Sonde2Probe {
 public:
  explicit Sonde2Probe(ProgressListener* listener = nullptr) : listener_(listener) {}

  // A setting out of range gives E_INVALIDARG and stays as it was; every other member returns
  // S_OK with its result, a failed measurement in its value; a measurement asked for while
  // another of this object runs gives kRunInProgress.
  HRESULT get_Probes(LONG* pVal);
  HRESULT put_Probes(LONG newVal);
  HRESULT get_ProbeInterval(LONG* pVal);
  HRESULT put_ProbeInterval(LONG newVal);
  HRESULT get_Family(LONG* pVal);
  HRESULT put_Family(LONG newVal);
  HRESULT Latency(BSTR host, LONG packetSize, double* pVal);
  HRESULT get_LatencyMin(double* pVal);
  HRESULT get_LatencyMedian(double* pVal);
  HRESULT get_LatencyMean(double* pVal);
  HRESULT get_LatencyP90(double* pVal);
  HRESULT get_LatencyP99(double* pVal);
  HRESULT get_LatencyMax(double* pVal);
  HRESULT get_Jitter(double* pVal);
  HRESULT get_Loss(double* pVal);
  HRESULT get_Sent(LONG* pVal);
  HRESULT get_Received(LONG* pVal);
  HRESULT get_PeerAddress(BSTR* pVal);
  HRESULT get_Results(BSTR* pVal);
  HRESULT Addresses(BSTR name, BSTR* pVal);
  HRESULT get_Streams(LONG* pVal);
  HRESULT put_Streams(LONG newVal);
  HRESULT get_Duration(double* pVal);
  HRESULT put_Duration(double newVal);
  // Echo requests of `packetSize` bytes time the latency under the load (LoadedLatency).
  HRESULT Download(BSTR url, LONG packetSize, double* pVal);
  // Asks the same consent as UploadTest first: 0 without it, and nothing sent.
  HRESULT Upload(BSTR url, LONG packetSize, double* pVal);
  HRESULT get_Bytes(double* pVal);
  HRESULT get_Elapsed(double* pVal);
  // Ends the run in progress within kCancelGraceMs, with what it has measured; from an event's
  // handler, from another thread, or from another apartment (the run dispatches the calls it
  // is sent while it waits). With no run in progress it does nothing: every run starts afresh.
  HRESULT Cancel();
  // Loads the link with downloads (and uploads, where asked and consented to) and probes its
  // latency all along: RPM, or Download's failures.
  HRESULT Responsiveness(BSTR url, LONG packetSize, double* pVal);
  HRESULT get_ResponsivenessUpload(VARIANT_BOOL* pVal);
  HRESULT put_ResponsivenessUpload(VARIANT_BOOL newVal);
  HRESULT get_IdleLatency(double* pVal);
  HRESULT get_LoadedLatency(double* pVal);
  HRESULT get_LoadedLatencyP90(double* pVal);
  HRESULT get_RPM(double* pVal);
  // A route's members: hops are numbered from 1 to Hops; another number gives 0 or "".
  HRESULT get_MaxHops(LONG* pVal);
  HRESULT put_MaxHops(LONG newVal);
  HRESULT Route(BSTR host, LONG packetSize, LONG* pVal);
  HRESULT get_Hops(LONG* pVal);
  HRESULT get_RouteEnd(BSTR* pVal);
  HRESULT get_HopAddress(LONG hop, BSTR* pVal);
  HRESULT get_HopAddresses(LONG hop, BSTR* pVal);
  HRESULT get_HopSent(LONG hop, LONG* pVal);
  HRESULT get_HopReceived(LONG hop, LONG* pVal);
  HRESULT get_HopLoss(LONG hop, double* pVal);
  HRESULT get_HopLatencyMin(LONG hop, double* pVal);
  HRESULT get_HopLatencyMedian(LONG hop, double* pVal);
  HRESULT get_HopLatencyMean(LONG hop, double* pVal);
  HRESULT get_HopLatencyP90(LONG hop, double* pVal);
  HRESULT get_HopLatencyMax(LONG hop, double* pVal);
  HRESULT get_HopJitter(LONG hop, double* pVal);
  HRESULT get_HopForwardLoss(LONG hop, double* pVal);
  HRESULT get_HopAddedLatency(LONG hop, double* pVal);
  HRESULT get_ResolveHopNames(VARIANT_BOOL* pVal);
  HRESULT put_ResolveHopNames(VARIANT_BOOL newVal);
  HRESULT get_HopName(LONG hop, BSTR* pVal);
  HRESULT get_HopReading(LONG hop, BSTR* pVal);
  HRESULT get_HopLatencyLast(LONG hop, double* pVal);

  const Sonde2Settings& Settings() const { return settings_; }

 private:
  // Starts a run: false (the member gives kRunInProgress) where one is in progress; otherwise
  // every figure is cleared and the cancel forgotten.
  bool BeginRun();
  void EndRun() { running_ = false; }
  HRESULT Throughput(BSTR url, Direction direction, LONG packetSize, double* pVal);
  void MeasureThroughputOf(const ThroughputPlan& plan, LONG packetSize, double* pVal);
  // The hop numbered `hop` of the last route, null where there is none.
  const HopFigures* Hop(LONG hop) const;

  Sonde2Settings settings_;
  Sonde2Figures figures_;
  ProgressListener* listener_;
  std::atomic<bool> cancelled_{false};
  bool running_ = false;
};

}  // namespace telvario

#endif
