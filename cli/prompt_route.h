// Where the library's message boxes (its question before an upload) are answered while a
// measurement runs. The posix library hands each to the process through a hook it exports; on
// Windows the system's box asks the person at the desktop, and only an answer given in advance
// (--yes) is put to it from here.
#ifndef TELVARIO_CLI_PROMPT_ROUTE_H
#define TELVARIO_CLI_PROMPT_ROUTE_H

#include "windows_api.h"

namespace telvario::cli {

// Gives a box's text and caption; returns IDOK or IDCANCEL.
using PromptAnswer = int (*)(LPCSTR text, LPCSTR caption, UINT type);

// While it lives, on the thread that made it (one at a time), the library's boxes go to `answer`:
// every box on posix; on Windows only where `inAdvance`, each closed with what `answer` gives as
// soon as it shows.
class PromptRoute {
 public:
  PromptRoute(HMODULE library, PromptAnswer answer, bool inAdvance);
  ~PromptRoute();
  PromptRoute(const PromptRoute&) = delete;
  PromptRoute& operator=(const PromptRoute&) = delete;

 private:
  // The posix library's hook is found through it; on Windows the hook is the thread's own.
  [[maybe_unused]] HMODULE library_;
};

}  // namespace telvario::cli

#endif
