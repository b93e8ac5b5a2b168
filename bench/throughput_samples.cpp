// One direction of the throughput engine, run in this process, printing the run's JSON: the
// result, the start-up and every 100 ms sample per connection. For looking into a throughput
// figure (what each connection did, where the start-up ended), beside the telvario client's
// summary. Usage: throughput_samples download|upload URL STREAMS SECONDS
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "results_json.h"
#include "throughput_probe.h"
#include "web_address.h"

int main(int argc, char** argv) {
  if (argc != 5 || (std::strcmp(argv[1], "download") != 0 && std::strcmp(argv[1], "upload") != 0)) {
    std::fprintf(stderr, "usage: throughput_samples download|upload URL STREAMS SECONDS\n");
    return 2;
  }
  telvario::ThroughputPlan plan;
  plan.direction = std::strcmp(argv[1], "upload") == 0 ? telvario::Direction::Upload
                                                       : telvario::Direction::Download;
  if (!telvario::ParseWebAddress(argv[2], &plan.address) || !plan.address.IsHttp()) {
    std::fprintf(stderr, "throughput_samples: %s is not an http or https URL\n", argv[2]);
    return 2;
  }
  plan.streams = std::atoi(argv[3]);
  plan.durationSeconds = std::atof(argv[4]);
  const telvario::ThroughputRun run = telvario::MeasureThroughput(plan);
  std::printf("%s\n", telvario::ThroughputResultsJson(plan, run).c_str());
  return run.result > 0 ? 0 : 1;
}
