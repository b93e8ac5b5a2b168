// WinINet's HTTP connections and requests over libcurl (see wininet.h): a connection handle
// names the server, a request handle is a transfer of wininet_transfer's prepared for its path
// and sent when HttpSendRequestExA comes.
#include <string>

#include "kernel.h"
#include "no_throw.h"
#include "wininet_handles.h"
#include "wininet_transfer.h"

namespace wininet {
namespace {

// A server that requests are made to; no connection of its own until a request is sent.
class HttpConnection : public InternetHandle {
 public:
  HttpConnection(std::shared_ptr<Session> session, std::string server, INTERNET_PORT port)
      : session_(std::move(session)), server_(std::move(server)), port_(port) {
    timeouts = session_->timeouts;
  }

  // The address of `path` on the server, over https where the request is to be secure.
  std::string UrlOf(const std::string& path, bool secure) const {
    std::string host = server_;
    if (host.find(':') != std::string::npos && host.front() != '[') host = "[" + host + "]";
    const INTERNET_PORT port =
        port_ != INTERNET_INVALID_PORT_NUMBER
            ? port_
            : (secure ? INTERNET_DEFAULT_HTTPS_PORT : INTERNET_DEFAULT_HTTP_PORT);
    std::string url = secure ? "https://" : "http://";
    url += host + ":" + std::to_string(port);
    if (path.empty() || path.front() != '/') url += "/";
    return url + path;
  }

  const std::shared_ptr<Session>& OfSession() const { return session_; }

 private:
  std::shared_ptr<Session> session_;
  std::string server_;
  INTERNET_PORT port_;
};

// Text that would end a request line or a header.
bool HasLineBreakOrSpace(const char* text) {
  for (const char* at = text; *at != '\0'; ++at) {
    if (*at == '\r' || *at == '\n' || *at == ' ') return true;
  }
  return false;
}

}  // namespace

HINTERNET ConnectHttp(HINTERNET session, const char* server, INTERNET_PORT port) {
  const HandleUse<Session> owner(session);
  if (!owner) return nullptr;
  auto connection = std::make_shared<HttpConnection>(owner.Shared(), server, port);
  return AddHandle(std::move(connection), session);
}

}  // namespace wininet

using wininet::HandleUse;

HINTERNET HttpOpenRequestA(HINTERNET connection, LPCSTR verb, LPCSTR objectName, LPCSTR /*version*/,
                           LPCSTR /*referrer*/, LPCSTR* /*acceptTypes*/, DWORD flags,
                           DWORD_PTR /*context*/) {
  return WithoutThrowing(ReportsLastError<HINTERNET>{nullptr}, [&]() -> HINTERNET {
    const HandleUse<wininet::HttpConnection> owner(connection);
    if (!owner) return nullptr;
    const char* method = verb != nullptr && verb[0] != '\0' ? verb : "GET";
    const char* path = objectName != nullptr ? objectName : "/";
    if (wininet::HasLineBreakOrSpace(method) || wininet::HasLineBreakOrSpace(path)) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return nullptr;
    }
    auto request = std::make_shared<wininet::HttpTransfer>();
    request->Prepare(owner->OfSession(), method,
                     owner->UrlOf(path, (flags & INTERNET_FLAG_SECURE) != 0));
    request->timeouts = owner->timeouts;  // a request takes its connection's limits
    return wininet::AddHandle(std::move(request), connection);
  });
}

BOOL HttpSendRequestExA(HINTERNET request, INTERNET_BUFFERSA* buffersIn,
                        INTERNET_BUFFERSA* /*buffersOut*/, DWORD /*flags*/, DWORD_PTR /*context*/) {
  return WithoutThrowing(ReportsLastError<BOOL>{FALSE}, [&]() -> BOOL {
    const HandleUse<wininet::HttpTransfer> transfer(request);
    if (!transfer) return FALSE;
    std::string headers;
    ULONGLONG bodySize = 0;
    if (buffersIn != nullptr) {
      if (buffersIn->dwStructSize != sizeof(INTERNET_BUFFERSA)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
      }
      if (buffersIn->lpcszHeader != nullptr) {
        // A length of -1: the headers run to their NUL.
        if (buffersIn->dwHeadersLength == static_cast<DWORD>(-1)) {
          headers = buffersIn->lpcszHeader;
        } else {
          headers.assign(buffersIn->lpcszHeader, buffersIn->dwHeadersLength);
        }
      }
      bodySize = buffersIn->dwBufferTotal;
    }
    return transfer->Send(headers, bodySize) ? TRUE : FALSE;
  });
}

BOOL HttpSendRequestA(HINTERNET request, LPCSTR headers, DWORD headersLength, LPVOID optional,
                      DWORD optionalLength) {
  return WithoutThrowing(ReportsLastError<BOOL>{FALSE}, [&]() -> BOOL {
    const HandleUse<wininet::HttpTransfer> transfer(request);
    if (!transfer) return FALSE;
    if (optional != nullptr && optionalLength != 0) {  // a body in the call: not provided
      SetLastError(ERROR_NOT_SUPPORTED);
      return FALSE;
    }
    std::string extra;
    if (headers != nullptr) {
      // A length of -1: the headers run to their NUL.
      extra = headersLength == static_cast<DWORD>(-1) ? std::string(headers)
                                                      : std::string(headers, headersLength);
    }
    return transfer->SendWithoutBody(extra) ? TRUE : FALSE;
  });
}

BOOL HttpEndRequestA(HINTERNET request, INTERNET_BUFFERSA* /*buffersOut*/, DWORD /*flags*/,
                     DWORD_PTR /*context*/) {
  return WithoutThrowing(ReportsLastError<BOOL>{FALSE}, [&]() -> BOOL {
    const HandleUse<wininet::HttpTransfer> transfer(request);
    if (!transfer) return FALSE;
    return transfer->EndRequest() ? TRUE : FALSE;
  });
}
