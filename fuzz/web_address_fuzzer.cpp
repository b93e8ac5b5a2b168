// Fuzzes the reading of addresses: any text as an address, and as a redirect's reference against
// any base (the input split at its first newline). Nothing may crash or read past the text; an
// address read is sent as printable text that reads back the same; resolving is idempotent.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "web_address.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  telvario::WebAddress address;
  if (telvario::ParseWebAddress(text, &address)) {
    Check(!address.host.empty());
    Check(address.port <= 65535);
    // What is sent is printable, and reads back as the same address.
    const std::string sent = address.Text();
    for (const char c : sent) Check(c > ' ' && c < 0x7F);
    telvario::WebAddress again;
    Check(telvario::ParseWebAddress(sent, &again));
    Check(again.Text() == sent && again.Shown() == address.Shown());
    Check(address.Shown().find('@') == std::string::npos ||
          address.path.find('@') != std::string::npos);
  }
  telvario::ShownAddress(text);
  telvario::IsFetchable(text);

  const size_t newline = text.find('\n');
  const std::string base = newline == std::string::npos ? "http://h/a/b" : text.substr(0, newline);
  const std::string reference = newline == std::string::npos ? text : text.substr(newline + 1);
  std::string target;
  if (telvario::ResolveReference(base, reference, &target)) {
    std::string again;
    Check(telvario::ResolveReference(target, "", &again));
    if (target.find('#') == std::string::npos) Check(again == target);
  }
  return 0;
}
