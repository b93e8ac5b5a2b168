#include "download_measure.h"

#include "automation_text.h"
#include "progress.h"

namespace telvario::cli {
namespace {

const char* DownloadFailure(float rate, LONG dataRead, double elapsed) {
  if (rate == -1.0f) return "no Internet session could be opened";
  if (rate == -2.0f) return "the URL could not be opened";
  // What a failed read leaves; an empty body that arrived whole has its time.
  if (rate == 0.0f && dataRead == 0 && elapsed == 0.0) {
    return "the body did not arrive whole (the transfer broke off, stalled or came short)";
  }
  return nullptr;
}

}  // namespace

void MeasureDownload(ISonde& sonde, Report& report, const std::string& url) {
  BSTR text = ToBstr(url);
  float rate = 0;
  {
    Progress progress("downloading " + url);
    sonde.get_ReadURL(text, &rate);
  }
  SysFreeString(text);
  LONG dataRead = 0;
  double elapsed = 0;
  sonde.get_DataRead(&dataRead);
  sonde.get_ElapsedTime(&elapsed);
  report.Add("ReadURL", static_cast<double>(rate));
  if (const char* failure = DownloadFailure(rate, dataRead, elapsed)) {
    report.Add("Failure", std::string(failure));
  }
  report.Add("DataRead", static_cast<long long>(dataRead));
  report.Add("ElapsedTime", elapsed);
}

}  // namespace telvario::cli
