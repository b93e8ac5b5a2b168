#include "result_codes.h"

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
    {Measured::Latency, -1, kNoReply},
    {Measured::Latency, -3, "the name has no address of the family asked for"},
    {Measured::Latency, -4, kUnresolved},
    {Measured::Latency, -5, "this process may not send ICMP echo requests (no echo service)"},
    {Measured::Throughput, -1, kNotHttp},
    {Measured::Throughput, -2, kNotOpened},
    {Measured::Throughput, -3, kTooSmall},
    {Measured::Throughput, -4, "every connection broke before the rate settled"},
    {Measured::Responsiveness, -1, kNotHttp},
    {Measured::Responsiveness, -2, kNotOpened},
    {Measured::Responsiveness, -3, kTooSmall},
    {Measured::Responsiveness, -4, "every connection broke before the load settled"},
};

}  // namespace

const char* ResultCodeText(Measured measurement, double code) {
  for (const CodeText& known : kCodes) {
    if (known.measurement == measurement && known.code == code) return known.text;
  }
  return nullptr;
}

}  // namespace telvario::cli
