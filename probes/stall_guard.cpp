#include "stall_guard.h"

#include <new>

namespace telvario {
namespace {

constexpr DWORD kLookMs = 1000;  // how often the caller looks at the work's progress

DWORD WINAPI RunWork(LPVOID parameter) {
  auto* held = static_cast<std::shared_ptr<GuardedWork>*>(parameter);
  (*held)->Run();
  delete held;  // the last reference frees the work, whoever holds it
  return 0;
}

// Keeps this module loaded for the rest of the process: a worker left running still runs its
// code after the caller has returned, perhaps after the host has let the module go.
void StayLoaded() {
  HMODULE module = nullptr;
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                     reinterpret_cast<LPCSTR>(&StayLoaded), &module);
}

}  // namespace

void LimitNetworkWaits(HINTERNET session) {
  DWORD limit = kNetworkWaitLimitMs;
  for (DWORD option : {static_cast<DWORD>(INTERNET_OPTION_CONNECT_TIMEOUT),
                       static_cast<DWORD>(INTERNET_OPTION_SEND_TIMEOUT),
                       static_cast<DWORD>(INTERNET_OPTION_RECEIVE_TIMEOUT)}) {
    InternetSetOptionA(session, option, &limit, sizeof limit);
  }
}

GuardedEnd RunGuarded(const std::shared_ptr<GuardedWork>& work, DWORD stallLimitMs) {
  auto* held = new (std::nothrow) std::shared_ptr<GuardedWork>(work);
  HANDLE thread = held != nullptr ? CreateThread(nullptr, 0, RunWork, held, 0, nullptr) : nullptr;
  if (thread == nullptr) {
    delete held;
    work->Run();  // unguarded, but done
    return GuardedEnd::Finished;
  }
  ULONGLONG seen = work->progress.load();
  DWORD quiet = 0;  // milliseconds since the progress last changed
  for (;;) {
    const DWORD start = GetTickCount();
    const DWORD waited = WaitForSingleObject(thread, kLookMs);
    if (waited == WAIT_OBJECT_0) {
      CloseHandle(thread);
      return GuardedEnd::Finished;
    }
    // A failed wait is taken as no progress: the worker may still be running.
    if (waited != WAIT_TIMEOUT) ::Sleep(kLookMs);
    const ULONGLONG now = work->progress.load();
    if (now != seen) {
      seen = now;
      quiet = 0;
    } else {
      quiet += GetTickCount() - start;
    }
    if (quiet >= stallLimitMs) break;
  }
  StayLoaded();
  CloseHandle(thread);
  return GuardedEnd::Stalled;
}

}  // namespace telvario
