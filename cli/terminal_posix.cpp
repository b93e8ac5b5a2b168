#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "terminal.h"

namespace telvario::cli {

TerminalSize RedrawableTerminal() {
  const char* kind = std::getenv("TERM");
  if (isatty(STDERR_FILENO) == 0 || kind == nullptr || *kind == '\0' ||
      std::strcmp(kind, "dumb") == 0) {
    return {};
  }
  winsize size{};
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) != 0 || size.ws_col == 0 || size.ws_row == 0) {
    return {80, 24};  // what a terminal that does not say is taken to be
  }
  return {size.ws_col, size.ws_row};
}

}  // namespace telvario::cli
