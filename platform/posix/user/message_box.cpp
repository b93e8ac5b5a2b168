// Message boxes answered by the host's handler.
#include <atomic>

#include "user.h"

namespace {

std::atomic<MessageBoxHandler> handler{nullptr};

}  // namespace

extern "C" MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler replacement) {
  return handler.exchange(replacement);
}

int MessageBoxA(HWND /*owner*/, LPCSTR text, LPCSTR caption, UINT type) {
  const MessageBoxHandler answer = handler.load();
  if (answer == nullptr) return IDCANCEL;
  return answer(text != nullptr ? text : "", caption, type);
}
