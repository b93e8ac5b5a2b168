// The measurement state of one Sonde object.
#ifndef TELVARIO_PROBES_SONDE_STATE_H
#define TELVARIO_PROBES_SONDE_STATE_H

#include "interval_timers.h"
#include "windows_api.h"

namespace telvario {

constexpr LONG kPingTimesCapacity = 100;  // the upper bound of PingReps
constexpr LONG kDefaultPacketSize = 32;
constexpr LONG kDefaultPingReps = 1;

struct SondeState {
  float readRate = 0;                       // kbit/s of the last ReadURL
  double elapsedTime = 0;                   // seconds of the last ReadURL transfer
  LONG dataRead = 0;                        // bytes of the last ReadURL
  LONG goodPings = 0;                       // repetitions of the last echo run with a time above 0
  LONG packetSize = kDefaultPacketSize;     // fill bytes per echo request, 8..1500
  LONG pingTimes[kPingTimesCapacity] = {};  // per repetition: milliseconds or a negative code
  LONG pingReps = kDefaultPingReps;         // repetitions per echo run, 1..100
  ULONG replyAddress = 0;  // IPv4 address, network byte order, that answered the last run
  PrecisionTimer downloadTimer;
};

}  // namespace telvario

#endif
