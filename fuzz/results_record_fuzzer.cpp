// Fuzzes what the client makes of a Results record: any text read as a run of its kind, drawn
// as SVG and written as OpenMetrics. Nothing may crash or run away; a text that is not JSON is
// never taken for a run; the record a picture keeps holds no URL's userinfo; what is drawn stays
// well-formed UTF-8 without the control characters XML refuses; the metrics end with "# EOF".
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "openmetrics.h"
#include "run_results.h"
#include "svg_chart.h"
#include "url_text.h"
#include "utf8_text.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

void CheckXmlText(const std::string& text) {
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t length = telvario::cli::Utf8SequenceLength(text, at);
    Check(length > 0);
    const auto byte = static_cast<unsigned char>(text[at]);
    Check(byte >= 0x20 || byte == '\n' || byte == '\t');
    at += length;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace telvario::cli;
  const std::string text(reinterpret_cast<const char*>(data), size);
  const RunResults run = ReadRunResults(text, 1.7e9);
  const bool json = nlohmann::json::accept(text);
  if (!json) Check(!run.Readable() && run.Outcome() == nullptr);
  if (run.Outcome() != nullptr) Check(run.Readable());
  Check(WithoutUserinfo(run.record) == run.record);
  const std::vector<RunResults> runs{run, run};
  const std::string svg = RunsSvg(runs, text);
  CheckXmlText(svg);
  Check(svg.size() > 6 && svg.compare(svg.size() - 7, 7, "</svg>\n") == 0);
  const std::string metrics = RunsOpenMetrics(runs);
  CheckXmlText(metrics);
  Check(metrics.size() >= 6 && metrics.compare(metrics.size() - 6, 6, "# EOF\n") == 0);
  return 0;
}
