// Sonde2's result codes and the bounds of its settings, in one place for the measurements.
#ifndef TELVARIO_PROBES_SONDE2_CODES_H
#define TELVARIO_PROBES_SONDE2_CODES_H

#include "windows_api.h"

namespace telvario {

// Latency's failures; otherwise it gives the median round trip in ms.
constexpr LONG LATENCY_NO_REPLY = -1;
constexpr LONG LATENCY_RESOLVE_NODATA = -3;  // as PingTime: the name has no address to use
constexpr LONG LATENCY_RESOLVE_FAILED = -4;  // as PingTime: the name does not resolve
constexpr LONG LATENCY_NO_ECHO_SERVICE = -5;

// Download's, Upload's and a failed load's; otherwise they give Mbit/s.
constexpr double THROUGHPUT_CANNOT_START = -1;  // not http or https, or nothing could start
constexpr double THROUGHPUT_NOT_OPENED = -2;    // no connection opened, or an error status
constexpr double THROUGHPUT_TOO_SMALL = -3;     // the bodies are too small to measure a rate
constexpr double THROUGHPUT_ALL_BROKE = -4;     // every connection broke in the start-up

constexpr LONG kLeastProbes = 1;
constexpr LONG kDefaultProbes = 20;
constexpr LONG kMostProbes = 10000;
constexpr LONG kLeastProbeIntervalMs = 10;
constexpr LONG kDefaultProbeIntervalMs = 100;
constexpr LONG kMostProbeIntervalMs = 60000;
constexpr LONG kLeastStreams = 1;
constexpr LONG kDefaultStreams = 4;
constexpr LONG kMostStreams = 32;
constexpr double kLeastDurationSeconds = 2;
constexpr double kDefaultDurationSeconds = 10;
constexpr double kMostDurationSeconds = 60;

}  // namespace telvario

#endif
