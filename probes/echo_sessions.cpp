#include "echo_sessions.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "echo_statuses.h"
#include "icmp6_messages.h"
#include "run_timing.h"

namespace telvario {
namespace {

constexpr BYTE kFill = 0x45;
// Room in a reply buffer beyond the record and the echoed data: an ICMP error's 8 bytes, and
// the status block the asynchronous service keeps there.
constexpr std::size_t kReplySlack = 8 + sizeof(IO_STATUS_BLOCK) + 64;
// How long a closing session waits for its outstanding requests past their own time-out.
constexpr DWORD kDrainGraceMs = 2000;

// One request of the echo service on its way: what its completion needs, and nothing of the
// session, which may be gone by then.
struct PendingEcho {
  std::shared_ptr<EchoLedger> ledger;
  LONG index = 0;
  sockaddr_storage peer = {};
  EchoHearing hearing = EchoHearing::Peer;
  std::vector<BYTE> reply;
};

// Whether an answer counts: the peer's echo reply, and for a route also a router's answer about
// the request.
bool Counts(const PendingEcho& pending, const EchoAnswer& answer) {
  if (answer.status == IP_SUCCESS) return IsPeerReply(pending.peer, answer);
  return pending.hearing == EchoHearing::Routers && IsRouterAnswer(answer.status);
}

void NTAPI EchoCompleted(PVOID context, PIO_STATUS_BLOCK status, ULONG /*reserved*/) {
  const LONGLONG now = PerformanceTicks();
  std::unique_ptr<PendingEcho> pending(static_cast<PendingEcho*>(context));
  EchoLedger& ledger = *pending->ledger;
  --ledger.outstanding;
  EchoAnswer answer;
  double serviceMs = -1;
  if (ReadEchoRecord(pending->peer.ss_family, pending->reply, &answer, &serviceMs)) {
    if (Counts(*pending, answer)) ledger.Answer(pending->index, now, serviceMs, answer);
  } else if (status != nullptr && IsShortOfRoom(status->Status)) {
    ledger.Withdraw(pending->index);
  }
}

// The system's echo service, for either family.
class ServiceSession final : public EchoSession {
 public:
  ServiceSession(HANDLE handle, const ResolvedAddress& peer, std::shared_ptr<EchoLedger> ledger,
                 EchoHearing hearing)
      : handle_(handle), peer_(peer), ledger_(std::move(ledger)), hearing_(hearing) {}

  ~ServiceSession() override {
    // Every request completes by its own time-out, or at once once the handle has gone; their
    // completions run here, before the records they write to go.
    const DWORD began = GetTickCount();
    while (ledger_->outstanding > 0 &&
           GetTickCount() - began < kLatencyAnswerLimitMs + kDrainGraceMs) {
      SleepEx(kLookEveryMs, TRUE);
    }
    Close();
  }
  ServiceSession(const ServiceSession&) = delete;
  ServiceSession& operator=(const ServiceSession&) = delete;

  bool Send(LONG index, WORD dataSize, UCHAR ttl) override {
    auto pending = std::make_unique<PendingEcho>();
    pending->ledger = ledger_;
    pending->index = index;
    pending->peer = peer_.address;
    pending->hearing = hearing_;
    SizeEchoReply(peer_.family, dataSize, &pending->reply);
    if (data_.size() < dataSize) data_.assign(dataSize, kFill);
    if (!ledger_->MarkSent(index, PerformanceTicks())) return false;
    const ServiceEcho echo{handle_,      &peer_,   EchoCompleted, pending.get(),
                           data_.data(), dataSize, ttl,           kLatencyAnswerLimitMs};
    const DWORD result = SendServiceEcho(echo, &pending->reply);
    // Started: its completion comes as an APC, which takes the request over.
    if (result == 0 && GetLastError() == ERROR_IO_PENDING) {
      pending.release();
      ++ledger_->outstanding;
      return true;
    }
    return false;
  }

  void Wait(DWORD milliseconds) override { SleepEx(milliseconds, TRUE); }
  LONG Outstanding() const override { return ledger_->outstanding; }
  void Close() override {
    if (handle_ == nullptr) return;
    IcmpCloseHandle(handle_);  // the one call closes handles of both families
    handle_ = nullptr;
  }

 private:
  HANDLE handle_;
  ResolvedAddress peer_;
  std::shared_ptr<EchoLedger> ledger_;
  EchoHearing hearing_;
  std::vector<BYTE> data_;
};

// ICMPv6 through a raw socket: the request built here, the answers read and matched here.
class RawIcmp6Session final : public EchoSession {
 public:
  RawIcmp6Session(SOCKET socket, const ResolvedAddress& peer, std::shared_ptr<EchoLedger> ledger)
      : socket_(socket), peer_(peer), ledger_(std::move(ledger)) {
    // The identifier tells this run's answers from anyone else's.
    identifier_ = static_cast<std::uint16_t>(GetTickCount() ^ (GetCurrentProcessId() << 4) ^
                                             reinterpret_cast<std::uintptr_t>(this));
    // Connected, the socket takes answers from the peer only and knows its source address,
    // which the checksum covers.
    const auto* destination = reinterpret_cast<const sockaddr*>(&peer_.address);
    if (connect(socket_, destination, sizeof(sockaddr_in6)) == 0) {
      sockaddr_in6 local = {};
      int length = sizeof local;
      if (getsockname(socket_, reinterpret_cast<sockaddr*>(&local), &length) == 0) {
        std::memcpy(source_, &local.sin6_addr, 16);
      }
    }
    u_long nonBlocking = 1;
    ioctlsocket(socket_, FIONBIO, &nonBlocking);
  }
  ~RawIcmp6Session() override { Close(); }
  RawIcmp6Session(const RawIcmp6Session&) = delete;
  RawIcmp6Session& operator=(const RawIcmp6Session&) = delete;

  // Sends at the system's time to live: this session stands in for the peer's replies only.
  bool Send(LONG index, WORD dataSize, UCHAR /*ttl*/) override {
    const auto* destination = reinterpret_cast<const std::uint8_t*>(
        &reinterpret_cast<const sockaddr_in6&>(peer_.address).sin6_addr);
    const std::vector<std::uint8_t> request = Icmp6EchoRequest(
        source_, destination, identifier_, static_cast<std::uint16_t>(index), dataSize);
    if (!ledger_->MarkSent(index, PerformanceTicks())) return false;
    return send(socket_, reinterpret_cast<const char*>(request.data()),
                static_cast<int>(request.size()), 0) == static_cast<int>(request.size());
  }

  void Wait(DWORD milliseconds) override {
    if (socket_ == INVALID_SOCKET) {
      ::Sleep(milliseconds);
      return;
    }
    WSAPOLLFD polled = {};
    polled.fd = socket_;
    polled.events = POLLRDNORM;
    if (WSAPoll(&polled, 1, static_cast<INT>(milliseconds)) > 0) ReadAnswers();
  }
  // A raw socket keeps no count of what is on its way: whatever has not been answered yet.
  LONG Outstanding() const override {
    return socket_ == INVALID_SOCKET ? 0 : ledger_->Unanswered();
  }
  void Close() override {
    if (socket_ == INVALID_SOCKET) return;
    closesocket(socket_);
    socket_ = INVALID_SOCKET;
  }

 private:
  void ReadAnswers() {
    std::uint8_t message[2048];
    for (;;) {
      const int received = recv(socket_, reinterpret_cast<char*>(message), sizeof message, 0);
      if (received <= 0) return;
      const LONGLONG now = PerformanceTicks();
      std::uint16_t identifier = 0;
      std::uint16_t sequence = 0;
      if (!ReadIcmp6EchoReply(message, static_cast<std::size_t>(received), &identifier,
                              &sequence) ||
          identifier != identifier_) {
        continue;  // someone else's, or not an answer
      }
      // Sequence numbers wrap past 65535: the latest request with this one is meant.
      for (LONG index = ledger_->Sent() - 1; index >= 0; --index) {
        if (static_cast<std::uint16_t>(index) == sequence && ledger_->SentAt(index) != 0) {
          ledger_->Answer(index, now);
          break;
        }
      }
    }
  }

  SOCKET socket_;
  ResolvedAddress peer_;
  std::shared_ptr<EchoLedger> ledger_;
  std::uint16_t identifier_ = 0;
  std::uint8_t source_[16] = {};
};

}  // namespace

bool IsPeerReply(const sockaddr_storage& peer, const EchoAnswer& answer) {
  if (answer.status != IP_SUCCESS) return false;
  if (peer.ss_family != AF_INET) return true;
  return AddressText(reinterpret_cast<const sockaddr*>(&peer)) == answer.address;
}

bool IsShortOfRoom(NTSTATUS status) {
  constexpr auto kNoMemory = static_cast<NTSTATUS>(0xC0000017);
  constexpr auto kInsufficientResources = static_cast<NTSTATUS>(0xC000009A);
  return status == kNoMemory || status == kInsufficientResources;
}

bool ReadEchoRecord(int family, std::vector<BYTE>& reply, EchoAnswer* answer, double* serviceMs) {
  const auto size = static_cast<DWORD>(reply.size());
  sockaddr_storage from = {};
  from.ss_family = static_cast<decltype(from.ss_family)>(family);
  if (family == AF_INET) {
    const DWORD replies = IcmpParseReplies(reply.data(), size);
    const auto* record = reinterpret_cast<const ICMP_ECHO_REPLY*>(reply.data());
    if (replies == 0) return false;
    answer->status = record->Status;
    *serviceMs = record->RoundTripTime;
    reinterpret_cast<sockaddr_in&>(from).sin_addr.s_addr = record->Address;
  } else {
    // Where no one answered, the address is unspecified; the count is not relied on, which the
    // service gives for echo replies alone on some systems.
    Icmp6ParseReplies(reply.data(), size);
    const auto* record = reinterpret_cast<const ICMPV6_ECHO_REPLY*>(reply.data());
    BYTE address[16];
    std::memcpy(address, record->Address.sin6_addr, sizeof address);
    if (std::all_of(address, address + 16, [](BYTE byte) { return byte == 0; })) return false;
    answer->status = record->Status;
    *serviceMs = record->RoundTripTime;
    std::memcpy(&reinterpret_cast<sockaddr_in6&>(from).sin6_addr, address, sizeof address);
  }
  answer->address = AddressText(reinterpret_cast<const sockaddr*>(&from));
  return true;
}

double DeliveredRoundTripMs(LONGLONG sentAt, LONGLONG deliveredAt, LONGLONG frequency,
                            double serviceMs) {
  const double roundTripMs =
      static_cast<double>(deliveredAt - sentAt) * 1000.0 / static_cast<double>(frequency);
  // The service stamps an answer as it arrives; the sending thread runs its completion later,
  // by as much as the machine is busy.
  if (serviceMs >= 0 && (roundTripMs < serviceMs || roundTripMs >= serviceMs + 1)) {
    return serviceMs + 0.5;
  }
  return roundTripMs;
}

void SizeEchoReply(int family, WORD dataSize, std::vector<BYTE>* reply) {
  const std::size_t record =
      family == AF_INET ? sizeof(ICMP_ECHO_REPLY) : sizeof(ICMPV6_ECHO_REPLY);
  reply->resize(record + dataSize + kReplySlack);
}

DWORD SendServiceEcho(const ServiceEcho& echo, std::vector<BYTE>* reply) {
  IP_OPTION_INFORMATION options = {};
  options.Ttl = echo.ttl;
  IP_OPTION_INFORMATION* const chosen = echo.ttl != 0 ? &options : nullptr;
  const ResolvedAddress& peer = *echo.peer;
  const auto replySize = static_cast<DWORD>(reply->size());
  auto* data = const_cast<BYTE*>(echo.data);
  if (peer.family == AF_INET) {
    const IPAddr destination = reinterpret_cast<const sockaddr_in&>(peer.address).sin_addr.s_addr;
    return IcmpSendEcho2(echo.handle, nullptr, echo.completed, echo.context, destination, data,
                         echo.dataSize, chosen, reply->data(), replySize, echo.timeoutMs);
  }
  sockaddr_in6 source = {};
  source.sin6_family = AF_INET6;
  auto destination = reinterpret_cast<const sockaddr_in6&>(peer.address);
  return Icmp6SendEcho2(echo.handle, nullptr, echo.completed, echo.context, &source, &destination,
                        data, echo.dataSize, chosen, reply->data(), replySize, echo.timeoutMs);
}

bool IsSettled(const LatencySample& sample, double nowMs) {
  return sample.answered || nowMs - sample.sendOffsetMs > kLatencyAnswerLimitMs;
}

EchoLedger::EchoLedger(LONG planned, LONGLONG frequency)
    : frequency_(frequency), slots_(static_cast<std::size_t>(planned)) {}

double EchoLedger::ElapsedMs() const {
  return static_cast<double>(PerformanceTicks() - start_.load()) * 1000.0 /
         static_cast<double>(frequency_);
}

bool EchoLedger::MarkSent(LONG index, LONGLONG ticks) {
  const std::lock_guard<std::mutex> lock(mutex_);
  if (index < 0 || static_cast<std::size_t>(index) >= slots_.size()) return false;
  slots_[static_cast<std::size_t>(index)].sentAt = ticks;
  if (index + 1 > sent_.load()) sent_.store(index + 1);
  lastSentAt_.store(ticks);
  return true;
}

void EchoLedger::Withdraw(LONG index) {
  const std::lock_guard<std::mutex> lock(mutex_);
  if (index < 0 || static_cast<std::size_t>(index) >= slots_.size()) return;
  Slot& slot = slots_[static_cast<std::size_t>(index)];
  if (!slot.sample.answered) slot.sentAt = 0;
}

void EchoLedger::Answer(LONG index, LONGLONG ticks, double serviceMs, const EchoAnswer& answer) {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (index < 0 || static_cast<std::size_t>(index) >= slots_.size()) return;
    Slot& slot = slots_[static_cast<std::size_t>(index)];
    if (slot.sample.answered || slot.sentAt == 0) return;  // a duplicate counts once
    const double roundTripMs = DeliveredRoundTripMs(slot.sentAt, ticks, frequency_, serviceMs);
    if (roundTripMs > kLatencyAnswerLimitMs) return;
    slot.sample.answered = true;
    slot.sample.roundTripMs = std::round(roundTripMs * 1000.0) / 1000.0;  // to the microsecond
    slot.status = answer.status;
    const auto known = std::find(responders_.begin(), responders_.end(), answer.address);
    slot.responder = static_cast<LONG>(known - responders_.begin());
    if (known == responders_.end()) responders_.push_back(answer.address);
    latestMs_.store(slot.sample.roundTripMs);
  }
  if (heard_) heard_(index, answer);
}

LONG EchoLedger::Unanswered() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  LONG unanswered = 0;
  for (LONG index = 0; index < sent_.load(); ++index) {
    if (!slots_[static_cast<std::size_t>(index)].sample.answered) ++unanswered;
  }
  return unanswered;
}

LONGLONG EchoLedger::SentAt(LONG index) const {
  const std::lock_guard<std::mutex> lock(mutex_);
  if (index < 0 || static_cast<std::size_t>(index) >= slots_.size()) return 0;
  return slots_[static_cast<std::size_t>(index)].sentAt;
}

std::vector<LatencySample> EchoLedger::Samples() const {
  std::vector<LatencySample> samples;
  for (const EchoRecord& record : Records()) {
    samples.resize(static_cast<std::size_t>(record.index), LatencySample{});
    samples.push_back(record.sample);
  }
  samples.resize(static_cast<std::size_t>(sent_.load()), LatencySample{});
  return samples;
}

std::vector<EchoRecord> EchoLedger::Records() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  std::vector<EchoRecord> records;
  const LONGLONG start = start_.load();
  for (LONG index = 0; index < sent_.load(); ++index) {
    const Slot& slot = slots_[static_cast<std::size_t>(index)];
    if (slot.sentAt == 0) continue;
    EchoRecord record;
    record.index = index;
    record.sample = slot.sample;
    record.sample.sendOffsetMs =
        static_cast<double>(slot.sentAt - start) * 1000.0 / static_cast<double>(frequency_);
    if (slot.sample.answered) {
      record.answer.status = slot.status;
      record.answer.address = responders_[static_cast<std::size_t>(slot.responder)];
    }
    records.push_back(std::move(record));
  }
  return records;
}

std::unique_ptr<EchoSession> OpenEchoSession(const ResolvedAddress& peer,
                                             const std::shared_ptr<EchoLedger>& ledger,
                                             std::string* failure, EchoHearing hearing) {
  if (peer.family == AF_INET) {
    HANDLE handle = IcmpCreateFile();
    if (handle != INVALID_HANDLE_VALUE)
      return std::make_unique<ServiceSession>(handle, peer, ledger, hearing);
    *failure =
        "this process may not send ICMP echo requests (the echo service could not be "
        "opened)";
    return nullptr;
  }
  HANDLE handle = Icmp6CreateFile();
  if (handle != INVALID_HANDLE_VALUE) {
    return std::make_unique<ServiceSession>(handle, peer, ledger, hearing);
  }
  const DWORD serviceError = GetLastError();
  // Where the system has no ICMPv6 echo service, a raw socket stands in for the peer's replies,
  // where this process may open one.
  const SOCKET raw =
      hearing == EchoHearing::Peer ? socket(AF_INET6, SOCK_RAW, IPPROTO_ICMPV6) : INVALID_SOCKET;
  if (raw != INVALID_SOCKET) return std::make_unique<RawIcmp6Session>(raw, peer, ledger);
  if (hearing == EchoHearing::Routers &&
      (serviceError == ERROR_CALL_NOT_IMPLEMENTED || serviceError == ERROR_NOT_SUPPORTED)) {
    *failure = "this system has no ICMPv6 echo service, which alone hears the routers of a route";
    return nullptr;
  }
  *failure = serviceError == ERROR_CALL_NOT_IMPLEMENTED || serviceError == ERROR_NOT_SUPPORTED
                 ? "this system has no ICMPv6 echo service, and this process may not open a "
                   "raw ICMPv6 socket"
                 : "this process may not send ICMPv6 echo requests (the echo service could not "
                   "be opened)";
  return nullptr;
}

}  // namespace telvario
