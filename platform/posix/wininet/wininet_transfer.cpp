#include "wininet_transfer.h"

#include <strings.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <string_view>

#include "kernel.h"
#include "no_throw.h"

namespace wininet {
namespace {

constexpr size_t kMaxBuffered = 256 * 1024;
constexpr size_t kReadChunk = 128 * 1024;
static_assert(kReadChunk <= kMaxBuffered);
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

}  // namespace

HttpTransfer::HttpTransfer() : multi_(curl_multi_init()), easy_(curl_easy_init()) {}

HttpTransfer::~HttpTransfer() {
  if (added_) curl_multi_remove_handle(multi_, easy_);
  curl_easy_cleanup(easy_);
  curl_multi_cleanup(multi_);
  curl_slist_free_all(headers_);
}

void HttpTransfer::Cancel() {
  cancelled_ = true;
  if (multi_ != nullptr) curl_multi_wakeup(multi_);
}

void HttpTransfer::SetCommon(const Session& session, const char* url) {
  curl_easy_setopt(easy_, CURLOPT_URL, url);
  curl_easy_setopt(easy_, CURLOPT_USERAGENT, session.agent.c_str());
  curl_easy_setopt(easy_, CURLOPT_PROTOCOLS_STR, "http,https,ftp");
  curl_easy_setopt(easy_, CURLOPT_REDIR_PROTOCOLS_STR, "http,https,ftp");
  curl_easy_setopt(easy_, CURLOPT_FOLLOWLOCATION, following_ ? 1L : 0L);
  curl_easy_setopt(easy_, CURLOPT_MAXREDIRS, kMaxRedirects);
  curl_easy_setopt(easy_, CURLOPT_NOSIGNAL, 1L);
  // Fewer, larger reads from the socket on a fast link; no larger than the pending bytes' bound,
  // so that what a waiting read does not take always fits behind it.
  curl_easy_setopt(easy_, CURLOPT_BUFFERSIZE, static_cast<long>(kReadChunk));
  curl_easy_setopt(easy_, CURLOPT_CONNECTTIMEOUT_MS, CurlMilliseconds(timeouts.connect));
  // A response that stalls (less than a byte a second) for the receive time-out fails.
  curl_easy_setopt(easy_, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(easy_, CURLOPT_LOW_SPEED_TIME, CurlSeconds(timeouts.receive));
  curl_easy_setopt(easy_, CURLOPT_WRITEFUNCTION, OnBody);
  curl_easy_setopt(easy_, CURLOPT_WRITEDATA, this);
  curl_easy_setopt(easy_, CURLOPT_HEADERFUNCTION, OnHeader);
  curl_easy_setopt(easy_, CURLOPT_HEADERDATA, this);
  connections_ = session.ApplyProxy(easy_);
}

bool HttpTransfer::RunToHeaders(Session& session) {
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

bool HttpTransfer::Open(Session& session, const char* url, DWORD flags) {
  if (multi_ == nullptr || easy_ == nullptr) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return false;
  }
  following_ = (flags & INTERNET_FLAG_NO_AUTO_REDIRECT) == 0;
  timeouts = session.timeouts;
  SetCommon(session, url);
  return RunToHeaders(session);
}

void HttpTransfer::Prepare(std::shared_ptr<Session> session, std::string verb, std::string url) {
  session_ = std::move(session);
  verb_ = std::move(verb);
  url_ = std::move(url);
  following_ = false;  // the caller sees a request's redirect, as WinINet gives it
  timeouts = session_->timeouts;
}

void HttpTransfer::AddHeaders(const std::string& extraHeaders) {
  std::string_view rest = extraHeaders;
  while (!rest.empty()) {
    const size_t end = rest.find("\r\n");
    const std::string line(rest.substr(0, end));
    if (!line.empty()) headers_ = curl_slist_append(headers_, line.c_str());
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 2);
  }
  curl_easy_setopt(easy_, CURLOPT_HTTPHEADER, headers_);
}

bool HttpTransfer::SendWithoutBody(const std::string& extraHeaders) {
  if (multi_ == nullptr || easy_ == nullptr || session_ == nullptr) {
    SetLastError(multi_ == nullptr || easy_ == nullptr ? ERROR_NOT_ENOUGH_MEMORY
                                                       : ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
    return false;
  }
  if (added_) {
    SetLastError(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
    return false;
  }
  SetCommon(*session_, url_.c_str());
  if (verb_ == "HEAD") {
    curl_easy_setopt(easy_, CURLOPT_NOBODY, 1L);
  } else if (verb_ != "GET") {
    curl_easy_setopt(easy_, CURLOPT_CUSTOMREQUEST, verb_.c_str());
  }
  AddHeaders(extraHeaders);
  return RunToHeaders(*session_);
}

bool HttpTransfer::Send(const std::string& extraHeaders, ULONGLONG bodySize) {
  if (multi_ == nullptr || easy_ == nullptr || session_ == nullptr) {
    SetLastError(multi_ == nullptr || easy_ == nullptr ? ERROR_NOT_ENOUGH_MEMORY
                                                       : ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
    return false;
  }
  if (added_) {
    SetLastError(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
    return false;
  }
  SetCommon(*session_, url_.c_str());
  curl_easy_setopt(easy_, CURLOPT_CUSTOMREQUEST, verb_.c_str());
  curl_easy_setopt(easy_, CURLOPT_UPLOAD, 1L);
  curl_easy_setopt(easy_, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(bodySize));
  curl_easy_setopt(easy_, CURLOPT_READFUNCTION, OnRead);
  curl_easy_setopt(easy_, CURLOPT_READDATA, this);
  // The body goes at once: no waiting for a 100 Continue that a server may never send.
  headers_ = curl_slist_append(headers_, "Expect:");
  AddHeaders(extraHeaders);
  curl_multi_add_handle(multi_, easy_);
  added_ = true;
  // The headers are sent once curl asks for the first bytes of the body.
  StallClock stall(CurlMilliseconds(timeouts.connect));
  while (!uploadPaused_ && !finished_) {
    Pump();
    if (stall.Expired(0)) Cancel();
  }
  if (finished_ && result_ != CURLE_OK) {
    SetLastError(ErrorFromCurl(result_));
    return false;
  }
  return true;
}

BOOL HttpTransfer::Write(const char* data, DWORD size, DWORD* written) {
  *written = 0;
  if (!added_ || verb_.empty()) return InternetHandle::Write(data, size, written);
  lent_ = data;
  lentSize_ = size;
  Resume();
  StallClock stall(CurlMilliseconds(timeouts.send));
  while (lentSize_ > 0) {
    if (finished_) {  // the transfer ended with bytes still to go: it broke
      *written = size - static_cast<DWORD>(lentSize_);
      lentSize_ = 0;
      SetLastError(result_ == CURLE_OK ? ERROR_INTERNET_CONNECTION_ABORTED
                                       : ErrorFromCurl(result_));
      return FALSE;
    }
    if (stall.Expired(lentSize_)) {  // the connection takes nothing: the send time-out
      *written = size - static_cast<DWORD>(lentSize_);
      lentSize_ = 0;
      Cancel();
      SetLastError(ERROR_INTERNET_TIMEOUT);
      return FALSE;
    }
    Pump();
  }
  *written = size;
  return TRUE;
}

bool HttpTransfer::EndRequest() {
  if (!added_ || verb_.empty()) {
    SetLastError(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
    return false;
  }
  Resume();  // the read callback now says the body has ended
  StallClock stall(CurlMilliseconds(timeouts.receive));
  while (!headersComplete_ && Buffered() == 0 && !finished_) {
    curl_off_t sent = 0;
    curl_easy_getinfo(easy_, CURLINFO_SIZE_UPLOAD_T, &sent);
    if (stall.Expired(static_cast<size_t>(sent))) Cancel();
    Pump();
  }
  if (finished_ && result_ != CURLE_OK && !headersComplete_) {
    SetLastError(ErrorFromCurl(result_));
    return false;
  }
  return true;
}

bool HttpTransfer::Header(DWORD level, std::string* value) const {
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

BOOL HttpTransfer::Read(char* buffer, DWORD wanted, DWORD* read) {
  *read = 0;
  if (!added_) {
    SetLastError(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
    return FALSE;
  }
  // As a socket's receive time-out: the read fails once nothing has come for the limit.
  StallClock stall(CurlMilliseconds(timeouts.receive));
  for (;;) {
    if (Buffered() > 0) {
      const size_t count = std::min<size_t>(wanted, Buffered());
      if (buffer != nullptr) std::memcpy(buffer, pending_.data() + offset_, count);
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
    if (stall.Expired(received_)) {
      SetLastError(ERROR_INTERNET_TIMEOUT);
      return FALSE;
    }
    waiting_ = {buffer, wanted, 0};
    Pump();
    *read = static_cast<DWORD>(waiting_.taken);
    waiting_ = {};
    if (*read > 0) return TRUE;
  }
}

// The part of curl's bytes that the waiting read takes at once, where none are pending before
// them.
size_t HttpTransfer::TakeStraight(const char* data, size_t size) {
  if (Buffered() > 0 || waiting_.taken >= waiting_.wanted) return 0;
  const size_t count = std::min(size, waiting_.wanted - waiting_.taken);
  if (waiting_.buffer != nullptr) std::memcpy(waiting_.buffer + waiting_.taken, data, count);
  waiting_.taken += count;
  received_ += count;
  return count;
}

void HttpTransfer::Compact() {
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

void HttpTransfer::Resume() {
  if (!uploadPaused_) return;
  uploadPaused_ = false;
  curl_easy_pause(easy_, CURLPAUSE_CONT);
}

// Moves the transfer on: what is ready now, or a wait of up to a second for the network.
void HttpTransfer::Pump() {
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
  const bool waitingForBody = lentSize_ == 0 && uploadPaused_;
  if (!finished_ && Buffered() == 0 && waiting_.taken == 0 && !cancelled_ && !waitingForBody) {
    curl_multi_poll(multi_, nullptr, 0, kPollMilliseconds, nullptr);
  }
}

// Called from within curl, which no exception may cross: bytes that cannot be kept end the
// transfer as failed.
size_t HttpTransfer::OnBody(char* data, size_t size, size_t count, void* user) noexcept {
  auto* transfer = static_cast<HttpTransfer*>(user);
  if (transfer->Buffered() >= kMaxBuffered) {
    transfer->paused_ = true;
    return CURL_WRITEFUNC_PAUSE;
  }
  const size_t straight = transfer->TakeStraight(data, size * count);
  return WithoutThrowing(EndsTransfer{}, [&]() -> size_t {
    transfer->pending_.insert(transfer->pending_.end(), data + straight, data + size * count);
    transfer->received_ += size * count - straight;
    return size * count;
  });
}

// The body starts after the blank line of the final response: not an interim 1xx, and not a
// redirect that is about to be followed. Called from within curl, which no exception may
// cross: the Location that cannot be kept is dropped.
size_t HttpTransfer::OnHeader(char* data, size_t size, size_t count, void* user) noexcept {
  auto* transfer = static_cast<HttpTransfer*>(user);
  const std::string_view line(data, size * count);
  if (StartsWithNoCase(line, "http/")) {  // a new response: its headers replace the last's
    transfer->sawLocation_ = false;
    transfer->hasLength_ = false;
    transfer->location_.clear();
  }
  if (StartsWithNoCase(line, "location:")) {
    transfer->sawLocation_ = true;
    try {
      transfer->location_ = HeaderValue(line, "location:");
    } catch (const std::bad_alloc&) {
      transfer->location_.clear();
    }
  }
  if (StartsWithNoCase(line, "content-length:")) {
    const std::string_view value = HeaderValue(line, "content-length:");
    const size_t kept = std::min(value.size(), sizeof transfer->contentLength_ - 1);
    std::memcpy(transfer->contentLength_, value.data(), kept);
    transfer->contentLength_[kept] = '\0';
    transfer->hasLength_ = true;
  }
  if (line == "\r\n" || line == "\n") {
    long status = 0;
    curl_easy_getinfo(transfer->easy_, CURLINFO_RESPONSE_CODE, &status);
    const bool interim = status >= 100 && status < 200;
    const bool redirect =
        transfer->following_ && status >= 300 && status < 400 && transfer->sawLocation_;
    if (!interim && !redirect) transfer->headersComplete_ = true;
  }
  return size * count;
}

// The body's bytes as InternetWriteFile lends them; a pause while none are lent, and the end of
// the body once EndRequest has come (curl asks no more than the declared size).
size_t HttpTransfer::OnRead(char* buffer, size_t size, size_t count, void* user) noexcept {
  auto* transfer = static_cast<HttpTransfer*>(user);
  if (transfer->lentSize_ == 0) {
    transfer->uploadPaused_ = true;
    return CURL_READFUNC_PAUSE;
  }
  const size_t taken = std::min(size * count, transfer->lentSize_);
  std::memcpy(buffer, transfer->lent_, taken);
  transfer->lent_ += taken;
  transfer->lentSize_ -= taken;
  return taken;
}

}  // namespace wininet
