// Round-trip times by ICMP echo through the system's echo service, behind PingTime and
// TraceRouteTime: the request they send, and the averaging of their results.
#ifndef TELVARIO_PROBES_ECHO_PROBE_H
#define TELVARIO_PROBES_ECHO_PROBE_H

#include <cstddef>
#include <cstdint>

#include "windows_api.h"

namespace telvario {

// Per-repetition results below zero.
constexpr LONG ECHO_NO_REPLY = -1;
constexpr LONG ECHO_RESOLVE_NODATA = -3;
constexpr LONG ECHO_RESOLVE_FAILED = -4;

constexpr std::size_t kEchoBlockSize = 12;  // the echo-header-like block ahead of the fill
constexpr std::size_t kMaxEchoRequest = kEchoBlockSize + 1500;
constexpr BYTE kEchoFill = 0x45;
constexpr DWORD kEchoTimeoutMs = 1000;
constexpr DWORD kEchoPauseMs = 100;
constexpr LONG kPingTtl = 255;
constexpr LONG kPresetAnswerAboveTtl = 32;

// The sequence number the next request of this process carries.
std::uint16_t NextEchoSequence();

// The Internet checksum of the request data, summed as little-endian words; stored as is, it
// gives the bytes a network-order checksum would.
std::uint16_t EchoChecksum(const BYTE* data, std::size_t size);

// Writes the request data for a fill of fillLength bytes (at most 1500) into buffer, which
// holds kMaxEchoRequest bytes; gives its length.
std::size_t BuildEchoRequest(BYTE* buffer, LONG fillLength);

// The mean of the results above 0, truncated, with their count; the first result when none.
LONG AverageEchoTimes(const LONG* results, LONG count, LONG* goodPings);

}  // namespace telvario

#endif
