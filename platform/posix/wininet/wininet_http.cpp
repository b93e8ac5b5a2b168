// WinINet's sessions and URL handles over libcurl, and what HttpQueryInfoA reads of a response;
// the transfers themselves are wininet_transfer's.
#include <strings.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "kernel.h"
#include "no_throw.h"
#include "wininet_handles.h"
#include "wininet_transfer.h"

namespace wininet {
namespace {

bool SchemeIsSupported(std::string_view url) {
  for (std::string_view scheme : {"http://", "https://", "ftp://"}) {
    if (url.size() >= scheme.size() && strncasecmp(url.data(), scheme.data(), scheme.size()) == 0) {
      return true;
    }
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
    auto file = std::make_shared<wininet::HttpTransfer>();
    if (!file->Open(*owner, url, flags)) return nullptr;
    return wininet::AddHandle(std::move(file), session);
  });
}

BOOL HttpQueryInfoA(HINTERNET request, DWORD infoLevel, LPVOID buffer, DWORD* length,
                    DWORD* /*index*/) {
  return WithoutThrowing(ReportsLastError<BOOL>{FALSE}, [&]() -> BOOL {
    const HandleUse<wininet::HttpTransfer> url(request);
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
