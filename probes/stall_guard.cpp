#include "stall_guard.h"

namespace telvario {
namespace {

constexpr DWORD kLookMs = 100;  // how often the caller looks at the step in progress

std::atomic<DWORD> stallLimitMs{GuardLimits{}.stallMs};
std::atomic<DWORD> graceLimitMs{GuardLimits{}.graceMs};
std::atomic<DWORD> cleanupLimitMs{GuardLimits{}.cleanupMs};
std::atomic<LONG> abandonedWorkers{0};

ULONGLONG PackLimits(DWORD totalMs, DWORD quietMs) {
  return (static_cast<ULONGLONG>(totalMs) << 32) | quietMs;
}

// The caller's impersonation token, for the worker to wear: a request made for an
// impersonating host (proxy log-on, credentials) runs as its caller, not as the process.
// False when the caller impersonates but its token cannot be had: the work must not then run
// with the process's identity instead.
bool CallersToken(HANDLE* token) {
  *token = nullptr;
  if (OpenThreadToken(GetCurrentThread(), TOKEN_IMPERSONATE | TOKEN_QUERY, TRUE, token)) {
    return true;
  }
  *token = nullptr;
  return GetLastError() == ERROR_NO_TOKEN;
}

}  // namespace

void KeepModuleLoaded() {
  HMODULE module = nullptr;
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                     reinterpret_cast<LPCSTR>(&KeepModuleLoaded), &module);
}

void LimitNetworkWaits(HINTERNET session) {
  DWORD limit = kNetworkWaitLimitMs;
  for (DWORD option : {static_cast<DWORD>(INTERNET_OPTION_CONNECT_TIMEOUT),
                       static_cast<DWORD>(INTERNET_OPTION_SEND_TIMEOUT),
                       static_cast<DWORD>(INTERNET_OPTION_RECEIVE_TIMEOUT)}) {
    InternetSetOptionA(session, option, &limit, sizeof limit);
  }
}

GuardLimits CurrentGuardLimits() {
  GuardLimits limits;
  limits.stallMs = stallLimitMs.load();
  limits.graceMs = graceLimitMs.load();
  limits.cleanupMs = cleanupLimitMs.load();
  return limits;
}

void SetGuardLimitsForTesting(const GuardLimits& limits) {
  stallLimitMs.store(limits.stallMs);
  graceLimitMs.store(limits.graceMs);
  cleanupLimitMs.store(limits.cleanupMs);
}

LONG AbandonedWorkers() {
  return abandonedWorkers.load();
}

GuardedWork::~GuardedWork() {
  CloseOwned();
  if (token_ != nullptr) CloseHandle(token_);
}

HINTERNET GuardedWork::Own(HINTERNET handle) {
  if (handle != nullptr && ownedCount_ < kMostOwned) owned_[ownedCount_++] = handle;
  return handle;
}

void GuardedWork::Close(HINTERNET handle) {
  int found = ownedCount_;
  for (int i = 0; i < ownedCount_; ++i) {
    if (owned_[i] == handle) found = i;
  }
  if (found == ownedCount_) return;
  // Its children first: they were owned after it.
  for (int i = ownedCount_; i-- > found;) InternetCloseHandle(owned_[i]);
  ownedCount_ = found;
}

void GuardedWork::CloseOwned() {
  if (ownedCount_ == 0) return;
  if (Abandoned()) {
    InternetCloseHandle(owned_[0]);
  } else {
    for (int i = ownedCount_; i-- > 0;) InternetCloseHandle(owned_[i]);
  }
  ownedCount_ = 0;
}

void GuardedWork::BeginStep(DWORD totalMs, DWORD quietMs) {
  const DWORD now = GetTickCount();
  stepStart_.store(now);
  lastProgress_.store(now);
  stepLimits_.store(PackLimits(totalMs, quietMs));
}

void GuardedWork::Progressed() {
  lastProgress_.store(GetTickCount());
}

StallWatch::StallWatch(GuardedWork& work)
    : work_(work), markTick_(GetTickCount()), stallMs_(CurrentGuardLimits().stallMs) {}

void StallWatch::Moved(ULONGLONG bytes) {
  sinceMark_ += bytes;
  if (sinceMark_ < kStallLeastBytes) return;
  sinceMark_ = 0;
  markTick_ = GetTickCount();
  work_.Progressed();
}

bool StallWatch::Stalled() const {
  return GetTickCount() - markTick_ >= stallMs_;
}

bool GuardedWork::Overdue() const {
  const ULONGLONG limits = stepLimits_.load();
  const DWORD start = stepStart_.load();
  const DWORD progress = lastProgress_.load();
  // The clock is read after the ticks the worker stored: read before, a progress stored in
  // between at the next tick would be "now minus one", four billion milliseconds of silence.
  const DWORD now = GetTickCount();
  const auto totalMs = static_cast<DWORD>(limits >> 32);
  const auto quietMs = static_cast<DWORD>(limits);
  if (totalMs != INFINITE && now - start >= totalMs) return true;
  return quietMs != INFINITE && now - progress >= quietMs;
}

// The worker's side: wears the caller's identity, runs the work, closes what it owns, and lets
// go of its reference.
class WorkerRun {
 public:
  static DWORD WINAPI Main(LPVOID parameter) {
    auto* work = static_cast<GuardedWork*>(parameter);
    const bool wearing = work->token_ == nullptr || SetThreadToken(nullptr, work->token_);
    if (wearing) {
      try {
        work->Run();
      } catch (...) {  // short of memory: the work ends where it was, as a failure
      }
    }
    work->BeginStep(cleanupLimitMs.load(), INFINITE);
    work->CloseOwned();
    if (work->token_ != nullptr && wearing) SetThreadToken(nullptr, nullptr);
    LONG running = GuardedWork::kRunning;
    if (!work->state_.compare_exchange_strong(running, GuardedWork::kFinished)) {
      abandonedWorkers.fetch_sub(1);  // given up on: no caller counts on it any more
    }
    work->Release();
    return wearing ? 0 : 1;
  }

  static bool Start(GuardedWork& work, WorkKind kind, HANDLE* thread) {
    const LONG most = kind == WorkKind::CleanUp ? 2 * kMostAbandonedWorkers : kMostAbandonedWorkers;
    if (abandonedWorkers.load() >= most) return false;
    if (!CallersToken(&work.token_)) return false;
    work.BeginStep(INFINITE, CurrentGuardLimits().GiveUpMs());
    work.AddRef();  // the worker's
    *thread = CreateThread(nullptr, 0, Main, &work, 0, nullptr);
    if (*thread == nullptr) work.Release();
    return *thread != nullptr;
  }

  // The work ended: whether it ran at all.
  static GuardedEnd Ended(HANDLE thread) {
    DWORD exitCode = 1;
    const bool ran = GetExitCodeThread(thread, &exitCode) && exitCode == 0;
    return ran ? GuardedEnd::Finished : GuardedEnd::NoWorker;
  }

  // Marks the work given up on, unless it has just finished; true when it was given up.
  static bool Abandon(GuardedWork& work) {
    LONG running = GuardedWork::kRunning;
    abandonedWorkers.fetch_add(1);
    if (work.state_.compare_exchange_strong(running, GuardedWork::kAbandoned)) {
      KeepModuleLoaded();
      return true;
    }
    abandonedWorkers.fetch_sub(1);  // it had just finished after all
    return false;
  }

  static bool Overdue(const GuardedWork& work) { return work.Overdue(); }
};

GuardedWorker::~GuardedWorker() {
  if (thread_ != nullptr) CloseHandle(thread_);
}

bool GuardedWorker::Start(GuardedWork& work, WorkKind kind) {
  work_ = &work;
  return WorkerRun::Start(work, kind, &thread_);
}

std::optional<GuardedEnd> GuardedWorker::Wait(DWORD milliseconds) {
  if (end_) return end_;
  if (thread_ == nullptr) return end_ = GuardedEnd::NoWorker;
  const DWORD waited = WaitForSingleObject(thread_, milliseconds);
  if (waited == WAIT_OBJECT_0) return end_ = WorkerRun::Ended(thread_);
  // A wait that failed is taken as no progress: the worker may still be running.
  if (waited != WAIT_TIMEOUT) ::Sleep(milliseconds);
  if (WorkerRun::Overdue(*work_)) GiveUp();
  return end_;
}

void GuardedWorker::GiveUp() {
  if (end_ || thread_ == nullptr) return;
  // Unless it had just finished, in which case its end is waited for at once.
  end_ = WorkerRun::Abandon(*work_) ? GuardedEnd::GaveUp : GuardedEnd::Finished;
  if (end_ == GuardedEnd::Finished) {
    WaitForSingleObject(thread_, INFINITE);
    end_ = WorkerRun::Ended(thread_);
  }
}

GuardedEnd RunGuarded(GuardedWork& work, WorkKind kind) {
  GuardedWorker worker;
  if (!worker.Start(work, kind)) return GuardedEnd::NoWorker;
  for (;;) {
    if (const std::optional<GuardedEnd> end = worker.Wait(kLookMs)) return *end;
  }
}

}  // namespace telvario
