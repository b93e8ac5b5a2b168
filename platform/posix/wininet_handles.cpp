#include "wininet_handles.h"

#include <map>
#include <mutex>

#include "kernel.h"

namespace wininet {
namespace {

std::mutex tableMutex;
std::map<HINTERNET, std::unique_ptr<InternetHandle>>& Table() {
  static auto* table = new std::map<HINTERNET, std::unique_ptr<InternetHandle>>;
  return *table;
}

}  // namespace

HINTERNET AddHandle(std::unique_ptr<InternetHandle> handle) {
  HINTERNET key = handle.get();
  std::lock_guard<std::mutex> lock(tableMutex);
  Table()[key] = std::move(handle);
  return key;
}

InternetHandle* FindAnyHandle(HINTERNET handle) {
  std::lock_guard<std::mutex> lock(tableMutex);
  auto found = Table().find(handle);
  return found == Table().end() ? nullptr : found->second.get();
}

}  // namespace wininet

BOOL InternetCloseHandle(HINTERNET handle) {
  std::unique_ptr<wininet::InternetHandle> closing;
  {
    std::lock_guard<std::mutex> lock(wininet::tableMutex);
    auto found = wininet::Table().find(handle);
    if (found == wininet::Table().end()) {
      SetLastError(ERROR_INVALID_HANDLE);
      return FALSE;
    }
    closing = std::move(found->second);
    wininet::Table().erase(found);
  }
  return TRUE;  // the handle's resources go with `closing`, outside the lock
}
