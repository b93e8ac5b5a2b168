// The connections of a throughput run, each a guarded work on a worker of its own with a WinINet
// session of its own (so that each is its own connection): a download fetches the URL again and
// again while time remains, over the same connection where the server keeps it; an upload sends
// POST bodies of bytes that do not compress, growing in size as the link allows. The run reads
// what they did through the counters here while they work.
//
// A good citizen: a download whose server answers with bodies too small to measure a rate (under
// kLeastBodyBytes, or none at all: 204, 304) ends after kMostSmallBodies of them in a row rather
// than asking again and again, so that a run never floods whatever server it is pointed at.
#ifndef TELVARIO_PROBES_THROUGHPUT_STREAMS_H
#define TELVARIO_PROBES_THROUGHPUT_STREAMS_H

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "run_timing.h"
#include "url_opening.h"
#include "web_address.h"
#include "windows_api.h"

namespace telvario {

constexpr ULONGLONG kLeastBodyBytes = 256 * 1024;
constexpr int kMostSmallBodies = 3;

enum class StreamState : LONG {
  Connecting,  // nothing came back yet
  Flowing,     // the server answered with a success
  Refused,     // the server answered with an error status, or a redirect led nowhere allowed
  NotOpened,   // no connection could be made
  Broke,       // the connection broke after it had opened
  Stalled,     // a wait for it to move ended by its time-out
  TooSmall,    // the server's bodies are too small to measure a rate
  Stopped,     // it ended because the run did
};

// A completed upload body: sent from `start` to the arrival of its response at `end`
// (performance counter ticks).
struct CompletedBody {
  LONGLONG start = 0;
  LONGLONG end = 0;
  ULONGLONG bytes = 0;
};

class ThroughputStream : public UrlWork {
 public:
  ThroughputStream(WebAddress address, HINTERNET session)
      : address_(std::move(address)), session_(Own(session)) {}

  // Asks the stream to end at its next chance; it sends no new request after this.
  void Stop() { stop_.store(true); }
  // Whether it has ended its transfers: what it counted is final (its worker may still be
  // closing its handles, which WinINet may take its time over).
  bool Done() const { return done_.load(); }
  StreamState State() const { return state_.load(); }
  // Whether the server ever answered it with a success.
  bool Opened() const { return opened_.load(); }
  // Why it ended, once it has: "" where it simply stopped.
  std::string Failure() const;
  // Bytes received so far (downloads); bytes of completed bodies so far (uploads).
  ULONGLONG Counted() const { return counted_.load(); }
  // Bytes read or written on the wire so far, counted or not: whether it moves at all.
  ULONGLONG Moved() const { return moved_.load(); }
  // The size of the last body too small to measure (downloads).
  ULONGLONG SmallBodyBytes() const { return smallBody_.load(); }

 protected:
  bool Stopping() const { return stop_.load() || Abandoned(); }
  void SetState(StreamState state) {
    if (state == StreamState::Flowing) opened_.store(true);
    state_.store(state);
  }
  void Fail(StreamState state, const std::string& failure);
  // True for a success status (2xx); otherwise the stream fails: refused for an error status,
  // `failed` where no status could be read.
  bool Succeeded(DWORD status, StreamState failed);
  void Count(ULONGLONG bytes) { counted_.fetch_add(bytes); }
  void Move(ULONGLONG bytes) {
    moved_.fetch_add(bytes);
    lastMoved_.store(GetTickCount());
  }
  // A send or receive that failed: a stall where nothing had moved for the time-out, else the
  // connection broke.
  void FailTransfer(StreamState broke, const char* failure);

  // The transfers, on the worker.
  virtual void Transfer() = 0;

  const WebAddress address_;
  const HINTERNET session_;
  std::atomic<ULONGLONG> smallBody_{0};

 private:
  // Done as soon as the transfers are: the handles are closed after, children first, whether
  // or not the caller still waits (a close may take WinINet a while, and completes nothing).
  void Run() final {
    Transfer();
    done_.store(true);
    if (OwnedCount() > 0) Close(OwnedAt(0));
  }

  std::atomic<bool> done_{false};
  std::atomic<bool> stop_{false};
  std::atomic<StreamState> state_{StreamState::Connecting};
  std::atomic<ULONGLONG> counted_{0};
  std::atomic<ULONGLONG> moved_{0};
  std::atomic<DWORD> lastMoved_{GetTickCount()};
  std::atomic<bool> opened_{false};
  mutable std::mutex failureMutex_;
  std::string failure_;
};

class DownloadStream final : public ThroughputStream {
 public:
  using ThroughputStream::ThroughputStream;

 private:
  void Transfer() override;
  // Reads one response's body to its end; false when the stream has ended.
  bool ReadBody(HINTERNET body);
  // Counts a body that was too small to measure; false once there have been too many in a row.
  bool TakeSmallBody(ULONGLONG bytes);

  int smallInARow_ = 0;
};

class UploadStream final : public ThroughputStream {
 public:
  // `endsAt`: the counter reading at which the run ends, which no new body should outlast.
  UploadStream(WebAddress address, HINTERNET session, LONGLONG frequency, LONGLONG endsAt)
      : ThroughputStream(std::move(address), session), frequency_(frequency), endsAt_(endsAt) {}
  // The bodies completed so far.
  std::vector<CompletedBody> Bodies() const;
  // Why a stream that ended with no body answered opened nothing: how far its first body got.
  std::string FirstBodyFailure() const;

 private:
  void Transfer() override;
  // Sends one body of `size` bytes and reads the response; false when the stream has ended.
  bool SendBody(DWORD size);
  bool WriteBody(HINTERNET request, DWORD size, StreamState failed);
  // Where a write failed: the server may have answered already (405, 413, 417).
  void FailWrite(HINTERNET request, StreamState failed);

  const LONGLONG frequency_;
  const LONGLONG endsAt_;
  mutable std::mutex bodiesMutex_;
  std::vector<CompletedBody> bodies_;
  std::atomic<ULONGLONG> firstBodySent_{0};  // of the first body, while it is being sent
};

// A connection of a run: connecting may take a while, but one that moves nothing for
// kThroughputStallMs has stalled, and its blocked call ends by itself then, on every WinINet.
constexpr RequestLimits kStreamLimits{kStopGraceMs, kThroughputStallMs};

// The size of an upload's next body: the first small, so that a slow link finishes it; each next
// one sized to take about a quarter of a second at the rate the last one went (`lastSize` bytes
// in `lastSeconds`), growing at most fourfold, and done before the run ends in `secondsLeft`.
// 0 where no body can finish before then.
DWORD NextBodySize(DWORD lastSize, double lastSeconds, double secondsLeft);

constexpr DWORD kFirstBodyBytes = 64 * 1024;

// Bytes that do not compress, the same for every upload: 1 MiB of a fixed pseudo-random
// sequence, sent round and round.
const std::vector<BYTE>& UploadData();

}  // namespace telvario

#endif
