// WinINet's sessions and URL handles over libcurl. A URL handle drives one transfer in a curl
// multi handle on the calling thread: opening runs it until the final response's headers are in
// (or the first body bytes, for FTP), and each read runs it until body bytes are buffered. The
// buffer is bounded: when it is full the transfer pauses until reads have emptied it.
#include <curl/curl.h>

#include <strings.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "kernel.h"
#include "no_throw.h"
#include "wininet_handles.h"

namespace wininet {
namespace {

constexpr size_t kMaxBuffered = 256 * 1024;
constexpr long kMaxRedirects = 20;
constexpr int kPollMilliseconds = 1000;

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() &&
         strncasecmp(text.data(), prefix.data(), prefix.size()) == 0;
}

// curl's write callbacks end the transfer as failed by taking fewer bytes than they are given.
struct EndsTransfer {
  size_t OutOfMemory() const { return 0; }
};

// A header's value, without the blanks around it.
std::string_view HeaderValue(std::string_view line, std::string_view name) {
  std::string_view value = line.substr(name.size());
  while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
  while (!value.empty() && (value.back() == '\r' || value.back() == '\n' || value.back() == ' ' ||
                            value.back() == '\t')) {
    value.remove_suffix(1);
  }
  return value;
}

class UrlFile : public InternetHandle, public Cancellable {
 public:
  UrlFile() : multi_(curl_multi_init()), easy_(curl_easy_init()) {}
  ~UrlFile() override {
    if (added_) curl_multi_remove_handle(multi_, easy_);
    curl_easy_cleanup(easy_);
    curl_multi_cleanup(multi_);
  }
  UrlFile(const UrlFile&) = delete;
  UrlFile& operator=(const UrlFile&) = delete;

  // The transfer is to end: whichever thread drives it sees this and stops.
  void Cancel() override {
    cancelled_ = true;
    if (multi_ != nullptr) curl_multi_wakeup(multi_);
  }

  // Sends the request; true once the body can be read (or the transfer ended well).
  bool Open(Session& session, const char* url, DWORD flags) {
    if (multi_ == nullptr || easy_ == nullptr) {
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return false;
    }
    timeouts = session.timeouts;
    following_ = (flags & INTERNET_FLAG_NO_AUTO_REDIRECT) == 0;
    curl_easy_setopt(easy_, CURLOPT_URL, url);
    curl_easy_setopt(easy_, CURLOPT_USERAGENT, session.agent.c_str());
    curl_easy_setopt(easy_, CURLOPT_PROTOCOLS_STR, "http,https,ftp");
    curl_easy_setopt(easy_, CURLOPT_REDIR_PROTOCOLS_STR, "http,https,ftp");
    curl_easy_setopt(easy_, CURLOPT_FOLLOWLOCATION, following_ ? 1L : 0L);
    curl_easy_setopt(easy_, CURLOPT_MAXREDIRS, kMaxRedirects);
    curl_easy_setopt(easy_, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy_, CURLOPT_CONNECTTIMEOUT_MS, CurlMilliseconds(timeouts.connect));
    // A response that stalls (less than a byte a second) for the receive time-out fails.
    curl_easy_setopt(easy_, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(easy_, CURLOPT_LOW_SPEED_TIME, CurlSeconds(timeouts.receive));
    curl_easy_setopt(easy_, CURLOPT_WRITEFUNCTION, OnBody);
    curl_easy_setopt(easy_, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(easy_, CURLOPT_HEADERFUNCTION, OnHeader);
    curl_easy_setopt(easy_, CURLOPT_HEADERDATA, this);
    session.ApplyProxy(easy_);
    curl_multi_add_handle(multi_, easy_);
    added_ = true;
    if (!session.Begin(this)) {  // closed meanwhile
      SetLastError(ERROR_INTERNET_OPERATION_CANCELLED);
      return false;
    }
    while (!headersComplete_ && Buffered() == 0 && !finished_) Pump();
    session.End(this);
    if (finished_ && result_ != CURLE_OK && !headersComplete_ && Buffered() == 0) {
      SetLastError(ErrorFromCurl(result_));
      return false;
    }
    return true;
  }

  // A header of the final response, as the server wrote its value; false when it has none.
  bool Header(DWORD level, std::string* value) const {
    if (level == HTTP_QUERY_STATUS_CODE) {
      long status = 0;
      curl_easy_getinfo(easy_, CURLINFO_RESPONSE_CODE, &status);
      if (status == 0) return false;
      *value = std::to_string(status);
      return true;
    }
    if (level == HTTP_QUERY_LOCATION && !location_.empty()) {
      *value = location_;
      return true;
    }
    if (level != HTTP_QUERY_CONTENT_LENGTH || !hasLength_) return false;
    *value = contentLength_;
    return true;
  }

  BOOL Read(char* buffer, DWORD wanted, DWORD* read) {
    *read = 0;
    for (;;) {
      if (Buffered() > 0) {
        const size_t count = std::min<size_t>(wanted, Buffered());
        std::memcpy(buffer, pending_.data() + offset_, count);
        offset_ += count;
        *read = static_cast<DWORD>(count);
        Compact();
        return TRUE;
      }
      if (finished_) {
        if (result_ == CURLE_OK) return TRUE;
        SetLastError(ErrorFromCurl(result_));
        return FALSE;
      }
      Pump();
    }
  }

 private:
  size_t Buffered() const { return pending_.size() - offset_; }

  void Compact() {
    if (offset_ == pending_.size()) {
      pending_.clear();
      offset_ = 0;
    } else if (offset_ >= kMaxBuffered / 2) {
      pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(offset_));
      offset_ = 0;
    }
    if (paused_ && Buffered() < kMaxBuffered / 2) {
      paused_ = false;
      curl_easy_pause(easy_, CURLPAUSE_CONT);  // may deliver the held bytes at once
    }
  }

  // Moves the transfer on: what is ready now, or a wait of up to a second for the network.
  void Pump() {
    if (cancelled_) {
      finished_ = true;
      result_ = CURLE_ABORTED_BY_CALLBACK;
      return;
    }
    int running = 0;
    if (curl_multi_perform(multi_, &running) != CURLM_OK) {
      finished_ = true;
      result_ = CURLE_FAILED_INIT;
      return;
    }
    int queued = 0;
    while (CURLMsg* message = curl_multi_info_read(multi_, &queued)) {
      if (message->msg == CURLMSG_DONE) {
        finished_ = true;
        result_ = message->data.result;
      }
    }
    if (!finished_ && Buffered() == 0 && !cancelled_) {
      curl_multi_poll(multi_, nullptr, 0, kPollMilliseconds, nullptr);
    }
  }

  // Called from within curl, which no exception may cross: bytes that cannot be kept end the
  // transfer as failed.
  static size_t OnBody(char* data, size_t size, size_t count, void* user) noexcept {
    auto* file = static_cast<UrlFile*>(user);
    if (file->Buffered() >= kMaxBuffered) {
      file->paused_ = true;
      return CURL_WRITEFUNC_PAUSE;
    }
    return WithoutThrowing(EndsTransfer{}, [&]() -> size_t {
      file->pending_.insert(file->pending_.end(), data, data + size * count);
      return size * count;
    });
  }

  // The body starts after the blank line of the final response: not an interim 1xx, and not a
  // redirect that is about to be followed. Called from within curl, which no exception may
  // cross: the Location that cannot be kept is dropped.
  static size_t OnHeader(char* data, size_t size, size_t count, void* user) noexcept {
    auto* file = static_cast<UrlFile*>(user);
    const std::string_view line(data, size * count);
    if (StartsWithNoCase(line, "http/")) {  // a new response: its headers replace the last's
      file->sawLocation_ = false;
      file->hasLength_ = false;
      file->location_.clear();
    }
    if (StartsWithNoCase(line, "location:")) {
      file->sawLocation_ = true;
      try {
        file->location_ = HeaderValue(line, "location:");
      } catch (const std::bad_alloc&) {
        file->location_.clear();
      }
    }
    if (StartsWithNoCase(line, "content-length:")) {
      const std::string_view value = HeaderValue(line, "content-length:");
      const size_t kept = std::min(value.size(), sizeof file->contentLength_ - 1);
      std::memcpy(file->contentLength_, value.data(), kept);
      file->contentLength_[kept] = '\0';
      file->hasLength_ = true;
    }
    if (line == "\r\n" || line == "\n") {
      long status = 0;
      curl_easy_getinfo(file->easy_, CURLINFO_RESPONSE_CODE, &status);
      const bool interim = status >= 100 && status < 200;
      const bool redirect = file->following_ && status >= 300 && status < 400 && file->sawLocation_;
      if (!interim && !redirect) file->headersComplete_ = true;
    }
    return size * count;
  }

  CURLM* multi_;
  CURL* easy_;
  bool added_ = false;
  std::vector<char> pending_;
  size_t offset_ = 0;
  bool paused_ = false;
  std::atomic<bool> cancelled_{false};
  bool following_ = true;
  bool headersComplete_ = false;
  bool sawLocation_ = false;
  std::string location_;
  // The final response's Content-Length, as text; kept in place, since the header callback may
  // not allocate (it runs inside curl).
  char contentLength_[32] = {};
  bool hasLength_ = false;
  bool finished_ = false;
  CURLcode result_ = CURLE_OK;
};

bool SchemeIsSupported(std::string_view url) {
  for (std::string_view scheme : {"http://", "https://", "ftp://"}) {
    if (StartsWithNoCase(url, scheme)) return true;
  }
  return false;
}

}  // namespace
}  // namespace wininet

using wininet::HandleUse;

HINTERNET InternetOpenA(LPCSTR agent, DWORD accessType, LPCSTR proxy, LPCSTR /*proxyBypass*/,
                        DWORD /*flags*/) {
  return WithoutThrowing(ReportsLastError<HINTERNET>{nullptr}, [&]() -> HINTERNET {
    wininet::InitialiseCurlOnce();
    return wininet::AddHandle(std::make_shared<wininet::Session>(agent, accessType, proxy));
  });
}

HINTERNET InternetOpenUrlA(HINTERNET session, LPCSTR url, LPCSTR /*headers*/,
                           DWORD /*headersLength*/, DWORD flags, DWORD_PTR /*context*/) {
  return WithoutThrowing(ReportsLastError<HINTERNET>{nullptr}, [&]() -> HINTERNET {
    const HandleUse<wininet::Session> owner(session);
    if (!owner) return nullptr;
    if (url == nullptr || url[0] == '\0') {
      SetLastError(ERROR_INTERNET_INVALID_URL);
      return nullptr;
    }
    if (!wininet::SchemeIsSupported(url)) {
      SetLastError(ERROR_INTERNET_UNRECOGNIZED_SCHEME);
      return nullptr;
    }
    auto file = std::make_shared<wininet::UrlFile>();
    if (!file->Open(*owner, url, flags)) return nullptr;
    return wininet::AddHandle(std::move(file), session);
  });
}

BOOL InternetReadFile(HINTERNET file, LPVOID buffer, DWORD bytesToRead, DWORD* bytesRead) {
  return WithoutThrowing(ReportsLastError<BOOL>{FALSE}, [&]() -> BOOL {
    if (bytesRead == nullptr || (buffer == nullptr && bytesToRead > 0)) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
    }
    const HandleUse<wininet::UrlFile> url(file);
    if (!url) {
      *bytesRead = 0;
      return FALSE;
    }
    return url->Read(static_cast<char*>(buffer), bytesToRead, bytesRead);
  });
}

BOOL HttpQueryInfoA(HINTERNET request, DWORD infoLevel, LPVOID buffer, DWORD* length,
                    DWORD* /*index*/) {
  return WithoutThrowing(ReportsLastError<BOOL>{FALSE}, [&]() -> BOOL {
    const HandleUse<wininet::UrlFile> url(request);
    if (!url) return FALSE;
    if (length == nullptr) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
    }
    std::string value;
    if (!url->Header(infoLevel & ~HTTP_QUERY_FLAG_NUMBER, &value)) {
      SetLastError(ERROR_HTTP_HEADER_NOT_FOUND);
      return FALSE;
    }
    if ((infoLevel & HTTP_QUERY_FLAG_NUMBER) != 0) {
      if (buffer == nullptr || *length < sizeof(DWORD)) {
        *length = sizeof(DWORD);
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
      }
      *static_cast<DWORD*>(buffer) = static_cast<DWORD>(std::strtoul(value.c_str(), nullptr, 10));
      *length = sizeof(DWORD);
      return TRUE;
    }
    if (buffer == nullptr || *length < value.size() + 1) {
      *length = static_cast<DWORD>(value.size() + 1);
      SetLastError(ERROR_INSUFFICIENT_BUFFER);
      return FALSE;
    }
    std::memcpy(buffer, value.c_str(), value.size() + 1);
    *length = static_cast<DWORD>(value.size());
    return TRUE;
  });
}
