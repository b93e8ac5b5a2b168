// An HTTP transfer of WinINet's over libcurl, behind a URL handle (InternetOpenUrlA) or a request
// handle (HttpOpenRequestA): one curl transfer driven on the calling thread. A download runs
// until the final response's headers are in (or the first body bytes, for FTP) when opened, and
// each read runs it until body bytes have come, straight into the reader's buffer where none
// were waiting before them; the rest is buffered, bounded, and a full buffer pauses the
// transfer until reads have emptied it. An upload's body is lent to curl one
// InternetWriteFile at a time, and ending the request waits for the response's headers.
#ifndef TELVARIO_PLATFORM_POSIX_WININET_TRANSFER_H
#define TELVARIO_PLATFORM_POSIX_WININET_TRANSFER_H

#include <curl/curl.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "wininet_handles.h"

namespace wininet {

class HttpTransfer : public InternetHandle, public Cancellable {
 public:
  HttpTransfer();
  ~HttpTransfer() override;
  HttpTransfer(const HttpTransfer&) = delete;
  HttpTransfer& operator=(const HttpTransfer&) = delete;

  // The transfer is to end: whichever thread drives it sees this and stops.
  void Cancel() override;

  // Sends a GET; true once the body can be read (or the transfer ended well).
  bool Open(Session& session, const char* url, DWORD flags);

  // A request to send later (HttpOpenRequestA): its verb and URL, on a session.
  void Prepare(std::shared_ptr<Session> session, std::string verb, std::string url);
  // Sends the prepared request with no body (HttpSendRequestA), with `extraHeaders`; true once
  // the response's body can be read, as Open.
  bool SendWithoutBody(const std::string& extraHeaders);
  // Sends the prepared request's headers, with `extraHeaders` (CRLF-separated lines) and a body
  // of `bodySize` bytes to come; true once the server may take the body.
  bool Send(const std::string& extraHeaders, ULONGLONG bodySize);
  // The body's bytes, as InternetWriteFile gives them; true once curl has taken them all.
  BOOL Write(const char* data, DWORD size, DWORD* written) override;
  // The body is complete: true once the response's headers are in.
  bool EndRequest();

  // A null `buffer` takes the bytes without keeping them.
  BOOL Read(char* buffer, DWORD wanted, DWORD* read) override;

  // A header of the final response, as the server wrote its value; false when it has none.
  bool Header(DWORD level, std::string* value) const;

 private:
  void SetCommon(const Session& session, const char* url);
  void AddHeaders(const std::string& extraHeaders);
  bool RunToHeaders(Session& session);
  size_t Buffered() const { return pending_.size() - offset_; }
  size_t TakeStraight(const char* data, size_t size);
  void Compact();
  void Pump();
  void Resume();
  static size_t OnBody(char* data, size_t size, size_t count, void* user) noexcept;
  static size_t OnHeader(char* data, size_t size, size_t count, void* user) noexcept;
  static size_t OnRead(char* buffer, size_t size, size_t count, void* user) noexcept;

  CURLM* multi_;
  CURL* easy_;
  std::shared_ptr<ConnectionShare> connections_;
  bool added_ = false;
  std::shared_ptr<Session> session_;  // a request's
  std::string verb_;
  std::string url_;
  curl_slist* headers_ = nullptr;
  // The body being lent to curl, and what is left of it.
  const char* lent_ = nullptr;
  size_t lentSize_ = 0;
  bool uploadPaused_ = false;
  std::vector<char> pending_;
  size_t offset_ = 0;
  // The read waiting while curl runs: body bytes go straight to its buffer (or nowhere, for a
  // read that drops them) while nothing is pending before them, and only the rest to pending_.
  struct Waiting {
    char* buffer = nullptr;
    size_t wanted = 0;
    size_t taken = 0;
  } waiting_;
  size_t received_ = 0;  // body bytes taken from curl so far
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

}  // namespace wininet

#endif
