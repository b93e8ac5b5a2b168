#include "ftp_upload.h"

#include <atomic>
#include <limits>
#include <new>
#include <string>

#include "interval_timers.h"
#include "sonde_probe.h"
#include "stall_guard.h"
#include "string_conversion.h"

namespace telvario {
namespace {

std::atomic<bool> uploadConfirmed{false};

constexpr UINT kPromptStyle = MB_OKCANCEL | MB_ICONINFORMATION;

// How far a test got; the caller reads it to tell which step failed, also of a worker it gave
// up on.
enum class UploadPhase : LONG { Connecting, Opening, Writing, Closing, Deleting, Done };

HINTERNET ConnectAnonymously(HINTERNET session, const char* host) {
  // Port 0: the service's own (21); no user name: anonymous; flags 0: active transfers.
  return InternetConnectA(session, host, INTERNET_INVALID_PORT_NUMBER, nullptr, nullptr,
                          INTERNET_SERVICE_FTP, 0, 0);
}

// One test on its worker: log in, open the remote file, the timed bursts, then close and delete
// the file on the same connection. A transfer that broke or was cut short is not completed:
// the session goes, and the caller deletes the file through a login of its own.
class UploadWork final : public GuardedWork {
 public:
  explicit UploadWork(const char* host) : host_(host != nullptr ? host : ""), hasHost_(host) {
    FillUploadPattern(pattern_);
  }
  void UseSession(HINTERNET session) { session_ = Own(session); }

  UploadPhase Phase() const { return phase_.load(); }
  const std::string& Host() const { return host_; }
  const char* RemoteName() const { return remoteName_; }
  // Once the phase has passed Writing:
  bool WritesOk() const { return writesOk_; }
  ULONGLONG BytesSent() const { return bytesSent_; }
  DWORD ElapsedMicroseconds() const { return elapsedMicroseconds_; }
  // Once the work has finished: whether the file is gone, or the server would not delete it.
  bool DeletionSettled() const { return deletionSettled_; }

 private:
  void Run() override {
    const GuardLimits limits = CurrentGuardLimits();
    BeginStep(kUploadConnectLimitMs, INFINITE);
    connection_ = Own(ConnectAnonymously(session_, hasHost_ ? host_.c_str() : nullptr));
    if (connection_ == nullptr || Abandoned()) return;
    phase_.store(UploadPhase::Opening);
    wsprintfA(remoteName_, "/temp/%08lx.tmp", GetTickCount());
    BeginStep(INFINITE, limits.GiveUpMs());
    file_ =
        Own(FtpOpenFileA(connection_, remoteName_, GENERIC_WRITE, FTP_TRANSFER_TYPE_UNKNOWN, 0));
    if (file_ == nullptr || Abandoned()) return;
    phase_.store(UploadPhase::Writing);
    const bool cut = WriteBursts(limits);
    phase_.store(UploadPhase::Closing);
    if (cut || Abandoned()) {
      Close(session_);  // takes the transfer down without waiting for it to drain
      return;
    }
    // Closed and deleted whether the writes succeeded or not.
    BeginStep(limits.cleanupMs, INFINITE);
    Close(file_);
    phase_.store(UploadPhase::Deleting);
    if (Abandoned()) return;
    BeginStep(limits.cleanupMs, INFINITE);
    // A server that answers the deletion with a refusal keeps the file: that is its word.
    deletionSettled_ =
        FtpDeleteFileA(connection_, remoteName_) || GetLastError() == ERROR_INTERNET_EXTENDED_ERROR;
    phase_.store(UploadPhase::Done);
  }

  // Writes bursts until one fails, five seconds have passed, or the link has held a burst past
  // the cut; true when it was cut.
  bool WriteBursts(const GuardLimits& limits) {
    BeginStep(kUploadCutMs, limits.GiveUpMs());
    writesOk_ = true;
    bytesSent_ = 0;
    Stopwatch stopwatch;
    stopwatch.Start();
    bool cut = false;
    do {
      for (int i = 0; i < kUploadWritesPerBurst && writesOk_; ++i) {
        DWORD written = 0;
        if (!InternetWriteFile(file_, pattern_, kUploadBlockSize, &written) ||
            written < kUploadBlockSize) {
          writesOk_ = false;
        }
        Progressed();  // a slow link moves on with every block, not every burst
        cut = stopwatch.ElapsedMicroseconds() >= kUploadCutMs * 1000;
        if (cut || Abandoned()) writesOk_ = false;
      }
      // A burst that ended early ends the test without a rate, so the count stays exact.
      bytesSent_ += kUploadBurstBytes;
    } while (writesOk_ && stopwatch.ElapsedMicroseconds() < kUploadDurationUs);
    stopwatch.Stop();
    elapsedMicroseconds_ = stopwatch.ElapsedMicroseconds();
    return cut;
  }

  const std::string host_;
  const bool hasHost_;
  BYTE pattern_[kUploadBlockSize] = {};
  char remoteName_[32] = {};
  HINTERNET session_ = nullptr;
  HINTERNET connection_ = nullptr;
  HINTERNET file_ = nullptr;
  std::atomic<UploadPhase> phase_{UploadPhase::Connecting};
  bool writesOk_ = false;
  ULONGLONG bytesSent_ = 0;
  DWORD elapsedMicroseconds_ = 0;
  bool deletionSettled_ = false;
};

// Deletes a test's file through a login of its own, where the test's connection could not:
// still busy with a transfer that was given up on, or broken.
class DeleteWork final : public GuardedWork {
 public:
  DeleteWork(const std::string& host, const char* remoteName)
      : host_(host), remoteName_(remoteName) {}
  void UseSession(HINTERNET session) { session_ = Own(session); }

 private:
  void Run() override {
    BeginStep(kUploadConnectLimitMs, INFINITE);
    HINTERNET connection = Own(ConnectAnonymously(session_, host_.c_str()));
    if (connection == nullptr || Abandoned()) return;
    BeginStep(CurrentGuardLimits().cleanupMs, INFINITE);
    FtpDeleteFileA(connection, remoteName_.c_str());
  }

  const std::string host_;
  const std::string remoteName_;
  HINTERNET session_ = nullptr;
};

HINTERNET OpenUploadSession() {
  HINTERNET session = InternetOpenA(kUploadAgent, INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
  if (session != nullptr) LimitNetworkWaits(session);
  return session;
}

void DeleteThroughNewLogin(const UploadWork& test) {
  auto work = NewWork<DeleteWork>(test.Host(), test.RemoteName());
  if (work == nullptr) return;  // the deletion is a courtesy; the test's result stands
  HINTERNET session = OpenUploadSession();
  if (session == nullptr) return;
  work->UseSession(session);
  RunGuarded(*work, WorkKind::CleanUp);
}

// The test's result from how far it got, also when the caller gave up on it.
LONG ResultOf(const UploadWork& test, GuardedEnd end) {
  switch (test.Phase()) {
    case UploadPhase::Connecting:
      return UPLOAD_NOT_CONNECTED;
    case UploadPhase::Opening:
      return UPLOAD_FILE_REFUSED;
    case UploadPhase::Writing:
      return UPLOAD_WRITE_FAILED;
    case UploadPhase::Closing:
      // An upload that could not be completed in time was not received.
      if (end != GuardedEnd::Finished) return UPLOAD_WRITE_FAILED;
      break;
    case UploadPhase::Deleting:
    case UploadPhase::Done:
      break;
  }
  if (!test.WritesOk()) return UPLOAD_WRITE_FAILED;
  return UploadRate(test.BytesSent(), test.ElapsedMicroseconds());
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

LONG RunUploadTest(const char* host) {
  // Short of memory the test cannot start, as when no session can be opened.
  auto test = NewWork<UploadWork>(host);
  if (test == nullptr) return UPLOAD_SESSION_FAILED;
  HINTERNET session = OpenUploadSession();
  if (session == nullptr) return UPLOAD_SESSION_FAILED;
  test->UseSession(session);
  const GuardedEnd end = RunGuarded(*test);
  if (end == GuardedEnd::NoWorker) return UPLOAD_NOT_CONNECTED;
  const LONG result = ResultOf(*test, end);
  // The file goes on every path: where the test's own connection did not delete it, a login of
  // its own does.
  const bool fileMayExist = test->Phase() >= UploadPhase::Writing;
  if (fileMayExist && (end != GuardedEnd::Finished || !test->DeletionSettled())) {
    DeleteThroughNewLogin(*test);
  }
  return result;
}

bool AskUploadConsent(const char* caption) {
  if (uploadConfirmed.load()) return true;
  if (MessageBoxA(nullptr, kUploadPrompt, caption, kPromptStyle) != IDOK) return false;
  uploadConfirmed.store(true);
  return true;
}

HRESULT SondeProbe::get_UploadTest(BSTR Host, LONG* pVal) {
  *pVal = 0;
  try {
    const NarrowArgument host(Host);
    // A name with a NUL in it is not the host it seems: nothing is asked, nothing sent.
    if (host.HasEmbeddedNul()) {
      *pVal = UPLOAD_NOT_CONNECTED;
      return S_OK;
    }
    if (!AskUploadConsent(host.Get())) return S_OK;
    *pVal = RunUploadTest(host.Get());
  } catch (const std::bad_alloc&) {
    *pVal = UPLOAD_SESSION_FAILED;  // as when the session cannot be opened
  }
  return S_OK;
}

}  // namespace telvario
