#include "loaded_latency.h"

#include <algorithm>
#include <cmath>

#include "web_address.h"

namespace telvario {
namespace {

constexpr DWORD kProbeEveryMs = 100;
constexpr DWORD kProbeLimitMs = 2000;  // a foreign probe's handshake, or its answer
// What one foreign probe puts on the link, both ways, headers and all: what the 5% rule counts.
constexpr double kProbeBytes = 800;
constexpr double kMostShare = 0.05;
// How long a finishing load waits for the foreign worker's probe in progress.
constexpr DWORD kFinishGraceMs = kProbeLimitMs + 1000;

double MillisecondsBetween(LONGLONG from, LONGLONG to) {
  LARGE_INTEGER frequency = {};
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(to - from) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

// Waits up to `limitMs` for the socket to be ready for `events`; whether it is.
bool Ready(SOCKET socket, SHORT events, DWORD limitMs) {
  WSAPOLLFD polled = {};
  polled.fd = socket;
  polled.events = events;
  return WSAPoll(&polled, 1, static_cast<INT>(limitMs)) > 0 &&
         (polled.revents & (POLLERR | POLLHUP)) == 0;
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
      // Every 100 ms, or less often where 10 probes a second would be over 5% of the rate.
      const double rate = rateMbps_.load() * 1e6 / 8;  // bytes a second
      DWORD every = kProbeEveryMs;
      if (rate > 0 && kProbeBytes * 1000.0 / every > kMostShare * rate) {
        every = static_cast<DWORD>(std::ceil(kProbeBytes * 1000.0 / (kMostShare * rate)));
      }
      const DWORD spent = GetTickCount() - began;
      for (DWORD waited = spent; waited < every && !stop_.load(); waited += 10) ::Sleep(10);
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
    const SOCKET socket = ::socket(target_.peer.family, SOCK_STREAM, IPPROTO_TCP);
    if (socket == INVALID_SOCKET) return;
    u_long nonBlocking = 1;
    ioctlsocket(socket, FIONBIO, &nonBlocking);
    sockaddr_storage address = target_.peer.address;
    const int length = target_.peer.family == AF_INET ? static_cast<int>(sizeof(sockaddr_in))
                                                      : static_cast<int>(sizeof(sockaddr_in6));
    if (target_.peer.family == AF_INET) {
      reinterpret_cast<sockaddr_in&>(address).sin_port = htons(target_.port);
    } else {
      reinterpret_cast<sockaddr_in6&>(address).sin6_port = htons(target_.port);
    }
    const LONGLONG sent = PerformanceTicks();
    bool connected = connect(socket, reinterpret_cast<const sockaddr*>(&address), length) == 0;
    if (!connected && WSAGetLastError() == WSAEWOULDBLOCK &&
        Ready(socket, POLLWRNORM, kProbeLimitMs)) {
      int error = 0;
      int size = sizeof error;
      connected =
          getsockopt(socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size) == 0 &&
          error == 0;
    }
    Record(ProbeKind::Tcp, sent, connected, PerformanceTicks());
    if (connected && target_.http) {
      const std::string request = "HEAD " + target_.path +
                                  " HTTP/1.1\r\nHost: " + target_.hostHeader +
                                  "\r\nUser-Agent: Telvario Sonde2\r\nConnection: close\r\n\r\n";
      const LONGLONG asked = PerformanceTicks();
      bool answered = send(socket, request.data(), static_cast<int>(request.size()), 0) ==
                      static_cast<int>(request.size());
      LONGLONG at = 0;
      if (answered && Ready(socket, POLLRDNORM, kProbeLimitMs)) {
        char first[512];
        answered = recv(socket, first, sizeof first, 0) > 0;
        at = PerformanceTicks();
      } else {
        answered = false;
      }
      Record(ProbeKind::Http, asked, answered, at);
    }
    closesocket(socket);
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
    : target_(std::move(target)), foreign_(foreign), packetSize_(packetSize) {
  ledger_ = std::make_shared<EchoLedger>();
  LARGE_INTEGER frequency = {};
  QueryPerformanceFrequency(&frequency);
  ledger_->frequency = frequency.QuadPart > 0 ? frequency.QuadPart : 1;
  const auto planned =
      static_cast<std::size_t>(std::ceil(durationSeconds * 1000 / kProbeEveryMs)) + 1;
  ledger_->sentAt.assign(planned, 0);
  ledger_->samples.resize(planned);
}

LoadedLatency::~LoadedLatency() {
  Finish();
}

void LoadedLatency::Start() {
  ledger_->start = PerformanceTicks();
  std::string ignored;  // no echo service: the load goes on without echo probes
  session_ = OpenEchoSession(target_.peer, ledger_, &ignored);
  if (!foreign_) return;
  prober_ = NewWork<ForeignProbes>(target_, ledger_->start);
  if (prober_ == nullptr) return;
  worker_ = std::make_unique<GuardedWorker>();
  if (!worker_->Start(*prober_)) worker_.reset();
}

void LoadedLatency::Sample(double /*seconds*/, double latestMbps) {
  if (prober_ != nullptr) prober_->SetRate(latestMbps);
  if (session_ == nullptr || static_cast<std::size_t>(sent_) >= ledger_->sentAt.size()) return;
  session_->Send(sent_++, static_cast<WORD>(packetSize_));
}

void LoadedLatency::WaitUntil(LONGLONG due) {
  if (session_ != nullptr) session_->WaitUntil(due);
}

void LoadedLatency::Finish() {
  if (finished_) return;
  finished_ = true;
  if (prober_ != nullptr) prober_->Stop();
  if (worker_ != nullptr) {
    const DWORD start = GetTickCount();
    while (!worker_->Wait(100) && GetTickCount() - start < kFinishGraceMs) {
    }
    if (!worker_->Wait(0)) worker_->GiveUp();
  }
  session_.reset();  // waits for the last echo requests' answers, or their time-outs
}

std::vector<LatencyProbe> LoadedLatency::Probes() const {
  std::vector<LatencyProbe> probes;
  for (LONG index = 0; index < sent_; ++index) {
    LatencyProbe probe;
    const LONGLONG at = ledger_->sentAt[static_cast<std::size_t>(index)];
    probe.atSeconds = MillisecondsBetween(ledger_->start, at) / 1000.0;
    probe.answered = ledger_->samples[static_cast<std::size_t>(index)].answered;
    probe.roundTripMs = ledger_->samples[static_cast<std::size_t>(index)].roundTripMs;
    probes.push_back(probe);
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
  return foreign > 0 ? foreign : ledger_->latestMs;
}

// Where the foreign probes go for a URL: its host's first address, its port, its path.
bool ResolveTarget(const std::string& url, ProbeTarget* target, std::string* failure) {
  WebAddress address;
  if (!ParseWebAddress(url, &address)) return false;
  target->http = address.scheme == "http";
  target->port = static_cast<INTERNET_PORT>(address.port != 0 ? address.port
                                            : target->http    ? INTERNET_DEFAULT_HTTP_PORT
                                                              : INTERNET_DEFAULT_HTTPS_PORT);
  target->hostHeader = address.host;
  if (address.port != 0) {
    target->hostHeader += ':';
    target->hostHeader += std::to_string(address.port);
  }
  target->path = address.pathAndQuery.empty() ? "/" : address.pathAndQuery;
  std::string host = address.host;
  if (host.size() > 2 && host.front() == '[') host = host.substr(1, host.size() - 2);
  std::vector<ResolvedAddress> found;
  if (LookUpAddresses(host.c_str(), AF_UNSPEC, &found) != LookupEnd::Found) {
    *failure = "the server's name could not be resolved";
    return false;
  }
  target->peer = found.front();
  return true;
}

double TrimmedMean(std::vector<double> values, double share) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const auto kept = std::max<std::size_t>(
      1, static_cast<std::size_t>(std::floor(static_cast<double>(values.size()) * share)));
  double sum = 0;
  for (std::size_t i = 0; i < kept; ++i) sum += values[i];
  return sum / static_cast<double>(kept);
}

}  // namespace telvario
