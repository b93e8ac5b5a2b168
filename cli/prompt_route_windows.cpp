#include <windows.h>

#include <cstring>

#include "prompt_route.h"

namespace telvario::cli {
namespace {

// The class of the system's dialog boxes, message boxes among them.
constexpr char kDialogClass[] = "#32770";

thread_local HHOOK hook = nullptr;
thread_local PromptAnswer routedAnswer = nullptr;

// A box is answered once it is active: its buttons exist then, and the message that presses
// one is taken by the box's own loop.
LRESULT CALLBACK OnWindowEvent(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HCBT_ACTIVATE && routedAnswer != nullptr) {
    const auto window = reinterpret_cast<HWND>(wParam);
    char name[sizeof kDialogClass + 1] = {};
    GetClassNameA(window, name, sizeof name);
    if (std::strcmp(name, kDialogClass) == 0) {
      char text[512] = {};
      char caption[256] = {};
      GetDlgItemTextA(window, 0xFFFF, text, sizeof text);
      GetWindowTextA(window, caption, sizeof caption);
      const int button = routedAnswer(text, caption, 0);
      PostMessageA(window, WM_COMMAND, static_cast<WPARAM>(button), 0);
    }
  }
  return CallNextHookEx(hook, code, wParam, lParam);
}

}  // namespace

PromptRoute::PromptRoute(HMODULE library, PromptAnswer answer, bool inAdvance) : library_(library) {
  if (!inAdvance) return;
  routedAnswer = answer;
  hook = SetWindowsHookExA(WH_CBT, OnWindowEvent, nullptr, GetCurrentThreadId());
}

PromptRoute::~PromptRoute() {
  if (hook == nullptr) return;
  UnhookWindowsHookEx(hook);
  hook = nullptr;
  routedAnswer = nullptr;
}

}  // namespace telvario::cli
