// Threads over pthreads. A handle is a record shared by the thread and the handle; whichever
// lets go last frees it, so a thread may outlive its handle and a handle its thread.
#include <pthread.h>

#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>

#include "kernel.h"
#include "no_throw.h"

namespace {

struct ThreadRecord {
  LPTHREAD_START_ROUTINE routine;
  LPVOID parameter;
  std::mutex mutex;
  std::condition_variable ended;
  bool running = true;
  DWORD exitCode = STILL_ACTIVE;
};

// Open handles, so that a stale or foreign handle is refused rather than followed.
std::mutex handlesMutex;
std::map<HANDLE, std::shared_ptr<ThreadRecord>>& Handles() {
  static auto* handles = new std::map<HANDLE, std::shared_ptr<ThreadRecord>>;
  return *handles;
}

std::shared_ptr<ThreadRecord> FindThread(HANDLE handle) {
  std::lock_guard<std::mutex> lock(handlesMutex);
  auto found = Handles().find(handle);
  if (found == Handles().end()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return found->second;
}

void* RunThread(void* start) {
  auto* owned = static_cast<std::shared_ptr<ThreadRecord>*>(start);
  const std::shared_ptr<ThreadRecord> record = std::move(*owned);
  delete owned;
  const DWORD code = record->routine(record->parameter);
  {
    std::lock_guard<std::mutex> lock(record->mutex);
    record->exitCode = code;
    record->running = false;
  }
  record->ended.notify_all();
  return nullptr;
}

}  // namespace

HANDLE CreateThread(SECURITY_ATTRIBUTES* /*security*/, SIZE_T stackSize,
                    LPTHREAD_START_ROUTINE routine, LPVOID parameter, DWORD flags,
                    DWORD* threadId) {
  if (routine == nullptr || flags != 0) {  // suspended creation is not provided
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  // Everything that can fail comes before the thread starts: once it runs, its handle exists.
  return WithoutThrowing(ReportsLastError<HANDLE>{nullptr}, [&]() -> HANDLE {
    auto record = std::make_shared<ThreadRecord>();
    record->routine = routine;
    record->parameter = parameter;
    auto start = std::make_unique<std::shared_ptr<ThreadRecord>>(record);
    HANDLE handle = record.get();
    {
      std::lock_guard<std::mutex> lock(handlesMutex);
      Handles()[handle] = record;
    }
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    if (stackSize != 0) pthread_attr_setstacksize(&attributes, stackSize);
    pthread_t thread;
    const int error = pthread_create(&thread, &attributes, RunThread, start.get());
    pthread_attr_destroy(&attributes);
    if (error != 0) {
      std::lock_guard<std::mutex> lock(handlesMutex);
      Handles().erase(handle);
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return nullptr;
    }
    start.release();                         // the thread's now
    if (threadId != nullptr) *threadId = 0;  // the thread's own id is known only inside it
    return handle;
  });
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
  auto record = FindThread(handle);
  if (record == nullptr) return WAIT_FAILED;
  std::unique_lock<std::mutex> lock(record->mutex);
  if (milliseconds == INFINITE) {
    record->ended.wait(lock, [&] { return !record->running; });
    return WAIT_OBJECT_0;
  }
  const bool ended = record->ended.wait_for(lock, std::chrono::milliseconds(milliseconds),
                                            [&] { return !record->running; });
  return ended ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
}

BOOL GetExitCodeThread(HANDLE thread, DWORD* exitCode) {
  auto record = FindThread(thread);
  if (record == nullptr) return FALSE;
  if (exitCode == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::lock_guard<std::mutex> lock(record->mutex);
  *exitCode = record->exitCode;
  return TRUE;
}

BOOL TerminateThread(HANDLE thread, DWORD /*exitCode*/) {
  auto record = FindThread(thread);
  if (record == nullptr) return FALSE;
  // The thread goes on: the object holding its code stays loaded until the process ends.
  HMODULE module = nullptr;
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                     reinterpret_cast<LPCSTR>(record->routine), &module);
  SetLastError(ERROR_NOT_SUPPORTED);
  return FALSE;
}

BOOL CloseHandle(HANDLE handle) {
  std::shared_ptr<ThreadRecord> closing;  // freed outside the lock
  std::lock_guard<std::mutex> lock(handlesMutex);
  auto found = Handles().find(handle);
  if (found == Handles().end()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  closing = std::move(found->second);
  Handles().erase(found);
  return TRUE;
}

BOOL OpenThreadToken(HANDLE /*thread*/, DWORD /*access*/, BOOL /*openAsSelf*/, HANDLE* token) {
  if (token != nullptr) *token = nullptr;
  SetLastError(ERROR_NO_TOKEN);
  return FALSE;
}

BOOL SetThreadToken(HANDLE* thread, HANDLE token) {
  if (thread != nullptr || token != nullptr) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
  }
  return TRUE;
}
