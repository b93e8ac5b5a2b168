// results_chart RECORD SVG: a Results record from a file drawn into SVG by the client's own code,
// and its OpenMetrics on standard output; for the records of measurements no command makes yet.
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "openmetrics.h"
#include "run_results.h"
#include "svg_chart.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: results_chart RECORD SVG\n");
    return 2;
  }
  std::ifstream source(argv[1], std::ios::binary);
  const std::string record((std::istreambuf_iterator<char>(source)),
                           std::istreambuf_iterator<char>());
  const double now =
      std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
  const std::vector<telvario::cli::RunResults> runs{telvario::cli::ReadRunResults(record, now)};
  std::ofstream(argv[2], std::ios::binary) << telvario::cli::RunsSvg(runs, "a recorded run");
  std::fputs(telvario::cli::RunsOpenMetrics(runs).c_str(), stdout);
  return runs.front().Readable() ? 0 : 1;
}
