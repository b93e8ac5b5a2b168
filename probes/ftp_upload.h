// The upload measurement: after the user has agreed once per process, a temporary file on an
// anonymous FTP server is written with a fixed block for about five seconds and deleted again,
// and the rate comes back in kilobits per second or as a negative code for the step that
// failed. The login runs on a worker thread, so that a server that does not answer cannot hold
// the caller longer than the limits below.
#ifndef TELVARIO_PROBES_FTP_UPLOAD_H
#define TELVARIO_PROBES_FTP_UPLOAD_H

#include <atomic>
#include <string>

#include "stall_guard.h"
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
constexpr DWORD kUploadWorkerGraceMs = 10000;
constexpr DWORD kUploadBlockSize = 4096;
constexpr int kUploadWritesPerBurst = 12;
constexpr DWORD kUploadBurstBytes = kUploadBlockSize * kUploadWritesPerBurst;
constexpr DWORD kUploadDurationUs = 5000000;

// One test's state. The worker reads the names and the session and writes the connection;
// when the test has to leave a worker running, the worker owns the context from then on.
struct FtpUploadContext {
  std::string serverCopy;  // what serverName points into, for as long as the context lives
  const char* serverName = nullptr;
  const char* userName = nullptr;
  const char* password = nullptr;
  std::atomic<HINTERNET> sessionHandle{nullptr};
  HINTERNET connectionHandle = nullptr;
  HINTERNET fileHandle = nullptr;
  bool writesOk = false;
  ULONGLONG bytesSent = 0;
  // Set by AbandonConnect when the worker could be neither waited for nor ended.
  bool workerLeftRunning = false;
  // Marked by the worker when it ends and by a test that leaves it running: whichever comes
  // second frees the context.
  volatile LONG handedOver = 0;
  // Counted up by every write that went through, for a guard that watches the writes.
  std::atomic<ULONGLONG>* writeProgress = nullptr;
  BYTE pattern[kUploadBlockSize] = {};
};

// The timed bursts of one test, on a guarded worker (stall_guard.h): a data connection that
// takes nothing holds the caller for a bounded time on any WinINet. The bursts have a context of
// their own (the file handle and the pattern copied into it), so that a worker left running
// writes into nothing the test has let go.
struct UploadBursts final : GuardedWork {
  FtpUploadContext context;
  DWORD elapsedMicroseconds = 0;
  // Writes bursts until one fails or five seconds have passed, under a stopwatch.
  void Run() override;
};

// The 4096 bytes every test writes: the runtime library's generator seeded with 1, low 8 bits
// of each number.
void FillUploadPattern(BYTE* pattern);

// The test itself, for a narrow host name (null allowed): the rate or a negative code.
LONG RunUploadTest(const char* host);

using UploadTimeoutHandler = void (*)(HANDLE thread, FtpUploadContext* context);
// Runs `routine` on a new thread and waits up to `limitMs`; on a time-out calls `onTimeout`.
// True only when the thread ended in time with exit code 0.
bool RunWithTimeout(LPTHREAD_START_ROUTINE routine, FtpUploadContext* context, DWORD limitMs,
                    UploadTimeoutHandler onTimeout);
DWORD WINAPI ConnectWorker(LPVOID context);
void AbandonConnect(HANDLE thread, FtpUploadContext* context);
// The last step of a worker, with the connection it made (or null): its exit code, or 1 after
// freeing the context when the test has already returned without it.
DWORD FinishWorker(FtpUploadContext* context, HINTERNET connection);
// The test's side after the connection step failed: closes the session unless AbandonConnect
// did, and frees the context unless a worker still running takes it over. Gives -2.
LONG GiveUpConnecting(FtpUploadContext* context);
void WriteBurst(FtpUploadContext* context);
// After bursts that could not be ended, their connection may still be busy with the transfer:
// the file is deleted through a login of its own.
void DeleteThroughNewLogin(const char* host, const char* remoteName);

// Kilobits per second (bits per millisecond) for the bytes sent in the elapsed microseconds,
// computed without overflow and held to the range of the result.
LONG UploadRate(ULONGLONG bytesSent, DWORD elapsedMicroseconds);

// Whether this process has had the user's consent.
bool UploadConfirmed();

}  // namespace telvario

#endif
