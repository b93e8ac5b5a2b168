#include "sonde_probe.h"

#include "message_pump.h"

namespace telvario {
namespace {

constexpr SHORT kMinPacketSize = 8;
constexpr SHORT kMaxPacketSize = 1500;
constexpr SHORT kRttOutOfRange = -10;

SHORT Low16(LONG value) {
  return static_cast<SHORT>(value);
}

}  // namespace

SondeProbe::SondeProbe() {
  // Its result is not examined: without sockets the measurements fail in their own ways.
  WSADATA data;
  WSAStartup(MAKEWORD(1, 1), &data);
}

SondeProbe::~SondeProbe() {
  WSACleanup();
}

HRESULT SondeProbe::get_PacketSize(SHORT* pVal) {
  *pVal = Low16(state_.packetSize);
  return S_OK;
}

HRESULT SondeProbe::put_PacketSize(SHORT newVal) {
  const bool inRange = newVal >= kMinPacketSize && newVal <= kMaxPacketSize;
  state_.packetSize = inRange ? newVal : kDefaultPacketSize;
  return S_OK;
}

HRESULT SondeProbe::get_PingReps(SHORT* pVal) {
  *pVal = Low16(state_.pingReps);
  return S_OK;
}

HRESULT SondeProbe::put_PingReps(SHORT newVal) {
  const bool inRange = newVal >= 1 && newVal <= kPingTimesCapacity;
  state_.pingReps = inRange ? newVal : kDefaultPingReps;
  return S_OK;
}

HRESULT SondeProbe::get_NGoodPings(SHORT* pVal) {
  *pVal = Low16(state_.goodPings);
  return S_OK;
}

HRESULT SondeProbe::get_DataRead(LONG* pVal) {
  *pVal = state_.dataRead;
  return S_OK;
}

HRESULT SondeProbe::get_ElapsedTime(double* pVal) {
  *pVal = state_.elapsedTime;
  return S_OK;
}

HRESULT SondeProbe::get_RTT(SHORT i, SHORT* pVal) {
  // The bound is the current PingReps, not the repetitions of the last run.
  *pVal = i >= 0 && i < state_.pingReps ? Low16(state_.pingTimes[i]) : kRttOutOfRange;
  return S_OK;
}

HRESULT SondeProbe::Sleep(LONG ms) {
  // A negative time would reach the system as a wait of about 49 days, or as INFINITE for -1:
  // it is taken as 0, which gives up the time slice and still drains the queue.
  ::Sleep(ms > 0 ? static_cast<DWORD>(ms) : 0);
  DrainMessageQueue();
  return S_OK;
}

}  // namespace telvario
