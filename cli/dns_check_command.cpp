// `telvario dns-check`: whether the resolver gives the expected address of a fixed host.
#include <CLI/CLI.hpp>

#include "commands.h"

namespace telvario::cli {
namespace {

class DnsCheckCommand final : public Command {
 public:
  int Run(Session& session) override {
    LONG ok = 0;
    session.Sonde().get_is_DNS_OK(&ok);
    Report report;
    report.Add("is_DNS_OK", static_cast<long long>(ok));
    if (ok == 0) report.AddFailure("Failure", "the resolver did not give the expected address");
    return Finish(report, session);
  }
};

}  // namespace

std::unique_ptr<Command> AddDnsCheckCommand(CLI::App& /*command*/) {
  return std::make_unique<DnsCheckCommand>();
}

}  // namespace telvario::cli
