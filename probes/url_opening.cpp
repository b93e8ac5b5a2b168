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
    // The target is checked as the caller's address was, and must be http or https.
    std::string next;
    WebAddress target;
    if (redirects == kMostRedirects || !ResolveReference(current.Text(), location, &next) ||
        !ParseWebAddress(next, &target) || !target.IsHttp()) {
      return nullptr;
    }
    current = std::move(target);
  }
}

}  // namespace telvario
