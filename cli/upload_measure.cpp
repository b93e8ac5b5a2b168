#include "upload_measure.h"

#include <cstdio>
#include <cstring>
#include <memory>

#include "automation_text.h"
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
  consent->agreed = consent->assumeYes || AskOnTerminal(text, caption);
  if (!consent->agreed) return IDCANCEL;
  // The test starts as soon as the box is closed: from here on the seconds are shown.
  consent->progress = std::make_unique<Progress>(consent->label);
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

}  // namespace

void MeasureUpload(HMODULE library, ISonde& sonde, Report& report, const std::string& host,
                   bool assumeYes) {
  // Exported by the posix library; on Windows the system's own box asks.
  using Answer = int (*)(LPCSTR text, LPCSTR caption, UINT type);
  using SetHandlerFn = Answer (*)(Answer);
  const auto setHandler = reinterpret_cast<SetHandlerFn>(
      reinterpret_cast<void*>(GetProcAddress(library, "SetMessageBoxHandler")));
  Consent state;
  state.assumeYes = assumeYes;
  state.label = "uploading to " + host;
  consent = &state;
  if (setHandler != nullptr) setHandler(AnswerMessageBox);

  BSTR text = ToBstr(host);
  LONG result = 0;
  sonde.get_UploadTest(text, &result);
  SysFreeString(text);
  state.progress.reset();
  if (setHandler != nullptr) setHandler(nullptr);
  consent = nullptr;

  report.Add("UploadTest", static_cast<long long>(result));
  if (result >= 0 && state.asked && !state.agreed) {
    report.Add("Failure", std::string("the test was not confirmed, so nothing was sent"));
  } else if (const char* failure = UploadFailure(result)) {
    report.Add("Failure", std::string(failure));
  }
}

}  // namespace telvario::cli
