#include "loaded_latency.h"

#include <algorithm>
#include <cmath>

#include "run_timing.h"

namespace telvario {
namespace {

constexpr DWORD kProbeLimitMs = 2000;  // a foreign probe's handshake, or its answer
// What one foreign probe puts on the link, both ways, headers and all: what the 5% rule counts.
constexpr double kProbeBytes = 800;
constexpr double kMostShare = 0.05;
// How long a finishing load waits for the foreign worker's probe in progress.
constexpr DWORD kFinishGraceMs = kProbeLimitMs + 1000;
// How long the choice of the server's address waits for each address to take a connection.
constexpr DWORD kChoiceLimitMs = 1000;

double MillisecondsBetween(LONGLONG from, LONGLONG to) {
  return static_cast<double>(to - from) * 1000.0 / static_cast<double>(PerformanceFrequency());
}

// The address with the target's port, and its length.
int SocketAddress(const ResolvedAddress& peer, INTERNET_PORT port, sockaddr_storage* address) {
  *address = peer.address;
  if (peer.family == AF_INET) {
    reinterpret_cast<sockaddr_in*>(address)->sin_port = htons(port);
    return static_cast<int>(sizeof(sockaddr_in));
  }
  reinterpret_cast<sockaddr_in6*>(address)->sin6_port = htons(port);
  return static_cast<int>(sizeof(sockaddr_in6));
}

// Waits up to `limitMs` for the socket to be ready for `events`, looking at `stop` every few
// milliseconds; whether it is.
bool Ready(SOCKET socket, SHORT events, DWORD limitMs, const std::atomic<bool>* stop) {
  const DWORD began = GetTickCount();
  for (;;) {
    WSAPOLLFD polled = {};
    polled.fd = socket;
    polled.events = events;
    const int ready = WSAPoll(&polled, 1, static_cast<INT>(kLookEveryMs));
    if (ready > 0) return (polled.revents & (POLLERR | POLLHUP)) == 0;
    if (ready < 0 || (stop != nullptr && stop->load()) || GetTickCount() - began >= limitMs) {
      return false;
    }
  }
}

// A non-blocking connection to `peer`'s `port`: the socket once connected, INVALID_SOCKET
// otherwise. `sent` is when it was asked for.
SOCKET Connect(const ResolvedAddress& peer, INTERNET_PORT port, DWORD limitMs,
               const std::atomic<bool>* stop, LONGLONG* sent) {
  const SOCKET socket = ::socket(peer.family, SOCK_STREAM, IPPROTO_TCP);
  if (socket == INVALID_SOCKET) return socket;
  u_long nonBlocking = 1;
  ioctlsocket(socket, FIONBIO, &nonBlocking);
  sockaddr_storage address;
  const int length = SocketAddress(peer, port, &address);
  *sent = PerformanceTicks();
  bool connected = connect(socket, reinterpret_cast<const sockaddr*>(&address), length) == 0;
  if (!connected && WSAGetLastError() == WSAEWOULDBLOCK &&
      Ready(socket, POLLWRNORM, limitMs, stop)) {
    int error = 0;
    int size = sizeof error;
    connected =
        getsockopt(socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size) == 0 &&
        error == 0;
  }
  if (connected) return socket;
  closesocket(socket);
  return INVALID_SOCKET;
}

}  // namespace

// The foreign probes, one after another on their worker until stopped.
class ForeignProbes final : public GuardedWork {
 public:
  explicit ForeignProbes(ProbeTarget target, LONGLONG start)
      : target_(std::move(target)), start_(start) {}

  void Stop() { stop_.store(true); }
  void SetRate(double mbps) { rateMbps_.store(mbps); }
  std::vector<LatencyProbe> Probes() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return probes_;
  }
  double LatestMs() const { return latestMs_.load(); }

 private:
  void Run() override {
    while (!stop_.load() && !Abandoned()) {
      const DWORD began = GetTickCount();
      ProbeOnce();
      Progressed();
      // Every kSampleMs, or less often where that many probes would be over 5% of the rate.
      const double rate = rateMbps_.load() * 1e6 / 8;  // bytes a second
      DWORD every = kSampleMs;
      if (rate > 0 && kProbeBytes * 1000.0 / every > kMostShare * rate) {
        every = static_cast<DWORD>(std::ceil(kProbeBytes * 1000.0 / (kMostShare * rate)));
      }
      while (!stop_.load() && GetTickCount() - began < every) ::Sleep(kLookEveryMs);
    }
  }

  void Record(ProbeKind kind, LONGLONG sent, bool answered, LONGLONG answeredAt) {
    LatencyProbe probe;
    probe.kind = kind;
    probe.atSeconds = MillisecondsBetween(start_, sent) / 1000.0;
    probe.answered = answered;
    if (answered) {
      probe.roundTripMs = std::round(MillisecondsBetween(sent, answeredAt) * 1000.0) / 1000.0;
      latestMs_.store(probe.roundTripMs);
    }
    const std::lock_guard<std::mutex> lock(mutex_);
    probes_.push_back(probe);
  }

  void ProbeOnce() {
    LONGLONG sent = 0;
    const SOCKET socket = Connect(target_.peer, target_.port, kProbeLimitMs, &stop_, &sent);
    if (stop_.load()) {  // a probe cut short by the end of the load tells nothing
      if (socket != INVALID_SOCKET) closesocket(socket);
      return;
    }
    Record(ProbeKind::Tcp, sent, socket != INVALID_SOCKET, PerformanceTicks());
    if (socket == INVALID_SOCKET) return;
    if (target_.http) Request(socket);
    closesocket(socket);
  }

  // A small request on the new connection, timed to the first byte of its answer.
  void Request(SOCKET socket) {
    const std::string request = "HEAD " + target_.path +
                                " HTTP/1.1\r\nHost: " + target_.hostHeader +
                                "\r\nUser-Agent: Telvario Sonde2\r\nConnection: close\r\n\r\n";
    const LONGLONG asked = PerformanceTicks();
    bool answered = send(socket, request.data(), static_cast<int>(request.size()), 0) ==
                    static_cast<int>(request.size());
    LONGLONG at = 0;
    if (answered && Ready(socket, POLLRDNORM, kProbeLimitMs, &stop_)) {
      char first[512];
      answered = recv(socket, first, sizeof first, 0) > 0;
      at = PerformanceTicks();
    } else {
      answered = false;
    }
    if (!stop_.load()) Record(ProbeKind::Http, asked, answered, at);
  }

  const ProbeTarget target_;
  const LONGLONG start_;
  std::atomic<bool> stop_{false};
  std::atomic<double> rateMbps_{0};
  std::atomic<double> latestMs_{0};
  mutable std::mutex mutex_;
  std::vector<LatencyProbe> probes_;
};

LoadedLatency::LoadedLatency(ProbeTarget target, bool foreign, LONG packetSize,
                             double durationSeconds)
    : target_(std::move(target)),
      foreign_(foreign),
      packetSize_(packetSize),
      durationSeconds_(durationSeconds) {}

LoadedLatency::~LoadedLatency() {
  Finish();
}

void LoadedLatency::Start() {
  const auto planned = static_cast<LONG>(std::floor(durationSeconds_ * 1000 / kSampleMs));
  ledger_ = std::make_shared<EchoLedger>(planned, PerformanceFrequency());
  ledger_->SetStart(PerformanceTicks());
  std::string ignored;  // no echo service: the load goes on without echo probes
  std::unique_ptr<EchoSession> session = OpenEchoSession(target_.peer, ledger_, &ignored);
  if (session != nullptr) {
    echoes_.Start(std::move(session), ledger_,
                  EchoSchedule{planned, kSampleMs, static_cast<WORD>(packetSize_), nullptr});
  }
  if (!foreign_) return;
  prober_ = NewWork<ForeignProbes>(target_, ledger_->Start());
  if (prober_ == nullptr) return;
  worker_ = std::make_unique<GuardedWorker>();
  if (!worker_->Start(*prober_)) worker_.reset();
}

void LoadedLatency::Sample(double /*seconds*/, double latestMbps) {
  if (prober_ != nullptr) prober_->SetRate(latestMbps);
}

void LoadedLatency::Finish() {
  if (finished_) return;
  finished_ = true;
  finishedAt_ = PerformanceTicks();
  echoes_.Stop();
  if (prober_ != nullptr) prober_->Stop();
  if (worker_ != nullptr) {
    const DWORD start = GetTickCount();
    while (!worker_->Wait(kLookEveryMs) && GetTickCount() - start < kFinishGraceMs) {
    }
    if (!worker_->Wait(0)) worker_->GiveUp();
  }
  // The last answers on their way: a short wait, and those not back by then are left out.
  echoes_.Wait(kCancelGraceMs);
}

std::vector<LatencyProbe> LoadedLatency::Probes() const {
  std::vector<LatencyProbe> probes;
  if (ledger_ != nullptr) {
    const double finishedMs = MillisecondsBetween(ledger_->Start(), finishedAt_);
    for (const LatencySample& sample : ledger_->Samples()) {
      // A request still within its answer limit when the load finished was not measured.
      if (!sample.answered && finishedMs - sample.sendOffsetMs <= kLatencyAnswerLimitMs) continue;
      probes.push_back(
          {ProbeKind::Echo, sample.sendOffsetMs / 1000.0, sample.answered, sample.roundTripMs});
    }
  }
  if (prober_ != nullptr) {
    const std::vector<LatencyProbe> foreign = prober_->Probes();
    probes.insert(probes.end(), foreign.begin(), foreign.end());
  }
  std::stable_sort(probes.begin(), probes.end(), [](const LatencyProbe& a, const LatencyProbe& b) {
    return a.atSeconds < b.atSeconds;
  });
  return probes;
}

double LoadedLatency::LatestMs() const {
  const double foreign = prober_ != nullptr ? prober_->LatestMs() : 0;
  return foreign > 0 || ledger_ == nullptr ? foreign : ledger_->LatestMs();
}

bool ResolveTarget(const WebAddress& address, ProbeTarget* target, std::string* failure) {
  target->http = !address.IsSecure();
  target->port = static_cast<INTERNET_PORT>(address.EffectivePort());
  target->hostHeader = address.Authority();
  target->path = address.path;
  std::vector<ResolvedAddress> found;
  if (LookUpAddresses(address.host.c_str(), AF_UNSPEC, &found) != LookupEnd::Found) {
    *failure = "the server's name could not be resolved";
    return false;
  }
  target->peer = found.front();
  if (found.size() == 1) return true;
  for (const ResolvedAddress& peer : found) {
    LONGLONG ignored = 0;
    const SOCKET socket = Connect(peer, target->port, kChoiceLimitMs, nullptr, &ignored);
    if (socket == INVALID_SOCKET) continue;
    closesocket(socket);
    target->peer = peer;
    return true;
  }
  return true;
}

double TrimmedMean(std::vector<double> values, double share) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  // The slowest (1 - share) left out, in whole values: none of fewer than 1 / (1 - share).
  const auto dropped =
      static_cast<std::size_t>(std::floor(static_cast<double>(values.size()) * (1 - share) + 1e-9));
  const std::size_t kept = values.size() - std::min(dropped, values.size() - 1);
  double sum = 0;
  for (std::size_t i = 0; i < kept; ++i) sum += values[i];
  return sum / static_cast<double>(kept);
}

}  // namespace telvario
