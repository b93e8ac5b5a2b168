#include <windows.h>

#include "terminal.h"

namespace telvario::cli {

// A console takes VT sequences once asked to (Windows 10 and later); an older one refuses.
TerminalSize RedrawableTerminal() {
  const HANDLE console = GetStdHandle(STD_ERROR_HANDLE);
  DWORD mode = 0;
  if (console == INVALID_HANDLE_VALUE || GetConsoleMode(console, &mode) == 0) return {};
  if ((mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) == 0 &&
      SetConsoleMode(console, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) == 0) {
    return {};
  }
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (GetConsoleScreenBufferInfo(console, &info) == 0) return {80, 24};
  return {static_cast<std::size_t>(info.srWindow.Right - info.srWindow.Left + 1),
          static_cast<std::size_t>(info.srWindow.Bottom - info.srWindow.Top + 1)};
}

}  // namespace telvario::cli
