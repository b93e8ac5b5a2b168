#include "url_download.h"

#include <new>

#include "sonde_probe.h"
#include "string_conversion.h"

namespace telvario {
namespace {

constexpr char kAgent[] = "Quorvane Sonde Class";
constexpr DWORD kReadSize = 4096;
constexpr float kSessionFailed = -1.0f;
constexpr float kUrlFailed = -2.0f;

// Fetched from the server every time, and never written to a cache: the component keeps no
// files.
constexpr DWORD kUrlFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE;

}  // namespace

void DrainDownload(void* context) {
  auto& run = *static_cast<DownloadRun*>(context);
  run.downloadTotal = 0;
  run.lastReadCount = 0;
  char* buffer = new (std::nothrow) char[kReadSize + 1];
  if (buffer == nullptr) {  // no reads can take place: the measurement fails
    run.lastReadOk = FALSE;
    return;
  }
  do {
    run.lastReadOk = InternetReadFile(run.downloadHandle, buffer, kReadSize, &run.lastReadCount);
    run.downloadTotal += run.lastReadCount;
  } while (run.lastReadOk && run.lastReadCount != 0);
  delete[] buffer;
}

float DownloadRate(ULONGLONG bytes, double seconds) {
  return static_cast<float>(static_cast<double>(bytes) / seconds * 0.008);
}

HRESULT SondeProbe::get_ReadURL(BSTR URL, float* pVal) {
  const NarrowArgument url(URL);
  HINTERNET session = InternetOpenA(kAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
  if (session == nullptr) {
    *pVal = kSessionFailed;
    return S_OK;
  }
  DownloadRun run;
  run.downloadHandle = InternetOpenUrlA(session, url.Get(), nullptr, 0, kUrlFlags, 0);
  if (run.downloadHandle == nullptr) {
    InternetCloseHandle(session);
    *pVal = kUrlFailed;
    return S_OK;
  }
  const double elapsed = state_.downloadTimer.Time(DrainDownload, &run);
  InternetCloseHandle(run.downloadHandle);
  InternetCloseHandle(session);
  if (run.lastReadOk) {
    state_.elapsedTime = elapsed;
    state_.dataRead = static_cast<LONG>(static_cast<DWORD>(run.downloadTotal));
    // From the whole count: a body of 4 GiB or more must not wrap the rate.
    state_.readRate = DownloadRate(run.downloadTotal, elapsed);
  } else {
    state_.readRate = 0.0f;
    state_.dataRead = 0;
    state_.elapsedTime = 0.0;
  }
  *pVal = state_.readRate;
  return S_OK;
}

}  // namespace telvario
