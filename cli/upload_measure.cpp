#include "upload_measure.h"

#include <cstdio>
#include <cstring>
#include <memory>

#include "automation_text.h"
#include "interrupt.h"
#include "progress.h"

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

const char* UploadFailure(LONG result) {
  switch (result) {
    case -1:
      return "no Internet session could be opened";
    case -2:
      return "no anonymous FTP login within 8 s (no answer, unknown name or refused)";
    case -3:
      return "the server would not create a file in /temp";
    case -4:
      return "the transfer broke off during the test";
    default:
      return nullptr;
  }
}

// Exported by the posix library; on Windows the system's own box asks.
using Answer = int (*)(LPCSTR text, LPCSTR caption, UINT type);
using SetHandlerFn = Answer (*)(Answer);

SetHandlerFn HandlerSetter(HMODULE library) {
  return reinterpret_cast<SetHandlerFn>(
      reinterpret_cast<void*>(GetProcAddress(library, "SetMessageBoxHandler")));
}

Consent scopeState;
HMODULE scopeLibrary = nullptr;

}  // namespace

ConsentScope::ConsentScope(HMODULE library, bool assumeYes, std::string label) {
  scopeState = Consent{};
  scopeState.assumeYes = assumeYes;
  scopeState.label = std::move(label);
  consent = &scopeState;
  scopeLibrary = library;
  if (const SetHandlerFn setHandler = HandlerSetter(library)) setHandler(AnswerMessageBox);
}

ConsentScope::~ConsentScope() {
  scopeState.progress.reset();
  if (const SetHandlerFn setHandler = HandlerSetter(scopeLibrary)) setHandler(nullptr);
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
    report.Add("Failure", std::string("the test was not confirmed, so nothing was sent"));
  } else if (const char* failure = UploadFailure(result)) {
    report.Add("Failure", std::string(failure));
  }
}

}  // namespace telvario::cli
