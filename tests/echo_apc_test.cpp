// The echo service's asynchronous requests as a latency engine uses them: many outstanding on
// one handle, each completed once through its APC routine during the sending thread's
// alertable waits; and a handle closed while some are still out. On loopback, and (SilentHost)
// towards a host that never answers, inside the namespaces the echo_silent_host test makes.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "windows_api.h"

namespace {

constexpr IPAddr kLoopback = 0x0100007F;  // 127.0.0.1 in network byte order
constexpr WORD kDataSize = 32;

// One request and what its routine saw.
struct Request {
  bool ipv6 = false;
  BYTE data[kDataSize] = {};
  alignas(8) BYTE reply[256] = {};
  DWORD sentAt = 0;
  int runs = 0;
  bool inAlertableWait = false;
  DWORD thread = 0;
  DWORD completedAt = 0;
  LONG ioStatus = 0;
  ULONG_PTR information = 0;
  DWORD parsed = 0;
  DWORD error = 0;
  ULONG status = 0;
  BYTE address[16] = {};
  bool dataEchoed = false;
};

bool insideAlertableWait = false;

DWORD AlertableWait(DWORD milliseconds) {
  insideAlertableWait = true;
  const DWORD result = SleepEx(milliseconds, TRUE);
  insideAlertableWait = false;
  return result;
}

void NTAPI OnEcho(PVOID context, PIO_STATUS_BLOCK io, ULONG /*reserved*/) {
  auto* request = static_cast<Request*>(context);
  ++request->runs;
  request->inAlertableWait = insideAlertableWait;
  request->thread = GetCurrentThreadId();
  request->completedAt = GetTickCount();
  request->ioStatus = static_cast<LONG>(io->Status);
  request->information = io->Information;
  SetLastError(ERROR_SUCCESS);
  if (request->ipv6) {
    request->parsed = Icmp6ParseReplies(request->reply, sizeof request->reply);
    request->error = GetLastError();
    ICMPV6_ECHO_REPLY record;
    std::memcpy(&record, request->reply, sizeof record);
    request->status = record.Status;
    std::memcpy(request->address, record.Address.sin6_addr, 16);
    request->dataEchoed =
        std::memcmp(request->reply + sizeof record, request->data, kDataSize) == 0;
  } else {
    request->parsed = IcmpParseReplies(request->reply, sizeof request->reply);
    request->error = GetLastError();
    const auto* record = reinterpret_cast<const ICMP_ECHO_REPLY*>(request->reply);
    request->status = record->Status;
    std::memcpy(request->address, &record->Address, 4);
    request->dataEchoed = record->DataSize == kDataSize && record->Data != nullptr &&
                          std::memcmp(record->Data, request->data, kDataSize) == 0;
  }
}

sockaddr_in6 Ipv6Address(const BYTE (&bytes)[16]) {
  sockaddr_in6 address{};
  address.sin6_family = AF_INET6;
  std::memcpy(address.sin6_addr.s6_addr, bytes, 16);
  return address;
}

constexpr BYTE kIpv6Loopback[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
constexpr BYTE kUnspecified[16] = {};

// Sends one request through the APC form; the call's result and last error.
std::pair<DWORD, DWORD> Send(HANDLE service, Request* request, const BYTE (&to)[16],
                             DWORD timeout) {
  IP_OPTION_INFORMATION options{};
  options.Ttl = 64;
  request->sentAt = GetTickCount();
  DWORD result = 0;
  if (request->ipv6) {
    sockaddr_in6 source = Ipv6Address(kUnspecified);
    sockaddr_in6 destination = Ipv6Address(to);
    result = Icmp6SendEcho2(service, nullptr, OnEcho, request, &source, &destination, request->data,
                            kDataSize, &options, request->reply, sizeof request->reply, timeout);
  } else {
    IPAddr destination = 0;
    std::memcpy(&destination, to, 4);
    result = IcmpSendEcho2(service, nullptr, OnEcho, request, destination, request->data, kDataSize,
                           &options, request->reply, sizeof request->reply, timeout);
  }
  return {result, GetLastError()};
}

// Waits alertably until every request's routine ran or the time is up.
void WaitForAll(const std::vector<Request>& requests, DWORD limit) {
  const DWORD start = GetTickCount();
  for (;;) {
    bool all = true;
    for (const Request& request : requests) all = all && request.runs > 0;
    if (all || GetTickCount() - start > limit) return;
    AlertableWait(50);
  }
}

HANDLE OpenService(bool ipv6) {
  return ipv6 ? Icmp6CreateFile() : IcmpCreateFile();
}

// Many requests to loopback 5 ms apart, none waited for before the next, each completed once
// from SleepEx on this thread (never during Sleep, never on another thread's alertable wait);
// then a burst that the handle's closing catches with some still out. (Under ThreadSanitizer
// too, which picks tests by name.)
void ManyOutstandingThenClosed(bool ipv6) {
  BYTE loopback[16] = {};
  if (ipv6) {
    std::memcpy(loopback, kIpv6Loopback, 16);
  } else {
    std::memcpy(loopback, &kLoopback, 4);
  }
  const HANDLE service = OpenService(ipv6);
  if (service == INVALID_HANDLE_VALUE && GetLastError() == ERROR_CALL_NOT_IMPLEMENTED) {
    GTEST_SKIP() << "this system has no ICMPv6 echo service (Icmp6CreateFile is not implemented)";
  }
  if (service == INVALID_HANDLE_VALUE) GTEST_SKIP() << "this process may not send ICMP";

  // Another thread waiting alertably all along runs none of them.
  std::atomic<bool> sending{true};
  std::atomic<int> otherThreadsCompletions{0};
  std::thread other([&] {
    while (sending) {
      if (SleepEx(10, TRUE) == WAIT_IO_COMPLETION) ++otherThreadsCompletions;
    }
  });

  constexpr int kRequests = 100;
  std::vector<Request> requests(kRequests);
  for (int i = 0; i < kRequests; ++i) {
    requests[i].ipv6 = ipv6;
    std::memset(requests[i].data, i, kDataSize);
    const auto [result, error] = Send(service, &requests[i], loopback, 1000);
    EXPECT_EQ(result, 0u);
    EXPECT_EQ(error, ERROR_IO_PENDING);
    Sleep(5);
  }
  DWORD completions = 0;
  const DWORD start = GetTickCount();
  while (GetTickCount() - start < 5000) {
    bool all = true;
    for (const Request& request : requests) all = all && request.runs > 0;
    if (all) break;
    if (AlertableWait(50) == WAIT_IO_COMPLETION) ++completions;
  }
  EXPECT_GT(completions, 0u);
  EXPECT_EQ(AlertableWait(20), 0u) << "nothing is left to run";
  sending = false;
  other.join();
  EXPECT_EQ(otherThreadsCompletions, 0);

  const DWORD self = GetCurrentThreadId();
  for (int i = 0; i < kRequests; ++i) {
    const Request& request = requests[i];
    SCOPED_TRACE(i);
    EXPECT_EQ(request.runs, 1);
    EXPECT_TRUE(request.inAlertableWait);
    EXPECT_EQ(request.thread, self);
    EXPECT_EQ(request.ioStatus, 0);
    EXPECT_EQ(request.parsed, 1u);
    EXPECT_EQ(request.status, IP_SUCCESS);
    EXPECT_EQ(std::memcmp(request.address, loopback, ipv6 ? 16 : 4), 0);
    EXPECT_TRUE(request.dataEchoed);
    if (!ipv6) {
      EXPECT_EQ(request.information, sizeof(ICMP_ECHO_REPLY) + kDataSize);
    }
  }

  // Closed with a burst still out: each routine runs once all the same, with the reply where
  // it came before the closing, else with none.
  constexpr int kBurst = 50;
  std::vector<Request> burst(kBurst);
  for (int i = 0; i < kBurst; ++i) {
    burst[i].ipv6 = ipv6;
    std::memset(burst[i].data, 0x80 + i, kDataSize);
    Send(service, &burst[i], loopback, 1000);
  }
  EXPECT_TRUE(IcmpCloseHandle(service));
  WaitForAll(burst, 5000);
  EXPECT_EQ(AlertableWait(100), 0u) << "nothing runs after the last routine";
  for (int i = 0; i < kBurst; ++i) {
    const Request& request = burst[i];
    SCOPED_TRACE(i);
    EXPECT_EQ(request.runs, 1);
    EXPECT_EQ(request.thread, self);
    if (request.parsed == 1) {
      EXPECT_EQ(request.status, IP_SUCCESS);
      EXPECT_TRUE(request.dataEchoed);
    } else {
      EXPECT_TRUE(request.error == IP_GENERAL_FAILURE || request.error == IP_REQ_TIMED_OUT)
          << request.error;
    }
  }
}

TEST(EchoApc, ManyOutstandingToIpv4LoopbackThenClosedOnTwoThreads) {
  ManyOutstandingThenClosed(false);
}

TEST(EchoApc, ManyOutstandingToIpv6LoopbackThenClosedOnTwoThreads) {
  ManyOutstandingThenClosed(true);
}

// The address of the host that never answers, from the echo_silent_host test's environment.
bool SilentHost(bool ipv6, BYTE (&address)[16]) {
  const char* text = std::getenv(ipv6 ? "TELVARIO_SILENT_HOST6" : "TELVARIO_SILENT_HOST");
  return text != nullptr && inet_pton(ipv6 ? AF_INET6 : AF_INET, text, address) == 1;
}

// Requests to a host that never answers end each at its own time-out, in that order; the
// handle's closing ends those still out, each routine still run once, with no reply.
void TimeOutsThenClosed(bool ipv6) {
  BYTE silent[16] = {};
  if (!SilentHost(ipv6, silent)) {
    GTEST_SKIP() << "runs in the namespaces of the echo_silent_host test, as root";
  }
  const HANDLE service = OpenService(ipv6);
  if (service == INVALID_HANDLE_VALUE && GetLastError() == ERROR_CALL_NOT_IMPLEMENTED) {
    GTEST_SKIP() << "this system has no ICMPv6 echo service (Icmp6CreateFile is not implemented)";
  }
  ASSERT_NE(service, INVALID_HANDLE_VALUE);
  constexpr DWORD kTimeouts[] = {700, 300};
  std::vector<Request> timed(2);
  std::vector<Request> closed(3);
  for (Request& request : timed) request.ipv6 = ipv6;
  for (Request& request : closed) request.ipv6 = ipv6;
  for (std::size_t i = 0; i < timed.size(); ++i) {
    EXPECT_EQ(Send(service, &timed[i], silent, kTimeouts[i]).second, ERROR_IO_PENDING);
  }
  for (Request& request : closed) Send(service, &request, silent, 2000);
  WaitForAll(timed, 5000);
  EXPECT_TRUE(IcmpCloseHandle(service));
  WaitForAll(closed, 5000);
  EXPECT_EQ(AlertableWait(100), 0u);

  for (std::size_t i = 0; i < timed.size(); ++i) {
    const Request& request = timed[i];
    SCOPED_TRACE(i);
    EXPECT_EQ(request.runs, 1);
    EXPECT_EQ(request.parsed, 0u);
    EXPECT_EQ(request.error, IP_REQ_TIMED_OUT);
    EXPECT_EQ(request.status, IP_REQ_TIMED_OUT);
    const DWORD waited = request.completedAt - request.sentAt;
    EXPECT_GE(waited + 20, kTimeouts[i]);  // the tick count's steps
    EXPECT_LT(waited, kTimeouts[i] + 3000);
  }
  EXPECT_LT(timed[1].completedAt, timed[0].completedAt) << "the shorter time-out ends first";
  for (const Request& request : closed) {
    EXPECT_EQ(request.runs, 1);
    EXPECT_EQ(request.parsed, 0u);
    EXPECT_TRUE(request.error == IP_GENERAL_FAILURE || request.error == IP_REQ_TIMED_OUT)
        << request.error;
  }
}

TEST(SilentHost, Ipv4RequestsTimeOutEachAtItsOwnThenCloseEndsTheRest) {
  TimeOutsThenClosed(false);
}

TEST(SilentHost, Ipv6RequestsTimeOutEachAtItsOwnThenCloseEndsTheRest) {
  TimeOutsThenClosed(true);
}

}  // namespace
