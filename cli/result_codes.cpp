#include "result_codes.h"

#include "telvario2_idl.h"

namespace telvario::cli {
namespace {

constexpr char kNoSession[] = "no Internet session could be opened";
constexpr char kNotHttp[] = "the URL is not http or https, or no Internet session could be opened";
constexpr char kNotOpened[] = "no connection could be opened, or the server answered with an error";
constexpr char kNoReply[] = "no reply";
constexpr char kUnresolved[] = "the name could not be resolved";
constexpr char kTooSmall[] = "the server's bodies are too small to measure a rate";

struct CodeText {
  Measured measurement;
  int code;
  const char* text;
};

// The fixed Sonde's codes are its interface's documented values.
constexpr CodeText kCodes[] = {
    {Measured::Echo, -1, kNoReply},
    {Measured::Echo, -3, "the name exists but has no address"},
    {Measured::Echo, -4, kUnresolved},
    {Measured::Download, -1, kNoSession},
    {Measured::Download, -2, "the URL could not be opened"},
    {Measured::Upload, -1, kNoSession},
    {Measured::Upload, -2,
     "no anonymous FTP login within 8 s (no answer, unknown name or refused)"},
    {Measured::Upload, -3, "the server would not create a file in /temp"},
    {Measured::Upload, -4, "the transfer broke off during the test"},
    // Sonde2's, by the interface definition's names.
    {Measured::Latency, LatencyNoReply, kNoReply},
    {Measured::Latency, LatencyNoAddress, "the name has no address of the family asked for"},
    {Measured::Latency, LatencyNameNotResolved, kUnresolved},
    {Measured::Latency, LatencyNoEchoService,
     "this process may not send ICMP echo requests of that family"},
    {Measured::Throughput, ThroughputCannotStart, kNotHttp},
    {Measured::Throughput, ThroughputNotOpened, kNotOpened},
    {Measured::Throughput, ThroughputBodiesTooSmall, kTooSmall},
    {Measured::Throughput, ThroughputAllBroke, "every connection broke before the rate settled"},
    {Measured::Responsiveness, ThroughputCannotStart, kNotHttp},
    {Measured::Responsiveness, ThroughputNotOpened, kNotOpened},
    {Measured::Responsiveness, ThroughputBodiesTooSmall, kTooSmall},
    {Measured::Responsiveness, ThroughputAllBroke,
     "every connection broke before the load settled"},
};

}  // namespace

const char* ResultCodeText(Measured measurement, double code) {
  for (const CodeText& known : kCodes) {
    if (known.measurement == measurement && known.code == code) return known.text;
  }
  return nullptr;
}

}  // namespace telvario::cli
