#include "run_output.h"

#include <cerrno>
#include <cstring>

#include "byte_output.h"
#include "interrupt.h"
#include "openmetrics.h"
#include "svg_chart.h"

namespace telvario::cli {

// A command that ends before it measured anything leaves no empty picture behind.
RunOutput::~RunOutput() {
  if (svg_ == nullptr) return;
  std::fclose(svg_);
  std::remove(options_.svgPath.c_str());
}

bool RunOutput::Open(std::string* error) {
  if (options_.svgPath.empty()) return true;
  svg_ = std::fopen(options_.svgPath.c_str(), "wb");
  if (svg_ == nullptr) {
    *error = "cannot write " + options_.svgPath + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

int RunOutput::Finish(const Report& report, const std::vector<RunResults>& runs,
                      const std::string& what, bool failed) {
  if (options_.openMetrics) {
    WriteBytesUnchanged(stdout);
    std::fputs(RunsOpenMetrics(runs).c_str(), stdout);
  } else {
    report.Print(stdout, options_.json);
  }
  std::fflush(stdout);
  if (svg_ != nullptr) {
    const std::string svg = RunsSvg(runs, what);
    const bool written = std::fwrite(svg.data(), 1, svg.size(), svg_) == svg.size();
    const bool closed = std::fclose(svg_) == 0;
    svg_ = nullptr;
    if (!written || !closed) {
      std::fprintf(stderr, "telvario: %s could not be written whole\n", options_.svgPath.c_str());
      failed = true;
    }
  }
  if (Interrupted()) return kInterruptedStatus;
  return failed ? kFailed : kMeasured;
}

}  // namespace telvario::cli
