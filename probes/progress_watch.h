// How Sonde2's measurements tell their listener of their progress: a phase's watch, which tells
// at most every kProgressEveryMs and says whether the run may go on, and the responsiveness
// run's, which tells its two phases as they come.
#ifndef TELVARIO_PROBES_PROGRESS_WATCH_H
#define TELVARIO_PROBES_PROGRESS_WATCH_H

#include <atomic>
#include <optional>
#include <string>

#include "latency_probe.h"
#include "responsiveness_probe.h"
#include "sonde2_probe.h"
#include "throughput_probe.h"

namespace telvario {

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
  // Whether the listener is due to hear of progress at the next look.
  bool Due() const {
    return listener_ != nullptr && (!told_ || GetTickCount() - lastTold_ >= kProgressEveryMs);
  }
  // The phase's last word: its whole fraction and its figure.
  void Done(double value) {
    if (listener_ != nullptr) listener_->Progress(phase_, 1.0, value);
  }

 private:
  bool Tell(double fraction, double value) {
    if (Due()) {
      told_ = true;
      lastTold_ = GetTickCount();
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
  // The last phase's last word: its latest round trip, in ms as every "idle" and "loaded"
  // event carries.
  void Done(double latestMs) {
    if (watch_) watch_->Done(latestMs);
  }

 private:
  ProgressListener* listener_;
  const std::atomic<bool>& cancelled_;
  const char* phase_ = nullptr;
  double lastMs_ = 0;
  std::optional<PhaseWatch> watch_;
};

}  // namespace telvario

#endif
