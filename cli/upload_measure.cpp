#include "upload_measure.h"

#include <CLI/CLI.hpp>
#include <cstdio>
#include <cstring>
#include <memory>

#include "automation_text.h"
#include "commands.h"
#include "option_values.h"
#include "interrupt.h"
#include "progress.h"
#include "result_codes.h"

namespace telvario::cli {
namespace {

// What the answers to the library's message boxes depend on, for the one measurement running.
struct Consent {
  bool assumeYes = false;
  bool asked = false;
  bool agreed = false;
  std::string label;
  std::unique_ptr<Progress> progress;
};
Consent* consent = nullptr;

// Asks on the controlling terminal, which stays a person's even when the output is piped.
bool AskOnTerminal(const char* text, const char* caption) {
  FILE* terminal = std::fopen("/dev/tty", "r+");
  if (terminal == nullptr) return false;
  std::fprintf(terminal, "%s\n%s\nOK or Cancel? [ok/cancel] ", caption != nullptr ? caption : "",
               text);
  std::fflush(terminal);
  char line[64] = {};
  const bool read = std::fgets(line, sizeof line, terminal) != nullptr;
  std::fclose(terminal);
  if (!read) return false;
  line[std::strcspn(line, "\r\n")] = '\0';
  return strcasecmp(line, "ok") == 0 || strcasecmp(line, "y") == 0 || strcasecmp(line, "yes") == 0;
}

int AnswerMessageBox(LPCSTR text, LPCSTR caption, UINT /*type*/) {
  if (consent == nullptr) return IDCANCEL;
  consent->asked = true;
  if (consent->assumeYes) {
    consent->agreed = true;
  } else {
    // Nothing is measured while the question waits: Ctrl-C ends the program there, as before.
    const InterruptsAsBefore asBefore;
    consent->agreed = AskOnTerminal(text, caption);
  }
  if (!consent->agreed) return IDCANCEL;
  // The test starts as soon as the box is closed: from here on the seconds are shown.
  if (!consent->label.empty()) consent->progress = std::make_unique<Progress>(consent->label);
  return IDOK;
}

Consent scopeState;

}  // namespace

ConsentScope::ConsentScope(HMODULE library, bool assumeYes, std::string label)
    : route_(library, AnswerMessageBox, assumeYes) {
  scopeState = Consent{};
  scopeState.assumeYes = assumeYes;
  scopeState.label = std::move(label);
  consent = &scopeState;
}

ConsentScope::~ConsentScope() {
  scopeState.progress.reset();
  consent = nullptr;
}

bool ConsentScope::Refused() const {
  return scopeState.asked && !scopeState.agreed;
}

void MeasureUpload(HMODULE library, ISonde& sonde, Report& report, const std::string& host,
                   bool assumeYes) {
  LONG result = 0;
  bool refused = false;
  {
    const ConsentScope scope(library, assumeYes, "uploading to " + host);
    BSTR text = ToBstr(host);
    sonde.get_UploadTest(text, &result);
    SysFreeString(text);
    refused = scope.Refused();
  }
  report.Add("UploadTest", static_cast<long long>(result));
  if (result >= 0 && refused) {
    report.AddFailure("Failure", "the test was not confirmed, so nothing was sent");
  } else if (const char* failure = ResultCodeText(Measured::Upload, result)) {
    report.AddFailure("Failure", failure);
  }
}

namespace {

class UploadCommand final : public Command {
 public:
  std::string host;
  bool yes = false;

  int Run(Session& session) override {
    Report report;
    MeasureUpload(session.Library(), session.Sonde(), report, host, yes);
    return Finish(report, session);
  }
};

}  // namespace

void AddConsentOption(CLI::App& command, bool& yes) {
  command.add_flag("--yes", yes, "answer the upload's question with OK without asking");
}

std::unique_ptr<Command> AddUploadCommand(CLI::App& command) {
  auto upload = std::make_unique<UploadCommand>();
  AddArgument(command, "HOST", upload->host, "an anonymous FTP server");
  AddConsentOption(command, upload->yes);
  return upload;
}

}  // namespace telvario::cli
