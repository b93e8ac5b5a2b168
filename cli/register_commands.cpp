// `telvario register` and `telvario unregister`: what regsvr32 and regsvr32 /u do, through the
// library's own entry points.
#include <CLI/CLI.hpp>
#include <cstdio>

#include "commands.h"
#include "run_output.h"

namespace telvario::cli {
namespace {

class RegisterCommand final : public Command {
 public:
  explicit RegisterCommand(const char* entry) : entry_(entry) {}

  int Run(Session& session) override {
    using RegisterFn = HRESULT(STDAPICALLTYPE*)();
    const auto entry = reinterpret_cast<RegisterFn>(
        reinterpret_cast<void*>(GetProcAddress(session.Library(), entry_)));
    const HRESULT result = entry != nullptr ? entry() : E_FAIL;
    char code[16];
    std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned int>(result));
    Report report;
    report.Add(entry_, std::string(code));
    PrintReport(report, session.Options().json);
    return FAILED(result) ? kFailed : kMeasured;
  }

 private:
  const char* entry_;
};

}  // namespace

std::unique_ptr<Command> AddRegisterCommand(CLI::App& /*command*/) {
  return std::make_unique<RegisterCommand>("DllRegisterServer");
}

std::unique_ptr<Command> AddUnregisterCommand(CLI::App& /*command*/) {
  return std::make_unique<RegisterCommand>("DllUnregisterServer");
}

}  // namespace telvario::cli
