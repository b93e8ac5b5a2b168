// `telvario show` (and `telvario` alone): the object's properties.
#include <CLI/CLI.hpp>

#include "commands.h"
#include "run_output.h"

namespace telvario::cli {
namespace {

class ShowCommand final : public Command {
 public:
  int Run(Session& session) override {
    Report report;
    AddProperties(session.Sonde(), report);
    return Finish(report, session);
  }
};

}  // namespace

void AddProperties(ISonde& sonde, Report& report) {
  SHORT packetSize = 0, pingReps = 0, goodPings = 0, rtt = 0;
  LONG dataRead = 0;
  double elapsed = 0;
  sonde.get_PacketSize(&packetSize);
  sonde.get_PingReps(&pingReps);
  sonde.get_NGoodPings(&goodPings);
  report.Add("PacketSize", static_cast<long long>(packetSize));
  report.Add("PingReps", static_cast<long long>(pingReps));
  report.Add("NGoodPings", static_cast<long long>(goodPings));
  for (SHORT i = 0; i < pingReps; ++i) {
    sonde.get_RTT(i, &rtt);
    report.Add("RTT(" + std::to_string(i) + ")", static_cast<long long>(rtt));
  }
  sonde.get_DataRead(&dataRead);
  sonde.get_ElapsedTime(&elapsed);
  report.Add("DataRead", static_cast<long long>(dataRead));
  report.Add("ElapsedTime", elapsed);
}

int Finish(const Report& report, const Session& session) {
  PrintReport(report, session.Options().json);
  return report.Failed() ? kFailed : kMeasured;
}

std::unique_ptr<Command> AddShowCommand(CLI::App& /*command*/) {
  return std::make_unique<ShowCommand>();
}

}  // namespace telvario::cli
