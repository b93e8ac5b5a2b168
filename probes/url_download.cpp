#include "url_download.h"

#include <memory>
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

bool StartsWithNoCase(const std::string& text, const char* prefix) {
  for (std::size_t i = 0; prefix[i] != '\0'; ++i) {
    if (i >= text.size()) return false;
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != prefix[i]) return false;
  }
  return true;
}

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
    run.lastReadOk =
        InternetReadFile(run.downloadHandle.load(), buffer, kReadSize, &run.lastReadCount);
    run.downloadTotal += run.lastReadCount;
    run.progress.fetch_add(1, std::memory_order_relaxed);
  } while (run.lastReadOk && run.lastReadCount != 0);
  delete[] buffer;
}

bool DeclaredLength(const std::string& url, HINTERNET handle, ULONGLONG* length) {
  if (!StartsWithNoCase(url, "http://") && !StartsWithNoCase(url, "https://")) return false;
  char text[32] = {};
  DWORD size = sizeof text - 1;
  if (!HttpQueryInfoA(handle, HTTP_QUERY_CONTENT_LENGTH, text, &size, nullptr)) return false;
  ULONGLONG value = 0;
  std::size_t digits = 0;
  for (; digits < size && text[digits] >= '0' && text[digits] <= '9'; ++digits) {
    if (value > (~0ULL - 9) / 10) return false;  // no length a body could have
    value = value * 10 + static_cast<ULONGLONG>(text[digits] - '0');
  }
  if (digits == 0) return false;
  *length = value;
  return true;
}

void DownloadRun::Run() {
  HINTERNET handle =
      InternetOpenUrlA(session, urlIsNull ? nullptr : url.c_str(), nullptr, 0, kUrlFlags, 0);
  if (handle == nullptr) return;
  downloadHandle.store(handle);
  if (abandoned.load()) {  // too late: whichever side takes the handle closes it
    if (HINTERNET mine = downloadHandle.exchange(nullptr)) InternetCloseHandle(mine);
    return;
  }
  lengthDeclared = DeclaredLength(url, handle, &declaredLength);
  opened.store(true);
  progress.fetch_add(1);
  elapsed = timer.Time(DrainDownload, this);
}

float DownloadRate(ULONGLONG bytes, double seconds) {
  return static_cast<float>(static_cast<double>(bytes) / seconds * 0.008);
}

HRESULT SondeProbe::get_ReadURL(BSTR URL, float* pVal) {
  // Everything that may fail to allocate comes before anything is opened.
  auto run = std::make_shared<DownloadRun>();
  const NarrowArgument url(URL);
  run->urlIsNull = url.Get() == nullptr;
  if (!run->urlIsNull) run->url = url.Get();
  run->timer = state_.downloadTimer;

  HINTERNET session = InternetOpenA(kAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
  if (session == nullptr) {
    *pVal = kSessionFailed;
    return S_OK;
  }
  LimitNetworkWaits(session);
  run->session = session;
  const GuardedEnd end = RunGuarded(run, kStallLimitMs);
  run->abandoned.store(true);
  if (HINTERNET handle = run->downloadHandle.exchange(nullptr)) InternetCloseHandle(handle);
  InternetCloseHandle(session);

  if (!run->opened.load()) {  // the URL did not open, or not in time: results kept
    *pVal = kUrlFailed;
    return S_OK;
  }
  // A body shorter than its response declared broke off, whatever the reading said.
  const bool complete = end == GuardedEnd::Finished && run->lastReadOk &&
                        (!run->lengthDeclared || run->downloadTotal >= run->declaredLength);
  if (end == GuardedEnd::Finished) state_.downloadTimer = run->timer;
  if (complete) {
    state_.elapsedTime = run->elapsed;
    state_.dataRead = static_cast<LONG>(static_cast<DWORD>(run->downloadTotal));
    // From the whole count: a body of 4 GiB or more must not wrap the rate.
    state_.readRate = DownloadRate(run->downloadTotal, run->elapsed);
  } else {
    state_.readRate = 0.0f;
    state_.dataRead = 0;
    state_.elapsedTime = 0.0;
  }
  *pVal = state_.readRate;
  return S_OK;
}

}  // namespace telvario
