#include "url_download.h"

#include <new>
#include <vector>

#include "sonde_probe.h"
#include "string_conversion.h"
#include "web_address.h"

namespace telvario {
namespace {

constexpr char kAgent[] = "Quorvane Sonde Class";
constexpr DWORD kReadSize = 4096;
constexpr float kSessionFailed = -1.0f;
constexpr float kUrlFailed = -2.0f;

// Fetched from the server every time, and never written to a cache: the component keeps no
// files. Redirects are followed by the component, so that every platform follows the same.
constexpr DWORD kUrlFlags =
    INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_AUTO_REDIRECT;

bool IsRedirect(DWORD status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// The Location of a redirect response; false for any other response.
bool RedirectLocation(HINTERNET handle, std::string* location) {
  DWORD status = 0;
  DWORD size = sizeof status;
  if (!HttpQueryInfoA(handle, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size,
                      nullptr) ||
      !IsRedirect(status)) {
    return false;
  }
  std::vector<char> text(1024);
  for (int attempt = 0; attempt < 2; ++attempt) {
    size = static_cast<DWORD>(text.size());
    if (HttpQueryInfoA(handle, HTTP_QUERY_LOCATION, text.data(), &size, nullptr)) {
      location->assign(text.data(), size);
      return !location->empty();
    }
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return false;
    text.resize(size + 1);
  }
  return false;
}

// The body length an http or https response declared (Content-Length); false for none.
bool DeclaredLength(HINTERNET handle, ULONGLONG* length) {
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

}  // namespace

HINTERNET DownloadRun::OpenFollowingRedirects() {
  std::string current = url_;
  for (int redirects = 0;; ++redirects) {
    if (Abandoned()) return nullptr;  // no request once the caller has returned
    BeginStep(INFINITE, CurrentGuardLimits().GiveUpMs());
    HINTERNET handle =
        Own(InternetOpenUrlA(session_, current.c_str(), nullptr, 0, kUrlFlags, 0));
    if (handle == nullptr) return nullptr;
    std::string location;
    if (!IsHttpAddress(current) || !RedirectLocation(handle, &location)) {
      if (IsHttpAddress(current)) lengthDeclared_ = DeclaredLength(handle, &declaredLength_);
      return handle;
    }
    Close(handle);  // a redirect's own body is not the measurement's
    std::string next;
    if (redirects == kMostRedirects || !ResolveReference(current, location, &next) ||
        !IsHttpAddress(next)) {
      return nullptr;
    }
    current = std::move(next);
  }
}

// Reads to the end of the body, or to its declared length: bytes past that are not the body.
// A read that brings less than 4 KiB in the stall limit has stalled, whatever the platform's
// own time-out would say (it only counts a wait for nothing at all).
void DownloadRun::DrainDownload(void* context) {
  auto& run = *static_cast<DownloadRun*>(context);
  DownloadOutcome& outcome = run.outcome_;
  outcome.total = 0;
  outcome.lastReadOk = FALSE;
  char* buffer = new (std::nothrow) char[kReadSize + 1];
  if (buffer == nullptr) return;  // no reads can take place: the measurement fails
  const DWORD stallMs = CurrentGuardLimits().stallMs;
  ULONGLONG mark = 0;
  DWORD markTick = GetTickCount();
  for (;;) {
    DWORD wanted = kReadSize;
    if (run.lengthDeclared_) {
      if (outcome.total >= run.declaredLength_) {
        outcome.lastReadOk = TRUE;
        break;
      }
      if (run.declaredLength_ - outcome.total < wanted) {
        wanted = static_cast<DWORD>(run.declaredLength_ - outcome.total);
      }
    }
    DWORD count = 0;
    outcome.lastReadOk = InternetReadFile(run.body_, buffer, wanted, &count);
    outcome.total += count;
    if (!outcome.lastReadOk || count == 0) break;
    const DWORD now = GetTickCount();
    if (outcome.total - mark >= kReadSize) {
      mark = outcome.total;
      markTick = now;
      run.Progressed();
    } else if (now - markTick >= stallMs || run.Abandoned()) {
      outcome.lastReadOk = FALSE;
      break;
    }
  }
  delete[] buffer;
}

void DownloadRun::Run() {
  body_ = OpenFollowingRedirects();
  if (body_ == nullptr) return;
  reading_.store(true);
  BeginStep(INFINITE, CurrentGuardLimits().GiveUpMs());
  outcome_.elapsed = timer_.Time(DrainDownload, this);
  // A body shorter than its response declared broke off, whatever the reading said.
  if (lengthDeclared_ && outcome_.total < declaredLength_) outcome_.lastReadOk = FALSE;
  outcome_.opened = true;
}

float DownloadRate(ULONGLONG bytes, double seconds) {
  return static_cast<float>(static_cast<double>(bytes) / seconds * 0.008);
}

HRESULT SondeProbe::get_ReadURL(BSTR URL, float* pVal) {
  // Everything that may fail to allocate comes first: short of memory, the measurement cannot
  // start, as when no session can be opened.
  WorkPtr<DownloadRun> run;
  bool fetchable = false;
  try {
    const NarrowArgument url(URL);
    // An address that cannot be fetched fails before anything is sent.
    fetchable = url.Get() != nullptr && IsFetchable(url.Get());
    run = NewWork<DownloadRun>(std::string(fetchable ? url.Get() : ""), state_.downloadTimer);
  } catch (const std::bad_alloc&) {
    run = nullptr;
  }
  HINTERNET session = run == nullptr ? nullptr
                                     : InternetOpenA(kAgent, INTERNET_OPEN_TYPE_PRECONFIG,
                                                     nullptr, nullptr, 0);
  if (session == nullptr) {
    *pVal = kSessionFailed;
    return S_OK;
  }
  LimitNetworkWaits(session);
  run->UseSession(session);
  if (!fetchable) {
    *pVal = kUrlFailed;
    return S_OK;
  }
  const GuardedEnd end = RunGuarded(*run);
  // Given up while the body was being read: a failed read. Otherwise, unless the work ran to
  // its end, the URL did not open, or not in time, and the results are kept.
  const bool readFailed = end == GuardedEnd::GaveUp && run->Reading();
  if (!readFailed && (end != GuardedEnd::Finished || !run->Outcome().opened)) {
    *pVal = kUrlFailed;
    return S_OK;
  }
  // The timer comes back with its calibration from a worker that has finished with it.
  if (!readFailed) state_.downloadTimer = run->Timer();
  if (!readFailed && run->Outcome().lastReadOk) {
    const DownloadOutcome& outcome = run->Outcome();
    state_.elapsedTime = outcome.elapsed;
    state_.dataRead = static_cast<LONG>(static_cast<DWORD>(outcome.total));
    // From the whole count: a body of 4 GiB or more must not wrap the rate.
    state_.readRate = DownloadRate(outcome.total, outcome.elapsed);
  } else {
    state_.readRate = 0.0f;
    state_.dataRead = 0;
    state_.elapsedTime = 0.0;
  }
  *pVal = state_.readRate;
  return S_OK;
}

}  // namespace telvario
