// WinINet's FTP connections over libcurl. A connection owns one curl easy handle and the multi
// handle that drives it on the calling thread; the multi handle's connection pool keeps the
// control connection between operations, so the login, every upload and every deletion of a
// connection share it. Logging in is a request without a body for the server's root; an upload
// is an upload transfer whose bytes the read callback takes from InternetWriteFile, pausing the
// transfer while there are none; a deletion is a request without a body carrying DELE.
#include <curl/curl.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <string>

#include "kernel.h"
#include "no_throw.h"
#include "scope_exit.h"
#include "wininet_handles.h"

namespace wininet {
namespace {

constexpr int kPollMilliseconds = 1000;

// Text that would end the FTP command it is sent in, or the URL it is put in.
bool HasLineBreak(const char* text) {
  return std::strpbrk(text, "\r\n") != nullptr;
}

// "ftp://host:port/" with the host checked and bracketed as a URL needs it.
bool ServerUrl(const char* server, INTERNET_PORT port, std::string* url) {
  const std::string portText = std::to_string(port);
  std::string host = server;
  if (host.find(':') != std::string::npos && host.front() != '[') host = "[" + host + "]";
  CURLU* parts = curl_url();
  if (parts == nullptr) return false;
  char* text = nullptr;
  const ScopeExit release([&] {
    curl_free(text);
    curl_url_cleanup(parts);
  });
  const bool made = curl_url_set(parts, CURLUPART_SCHEME, "ftp", 0) == CURLUE_OK &&
                    curl_url_set(parts, CURLUPART_HOST, host.c_str(), 0) == CURLUE_OK &&
                    curl_url_set(parts, CURLUPART_PORT, portText.c_str(), 0) == CURLUE_OK &&
                    curl_url_set(parts, CURLUPART_PATH, "/", 0) == CURLUE_OK &&
                    curl_url_get(parts, CURLUPART_URL, &text, 0) == CURLUE_OK;
  if (made) *url = text;
  return made;
}

// The URL of a remote file: a name starting with "/" is absolute, which a URL says with an
// empty first segment ("ftp://host//temp/name"); every other character is escaped.
std::string FileUrl(const std::string& serverUrl, const char* name, CURL* easy) {
  std::string url = serverUrl;
  std::string_view rest(name);
  if (!rest.empty() && rest.front() == '/') {
    url += "/";
    rest.remove_prefix(1);
  }
  while (!rest.empty()) {
    const size_t slash = rest.find('/');
    const std::string_view segment = rest.substr(0, slash);
    if (!segment.empty()) {  // (a length of 0 would make curl escape up to the NUL)
      char* escaped = curl_easy_escape(easy, segment.data(), static_cast<int>(segment.size()));
      const ScopeExit release([&] { curl_free(escaped); });
      if (escaped != nullptr) url += escaped;
    }
    if (slash == std::string_view::npos) break;
    url += "/";
    rest.remove_prefix(slash + 1);
  }
  return url;
}

class FtpConnection : public InternetHandle, public Cancellable {
 public:
  FtpConnection() : multi_(curl_multi_init()), easy_(curl_easy_init()) {}
  ~FtpConnection() override {
    curl_easy_cleanup(easy_);
    curl_multi_cleanup(multi_);  // ends the control connection
  }
  FtpConnection(const FtpConnection&) = delete;
  FtpConnection& operator=(const FtpConnection&) = delete;

  void Cancel() override {
    cancelled_ = true;
    if (multi_ != nullptr) curl_multi_wakeup(multi_);
  }

  bool LogIn(Session& session, const char* server, INTERNET_PORT port, const char* user,
             const char* password, DWORD flags) {
    if (multi_ == nullptr || easy_ == nullptr) {
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return false;
    }
    if (!ServerUrl(server, port, &serverUrl_)) {
      SetLastError(ERROR_INTERNET_NAME_NOT_RESOLVED);
      return false;
    }
    timeouts = session.timeouts;
    curl_easy_setopt(easy_, CURLOPT_USERAGENT, session.agent.c_str());
    curl_easy_setopt(easy_, CURLOPT_PROTOCOLS_STR, "ftp");
    curl_easy_setopt(easy_, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy_, CURLOPT_CONNECTTIMEOUT_MS, CurlMilliseconds(timeouts.connect));
    // The greeting and every answer to a command, on the control connection.
    curl_easy_setopt(easy_, CURLOPT_SERVER_RESPONSE_TIMEOUT, CurlSeconds(timeouts.receive));
    // The server connecting back for an active transfer.
    curl_easy_setopt(easy_, CURLOPT_ACCEPTTIMEOUT_MS, CurlMilliseconds(timeouts.connect));
    // Names are sent as given, from the login directory or from the root.
    curl_easy_setopt(easy_, CURLOPT_FTP_FILEMETHOD, static_cast<long>(CURLFTPMETHOD_NOCWD));
    if ((flags & INTERNET_FLAG_PASSIVE) == 0) curl_easy_setopt(easy_, CURLOPT_FTPPORT, "-");
    if (user != nullptr) curl_easy_setopt(easy_, CURLOPT_USERNAME, user);
    if (password != nullptr) curl_easy_setopt(easy_, CURLOPT_PASSWORD, password);
    connections_ = session.ApplyProxy(easy_);
    curl_easy_setopt(easy_, CURLOPT_URL, serverUrl_.c_str());
    curl_easy_setopt(easy_, CURLOPT_NOBODY, 1L);
    if (!session.Begin(this)) {
      SetLastError(ERROR_INTERNET_OPERATION_CANCELLED);
      return false;
    }
    const CURLcode result = RunToEnd();
    session.End(this);
    return Succeeded(result);
  }

  bool Delete(const char* name) {
    if (!Idle()) return false;
    curl_slist* commands = curl_slist_append(nullptr, ("DELE " + std::string(name)).c_str());
    if (commands == nullptr) {
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return false;
    }
    curl_easy_setopt(easy_, CURLOPT_URL, serverUrl_.c_str());
    curl_easy_setopt(easy_, CURLOPT_NOBODY, 1L);
    curl_easy_setopt(easy_, CURLOPT_QUOTE, commands);
    const CURLcode result = RunToEnd();
    curl_easy_setopt(easy_, CURLOPT_QUOTE, nullptr);
    curl_slist_free_all(commands);
    return Succeeded(result);
  }

  // Nothing else may run on the connection while a file is open on it.
  bool Idle() const {
    if (!busy_) return true;
    SetLastError(ERROR_FTP_TRANSFER_IN_PROGRESS);
    return false;
  }

  // Runs the easy handle's transfer step by step: Start, then Step until it gives true.
  void Start() {
    finished_ = false;
    result_ = CURLE_OK;
    curl_multi_add_handle(multi_, easy_);
  }
  // Moves the transfer on as far as it can go now; true once it has ended, with its result in
  // Result().
  bool Step() {
    if (cancelled_) Finish(CURLE_ABORTED_BY_CALLBACK);
    if (finished_) return true;
    int running = 0;
    if (curl_multi_perform(multi_, &running) != CURLM_OK) {
      Finish(CURLE_FAILED_INIT);
      return true;
    }
    int queued = 0;
    while (CURLMsg* message = curl_multi_info_read(multi_, &queued)) {
      if (message->msg == CURLMSG_DONE) Finish(message->data.result);
    }
    if (cancelled_) Finish(CURLE_ABORTED_BY_CALLBACK);
    return finished_;
  }
  // Waits up to a second for the network, or until the connection is cancelled.
  void Wait() {
    if (!finished_ && !cancelled_) curl_multi_poll(multi_, nullptr, 0, kPollMilliseconds, nullptr);
  }
  CURLcode Result() const { return result_; }
  // Ends the transfer in progress on the calling thread, dropping its connection.
  void Abort() { Finish(CURLE_ABORTED_BY_CALLBACK); }

  CURL* Easy() const { return easy_; }
  const std::string& BaseUrl() const { return serverUrl_; }
  void SetBusy(bool busy) { busy_ = busy; }

 private:
  CURLcode RunToEnd() {
    Start();
    while (!Step()) Wait();
    return result_;
  }

  void Finish(CURLcode result) {
    if (finished_) return;
    finished_ = true;
    result_ = result;
    curl_multi_remove_handle(multi_, easy_);
  }

  static bool Succeeded(CURLcode result) {
    if (result == CURLE_OK) return true;
    SetLastError(ErrorFromCurl(result));
    return false;
  }

  CURLM* multi_;
  CURL* easy_;
  std::shared_ptr<ConnectionShare> connections_;
  std::string serverUrl_;
  std::atomic<bool> cancelled_{false};
  bool busy_ = false;
  bool finished_ = true;
  CURLcode result_ = CURLE_OK;
};

// A remote file being written. The bytes of one InternetWriteFile are lent to the read
// callback until it has taken them all.
class FtpFile : public InternetHandle {
 public:
  explicit FtpFile(std::shared_ptr<FtpConnection> connection)
      : connection_(std::move(connection)) {}
  ~FtpFile() override { End(false); }
  FtpFile(const FtpFile&) = delete;
  FtpFile& operator=(const FtpFile&) = delete;

  // Starts the upload; true once the server has accepted the file and asks for its bytes.
  bool Open(const char* name) {
    CURL* easy = connection_->Easy();
    const std::string url = FileUrl(connection_->BaseUrl(), name, easy);
    curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy, CURLOPT_NOBODY, 0L);
    curl_easy_setopt(easy, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(easy, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(-1));
    curl_easy_setopt(easy, CURLOPT_READFUNCTION, OnRead);
    curl_easy_setopt(easy, CURLOPT_READDATA, this);
    connection_->SetBusy(true);
    started_ = true;
    connection_->Start();
    for (;;) {
      if (connection_->Step() && !asked_) {
        SetLastError(ErrorFromCurl(connection_->Result() == CURLE_OK ? CURLE_SEND_ERROR
                                                                     : connection_->Result()));
        End(false);
        return false;
      }
      if (asked_) return true;
      connection_->Wait();
    }
  }

  BOOL Write(const char* data, DWORD size, DWORD* written) override {
    lent_ = data;
    lentSize_ = size;
    Resume();
    StallClock stall(CurlMilliseconds(connection_->timeouts.send));
    for (;;) {
      if (connection_->Step() && lentSize_ > 0) {
        *written = size - static_cast<DWORD>(lentSize_);
        lentSize_ = 0;
        const CURLcode result = connection_->Result();
        SetLastError(result == CURLE_OK ? ERROR_INTERNET_CONNECTION_ABORTED
                                        : ErrorFromCurl(result));
        return FALSE;
      }
      if (lentSize_ == 0) break;
      if (stall.Expired(lentSize_)) {  // the data connection takes nothing: the send time-out
        *written = size - static_cast<DWORD>(lentSize_);
        lentSize_ = 0;
        connection_->Abort();
        SetLastError(ERROR_INTERNET_TIMEOUT);
        return FALSE;
      }
      connection_->Wait();
    }
    *written = size;
    return TRUE;
  }

  void Close() override { End(true); }
  // The connection is going: whichever thread is in a call on the file sees it and returns.
  void Cancel() override { connection_->Cancel(); }

 private:
  // Completes the upload (the end of the data, then the server's answer) or abandons it.
  void End(bool complete) {
    if (!started_) return;
    started_ = false;
    if (complete) {
      ended_ = true;
      Resume();
      // The last bytes, then the server's answer: ended after the longer of the two limits
      // passes without a byte moving.
      const Timeouts& limits = connection_->timeouts;
      StallClock stall(std::max(CurlMilliseconds(limits.send), CurlMilliseconds(limits.receive)));
      while (!connection_->Step()) {
        curl_off_t sent = 0;
        curl_easy_getinfo(connection_->Easy(), CURLINFO_SIZE_UPLOAD_T, &sent);
        if (stall.Expired(static_cast<size_t>(sent))) {
          connection_->Abort();
          break;
        }
        connection_->Wait();
      }
    } else {
      connection_->Abort();
    }
    curl_easy_setopt(connection_->Easy(), CURLOPT_UPLOAD, 0L);
    connection_->SetBusy(false);
  }

  void Resume() {
    if (!paused_) return;
    paused_ = false;
    curl_easy_pause(connection_->Easy(), CURLPAUSE_CONT);
  }

  static size_t OnRead(char* buffer, size_t size, size_t count, void* user) {
    auto* file = static_cast<FtpFile*>(user);
    file->asked_ = true;
    if (file->lentSize_ == 0) {
      if (file->ended_) return 0;
      file->paused_ = true;
      return CURL_READFUNC_PAUSE;
    }
    const size_t taken = std::min(size * count, file->lentSize_);
    std::memcpy(buffer, file->lent_, taken);
    file->lent_ += taken;
    file->lentSize_ -= taken;
    return taken;
  }

  std::shared_ptr<FtpConnection> connection_;
  const char* lent_ = nullptr;
  size_t lentSize_ = 0;
  bool started_ = false;
  bool asked_ = false;
  bool paused_ = false;
  bool ended_ = false;
};

}  // namespace
}  // namespace wininet

using wininet::HandleUse;

HINTERNET InternetConnectA(HINTERNET session, LPCSTR serverName, INTERNET_PORT port,
                           LPCSTR userName, LPCSTR password, DWORD service, DWORD flags,
                           DWORD_PTR /*context*/) {
  return WithoutThrowing(ReportsLastError<HINTERNET>{nullptr}, [&]() -> HINTERNET {
    const HandleUse<wininet::Session> owner(session);
    if (!owner) return nullptr;
    if (service == INTERNET_SERVICE_HTTP && serverName != nullptr && serverName[0] != '\0' &&
        !wininet::HasLineBreak(serverName)) {
      return wininet::ConnectHttp(session, serverName, port);
    }
    if (service != INTERNET_SERVICE_FTP) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return nullptr;
    }
    if (serverName == nullptr || serverName[0] == '\0') {
      SetLastError(ERROR_INVALID_PARAMETER);
      return nullptr;
    }
    if (wininet::HasLineBreak(serverName) ||
        (userName != nullptr && wininet::HasLineBreak(userName)) ||
        (password != nullptr && wininet::HasLineBreak(password))) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return nullptr;
    }
    if (port == INTERNET_INVALID_PORT_NUMBER) port = INTERNET_DEFAULT_FTP_PORT;
    auto connection = std::make_shared<wininet::FtpConnection>();
    if (!connection->LogIn(*owner, serverName, port, userName, password, flags)) return nullptr;
    // A session closed while the login finished takes its connection with it.
    return wininet::AddHandle(std::move(connection), session);
  });
}

HINTERNET FtpOpenFileA(HINTERNET connection, LPCSTR fileName, DWORD access, DWORD /*flags*/,
                       DWORD_PTR /*context*/) {
  return WithoutThrowing(ReportsLastError<HINTERNET>{nullptr}, [&]() -> HINTERNET {
    const HandleUse<wininet::FtpConnection> owner(connection);
    if (!owner) return nullptr;
    if (fileName == nullptr || fileName[0] == '\0' || wininet::HasLineBreak(fileName) ||
        access != GENERIC_WRITE) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return nullptr;
    }
    if (!owner->Idle()) return nullptr;
    auto file = std::make_shared<wininet::FtpFile>(owner.Shared());
    if (!file->Open(fileName)) return nullptr;
    return wininet::AddHandle(std::move(file), connection);
  });
}

BOOL FtpDeleteFileA(HINTERNET connection, LPCSTR fileName) {
  return WithoutThrowing(ReportsLastError<BOOL>{FALSE}, [&]() -> BOOL {
    const HandleUse<wininet::FtpConnection> owner(connection);
    if (!owner) return FALSE;
    if (fileName == nullptr || fileName[0] == '\0' || wininet::HasLineBreak(fileName)) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
    }
    return owner->Delete(fileName) ? TRUE : FALSE;
  });
}
