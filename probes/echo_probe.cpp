#include "echo_probe.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>

#include "message_pump.h"
#include "name_queries.h"
#include "sonde_probe.h"
#include "string_conversion.h"

namespace telvario {
namespace {

// Room for one reply record holding the echo of the largest request, the 8 bytes of an error
// message and the largest IP options.
constexpr std::size_t kReplyBufferSize =
    std::max<std::size_t>(1500, sizeof(ICMP_ECHO_REPLY) + kMaxEchoRequest + 8 + 40);
constexpr BYTE kTypeOfService = 8;
constexpr BYTE kDontFragment = 2;

// Process-wide; atomic so that objects on different threads never draw the same number.
std::atomic<std::uint16_t> echoSequence{0};

void StoreLittleEndian16(BYTE* at, std::uint16_t value) {
  at[0] = static_cast<BYTE>(value);
  at[1] = static_cast<BYTE>(value >> 8);
}

void StoreLittleEndian32(BYTE* at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<BYTE>(value >> (8 * i));
}

// The destination for a name, or the code every result gets when it cannot be resolved.
bool ResolveDestination(const char* name, ULONG* destination, LONG* failure) {
  const ULONG parsed = inet_addr(name);
  if (parsed != INADDR_NONE && parsed != 0) {
    *destination = parsed;
    return true;
  }
  const HOSTENT* entry = gethostbyname(name);
  if (entry != nullptr && entry->h_addr_list[0] != nullptr) {
    ULONG first = 0;
    const auto length = std::min<std::size_t>(static_cast<std::size_t>(entry->h_length), 4);
    std::memcpy(&first, entry->h_addr_list[0], length);
    *destination = first;
    return true;
  }
  if (WSAGetLastError() == WSANO_DATA) {
    *failure = ECHO_RESOLVE_NODATA;
    return false;
  }
  if (parsed == INADDR_NONE) {
    *failure = ECHO_RESOLVE_FAILED;
    return false;
  }
  *destination = 0;  // the text 0.0.0.0, which the resolver did not take either
  return true;
}

}  // namespace

std::uint16_t NextEchoSequence() {
  return echoSequence.fetch_add(1, std::memory_order_relaxed);
}

std::uint16_t EchoChecksum(const BYTE* data, std::size_t size) {
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i + 1 < size; i += 2) sum += data[i] | data[i + 1] << 8;
  if (size % 2 != 0) sum += data[size - 1];
  sum = (sum & 0xFFFF) + (sum >> 16);
  sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<std::uint16_t>(~sum);
}

std::size_t BuildEchoRequest(BYTE* buffer, LONG fillLength) {
  const std::size_t size = kEchoBlockSize + static_cast<std::size_t>(fillLength);
  std::memset(buffer, 0, kMaxEchoRequest);
  buffer[0] = 8;  // type: echo request
  buffer[1] = 0;  // code
  StoreLittleEndian16(buffer + 4, static_cast<std::uint16_t>(GetCurrentProcessId()));
  std::memset(buffer + kEchoBlockSize, kEchoFill, static_cast<std::size_t>(fillLength));
  StoreLittleEndian32(buffer + 8, GetTickCount());
  StoreLittleEndian16(buffer + 6, NextEchoSequence());
  StoreLittleEndian16(buffer + 2, EchoChecksum(buffer, size));
  return size;
}

namespace {

// Sends `repetitions` echo requests to the named host (a dotted address or a name) with the
// given time to live and fills one result per repetition. Gives the address, in network byte
// order, that answered last; the destination or 0 when none did (see kPresetAnswerAboveTtl);
// INADDR_NONE when the name could not be resolved.
ULONG EchoRun(const char* name, LONG ttl, LONG repetitions, LONG* results, LONG fillLength) {
  ULONG destination = 0;
  LONG failure = 0;
  if (!ResolveDestination(name, &destination, &failure)) {
    std::fill_n(results, repetitions, failure);
    return INADDR_NONE;
  }
  ULONG answer = ttl > kPresetAnswerAboveTtl ? destination : 0;

  // Without a handle every repetition fails. It is not handed on: some implementations of the
  // service take it for a pointer and crash on the invalid value.
  const HANDLE service = IcmpCreateFile();
  const bool serviceOpen = service != INVALID_HANDLE_VALUE && service != nullptr;
  IP_OPTION_INFORMATION options{};
  options.Ttl = static_cast<UCHAR>(ttl);
  options.Tos = kTypeOfService;
  options.Flags = kDontFragment;
  std::array<BYTE, kMaxEchoRequest> request{};
  alignas(ICMP_ECHO_REPLY) std::array<BYTE, kReplyBufferSize> reply{};
  for (LONG i = 0; i < repetitions; ++i) {
    if (i > 0) {
      ::Sleep(kEchoPauseMs);
      DrainMessageQueue();
    }
    reply.fill(0);
    const std::size_t size = BuildEchoRequest(request.data(), fillLength);
    const DWORD records =
        serviceOpen
            ? IcmpSendEcho(service, destination, request.data(), static_cast<WORD>(size), &options,
                           reply.data(), static_cast<DWORD>(reply.size()), kEchoTimeoutMs)
            : 0;
    const DWORD fitting = std::min<DWORD>(records, reply.size() / sizeof(ICMP_ECHO_REPLY));
    if (fitting == 0) {
      results[i] = ECHO_NO_REPLY;
      continue;
    }
    const auto* last = reinterpret_cast<const ICMP_ECHO_REPLY*>(reply.data()) + (fitting - 1);
    results[i] = static_cast<LONG>(last->RoundTripTime);
    answer = last->Address;
  }
  if (serviceOpen) IcmpCloseHandle(service);
  return answer;
}

}  // namespace

LONG AverageEchoTimes(const LONG* results, LONG count, LONG* goodPings) {
  LONGLONG sum = 0;  // times are bounded by the time-out; this only keeps a wild one defined
  *goodPings = 0;
  for (LONG i = 0; i < count; ++i) {
    if (results[i] <= 0) continue;
    sum += results[i];
    ++*goodPings;
  }
  return *goodPings > 0 ? static_cast<LONG>(sum / *goodPings) : results[0];
}

HRESULT SondeProbe::get_PingTime(BSTR Site, SHORT* pVal) {
  return get_TraceRouteTime(Site, static_cast<SHORT>(kPingTtl), pVal);
}

HRESULT SondeProbe::get_TraceRouteTime(BSTR Site, SHORT Hop, SHORT* pVal) {
  const NarrowArgument name(Site);
  if (name.HasEmbeddedNul()) {  // not the host it seems: as a name that does not resolve
    std::fill_n(state_.pingTimes, state_.pingReps, ECHO_RESOLVE_FAILED);
    state_.replyAddress = INADDR_NONE;
  } else {
    state_.replyAddress =
        EchoRun(name.Get(), Hop, state_.pingReps, state_.pingTimes, state_.packetSize);
  }
  // PingReps is read again: script code run between repetitions may have changed it.
  *pVal =
      static_cast<SHORT>(AverageEchoTimes(state_.pingTimes, state_.pingReps, &state_.goodPings));
  return S_OK;
}

HRESULT SondeProbe::get_ReplyIP(BSTR* pVal) {
  *pVal = AddressText(state_.replyAddress);
  return S_OK;
}

}  // namespace telvario
