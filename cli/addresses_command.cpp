// `telvario addresses NAME`: Sonde2's Addresses, every address of both families.
#include <CLI/CLI.hpp>

#include "automation_text.h"
#include "commands.h"
#include "option_values.h"

namespace telvario::cli {
namespace {

class AddressesCommand final : public Command {
 public:
  std::string name;

  bool NeedsSonde2() const override { return true; }

  int Run(Session& session) override {
    BSTR text = ToBstr(name);
    BSTR answer = nullptr;
    session.Sonde2().Addresses(text, &answer);
    SysFreeString(text);
    const std::string addresses = Narrow(answer);
    SysFreeString(answer);
    Report report;
    report.Add("Addresses", addresses);
    if (addresses.empty()) report.AddFailure("Failure", "the name has no address");
    return Finish(report, session);
  }
};

}  // namespace

std::unique_ptr<Command> AddAddressesCommand(CLI::App& command) {
  auto addresses = std::make_unique<AddressesCommand>();
  AddArgument(command, "NAME", addresses->name, "the name to look up");
  return addresses;
}

}  // namespace telvario::cli
