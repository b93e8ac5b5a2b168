#include "url_opening.h"

#include <vector>

#include "web_address.h"

namespace telvario {
namespace {

bool IsRedirect(DWORD status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// The Location of a redirect response; false for any other response.
bool RedirectLocation(HINTERNET handle, std::string* location) {
  if (!IsRedirect(StatusOf(handle))) return false;
  std::vector<char> text(1024);
  for (int attempt = 0; attempt < 2; ++attempt) {
    DWORD size = static_cast<DWORD>(text.size());
    if (HttpQueryInfoA(handle, HTTP_QUERY_LOCATION, text.data(), &size, nullptr)) {
      location->assign(text.data(), size);
      return !location->empty();
    }
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return false;
    text.resize(size + 1);
  }
  return false;
}

void SetLimits(HINTERNET handle, const RequestLimits& limits) {
  DWORD connectMs = limits.connectMs;
  DWORD transferMs = limits.transferMs;
  InternetSetOptionA(handle, INTERNET_OPTION_CONNECT_TIMEOUT, &connectMs, sizeof connectMs);
  InternetSetOptionA(handle, INTERNET_OPTION_SEND_TIMEOUT, &transferMs, sizeof transferMs);
  InternetSetOptionA(handle, INTERNET_OPTION_RECEIVE_TIMEOUT, &transferMs, sizeof transferMs);
}

// The target of a redirect from `current`, checked as a caller's address is; false where there
// is none allowed.
bool RedirectTarget(const WebAddress& current, const std::string& location, WebAddress* target) {
  std::string next;
  return ResolveReference(current.Text(), location, &next) && ParseWebAddress(next, target) &&
         target->IsHttp();
}

}  // namespace

DWORD StatusOf(HINTERNET handle) {
  DWORD status = 0;
  DWORD size = sizeof status;
  if (!HttpQueryInfoA(handle, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size,
                      nullptr)) {
    return 0;
  }
  return status;
}

bool DeclaredLength(HINTERNET handle, ULONGLONG* length) {
  char text[32] = {};
  DWORD size = sizeof text - 1;
  if (!HttpQueryInfoA(handle, HTTP_QUERY_CONTENT_LENGTH, text, &size, nullptr)) return false;
  ULONGLONG value = 0;
  std::size_t digits = 0;
  for (; digits < size && text[digits] >= '0' && text[digits] <= '9'; ++digits) {
    if (value > (~0ULL - 9) / 10) return false;  // no length a body could have
    value = value * 10 + static_cast<ULONGLONG>(text[digits] - '0');
  }
  if (digits == 0) return false;
  *length = value;
  return true;
}

HINTERNET UrlWork::OpenFollowingRedirects(HINTERNET session, const WebAddress& address,
                                          WebAddress* final) {
  WebAddress current = address;
  for (int redirects = 0;; ++redirects) {
    if (Abandoned()) return nullptr;  // no request once the caller has returned
    BeginStep(INFINITE, CurrentGuardLimits().GiveUpMs());
    HINTERNET handle =
        Own(InternetOpenUrlA(session, current.Text().c_str(), nullptr, 0, kUrlFlags, 0));
    if (handle == nullptr) return nullptr;
    std::string location;
    if (!current.IsHttp() || !RedirectLocation(handle, &location)) {
      *final = current;
      return handle;
    }
    Close(handle);  // a redirect's own body is not the measurement's
    WebAddress target;
    if (redirects == kMostRedirects || !RedirectTarget(current, location, &target)) return nullptr;
    current = std::move(target);
  }
}

HINTERNET UrlWork::SendRequest(HINTERNET session, const WebAddress& address, const char* verb,
                               const RequestLimits& limits, INTERNET_BUFFERSA* body) {
  if (Abandoned()) return nullptr;  // no request once the caller has returned
  BeginStep(INFINITE, CurrentGuardLimits().GiveUpMs());
  HINTERNET connection = Own(InternetConnectA(session, address.host.c_str(),
                                              static_cast<INTERNET_PORT>(address.EffectivePort()),
                                              nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0));
  if (connection == nullptr) return nullptr;
  SetLimits(connection, limits);
  DWORD flags = kUrlFlags;
  if (address.IsSecure()) flags |= INTERNET_FLAG_SECURE;
  HINTERNET request = Own(HttpOpenRequestA(connection, verb, address.path.c_str(), nullptr, nullptr,
                                           nullptr, flags, 0));
  if (request != nullptr) {
    SetLimits(request, limits);
    const BOOL sent = body != nullptr ? HttpSendRequestExA(request, body, nullptr, 0, 0)
                                      : HttpSendRequestA(request, nullptr, 0, nullptr, 0);
    if (sent) return request;
  }
  Close(connection);
  return nullptr;
}

HINTERNET UrlWork::GetFollowingRedirects(HINTERNET session, const WebAddress& address,
                                         const RequestLimits& limits, WebAddress* final) {
  WebAddress current = address;
  for (int redirects = 0;; ++redirects) {
    HINTERNET request = SendRequest(session, current, "GET", limits);
    if (request == nullptr) return nullptr;
    std::string location;
    if (!RedirectLocation(request, &location)) {
      *final = current;
      return request;
    }
    CloseRequest(request);
    WebAddress target;
    if (redirects == kMostRedirects || !RedirectTarget(current, location, &target)) return nullptr;
    current = std::move(target);
  }
}

void UrlWork::CloseRequest(HINTERNET request) {
  // Its connection was owned just before it, and goes with it.
  for (int i = 1; i < OwnedCount(); ++i) {
    if (OwnedAt(i) == request) {
      Close(OwnedAt(i - 1));
      return;
    }
  }
}

}  // namespace telvario
