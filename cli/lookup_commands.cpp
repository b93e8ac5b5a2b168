// `telvario addr NAME` and `telvario hostname ADDRESS`: the object's forward and reverse lookups
// (Addr, HostName).
#include <CLI/CLI.hpp>

#include "automation_text.h"
#include "commands.h"
#include "option_values.h"

namespace telvario::cli {
namespace {

class LookupCommand final : public Command {
 public:
  explicit LookupCommand(bool forward) : forward_(forward) {}
  std::string argument;

  int Run(Session& session) override {
    BSTR text = ToBstr(argument);
    BSTR answer = nullptr;
    if (forward_) {
      session.Sonde().get_Addr(text, &answer);
    } else {
      session.Sonde().get_HostName(text, &answer);
    }
    SysFreeString(text);
    const std::string found = Narrow(answer);
    SysFreeString(answer);
    Report report;
    report.Add(forward_ ? "Addr" : "HostName", found);
    if (found.empty()) report.AddFailure("Failure", "the name could not be resolved");
    return Finish(report, session);
  }

 private:
  bool forward_;
};

}  // namespace

std::unique_ptr<Command> AddAddrCommand(CLI::App& command) {
  auto lookup = std::make_unique<LookupCommand>(true);
  AddArgument(command, "NAME", lookup->argument, "the name to look up");
  return lookup;
}

std::unique_ptr<Command> AddHostnameCommand(CLI::App& command) {
  auto lookup = std::make_unique<LookupCommand>(false);
  AddArgument(command, "ADDRESS", lookup->argument, "a dotted IPv4 address");
  return lookup;
}

}  // namespace telvario::cli
