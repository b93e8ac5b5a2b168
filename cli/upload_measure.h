// The client's upload measurement, UploadTest, with the component's consent prompt answered on
// the terminal (or in advance with --yes).
#ifndef TELVARIO_CLI_UPLOAD_MEASURE_H
#define TELVARIO_CLI_UPLOAD_MEASURE_H

#include <string>

#include "windows_api.h"

#include "command.h"
#include "prompt_route.h"

#include "report.h"
#include "telvario_idl.h"

namespace telvario::cli {

// While it lives, the library's consent prompt is answered by this process: OK when
// `assumeYes`, otherwise by asking on the terminal; with no terminal, Cancel. On Windows the
// system's box asks unless `assumeYes`. Once OK is given, the seconds of the measurement under
// `label` are shown on a terminal (none for an empty label: the measurement shows its own
// progress).
class ConsentScope {
 public:
  ConsentScope(HMODULE library, bool assumeYes, std::string label);
  ~ConsentScope();
  ConsentScope(const ConsentScope&) = delete;
  ConsentScope& operator=(const ConsentScope&) = delete;
  // Whether the prompt was shown and not answered OK.
  bool Refused() const;

 private:
  PromptRoute route_;
};

// Measures the upload rate to the FTP server `host` and reports it, or what went wrong. The
// library's message boxes are answered by this process while it runs: OK when `assumeYes`,
// otherwise by asking on the terminal; with no terminal, Cancel.
void MeasureUpload(HMODULE library, ISonde& sonde, Report& report, const std::string& host,
                   bool assumeYes);

// --yes, on the line of a command that may upload.
void AddConsentOption(CLI::App& command, bool& yes);

}  // namespace telvario::cli

#endif
