#include "url_download.h"

#include "sonde_probe.h"
#include "string_conversion.h"
#include "url_opening.h"
#include "web_address.h"

namespace telvario {
namespace {

constexpr char kAgent[] = "Quorvane Sonde Class";
constexpr DWORD kReadSize = 64 * 1024;
constexpr float kSessionFailed = -1.0f;
constexpr float kUrlFailed = -2.0f;

}  // namespace

// Reads to the end of the body, or to its declared length: bytes past that are not the body.
// Only their count is measured, so they are dropped as they come. A transfer that brings less
// than 4 KiB in the stall limit has stalled, whatever the platform's own time-out would say (it
// only counts a wait for nothing at all).
void DownloadRun::DrainDownload(void* context) {
  auto& run = *static_cast<DownloadRun*>(context);
  DownloadOutcome& outcome = run.outcome_;
  outcome.total = 0;
  outcome.lastReadOk = FALSE;
  StallWatch watch(run);
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
    outcome.lastReadOk = DiscardInternetData(run.body_, wanted, &count);
    outcome.total += count;
    if (!outcome.lastReadOk || count == 0) break;
    watch.Moved(count);
    if (watch.Stalled() || run.Abandoned()) {
      outcome.lastReadOk = FALSE;
      break;
    }
  }
}

void DownloadRun::Run() {
  // Over http and https the request is made so that its time-outs hold on every WinINet (Wine
  // applies none to a URL opened whole): a server that stalls for good ends the worker's wait
  // by itself, and a worker the caller gave up on still ends.
  WebAddress final;
  body_ = address_.IsHttp() ? GetFollowingRedirects(session_, address_, RequestLimits{}, &final)
                            : OpenFollowingRedirects(session_, address_, &final);
  if (body_ == nullptr) return;
  if (final.IsHttp()) lengthDeclared_ = DeclaredLength(body_, &declaredLength_);
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
    // An address that cannot be fetched fails before anything is sent; what is sent is the
    // address as read and checked, never the caller's text itself.
    WebAddress address;
    fetchable = url.Get() != nullptr && !url.HasEmbeddedNul() &&
                ParseWebAddress(url.Get(), &address) &&
                (address.IsHttp() || address.scheme == "ftp");
    run = NewWork<DownloadRun>(fetchable ? address : WebAddress{}, state_.downloadTimer);
  } catch (const std::bad_alloc&) {
    run = nullptr;
  }
  HINTERNET session =
      run == nullptr ? nullptr
                     : InternetOpenA(kAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
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
