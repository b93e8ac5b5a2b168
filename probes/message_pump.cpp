#include "message_pump.h"

#include "run_timing.h"

namespace telvario {

void DrainMessageQueue() {
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
}

void SleepDispatching(DWORD milliseconds, const std::atomic<bool>* stop) {
  const DWORD began = GetTickCount();
  for (;;) {
    DrainMessageQueue();
    const DWORD waited = GetTickCount() - began;
    if (waited >= milliseconds || (stop != nullptr && stop->load())) return;
    const DWORD left = milliseconds - waited;
    ::Sleep(left < kLookEveryMs ? left : kLookEveryMs);
  }
}

}  // namespace telvario
