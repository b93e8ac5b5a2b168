#include "message_pump.h"

#include "windows_api.h"

namespace telvario {

void DrainMessageQueue() {
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
}

}  // namespace telvario
