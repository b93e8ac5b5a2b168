#include "result_codes.h"

#include "telvario2_idl.h"

namespace telvario::cli {
namespace {

struct CodeText {
  Measured measurement;
  int code;
  const char* text;
};

// A code of Sonde2's interface: the name a script reads in its type library, then its words.
#define TELVARIO_NAMED(code, words) code, #code ": " words

constexpr CodeText kCodes[] = {
    // The fixed Sonde's, as its interface documents them.
    {Measured::Echo, -1, "no reply"},
    {Measured::Echo, -3, "the name exists but has no address"},
    {Measured::Echo, -4, "the name could not be resolved"},
    {Measured::Download, -1, "no Internet session could be opened"},
    {Measured::Download, -2, "the URL could not be opened"},
    {Measured::Upload, -1, "no Internet session could be opened"},
    {Measured::Upload, -2,
     "no anonymous FTP login within 8 s (no answer, unknown name or refused)"},
    {Measured::Upload, -3, "the server would not create a file in /temp"},
    {Measured::Upload, -4, "the transfer broke off during the test"},
    // Sonde2's, by the interface definition's enumerations.
    {Measured::Latency, TELVARIO_NAMED(LatencyNoReply, "no reply")},
    {Measured::Latency,
     TELVARIO_NAMED(LatencyNoAddress, "the name has no address of the family asked for")},
    {Measured::Latency, TELVARIO_NAMED(LatencyNameNotResolved, "the name could not be resolved")},
    {Measured::Latency,
     TELVARIO_NAMED(LatencyNoEchoService,
                    "this process may not send ICMP echo requests of that family")},
    {Measured::Throughput,
     TELVARIO_NAMED(ThroughputCannotStart,
                    "the URL is not http or https, or no Internet session could be opened")},
    {Measured::Throughput,
     TELVARIO_NAMED(ThroughputNotOpened,
                    "no connection could be opened, or the server answered with an error")},
    {Measured::Throughput, TELVARIO_NAMED(ThroughputBodiesTooSmall,
                                          "the server's bodies are too small to measure a rate")},
    {Measured::Throughput,
     TELVARIO_NAMED(ThroughputAllBroke, "every connection broke before the rate settled")},
    {Measured::Responsiveness,
     TELVARIO_NAMED(ThroughputCannotStart,
                    "the URL is not http or https, or no Internet session could be opened")},
    {Measured::Responsiveness,
     TELVARIO_NAMED(ThroughputNotOpened,
                    "no connection could be opened, or the server answered with an error")},
    {Measured::Responsiveness,
     TELVARIO_NAMED(ThroughputBodiesTooSmall,
                    "the server's bodies are too small to measure a rate")},
    {Measured::Responsiveness,
     TELVARIO_NAMED(ThroughputAllBroke, "every connection broke before the load settled")},
    {Measured::Route, TELVARIO_NAMED(RouteNoReply, "nothing answered, no router and no reply")},
    {Measured::Route, TELVARIO_NAMED(RouteNotReached,
                                     "the destination did not answer within the most hops; the "
                                     "hops that did are reported")},
    {Measured::Route,
     TELVARIO_NAMED(RouteNoAddress, "the name has no address of the family asked for")},
    {Measured::Route, TELVARIO_NAMED(RouteNameNotResolved, "the name could not be resolved")},
    {Measured::Route, TELVARIO_NAMED(RouteNoEchoService,
                                     "this process may not send ICMP echo requests of that "
                                     "family, or hear the routers' answers")},
};

#undef TELVARIO_NAMED

}  // namespace

const char* ResultCodeText(Measured measurement, double code) {
  for (const CodeText& known : kCodes) {
    if (known.measurement == measurement && known.code == code) return known.text;
  }
  return nullptr;
}

}  // namespace telvario::cli
