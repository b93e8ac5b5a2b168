// Per-thread message queues and message-only windows. Queues are found by thread id through a
// process-wide table, so that any thread can post to any other; a window remembers the thread
// that created it, and messages for it go to that thread's queue, as on Windows.
#include "user.h"

#include <algorithm>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "kernel.h"
#include "no_throw.h"

struct WindowRecord {
  WNDPROC procedure;
  DWORD threadId;
};

namespace {

struct ThreadQueue {
  std::mutex mutex;
  std::deque<MSG> messages;
};

struct Registry {
  std::mutex mutex;
  std::map<DWORD, std::shared_ptr<ThreadQueue>> queues;
  std::map<std::string, WNDPROC> classes;
  std::set<HWND> windows;
};

Registry& TheRegistry() {
  static Registry* registry = new Registry;  // never destroyed: threads may outlive statics
  return *registry;
}

// Owns the calling thread's entry in the table and removes it when the thread ends.
class QueueHolder {
 public:
  ~QueueHolder() {
    if (!queue_) return;
    Registry& registry = TheRegistry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    registry.queues.erase(threadId_);
  }
  ThreadQueue& Get() {
    if (!queue_) {
      queue_ = std::make_shared<ThreadQueue>();
      threadId_ = GetCurrentThreadId();
      Registry& registry = TheRegistry();
      std::lock_guard<std::mutex> lock(registry.mutex);
      registry.queues[threadId_] = queue_;
    }
    return *queue_;
  }

 private:
  std::shared_ptr<ThreadQueue> queue_;
  DWORD threadId_ = 0;
};

thread_local QueueHolder currentQueue;

std::shared_ptr<ThreadQueue> FindQueue(DWORD threadId) {
  Registry& registry = TheRegistry();
  std::lock_guard<std::mutex> lock(registry.mutex);
  auto found = registry.queues.find(threadId);
  return found == registry.queues.end() ? nullptr : found->second;
}

bool IsLiveWindow(HWND window) {
  Registry& registry = TheRegistry();
  std::lock_guard<std::mutex> lock(registry.mutex);
  return registry.windows.count(window) != 0;
}

void Post(ThreadQueue& queue, HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  MSG entry{window, message, wParam, lParam, GetTickCount(), {0, 0}};
  std::lock_guard<std::mutex> lock(queue.mutex);
  queue.messages.push_back(entry);
}

// A null window filter takes every message of the thread; HWND -1 takes thread messages only.
bool Matches(const MSG& entry, HWND window, UINT filterMin, UINT filterMax) {
  if (window == reinterpret_cast<HWND>(static_cast<LONG_PTR>(-1))) {
    if (entry.hwnd != nullptr) return false;
  } else if (window != nullptr && entry.hwnd != window) {
    return false;
  }
  if (filterMin == 0 && filterMax == 0) return true;
  return entry.message >= filterMin && entry.message <= filterMax;
}

}  // namespace

BOOL PeekMessageA(MSG* message, HWND window, UINT filterMin, UINT filterMax, UINT removeFlags) {
  return WithoutThrowing(ReportsLastError<BOOL>{FALSE}, [&]() -> BOOL {
    ThreadQueue& queue = currentQueue.Get();
    std::lock_guard<std::mutex> lock(queue.mutex);
    auto found = std::find_if(queue.messages.begin(), queue.messages.end(), [&](const MSG& entry) {
      return Matches(entry, window, filterMin, filterMax);
    });
    if (found == queue.messages.end()) return FALSE;
    if (message != nullptr) *message = *found;
    if ((removeFlags & PM_REMOVE) != 0) queue.messages.erase(found);
    return TRUE;
  });
}

BOOL TranslateMessage(const MSG* /*message*/) {
  return FALSE;
}

LRESULT DispatchMessageA(const MSG* message) {
  return WithoutThrowing(ReportsLastError<LRESULT>{0}, [&]() -> LRESULT {
    if (message == nullptr || message->hwnd == nullptr || !IsLiveWindow(message->hwnd)) return 0;
    return message->hwnd->procedure(message->hwnd, message->message, message->wParam,
                                    message->lParam);
  });
}

BOOL PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return WithoutThrowing(ReportsLastError<BOOL>{FALSE}, [&]() -> BOOL {
    if (window == nullptr) {
      Post(currentQueue.Get(), nullptr, message, wParam, lParam);
      return TRUE;
    }
    if (!IsLiveWindow(window)) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return FALSE;
    }
    std::shared_ptr<ThreadQueue> queue = FindQueue(window->threadId);
    if (!queue) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return FALSE;
    }
    Post(*queue, window, message, wParam, lParam);
    return TRUE;
  });
}

BOOL PostThreadMessageA(DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam) {
  return WithoutThrowing(ReportsLastError<BOOL>{FALSE}, [&]() -> BOOL {
    std::shared_ptr<ThreadQueue> queue = FindQueue(threadId);
    if (!queue) {
      SetLastError(ERROR_INVALID_THREAD_ID);
      return FALSE;
    }
    Post(*queue, nullptr, message, wParam, lParam);
    return TRUE;
  });
}

ATOM RegisterClassA(const WNDCLASSA* windowClass) {
  return WithoutThrowing(ReportsLastError<ATOM>{0}, [&]() -> ATOM {
    if (windowClass == nullptr || windowClass->lpszClassName == nullptr ||
        windowClass->lpfnWndProc == nullptr) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return 0;
    }
    Registry& registry = TheRegistry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    if (!registry.classes.emplace(windowClass->lpszClassName, windowClass->lpfnWndProc).second) {
      SetLastError(ERROR_CLASS_ALREADY_EXISTS);
      return 0;
    }
    return static_cast<ATOM>(0xC000 + registry.classes.size());
  });
}

BOOL UnregisterClassA(LPCSTR className, HINSTANCE /*instance*/) {
  return WithoutThrowing(ReportsLastError<BOOL>{FALSE}, [&]() -> BOOL {
    Registry& registry = TheRegistry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    if (className == nullptr || registry.classes.erase(className) == 0) {
      SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
      return FALSE;
    }
    return TRUE;
  });
}

HWND CreateWindowExA(DWORD /*exStyle*/, LPCSTR className, LPCSTR /*windowName*/, DWORD /*style*/,
                     int /*x*/, int /*y*/, int /*width*/, int /*height*/, HWND /*parent*/,
                     HMENU /*menu*/, HINSTANCE /*instance*/, LPVOID /*param*/) {
  return WithoutThrowing(ReportsLastError<HWND>{nullptr}, [&]() -> HWND {
    currentQueue.Get();  // messages for the window go to this thread
    Registry& registry = TheRegistry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    auto found = className == nullptr ? registry.classes.end() : registry.classes.find(className);
    if (found == registry.classes.end()) {
      SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
      return nullptr;
    }
    HWND window = new WindowRecord{found->second, GetCurrentThreadId()};
    registry.windows.insert(window);
    return window;
  });
}

BOOL DestroyWindow(HWND window) {
  return WithoutThrowing(ReportsLastError<BOOL>{FALSE}, [&]() -> BOOL {
    {
      Registry& registry = TheRegistry();
      std::lock_guard<std::mutex> lock(registry.mutex);
      if (registry.windows.erase(window) == 0) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
      }
    }
    // Messages still queued for the window are dropped with it.
    if (std::shared_ptr<ThreadQueue> queue = FindQueue(window->threadId)) {
      std::lock_guard<std::mutex> lock(queue->mutex);
      std::erase_if(queue->messages, [window](const MSG& entry) { return entry.hwnd == window; });
    }
    delete window;
    return TRUE;
  });
}

LRESULT DefWindowProcA(HWND /*window*/, UINT /*message*/, WPARAM /*wParam*/, LPARAM /*lParam*/) {
  return 0;
}
