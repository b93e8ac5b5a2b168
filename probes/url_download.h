// The download measurement: one URL's response body read in 4096-byte pieces under the object's
// precision timer. The blocking calls run on a guarded worker (stall_guard.h), so that a server
// that stalls holds the caller for a bounded time on any WinINet; redirects are followed here,
// the same way on every platform.
#ifndef TELVARIO_PROBES_URL_DOWNLOAD_H
#define TELVARIO_PROBES_URL_DOWNLOAD_H

#include <atomic>
#include <string>

#include "interval_timers.h"
#include "url_opening.h"
#include "web_address.h"
#include "windows_api.h"

namespace telvario {

// What a download found, read by the caller once the work has finished.
struct DownloadOutcome {
  bool opened = false;      // the final response came, and its body was read
  ULONGLONG total = 0;      // the whole count; DataRead shows its low 32 bits
  BOOL lastReadOk = FALSE;  // the body ended where it should
  double elapsed = 0;
};

// One measurement: the worker opens the URL on the session it is given, follows redirects, and
// reads the body under the lent timer.
class DownloadRun final : public UrlWork {
 public:
  DownloadRun(WebAddress address, const PrecisionTimer& timer)
      : address_(std::move(address)), timer_(timer) {}
  // The session to open the URL on, from then on the work's.
  void UseSession(HINTERNET session) { session_ = Own(session); }

  const DownloadOutcome& Outcome() const { return outcome_; }
  const PrecisionTimer& Timer() const { return timer_; }
  // Whether the body was being read: a give-up then fails the read rather than the open.
  bool Reading() const { return reading_.load(); }

 private:
  void Run() override;
  static void DrainDownload(void* run);

  const WebAddress address_;
  HINTERNET session_ = nullptr;
  PrecisionTimer timer_;
  HINTERNET body_ = nullptr;
  bool lengthDeclared_ = false;
  ULONGLONG declaredLength_ = 0;
  std::atomic<bool> reading_{false};
  DownloadOutcome outcome_;
};

// Kilobits per second for a byte count read in the given seconds.
float DownloadRate(ULONGLONG bytes, double seconds);

}  // namespace telvario

#endif
