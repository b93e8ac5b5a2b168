// `telvario dhcp`: the DHCP server's address, where the system records one.
#include <CLI/CLI.hpp>

#include "automation_text.h"
#include "commands.h"

namespace telvario::cli {
namespace {

class DhcpCommand final : public Command {
 public:
  int Run(Session& session) override {
    BSTR answer = nullptr;
    session.Sonde().get_DHCPServer(&answer);
    const std::string server = Narrow(answer);
    SysFreeString(answer);
    Report report;
    report.Add("DHCPServer", server);
    if (server.empty()) report.AddFailure("Failure", "this system records no DHCP server");
    return Finish(report, session);
  }
};

}  // namespace

std::unique_ptr<Command> AddDhcpCommand(CLI::App& /*command*/) {
  return std::make_unique<DhcpCommand>();
}

}  // namespace telvario::cli
