// The connections of one throughput run and their workers, from their start to their end: each
// a stream (throughput_streams.h) on a guarded worker of its own. The run samples them, and ends
// them within its bounds: downloads are closed under their workers as soon as the run's time is
// up, uploads get the grace for their last body, a cancel gets kCancelGraceMs for everything;
// what still runs then is closed under its worker and given up.
#ifndef TELVARIO_PROBES_THROUGHPUT_CONNECTIONS_H
#define TELVARIO_PROBES_THROUGHPUT_CONNECTIONS_H

#include <string>
#include <vector>

#include "stall_guard.h"
#include "throughput_probe.h"
#include "throughput_streams.h"

namespace telvario {

// The run's time line: performance counter ticks.
struct RunClock {
  LONGLONG start = 0;
  LONGLONG frequency = 1;
  LONGLONG endsAt = 0;  // the planned end

  static RunClock Starting(double durationSeconds);
  double SecondsAt(LONGLONG ticks) const;
  double Now() const;
};

class ThroughputConnections {
 public:
  ThroughputConnections(const ThroughputPlan& plan, const RunClock& clock)
      : plan_(plan), clock_(clock) {}
  // On any way out, what still runs is closed under its worker and given up: no stream goes on
  // fetching after its run has gone (an exception's way out included).
  ~ThroughputConnections();
  ThroughputConnections(const ThroughputConnections&) = delete;
  ThroughputConnections& operator=(const ThroughputConnections&) = delete;

  // Starts the plan's connections, the downloads first; false, with the reason, where none
  // could start.
  bool Start(std::string* failure);
  // The bytes each connection counted since the last sample, taken `seconds` into the run;
  // notes the ones that have ended.
  std::vector<ULONGLONG> Sample(double seconds);
  bool AnyRunning() const;
  // Ends every connection within the run's bounds (above), waiting with the thread's messages
  // dispatched.
  void End(bool cancelled);

  std::size_t Count() const { return connections_.size(); }
  bool IsDownload(std::size_t i) const { return connections_[i].download; }
  // Its outcome; `quietSince`: seconds into the run since which it moved less than the stall
  // rule asks, or a negative number where it kept moving.
  ConnectionOutcome Outcome(std::size_t i) const;
  // Its upload bodies in the run's bins.
  std::vector<ULONGLONG> UploadBins(std::size_t i, std::size_t bins) const;

 private:
  struct Connection {
    WorkPtr<ThroughputStream> stream;
    GuardedWorker worker;
    bool download = true;
    bool started = false;
    bool ended = false;
    bool givenUp = false;
    double endedAt = 0;
    ULONGLONG counted = 0;
    // The stall rule's mark: the bytes moved, and when it last moved on by kStallLeastBytes.
    ULONGLONG markMoved = 0;
    double markAt = 0;
  };
  bool StartOne(Connection& connection, std::size_t index);
  // Waits until every connection has ended or `ms` have passed; whether all have.
  bool WaitForAll(DWORD ms);
  void GiveUpOnTheRest();

  const ThroughputPlan& plan_;
  const RunClock& clock_;
  std::vector<Connection> connections_;
  double lastSampleAt_ = 0;
};

// A connection that moved less than the stall rule asks within this, up to the run's end, has
// stalled (or within half the run, in a run shorter than twice this).
constexpr double kStallWindowSeconds = 3;

}  // namespace telvario

#endif
