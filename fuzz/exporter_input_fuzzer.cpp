// What reaches the exporter from outside: a configuration file (YAML) and a /probe query with
// its scrape time-out header. Each is refused with a line or taken; nothing else may happen.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "exporter_config.h"
#include "probe_latency.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
  if (data[0] % 2 == 0) {
    try {
      telvario::exporter::ParseConfig(text, "fuzz.yaml");
    } catch (const telvario::exporter::ConfigError&) {
      // refused, with its line
    }
    return 0;
  }
  // The query, then after a newline the header's value.
  const std::size_t newline = text.find('\n');
  const std::string_view query = std::string_view(text).substr(0, newline);
  const std::string_view timeout = newline == std::string::npos
                                       ? std::string_view()
                                       : std::string_view(text).substr(newline + 1);
  telvario::exporter::ProbeRequest request;
  std::string failure;
  telvario::exporter::ReadProbeRequest(query, timeout, &request, &failure);
  return 0;
}
