#include "ftp_upload.h"

#include <cstring>
#include <limits>
#include <memory>
#include <new>

#include "interval_timers.h"
#include "sonde_probe.h"
#include "string_conversion.h"

namespace telvario {
namespace {

std::atomic<bool> uploadConfirmed{false};

constexpr UINT kPromptStyle = MB_OKCANCEL | MB_ICONINFORMATION;

// Gives back the connection a worker made and the context itself.
void FreeContext(FtpUploadContext* context) {
  if (context->connectionHandle != nullptr) InternetCloseHandle(context->connectionHandle);
  delete context;
}

}  // namespace

void FillUploadPattern(BYTE* pattern) {
  RuntimeSeedRandom(1);
  for (DWORD i = 0; i < kUploadBlockSize; ++i) pattern[i] = static_cast<BYTE>(RuntimeRandom());
}

bool UploadConfirmed() {
  return uploadConfirmed.load();
}

LONG UploadRate(ULONGLONG bytesSent, DWORD elapsedMicroseconds) {
  const ULONGLONG milliseconds = elapsedMicroseconds / 1000;
  if (milliseconds == 0) return 0;
  const ULONGLONG rate = bytesSent * 8 / milliseconds;  // bytes below 2^60: no overflow
  constexpr auto kMax = static_cast<ULONGLONG>(std::numeric_limits<LONG>::max());
  return static_cast<LONG>(rate < kMax ? rate : kMax);
}

LONG GiveUpConnecting(FtpUploadContext* context) {
  HINTERNET session = context->sessionHandle.exchange(nullptr);
  if (session != nullptr) InternetCloseHandle(session);
  if (context->workerLeftRunning && InterlockedExchange(&context->handedOver, 1) == 0) {
    return UPLOAD_NOT_CONNECTED;  // the worker frees it when it ends
  }
  FreeContext(context);
  return UPLOAD_NOT_CONNECTED;
}

bool RunWithTimeout(LPTHREAD_START_ROUTINE routine, FtpUploadContext* context, DWORD limitMs,
                    UploadTimeoutHandler onTimeout) {
  HANDLE thread = CreateThread(nullptr, 0, routine, context, 0, nullptr);
  if (thread == nullptr) return false;
  bool ended = false;
  // A wait that fails is taken as a time-out: the worker may still be running.
  if (WaitForSingleObject(thread, limitMs) != WAIT_OBJECT_0) {
    onTimeout(thread, context);
  } else {
    DWORD exitCode = 1;
    ended = GetExitCodeThread(thread, &exitCode) && exitCode == 0;
  }
  CloseHandle(thread);
  return ended;
}

DWORD WINAPI ConnectWorker(LPVOID parameter) {
  auto* context = static_cast<FtpUploadContext*>(parameter);
  HINTERNET connection = InternetConnectA(context->sessionHandle.load(), context->serverName,
                                          INTERNET_INVALID_PORT_NUMBER, context->userName,
                                          context->password, INTERNET_SERVICE_FTP, 0, 0);
  return FinishWorker(context, connection);
}

DWORD FinishWorker(FtpUploadContext* context, HINTERNET connection) {
  context->connectionHandle = connection;
  if (InterlockedExchange(&context->handedOver, 1) != 0) {
    FreeContext(context);  // the test has returned without this worker
    return 1;
  }
  return connection == nullptr ? 1 : 0;
}

void AbandonConnect(HANDLE thread, FtpUploadContext* context) {
  HINTERNET session = context->sessionHandle.exchange(nullptr);
  if (session != nullptr) InternetCloseHandle(session);  // fails a login in progress
  if (WaitForSingleObject(thread, kUploadWorkerGraceMs) != WAIT_OBJECT_0 &&
      !TerminateThread(thread, 1)) {
    context->workerLeftRunning = true;
  }
}

void WriteBurst(FtpUploadContext* context) {
  for (int i = 0; i < kUploadWritesPerBurst; ++i) {
    DWORD written = 0;
    if (!InternetWriteFile(context->fileHandle, context->pattern, kUploadBlockSize, &written) ||
        written < kUploadBlockSize) {
      context->writesOk = false;
      break;
    }
    if (context->writeProgress != nullptr) {
      context->writeProgress->fetch_add(1, std::memory_order_relaxed);
    }
  }
  // A burst that ended early ends the test without a rate, so the count stays exact.
  context->bytesSent += kUploadBurstBytes;
}

void UploadBursts::Run() {
  context.writesOk = true;
  context.bytesSent = 0;
  context.writeProgress = &progress;  // a slow link moves on with every block, not every burst
  Stopwatch stopwatch;
  stopwatch.Start();
  do {
    WriteBurst(&context);
  } while (context.writesOk && stopwatch.ElapsedMicroseconds() < kUploadDurationUs);
  stopwatch.Stop();
  elapsedMicroseconds = stopwatch.ElapsedMicroseconds();
}

void DeleteThroughNewLogin(const char* host, const char* remoteName) {
  if (host == nullptr) return;
  // The context may outlive this call with its worker, and the host with it.
  std::unique_ptr<FtpUploadContext> owned;
  try {
    owned = std::make_unique<FtpUploadContext>();
    owned->serverCopy = host;
  } catch (const std::bad_alloc&) {
    return;  // the deletion is a courtesy; the test's result stands
  }
  owned->serverName = owned->serverCopy.c_str();
  HINTERNET session = InternetOpenA(kUploadAgent, INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
  if (session == nullptr) return;
  LimitNetworkWaits(session);
  FtpUploadContext* context = owned.release();  // from here freed as in the test itself
  context->sessionHandle = session;
  if (!RunWithTimeout(ConnectWorker, context, kUploadConnectLimitMs, AbandonConnect)) {
    GiveUpConnecting(context);
    return;
  }
  FtpDeleteFileA(context->connectionHandle, remoteName);
  InternetCloseHandle(context->connectionHandle);
  InternetCloseHandle(session);
  delete context;
}

LONG RunUploadTest(const char* host) {
  // The host's copy is made before anything is opened, so that its failure leaves nothing open.
  auto owned = std::make_unique<FtpUploadContext>();
  if (host != nullptr) {
    owned->serverCopy = host;
    owned->serverName = owned->serverCopy.c_str();
  }
  FillUploadPattern(owned->pattern);
  auto bursts = std::make_shared<UploadBursts>();
  HINTERNET session = InternetOpenA(kUploadAgent, INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
  if (session == nullptr) return UPLOAD_SESSION_FAILED;
  LimitNetworkWaits(session);
  FtpUploadContext* context = owned.release();  // from here the test or its worker frees it
  context->sessionHandle = session;
  if (!RunWithTimeout(ConnectWorker, context, kUploadConnectLimitMs, AbandonConnect)) {
    return GiveUpConnecting(context);
  }

  char remoteName[32] = {};
  wsprintfA(remoteName, "/temp/%08lx.tmp", GetTickCount());
  context->fileHandle = FtpOpenFileA(context->connectionHandle, remoteName, GENERIC_WRITE,
                                     FTP_TRANSFER_TYPE_UNKNOWN, 0);
  if (context->fileHandle == nullptr) {
    InternetCloseHandle(context->connectionHandle);
    InternetCloseHandle(session);
    delete context;
    return UPLOAD_FILE_REFUSED;
  }

  bursts->context.fileHandle = context->fileHandle;
  std::memcpy(bursts->context.pattern, context->pattern, kUploadBlockSize);
  const GuardedEnd end = RunGuarded(bursts, kStallLimitMs);

  // Closed and deleted whether the writes succeeded or not; a file whose writes stalled may
  // still be held by its transfer.
  InternetCloseHandle(context->fileHandle);
  if (!FtpDeleteFileA(context->connectionHandle, remoteName) && end == GuardedEnd::Stalled) {
    DeleteThroughNewLogin(context->serverName, remoteName);
  }
  InternetCloseHandle(context->connectionHandle);
  InternetCloseHandle(session);
  delete context;
  if (end == GuardedEnd::Stalled || !bursts->context.writesOk) return UPLOAD_WRITE_FAILED;
  return UploadRate(bursts->context.bytesSent, bursts->elapsedMicroseconds);
}

HRESULT SondeProbe::get_UploadTest(BSTR Host, LONG* pVal) {
  *pVal = 0;
  const NarrowArgument host(Host);
  if (!uploadConfirmed.load()) {
    if (MessageBoxA(nullptr, kUploadPrompt, host.Get(), kPromptStyle) != IDOK) return S_OK;
    uploadConfirmed.store(true);
  }
  *pVal = RunUploadTest(host.Get());
  return S_OK;
}

}  // namespace telvario
