#include "download_measure.h"

#include <CLI/CLI.hpp>

#include "automation_text.h"
#include "commands.h"
#include "option_values.h"
#include "progress.h"
#include "result_codes.h"
#include "url_text.h"

namespace telvario::cli {
namespace {

const char* DownloadFailure(float rate, LONG dataRead, double elapsed) {
  if (const char* known = ResultCodeText(Measured::Download, rate)) return known;
  // What a failed read leaves; an empty body that arrived whole has its time.
  if (rate == 0.0f && dataRead == 0 && elapsed == 0.0) {
    return "the body did not arrive whole (the transfer broke off, stalled or came short)";
  }
  return nullptr;
}

class DownloadCommand final : public Command {
 public:
  std::string url;

  int Run(Session& session) override {
    Report report;
    MeasureDownload(session.Sonde(), report, url);
    return Finish(report, session);
  }
};

}  // namespace

void MeasureDownload(ISonde& sonde, Report& report, const std::string& url) {
  BSTR text = ToBstr(url);
  float rate = 0;
  {
    Progress progress("downloading " + WithoutUserinfo(url));
    sonde.get_ReadURL(text, &rate);
  }
  SysFreeString(text);
  LONG dataRead = 0;
  double elapsed = 0;
  sonde.get_DataRead(&dataRead);
  sonde.get_ElapsedTime(&elapsed);
  report.Add("ReadURL", static_cast<double>(rate));
  if (const char* failure = DownloadFailure(rate, dataRead, elapsed)) {
    report.AddFailure("Failure", failure);
  }
  report.Add("DataRead", static_cast<long long>(dataRead));
  report.Add("ElapsedTime", elapsed);
}

std::unique_ptr<Command> AddDownloadCommand(CLI::App& command) {
  auto download = std::make_unique<DownloadCommand>();
  AddArgument(command, "URL", download->url, "an http or https URL");
  return download;
}

}  // namespace telvario::cli
