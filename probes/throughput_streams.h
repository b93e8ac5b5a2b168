// The connections of a throughput run, each a guarded work on a worker of its own with a WinINet
// session of its own (so that each is its own connection): a download fetches the URL again and
// again while time remains, over the same connection where the server keeps it; an upload sends
// POST bodies of bytes that do not compress, growing in size as the link allows. The run reads
// what they did through the counters here while they work.
#ifndef TELVARIO_PROBES_THROUGHPUT_STREAMS_H
#define TELVARIO_PROBES_THROUGHPUT_STREAMS_H

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "url_opening.h"
#include "windows_api.h"

namespace telvario {

enum class StreamState : LONG {
  Connecting,  // nothing came back yet
  Flowing,     // the server answered with a success
  Refused,     // the server answered with an error status, or a redirect led nowhere allowed
  NotOpened,   // no connection could be made
  Broke,       // the connection broke after it had opened
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
  ThroughputStream(std::string url, HINTERNET session)
      : url_(std::move(url)), session_(Own(session)) {}

  // Asks the stream to end at its next chance; it sends no new request after this.
  void Stop() { stop_.store(true); }
  StreamState State() const { return state_.load(); }
  // Whether the server ever answered it with a success.
  bool Opened() const { return opened_.load(); }
  // Why it ended, once it has: "" where it simply stopped.
  std::string Failure() const;
  // Bytes received so far (downloads); bytes of completed bodies so far (uploads).
  ULONGLONG Counted() const { return counted_.load(); }

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

  const std::string url_;
  const HINTERNET session_;

 private:
  std::atomic<bool> stop_{false};
  std::atomic<StreamState> state_{StreamState::Connecting};
  std::atomic<ULONGLONG> counted_{0};
  std::atomic<bool> opened_{false};
  mutable std::mutex failureMutex_;
  std::string failure_;
};

class DownloadStream final : public ThroughputStream {
 public:
  using ThroughputStream::ThroughputStream;

 private:
  void Run() override;
};

class UploadStream final : public ThroughputStream {
 public:
  // `endsAt`: the counter reading at which the run ends, which no new body should outlast.
  UploadStream(std::string url, HINTERNET session, LONGLONG frequency, LONGLONG endsAt)
      : ThroughputStream(std::move(url), session), frequency_(frequency), endsAt_(endsAt) {}
  // The bodies completed so far.
  std::vector<CompletedBody> Bodies() const;

 private:
  void Run() override;
  // Sends one body of `size` bytes and reads the response; false when the stream has ended.
  bool SendBody(HINTERNET connection, const std::string& path, DWORD flags, DWORD size);
  DWORD NextSize(DWORD lastSize, LONGLONG lastTicks) const;

  const LONGLONG frequency_;
  const LONGLONG endsAt_;
  mutable std::mutex bodiesMutex_;
  std::vector<CompletedBody> bodies_;
};

// Bytes that do not compress, the same for every upload: 1 MiB of a fixed pseudo-random
// sequence, sent round and round.
const std::vector<BYTE>& UploadData();

}  // namespace telvario

#endif
