#include "throughput_connections.h"

#include <algorithm>

#include "run_timing.h"
#include "message_pump.h"

namespace telvario {
namespace {

constexpr char kAgent[] = "Telvario Sonde2";

// WinINet keeps a few connections per server for the whole process (two, or four to an
// HTTP/1.0 server, by default); a run's Streams must be as many connections of their own. The
// limit is the process's: raised, never lowered, so that the host's own use of WinINet only
// gains.
void AllowConnectionsPerServer() {
  DWORD most = 2 * kMostStreams + 2;
  for (DWORD option : {static_cast<DWORD>(INTERNET_OPTION_MAX_CONNS_PER_SERVER),
                       static_cast<DWORD>(INTERNET_OPTION_MAX_CONNS_PER_1_0_SERVER)}) {
    DWORD current = 0;
    DWORD size = sizeof current;
    if (InternetQueryOptionA(nullptr, option, &current, &size) && current >= most) continue;
    InternetSetOptionA(nullptr, option, &most, sizeof most);
  }
}

}  // namespace

RunClock RunClock::Starting(double durationSeconds) {
  RunClock clock;
  clock.frequency = PerformanceFrequency();
  clock.start = PerformanceTicks();
  clock.endsAt =
      clock.start + static_cast<LONGLONG>(durationSeconds * static_cast<double>(clock.frequency));
  return clock;
}

double RunClock::SecondsAt(LONGLONG ticks) const {
  return static_cast<double>(ticks - start) / static_cast<double>(frequency);
}

double RunClock::Now() const {
  return SecondsAt(PerformanceTicks());
}

ThroughputConnections::~ThroughputConnections() {
  for (Connection& connection : connections_) {
    if (connection.started) connection.stream->Stop();
  }
  GiveUpOnTheRest();
}

bool ThroughputConnections::Start(std::string* failure) {
  if (AbandonedWorkers() >= kMostAbandonedWorkers) {
    *failure = std::to_string(AbandonedWorkers()) +
               " connections of earlier measurements are still being closed; nothing was "
               "started (try again once they have ended)";
    return false;
  }
  AllowConnectionsPerServer();
  const bool both = plan_.direction == Direction::Both;
  connections_ = std::vector<Connection>(static_cast<std::size_t>(plan_.streams * (both ? 2 : 1)));
  bool any = false;
  for (std::size_t i = 0; i < connections_.size(); ++i) {
    connections_[i].download = plan_.direction == Direction::Download ||
                               (both && i < static_cast<std::size_t>(plan_.streams));
    any = StartOne(connections_[i], i) || any;
  }
  if (!any) {
    *failure =
        "no connection could be started (no session, or too many workers of earlier "
        "measurements left running)";
  }
  return any;
}

bool ThroughputConnections::StartOne(Connection& connection, std::size_t /*index*/) {
  // Each connection with a session of its own, so that each is a connection of its own.
  HINTERNET session = InternetOpenA(kAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
  if (session == nullptr) return false;
  LimitNetworkWaits(session);
  if (connection.download) {
    connection.stream = NewWork<DownloadStream>(plan_.address, session);
  } else {
    connection.stream =
        NewWork<UploadStream>(plan_.address, session, clock_.frequency, clock_.endsAt);
  }
  if (connection.stream == nullptr) {
    InternetCloseHandle(session);
    return false;
  }
  connection.started = connection.worker.Start(*connection.stream);
  return connection.started;
}

std::vector<ULONGLONG> ThroughputConnections::Sample(double seconds) {
  std::vector<ULONGLONG> sample(connections_.size(), 0);
  for (std::size_t i = 0; i < connections_.size(); ++i) {
    Connection& connection = connections_[i];
    if (!connection.started) continue;
    const ULONGLONG total = connection.stream->Counted();
    sample[i] = total - connection.counted;
    connection.counted = total;
    const ULONGLONG moved = connection.stream->Moved();
    if (moved - connection.markMoved >= kStallLeastBytes) {
      connection.markMoved = moved;
      connection.markAt = seconds;
    }
    if (!connection.ended && connection.worker.Wait(0)) {
      connection.ended = true;
      connection.endedAt = seconds;
    }
  }
  lastSampleAt_ = seconds;
  return sample;
}

bool ThroughputConnections::AnyRunning() const {
  return std::any_of(connections_.begin(), connections_.end(), [](const Connection& c) {
    return c.started && !c.ended && !c.stream->Done();
  });
}

bool ThroughputConnections::WaitForAll(DWORD ms) {
  const DWORD began = GetTickCount();
  for (;;) {
    if (!AnyRunning() || GetTickCount() - began >= ms) return !AnyRunning();
    SleepDispatching(kLookEveryMs);
  }
}

void ThroughputConnections::GiveUpOnTheRest() {
  for (Connection& connection : connections_) {
    if (!connection.started || connection.ended || connection.worker.Wait(0)) continue;
    // A stream still transferring has stalled: its next wait ends by its time-out. One that is
    // done may still be closing its handles, which WinINet can take its time over: it is left
    // to finish, counted as left running until it has.
    connection.givenUp = !connection.stream->Done();
    connection.worker.GiveUp();
    connection.ended = true;
  }
}

void ThroughputConnections::End(bool cancelled) {
  // Downloads end at their next read, uploads at their next write (the body in flight is cut
  // short and not counted); a stalled one, at its time-out.
  for (Connection& connection : connections_) {
    if (connection.started) connection.stream->Stop();
  }
  WaitForAll(cancelled ? kCancelGraceMs : kStopGraceMs);
  GiveUpOnTheRest();
}

ConnectionOutcome ThroughputConnections::Outcome(std::size_t i) const {
  const Connection& connection = connections_[i];
  ConnectionOutcome outcome;
  outcome.download = connection.download;
  if (!connection.started) {
    outcome.broke = true;
    outcome.failure = "the connection could not be started";
    return outcome;
  }
  const ThroughputStream& stream = *connection.stream;
  const StreamState state = stream.State();
  outcome.opened = stream.Opened();
  outcome.tooSmall = state == StreamState::TooSmall;
  const double window = std::min(kStallWindowSeconds, lastSampleAt_ / 2);
  const bool quiet = lastSampleAt_ - connection.markAt >= window;
  const bool over = state == StreamState::Refused || state == StreamState::NotOpened ||
                    state == StreamState::Broke || state == StreamState::TooSmall;
  outcome.stalled =
      connection.givenUp || state == StreamState::Stalled || (!over && outcome.opened && quiet);
  outcome.broke = over || outcome.stalled;
  if (outcome.stalled) {
    outcome.endedAt = connection.markAt;  // where it stopped moving
    outcome.failure = "the connection stalled";
  } else if (over) {
    outcome.endedAt = connection.endedAt;
    outcome.failure = stream.Failure();
  } else if (!outcome.opened && !connection.download) {
    outcome.failure = static_cast<const UploadStream&>(stream).FirstBodyFailure();
  } else if (!outcome.opened) {
    outcome.failure = "the server had not answered when the run ended";
  }
  return outcome;
}

std::vector<ULONGLONG> ThroughputConnections::UploadBins(std::size_t i, std::size_t bins) const {
  const Connection& connection = connections_[i];
  if (!connection.started || connection.download) return std::vector<ULONGLONG>(bins, 0);
  const auto& upload = static_cast<const UploadStream&>(*connection.stream);
  return BinBodies(upload.Bodies(), clock_.start, clock_.frequency, bins);
}

}  // namespace telvario
