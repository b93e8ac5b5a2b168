#include "wininet_handles.h"

#include <map>
#include <vector>

#include "kernel.h"
#include "no_throw.h"

namespace wininet {
namespace {

struct Entry {
  std::shared_ptr<InternetHandle> object;
  HINTERNET parent;
};

std::mutex tableMutex;
std::map<HINTERNET, Entry>& Table() {
  static auto* table = new std::map<HINTERNET, Entry>;
  return *table;
}

// Takes a handle and every handle below it out of the table; the handle itself comes first.
std::vector<std::shared_ptr<InternetHandle>> TakeOutTree(HINTERNET root) {
  std::vector<std::shared_ptr<InternetHandle>> taken;
  std::vector<HINTERNET> pending{root};
  while (!pending.empty()) {
    const HINTERNET handle = pending.back();
    pending.pop_back();
    auto found = Table().find(handle);
    if (found == Table().end()) continue;
    taken.push_back(std::move(found->second.object));
    Table().erase(found);
    for (const auto& [child, entry] : Table()) {
      if (entry.parent == handle) pending.push_back(child);
    }
  }
  return taken;
}

}  // namespace

ConnectionShare::ConnectionShare() : share_(curl_share_init()) {
  if (share_ == nullptr) return;
  curl_share_setopt(share_, CURLSHOPT_LOCKFUNC, Lock);
  curl_share_setopt(share_, CURLSHOPT_UNLOCKFUNC, Unlock);
  curl_share_setopt(share_, CURLSHOPT_USERDATA, this);
  curl_share_setopt(share_, CURLSHOPT_SHARE, CURL_LOCK_DATA_CONNECT);
  curl_share_setopt(share_, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
}

// Every transfer that used it has cleaned up its easy handle before letting go of it.
ConnectionShare::~ConnectionShare() {
  if (share_ != nullptr) curl_share_cleanup(share_);
}

void ConnectionShare::Attach(CURL* easy) {
  if (share_ != nullptr) curl_easy_setopt(easy, CURLOPT_SHARE, share_);
}

void ConnectionShare::Lock(CURL* /*easy*/, curl_lock_data data, curl_lock_access /*access*/,
                           void* user) {
  static_cast<ConnectionShare*>(user)->mutexes_[data].lock();
}

void ConnectionShare::Unlock(CURL* /*easy*/, curl_lock_data data, void* user) {
  static_cast<ConnectionShare*>(user)->mutexes_[data].unlock();
}

Session::Session(const char* agentText, DWORD access, const char* proxyText)
    : agent(agentText != nullptr ? agentText : ""),
      accessType(access),
      proxy(proxyText != nullptr ? proxyText : ""),
      connections_(std::make_shared<ConnectionShare>()) {}

void Session::Cancel() {
  std::lock_guard<std::mutex> lock(mutex_);
  closed_ = true;
  for (Cancellable* call : calls_) call->Cancel();
}

bool Session::Begin(Cancellable* call) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (closed_) return false;
  calls_.insert(call);
  return true;
}

void Session::End(Cancellable* call) {
  std::lock_guard<std::mutex> lock(mutex_);
  calls_.erase(call);
}

std::shared_ptr<ConnectionShare> Session::ApplyProxy(CURL* easy) const {
  connections_->Attach(easy);
  if (accessType == INTERNET_OPEN_TYPE_DIRECT) {
    curl_easy_setopt(easy, CURLOPT_NOPROXY, "*");
  } else if (accessType == INTERNET_OPEN_TYPE_PROXY) {
    curl_easy_setopt(easy, CURLOPT_PROXY, proxy.c_str());
  }
  return connections_;
}

long CurlMilliseconds(DWORD limit) {
  constexpr long kWeek = 7L * 24 * 3600 * 1000;
  if (limit == 0 || limit == INFINITE || limit > static_cast<DWORD>(kWeek)) return kWeek;
  return static_cast<long>(limit);
}

long CurlSeconds(DWORD limit) {
  return (CurlMilliseconds(limit) + 999) / 1000;
}

HINTERNET AddHandle(std::shared_ptr<InternetHandle> handle, HINTERNET parent) {
  HINTERNET key = handle.get();
  std::lock_guard<std::mutex> lock(tableMutex);
  if (parent != nullptr && Table().count(parent) == 0) {
    SetLastError(ERROR_INTERNET_OPERATION_CANCELLED);
    return nullptr;
  }
  Table()[key] = Entry{std::move(handle), parent};
  return key;
}

std::shared_ptr<InternetHandle> FindAnyHandle(HINTERNET handle, bool use) {
  std::lock_guard<std::mutex> lock(tableMutex);
  auto found = Table().find(handle);
  if (found == Table().end()) return nullptr;
  if (use) {
    std::lock_guard<std::mutex> counting(found->second.object->useMutex_);
    ++found->second.object->uses_;
  }
  return found->second.object;
}

// Finishes a close: the handle's own work when no call is in progress on it, else a signal to
// the calls, the last of which does it. `closedItself`: Close, rather than Cancel for a handle
// closed with one above it.
void CloseTaken(const std::shared_ptr<InternetHandle>& handle, bool closedItself) {
  {
    std::lock_guard<std::mutex> lock(handle->useMutex_);
    if (handle->uses_ > 0) {
      handle->closePending_ = true;
      handle->Cancel();
      return;
    }
  }
  if (closedItself) {
    handle->Close();
  } else {
    handle->Cancel();
  }
}

void InitialiseCurlOnce() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

DWORD ErrorFromCurl(CURLcode code) {
  switch (code) {
    case CURLE_UNSUPPORTED_PROTOCOL:
      return ERROR_INTERNET_UNRECOGNIZED_SCHEME;
    case CURLE_URL_MALFORMAT:
      return ERROR_INTERNET_INVALID_URL;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
      return ERROR_INTERNET_NAME_NOT_RESOLVED;
    case CURLE_COULDNT_CONNECT:
      return ERROR_INTERNET_CANNOT_CONNECT;
    case CURLE_OPERATION_TIMEDOUT:
      return ERROR_INTERNET_TIMEOUT;
    case CURLE_LOGIN_DENIED:
      return ERROR_INTERNET_LOGIN_FAILURE;
    case CURLE_ABORTED_BY_CALLBACK:
      return ERROR_INTERNET_OPERATION_CANCELLED;
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
      return ERROR_INTERNET_CONNECTION_RESET;
    case CURLE_QUOTE_ERROR:
    case CURLE_UPLOAD_FAILED:
    case CURLE_REMOTE_ACCESS_DENIED:
    case CURLE_REMOTE_FILE_NOT_FOUND:
    case CURLE_FTP_COULDNT_RETR_FILE:
      return ERROR_INTERNET_EXTENDED_ERROR;
    default:
      return ERROR_INTERNET_CONNECTION_ABORTED;
  }
}

BOOL InternetHandle::Read(char* /*buffer*/, DWORD /*wanted*/, DWORD* read) {
  *read = 0;
  SetLastError(ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
  return FALSE;
}

BOOL InternetHandle::Write(const char* /*data*/, DWORD /*size*/, DWORD* written) {
  *written = 0;
  SetLastError(ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
  return FALSE;
}

}  // namespace wininet

BOOL InternetReadFile(HINTERNET file, LPVOID buffer, DWORD bytesToRead, DWORD* bytesRead) {
  return WithoutThrowing(ReportsLastError<BOOL>{FALSE}, [&]() -> BOOL {
    if (bytesRead == nullptr || (buffer == nullptr && bytesToRead > 0)) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
    }
    *bytesRead = 0;
    const wininet::HandleUse<wininet::InternetHandle> opened(file);
    if (!opened) return FALSE;
    return opened->Read(static_cast<char*>(buffer), bytesToRead, bytesRead);
  });
}

BOOL DiscardInternetData(HINTERNET file, DWORD most, DWORD* discarded) {
  return WithoutThrowing(ReportsLastError<BOOL>{FALSE}, [&]() -> BOOL {
    if (discarded == nullptr) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
    }
    *discarded = 0;
    const wininet::HandleUse<wininet::InternetHandle> opened(file);
    if (!opened) return FALSE;
    return opened->Read(nullptr, most, discarded);
  });
}

BOOL InternetWriteFile(HINTERNET file, const void* buffer, DWORD bytesToWrite,
                       DWORD* bytesWritten) {
  return WithoutThrowing(ReportsLastError<BOOL>{FALSE}, [&]() -> BOOL {
    if (bytesWritten == nullptr || (buffer == nullptr && bytesToWrite > 0)) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
    }
    *bytesWritten = 0;
    const wininet::HandleUse<wininet::InternetHandle> opened(file);
    if (!opened) return FALSE;
    return opened->Write(static_cast<const char*>(buffer), bytesToWrite, bytesWritten);
  });
}

BOOL InternetCloseHandle(HINTERNET handle) {
  return WithoutThrowing(ReportsLastError<BOOL>{FALSE}, [&]() -> BOOL {
    std::vector<std::shared_ptr<wininet::InternetHandle>> closing;
    {
      std::lock_guard<std::mutex> lock(wininet::tableMutex);
      closing = wininet::TakeOutTree(handle);
    }
    if (closing.empty()) {
      SetLastError(ERROR_INVALID_HANDLE);
      return FALSE;
    }
    // Below first, so a transfer is cut before the connection it runs on is let go.
    for (size_t i = closing.size(); i-- > 1;) wininet::CloseTaken(closing[i], false);
    wininet::CloseTaken(closing.front(), true);
    return TRUE;  // the objects go with `closing`, unless a call in progress still holds them
  });
}

namespace {

DWORD* TimeoutOption(wininet::InternetHandle& handle, DWORD option) {
  switch (option) {
    case INTERNET_OPTION_CONNECT_TIMEOUT:
      return &handle.timeouts.connect;
    case INTERNET_OPTION_SEND_TIMEOUT:
      return &handle.timeouts.send;
    case INTERNET_OPTION_RECEIVE_TIMEOUT:
      return &handle.timeouts.receive;
    default:
      return nullptr;
  }
}

bool IsConnectionLimit(DWORD option) {
  return option == INTERNET_OPTION_MAX_CONNS_PER_SERVER ||
         option == INTERNET_OPTION_MAX_CONNS_PER_1_0_SERVER;
}

}  // namespace

BOOL InternetSetOptionA(HINTERNET handle, DWORD option, LPVOID buffer, DWORD length) {
  if (handle == nullptr && IsConnectionLimit(option)) {
    if (buffer == nullptr || length != sizeof(DWORD)) {
      SetLastError(ERROR_INTERNET_BAD_OPTION_LENGTH);
      return FALSE;
    }
    return TRUE;
  }
  auto found = wininet::FindAnyHandle(handle);
  if (found == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  DWORD* limit = TimeoutOption(*found, option);
  if (limit == nullptr) {
    SetLastError(ERROR_INTERNET_INVALID_OPTION);
    return FALSE;
  }
  if (buffer == nullptr || length != sizeof(DWORD)) {
    SetLastError(ERROR_INTERNET_BAD_OPTION_LENGTH);
    return FALSE;
  }
  *limit = *static_cast<const DWORD*>(buffer);
  return TRUE;
}

BOOL InternetQueryOptionA(HINTERNET handle, DWORD option, LPVOID buffer, DWORD* length) {
  static const DWORD kNoLimit = 0xFFFFFFFF;
  auto found =
      handle == nullptr && IsConnectionLimit(option) ? nullptr : wininet::FindAnyHandle(handle);
  if (found == nullptr && !IsConnectionLimit(option)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  const DWORD* limit = found != nullptr ? TimeoutOption(*found, option) : &kNoLimit;
  if (limit == nullptr) {
    SetLastError(ERROR_INTERNET_INVALID_OPTION);
    return FALSE;
  }
  if (length == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (buffer == nullptr || *length < sizeof(DWORD)) {
    *length = sizeof(DWORD);
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  *static_cast<DWORD*>(buffer) = *limit;
  *length = sizeof(DWORD);
  return TRUE;
}
