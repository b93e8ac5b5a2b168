// The echo service's outstanding requests. See icmp_requests.h and icmp.h.
#include "icmp_requests.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include "apc_queue.h"
#include "icmp_packets.h"
#include "kernel.h"

namespace icmp_requests {
namespace {

using Clock = std::chrono::steady_clock;
using icmp_sockets::Channel;

constexpr NTSTATUS kStatusSuccess = 0;
constexpr NTSTATUS kStatusCancelled = static_cast<NTSTATUS>(0xC0000120);
// Messages read from one socket before the others get their turn.
constexpr int kReadsPerTurn = 256;
// How long the thread waits before it looks again at sockets it had no memory to wait on.
constexpr int kShortOfMemoryWait = 10;

// The moment a request left, on both clocks: the kernel stamps what it receives with the
// real-time clock, and the monotonic one stands in when it gives no stamp.
struct SendTime {
  Clock::time_point monotonic;
  timespec realTime{};
};

ULONG Milliseconds(const SendTime& sent, const std::optional<timespec>& stamp) {
  if (stamp) {
    const long long nanoseconds = (stamp->tv_sec - sent.realTime.tv_sec) * 1000000000LL +
                                  stamp->tv_nsec - sent.realTime.tv_nsec;
    // A stamp before the send or far after it means the real-time clock was set meanwhile.
    if (nanoseconds >= 0 && nanoseconds < 3600LL * 1000000000LL) {
      return static_cast<ULONG>(nanoseconds / 1000000);
    }
  }
  const auto elapsed = Clock::now() - sent.monotonic;
  return static_cast<ULONG>(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count());
}

// Where a synchronous caller waits for its request.
struct Waiter {
  std::mutex lock;
  std::condition_variable ended;
  bool done = false;
  DWORD replies = 0;
  ULONG status = IP_SUCCESS;
};

// An outstanding request. Completed, it is queued as the APC item of the thread that sent it.
class Pending final : public apc::Item {
 public:
  void Run() noexcept override { routine(context, &ioStatus, 0); }

  Family family = Family::kIpv4;
  std::uint16_t sequence = 0;
  std::uint8_t destination[16] = {};  // IPv4: the first 4 bytes
  Clock::time_point deadline;
  SendTime sent;
  void* replyBuffer = nullptr;
  DWORD replySize = 0;
  PIO_APC_ROUTINE routine = nullptr;
  PVOID context = nullptr;
  std::shared_ptr<apc::Queue> thread;
  Waiter* waiter = nullptr;
  IO_STATUS_BLOCK ioStatus{};
};

// How a request ended.
struct Outcome {
  ULONG status = IP_SUCCESS;
  const icmp_sockets::Answer* answer = nullptr;  // null where no one answered
  bool cancelled = false;
};

// Writes the request's record; the bytes written.
std::size_t WriteRecord(const Pending& pending, const Outcome& outcome) {
  const icmp_sockets::Answer* answer = outcome.answer;
  const ULONG roundTrip = answer != nullptr ? Milliseconds(pending.sent, answer->stamp) : 0;
  const std::size_t recordSize =
      pending.family == Family::kIpv4 ? sizeof(ICMP_ECHO_REPLY) : sizeof(ICMPV6_ECHO_REPLY);
  auto* data = static_cast<std::uint8_t*>(pending.replyBuffer) + recordSize;
  const std::size_t room = pending.replySize - recordSize;
  const std::size_t dataSize =
      answer != nullptr ? std::min({answer->dataSize, room, std::size_t{0xFFFF}}) : 0;
  if (dataSize > 0) std::memcpy(data, answer->data, dataSize);
  if (pending.family == Family::kIpv4) {
    ICMP_ECHO_REPLY record{};
    record.Status = outcome.status;
    if (answer != nullptr) {
      std::memcpy(&record.Address, answer->from, 4);
      record.RoundTripTime = roundTrip;
      record.DataSize = static_cast<USHORT>(dataSize);
      record.Data = dataSize > 0 ? data : nullptr;
      record.Options.Ttl = answer->ttl;
      record.Reserved = 1;
    }
    std::memcpy(pending.replyBuffer, &record, sizeof record);
  } else {
    ICMPV6_ECHO_REPLY record{};
    record.Status = outcome.status;
    if (answer != nullptr) {
      std::memcpy(record.Address.sin6_addr, answer->from, 16);
      record.Address.sin6_scope_id = answer->scopeId;
      record.RoundTripTime = roundTrip;
    }
    std::memcpy(pending.replyBuffer, &record, sizeof record);
  }
  return recordSize + dataSize;
}

// Ends a request: its record, then its caller woken or its routine queued to its thread.
void Complete(std::unique_ptr<Pending> pending, const Outcome& outcome) {
  const std::size_t written = WriteRecord(*pending, outcome);
  if (pending->waiter != nullptr) {
    Waiter& waiter = *pending->waiter;
    const std::lock_guard<std::mutex> guard(waiter.lock);
    waiter.done = true;
    waiter.replies = outcome.answer != nullptr ? 1 : 0;
    waiter.status = outcome.status;
    waiter.ended.notify_all();
    return;
  }
  pending->ioStatus.Status = outcome.cancelled ? kStatusCancelled : kStatusSuccess;
  pending->ioStatus.Information = written;
  const std::shared_ptr<apc::Queue> thread = pending->thread;
  thread->Push(std::move(pending));
}

ULONG StatusOfSendError(int error) {
  switch (error) {
    case EMSGSIZE:
      return IP_PACKET_TOO_BIG;
    case ENETUNREACH:
      return IP_DEST_NET_UNREACHABLE;
    case EHOSTUNREACH:
      return IP_DEST_HOST_UNREACHABLE;
    case EACCES:
    case EINVAL:
    case EADDRNOTAVAIL:
      return IP_BAD_DESTINATION;
    case ENOBUFS:
    case ENOMEM:
    case EAGAIN:
      return IP_NO_RESOURCES;
    default:
      return IP_GENERAL_FAILURE;
  }
}

struct Handle {
  Family family = Family::kIpv4;
  std::shared_ptr<Channel> channel;
  std::uint16_t identifier = 0;  // raw sockets only: the kernel sets it on datagram sockets
  std::uint16_t nextSequence = 0;
  std::unordered_map<std::uint16_t, std::unique_ptr<Pending>> outstanding;
};

std::atomic<std::uint16_t> nextRawIdentifier{0};

class Service {
 public:
  ~Service() { Stop(); }

  HANDLE Open(Family family);
  BOOL Close(HANDLE handle);
  DWORD Send(const Echo& echo);

 private:
  void Run() noexcept;
  void Wake() const;
  void Stop();
  Handle* Find(HANDLE handle);
  void Deliver(const Channel& channel, const icmp_sockets::Answer& answer);
  void ReadAll(const Channel& channel, bool errorQueue);
  void ExpireAndFindNext(Clock::time_point now, Clock::time_point* next);

  std::mutex lifecycle_;  // starting and stopping the thread; taken before lock_
  std::mutex lock_;
  std::condition_variable passed_;
  std::vector<std::unique_ptr<Handle>> handles_;
  std::uint64_t passes_ = 0;  // turns of the thread, each after it let go of closed sockets
  bool stopping_ = false;
  std::thread thread_;
  int wake_ = -1;
  std::vector<std::uint8_t> buffer_;
  std::vector<pollfd> firstWaits_;  // the thread's, made before it begins: room for one
};

Handle* Service::Find(HANDLE handle) {
  for (const auto& open : handles_) {
    if (open.get() == handle) return open.get();
  }
  return nullptr;
}

void Service::Wake() const {
  const std::uint64_t one = 1;
  if (write(wake_, &one, sizeof one) < 0) {
    // The counter is full, so the thread is due to wake anyway.
  }
}

HANDLE Service::Open(Family family) {
  std::shared_ptr<Channel> channel = icmp_sockets::OpenChannel(family);
  if (channel == nullptr) {
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  auto handle = std::make_unique<Handle>();
  handle->family = family;
  handle->channel = std::move(channel);
  if (!handle->channel->datagram()) {
    handle->identifier = static_cast<std::uint16_t>(getpid() + 0x9E37 * nextRawIdentifier++);
  }
  const std::lock_guard<std::mutex> life(lifecycle_);
  if (!thread_.joinable()) {
    // What the thread needs come what may, allocated here, where a failure can be reported.
    buffer_.resize(icmp_sockets::kReceiveBufferSize);
    firstWaits_.reserve(1);
    wake_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake_ < 0) {
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return INVALID_HANDLE_VALUE;
    }
    try {
      thread_ = std::thread(&Service::Run, this);
    } catch (...) {
      close(wake_);
      wake_ = -1;
      throw;
    }
  }
  const std::lock_guard<std::mutex> guard(lock_);
  handles_.push_back(std::move(handle));
  return handles_.back().get();
}

BOOL Service::Close(HANDLE handle) {
  const std::lock_guard<std::mutex> life(lifecycle_);
  std::unique_lock<std::mutex> hold(lock_);
  const auto found = std::find_if(handles_.begin(), handles_.end(),
                                  [&](const auto& open) { return open.get() == handle; });
  if (found == handles_.end()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  const std::unique_ptr<Handle> closing = std::move(*found);
  handles_.erase(found);
  for (auto& [sequence, pending] : closing->outstanding) {
    Outcome outcome;
    outcome.status = IP_GENERAL_FAILURE;
    outcome.cancelled = true;
    Complete(std::move(pending), outcome);
  }
  closing->outstanding.clear();
  closing->channel.reset();
  if (handles_.empty()) {
    hold.unlock();
    Stop();
    return TRUE;
  }
  // The socket closes once the thread no longer waits on it.
  const std::uint64_t target = passes_ + 1;
  Wake();
  passed_.wait(hold, [&] { return passes_ >= target; });
  return TRUE;
}

void Service::Stop() {
  if (!thread_.joinable()) return;
  {
    const std::lock_guard<std::mutex> guard(lock_);
    stopping_ = true;
  }
  Wake();
  thread_.join();
  close(wake_);
  wake_ = -1;
  const std::lock_guard<std::mutex> guard(lock_);
  stopping_ = false;
}

DWORD Service::Send(const Echo& echo) {
  auto pending = std::make_unique<Pending>();
  pending->family = echo.family;
  pending->replyBuffer = echo.replyBuffer;
  pending->replySize = echo.replySize;
  pending->routine = echo.routine;
  pending->context = echo.context;
  Waiter waiter;
  if (echo.routine != nullptr) {
    pending->thread = apc::ThisThread();
  } else {
    pending->waiter = &waiter;
  }
  const bool ipv4 = echo.family == Family::kIpv4;
  if (ipv4) {
    std::memcpy(pending->destination,
                &static_cast<const ::sockaddr_in*>(echo.destination)->sin_addr, 4);
  } else {
    std::memcpy(pending->destination,
                &static_cast<const ::sockaddr_in6*>(echo.destination)->sin6_addr, 16);
  }
  std::vector<std::uint8_t> message(icmp::kHeaderSize + echo.dataSize);
  message[0] = ipv4 ? icmp::kEchoRequest : icmp6::kEchoRequest;
  if (echo.dataSize > 0) std::memcpy(message.data() + icmp::kHeaderSize, echo.data, echo.dataSize);

  std::unique_lock<std::mutex> hold(lock_);
  Handle* handle = Find(echo.handle);
  if (handle == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  if (handle->family != echo.family) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (handle->outstanding.size() >= 0xFFFF) {
    SetLastError(IP_NO_RESOURCES);
    return 0;
  }
  std::uint16_t sequence = handle->nextSequence++;
  while (handle->outstanding.count(sequence) != 0) sequence = handle->nextSequence++;
  pending->sequence = sequence;
  message[4] = static_cast<std::uint8_t>(handle->identifier >> 8);
  message[5] = static_cast<std::uint8_t>(handle->identifier);
  message[6] = static_cast<std::uint8_t>(sequence >> 8);
  message[7] = static_cast<std::uint8_t>(sequence);
  if (ipv4 && !handle->channel->datagram()) {
    // The kernel sums ICMPv6 messages, and those of datagram sockets, itself.
    const std::uint16_t checksum = icmp::InternetChecksum(message.data(), message.size());
    message[2] = static_cast<std::uint8_t>(checksum >> 8);
    message[3] = static_cast<std::uint8_t>(checksum);
  }
  Pending* sending = pending.get();
  handle->outstanding.emplace(sequence, std::move(pending));  // may throw: nothing sent yet

  sending->sent.monotonic = Clock::now();
  clock_gettime(CLOCK_REALTIME, &sending->sent.realTime);
  sending->deadline = sending->sent.monotonic + std::chrono::milliseconds(echo.timeout);
  const icmp_sockets::Request request{message.data(),       message.size(), echo.destination,
                                      echo.destinationSize, echo.source,    echo.options};
  const int error = icmp_sockets::Send(*handle->channel, request);
  if (error != 0) {
    std::unique_ptr<Pending> failed = std::move(handle->outstanding[sequence]);
    handle->outstanding.erase(sequence);
    if (echo.routine == nullptr) {
      SetLastError(StatusOfSendError(error));
      return 0;
    }
    // Once accepted, an asynchronous request ends through its routine, a failure to send too.
    Outcome outcome;
    outcome.status = StatusOfSendError(error);
    Complete(std::move(failed), outcome);
  } else {
    Wake();  // its time-out may come before the one the thread waits for
  }
  hold.unlock();

  if (echo.routine != nullptr) {
    SetLastError(ERROR_IO_PENDING);
    return 0;
  }
  std::unique_lock<std::mutex> wait(waiter.lock);
  waiter.ended.wait(wait, [&] { return waiter.done; });
  if (echo.family == Family::kIpv4) {
    static_cast<ICMP_ECHO_REPLY*>(echo.replyBuffer)->Reserved = 0;  // read, as Windows does
  }
  SetLastError(waiter.status);
  return waiter.replies;
}

void Service::Deliver(const Channel& channel, const icmp_sockets::Answer& answer) {
  for (const auto& handle : handles_) {
    if (handle->channel.get() != &channel) continue;
    if (!channel.datagram() && handle->identifier != answer.identifier) continue;
    const auto found = handle->outstanding.find(answer.sequence);
    if (found == handle->outstanding.end()) continue;
    // A router's answer must quote where the request went: one whose quote was garbled into
    // another request's numbers answers none.
    const std::size_t length = handle->family == Family::kIpv4 ? 4 : 16;
    if (answer.quotes &&
        std::memcmp(answer.quotedDestination, found->second->destination, length) != 0) {
      continue;
    }
    std::unique_ptr<Pending> answered = std::move(found->second);
    handle->outstanding.erase(found);
    Outcome outcome;
    outcome.status = answer.status;
    outcome.answer = &answer;
    Complete(std::move(answered), outcome);
    return;
  }
}

void Service::ReadAll(const Channel& channel, bool errorQueue) {
  for (int i = 0; i < kReadsPerTurn; ++i) {
    icmp_sockets::Answer answer;
    const icmp_sockets::Read read =
        icmp_sockets::Receive(channel, errorQueue, buffer_.data(), &answer);
    if (read == icmp_sockets::Read::kNone) return;
    if (read == icmp_sockets::Read::kAnswer) Deliver(channel, answer);
  }
}

void Service::ExpireAndFindNext(Clock::time_point now, Clock::time_point* next) {
  *next = Clock::time_point::max();
  for (const auto& handle : handles_) {
    for (auto it = handle->outstanding.begin(); it != handle->outstanding.end();) {
      if (it->second->deadline > now) {
        *next = std::min(*next, it->second->deadline);
        ++it;
        continue;
      }
      std::unique_ptr<Pending> expired = std::move(it->second);
      it = handle->outstanding.erase(it);
      Outcome outcome;
      outcome.status = IP_REQ_TIMED_OUT;
      Complete(std::move(expired), outcome);
    }
  }
}

void Service::Run() noexcept {
  std::vector<std::shared_ptr<Channel>> channels;
  std::vector<pollfd> waits(std::move(firstWaits_));
  std::unique_lock<std::mutex> hold(lock_);
  for (;;) {
    // Sockets of handles closed since the last turn close here, once no longer waited on.
    channels.clear();
    ++passes_;
    passed_.notify_all();
    if (stopping_) return;
    Clock::time_point next;
    ExpireAndFindNext(Clock::now(), &next);
    int timeout = -1;
    if (next != Clock::time_point::max()) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(next - Clock::now()).count();
      timeout = static_cast<int>(std::clamp<long long>(left, 0, 24LL * 3600 * 1000));
    }
    waits.resize(1);  // the capacity for the wake-up's entry was taken when the thread began
    waits[0] = pollfd{wake_, POLLIN, 0};
    try {
      for (const auto& handle : handles_) {
        if (std::find(channels.begin(), channels.end(), handle->channel) != channels.end()) {
          continue;
        }
        waits.push_back(pollfd{handle->channel->fd(), POLLIN, 0});
        channels.push_back(handle->channel);
      }
    } catch (...) {
      // Memory ran short: wait on the sockets that fit, and look again soon. The time-outs
      // need none.
      waits.resize(channels.size() + 1);
      timeout = timeout < 0 ? kShortOfMemoryWait : std::min(timeout, kShortOfMemoryWait);
    }
    hold.unlock();
    poll(waits.data(), waits.size(), timeout);
    hold.lock();
    if ((waits[0].revents & POLLIN) != 0) {
      std::uint64_t count = 0;
      if (read(wake_, &count, sizeof count) < 0) {
        // Nothing was counted: another turn finds the same.
      }
    }
    for (std::size_t i = 1; i < waits.size(); ++i) {
      const Channel& channel = *channels[i - 1];
      if ((waits[i].revents & POLLERR) != 0) {
        if (channel.datagram()) ReadAll(channel, true);
        icmp_sockets::ClearPendingError(channel);
      }
      if ((waits[i].revents & POLLIN) != 0) ReadAll(channel, false);
    }
  }
}

Service service;

}  // namespace

HANDLE Open(Family family) {
  return service.Open(family);
}

BOOL Close(HANDLE handle) {
  return service.Close(handle);
}

DWORD Send(const Echo& echo) {
  return service.Send(echo);
}

}  // namespace icmp_requests
