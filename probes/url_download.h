// The download measurement: one URL's response body read in 4096-byte pieces under the object's
// precision timer.
#ifndef TELVARIO_PROBES_URL_DOWNLOAD_H
#define TELVARIO_PROBES_URL_DOWNLOAD_H

#include "windows_api.h"

namespace telvario {

// What the timed read routine works on and leaves behind, one per measurement, so that
// measurements on several threads at once keep apart.
struct DownloadRun {
  HINTERNET downloadHandle = nullptr;
  ULONGLONG downloadTotal = 0;  // the whole count; DataRead shows its low 32 bits
  DWORD lastReadCount = 0;
  BOOL lastReadOk = FALSE;
};

// Reads the run's handle to its end; the routine handed to PrecisionTimer::Time.
void DrainDownload(void* run);

// Kilobits per second for a byte count read in the given seconds.
float DownloadRate(ULONGLONG bytes, double seconds);

}  // namespace telvario

#endif
