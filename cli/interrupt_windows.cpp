// Ctrl+C and Ctrl+Break: the console's control handler, which the system calls on a thread of
// its own, sets an event that the watcher thread waits for. A second press is left to the next
// handler, the system's, which ends the process.
#include <atomic>
#include <thread>

#include "interrupt.h"
#include "windows_api.h"

namespace telvario::cli {
namespace {

std::atomic<bool> interrupted{false};
std::atomic<bool> pressedInScope{false};
std::atomic<HANDLE> wake{nullptr};

BOOL WINAPI OnControl(DWORD control) {
  if (control != CTRL_C_EVENT && control != CTRL_BREAK_EVENT) return FALSE;
  if (pressedInScope.exchange(true)) return FALSE;  // the second: ended at once
  if (const HANDLE event = wake.load()) SetEvent(event);
  return TRUE;
}

}  // namespace

struct InterruptScope::State {
  HANDLE event = nullptr;
  std::atomic<bool> stopping{false};
  bool installed = false;
  std::thread watcher;
};

InterruptScope::InterruptScope(std::function<void()> cancel) : state_(std::make_unique<State>()) {
  State& state = *state_;
  state.event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  if (state.event == nullptr) return;  // Ctrl+C then ends the process, as before
  pressedInScope.store(false);
  State* shared = &state;
  state.watcher = std::thread([shared, cancel = std::move(cancel)] {
    for (;;) {
      WaitForSingleObject(shared->event, INFINITE);
      if (shared->stopping.load()) return;
      interrupted.store(true);
      cancel();
    }
  });
  wake.store(state.event);
  state.installed = SetConsoleCtrlHandler(OnControl, TRUE) != FALSE;
}

InterruptScope::~InterruptScope() {
  State& state = *state_;
  if (state.event == nullptr) return;
  if (state.installed) SetConsoleCtrlHandler(OnControl, FALSE);
  wake.store(nullptr);
  state.stopping.store(true);
  SetEvent(state.event);
  if (state.watcher.joinable()) state.watcher.join();
  CloseHandle(state.event);
}

// The system's message box asks for the upload's consent on Windows: the handler steps aside
// while it is shown.
struct InterruptsAsBefore::State {
  bool removed = false;
};

InterruptsAsBefore::InterruptsAsBefore() : state_(std::make_unique<State>()) {
  state_->removed = wake.load() != nullptr && SetConsoleCtrlHandler(OnControl, FALSE) != FALSE;
}

InterruptsAsBefore::~InterruptsAsBefore() {
  if (state_->removed) SetConsoleCtrlHandler(OnControl, TRUE);
}

bool Interrupted() {
  return interrupted.load();
}

}  // namespace telvario::cli
