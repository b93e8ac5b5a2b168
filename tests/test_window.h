// A message-only window of the test's thread that counts the messages dispatched to it.
#ifndef TELVARIO_TESTS_TEST_WINDOW_H
#define TELVARIO_TESTS_TEST_WINDOW_H

#include <atomic>

#include "windows_api.h"

namespace telvario::testing {

class CountingWindow {
 public:
  CountingWindow() {
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = Procedure;
    windowClass.lpszClassName = kClassName;
    RegisterClassA(&windowClass);  // fails harmlessly when an earlier window registered it
    handle_ =
        CreateWindowExA(0, kClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    dispatched = 0;
  }
  ~CountingWindow() { DestroyWindow(handle_); }
  CountingWindow(const CountingWindow&) = delete;
  CountingWindow& operator=(const CountingWindow&) = delete;

  HWND Handle() const { return handle_; }
  bool Post(UINT message = kTestMessage) { return PostMessageA(handle_, message, 0, 0) != FALSE; }

  static constexpr UINT kTestMessage = WM_APP + 1;
  static inline std::atomic<int> dispatched{0};

 private:
  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kTestMessage) {
      ++dispatched;
      return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
  }

  static constexpr const char* kClassName = "TelvarioTestWindow";
  HWND handle_;
};

// True when the calling thread's queue holds no message at all.
inline bool QueueIsEmpty() {
  MSG message;
  return PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE) == FALSE;
}

}  // namespace telvario::testing

#endif
