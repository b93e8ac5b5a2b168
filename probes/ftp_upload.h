// The upload measurement: after the user has agreed once per process, a temporary file on an
// anonymous FTP server is written with a fixed block for about five seconds and deleted again,
// and the rate comes back in kilobits per second or as a negative code for the step that
// failed. Every step runs on a guarded worker (stall_guard.h), so that a server that does not
// answer, or takes the bytes too slowly, holds the caller for a bounded time.
#ifndef TELVARIO_PROBES_FTP_UPLOAD_H
#define TELVARIO_PROBES_FTP_UPLOAD_H

#include "windows_api.h"

namespace telvario {

constexpr LONG UPLOAD_SESSION_FAILED = -1;
constexpr LONG UPLOAD_NOT_CONNECTED = -2;
constexpr LONG UPLOAD_FILE_REFUSED = -3;
constexpr LONG UPLOAD_WRITE_FAILED = -4;

constexpr char kUploadAgent[] = "Quorvane";
constexpr char kUploadPrompt[] =
    "Click OK to start the bandwidth upload test.\nRandomly generated data is used to test the "
    "link.";
constexpr DWORD kUploadConnectLimitMs = 8000;
constexpr DWORD kUploadBlockSize = 4096;
constexpr int kUploadWritesPerBurst = 12;
constexpr DWORD kUploadBurstBytes = kUploadBlockSize * kUploadWritesPerBurst;
constexpr DWORD kUploadDurationUs = 5000000;
// A burst still writing this long after the timed writes began is cut short: the link could not
// take the test's bytes in a bounded time, so no rate would be honest.
constexpr DWORD kUploadCutMs = 10000;

// The 4096 bytes every test writes: the runtime library's generator seeded with 1, low 8 bits
// of each number.
void FillUploadPattern(BYTE* pattern);

// The test itself, for a narrow host name (null allowed): the rate or a negative code.
LONG RunUploadTest(const char* host);

// Kilobits per second (bits per millisecond) for the bytes sent in the elapsed microseconds,
// computed without overflow and held to the range of the result.
LONG UploadRate(ULONGLONG bytesSent, DWORD elapsedMicroseconds);

// Whether this process has had the user's consent.
bool UploadConfirmed();

// Asks for the user's consent to send upload test data, once per process: the message box with
// `caption` (null: the system's own), until it is answered OK. Whether the upload may go.
bool AskUploadConsent(const char* caption);

}  // namespace telvario

#endif
