// The download measurement: one URL's response body read in 4096-byte pieces under the object's
// precision timer. The blocking calls run on a guarded worker (stall_guard.h), so that a server
// that stalls holds the caller for a bounded time on any WinINet.
#ifndef TELVARIO_PROBES_URL_DOWNLOAD_H
#define TELVARIO_PROBES_URL_DOWNLOAD_H

#include <atomic>
#include <string>

#include "interval_timers.h"
#include "stall_guard.h"
#include "windows_api.h"

namespace telvario {

// One measurement, shared by the caller and the worker that opens the URL and reads it, so
// that measurements on several threads at once keep apart and a worker left running has what
// it uses. The caller closes the handles; the worker only opens the URL.
struct DownloadRun final : GuardedWork {
  std::string url;
  bool urlIsNull = false;
  HINTERNET session = nullptr;
  std::atomic<HINTERNET> downloadHandle{nullptr};
  std::atomic<bool> opened{false};     // the URL opened, and its body is being read
  std::atomic<bool> abandoned{false};  // the caller stopped waiting
  PrecisionTimer timer;                // the object's, lent for the measurement
  bool lengthDeclared = false;
  ULONGLONG declaredLength = 0;
  ULONGLONG downloadTotal = 0;  // the whole count; DataRead shows its low 32 bits
  DWORD lastReadCount = 0;
  BOOL lastReadOk = FALSE;
  double elapsed = 0;

  // Opens the URL, then reads its body under the timer.
  void Run() override;
};

// Reads the run's handle to its end; the routine handed to PrecisionTimer::Time.
void DrainDownload(void* run);

// The body length an http or https response declared (Content-Length); false for none.
bool DeclaredLength(const std::string& url, HINTERNET handle, ULONGLONG* length);

// Kilobits per second for a byte count read in the given seconds.
float DownloadRate(ULONGLONG bytes, double seconds);

}  // namespace telvario

#endif
