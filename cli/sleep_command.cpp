// `telvario sleep MS`: the object's Sleep, which keeps the thread's messages flowing.
#include <CLI/CLI.hpp>

#include "commands.h"
#include "option_values.h"

namespace telvario::cli {
namespace {

class SleepCommand final : public Command {
 public:
  std::optional<long> milliseconds;

  int Run(Session& session) override {
    session.Sonde().Sleep(static_cast<LONG>(*milliseconds));
    Report report;
    report.Add("Slept", static_cast<long long>(*milliseconds));
    AddProperties(session.Sonde(), report);
    return Finish(report, session);
  }
};

}  // namespace

std::unique_ptr<Command> AddSleepCommand(CLI::App& command) {
  auto sleep = std::make_unique<SleepCommand>();
  AddWholeNumber(command, "MS", sleep->milliseconds, "the milliseconds", "MS")->required();
  return sleep;
}

}  // namespace telvario::cli
