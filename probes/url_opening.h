// Opening a URL the way every download of the component does: fetched from the server, never
// cached, and redirects followed here rather than by the platform's client, so that every
// platform follows the same ones: at most kMostRedirects, to http or https only.
#ifndef TELVARIO_PROBES_URL_OPENING_H
#define TELVARIO_PROBES_URL_OPENING_H

#include <string>

#include "stall_guard.h"
#include "web_address.h"
#include "windows_api.h"

namespace telvario {

constexpr int kMostRedirects = 20;

// Fetched from the server every time, and never written to a cache: the component keeps no
// files. Redirects are the component's own.
constexpr DWORD kUrlFlags =
    INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_AUTO_REDIRECT;

// The limits of a request's waits: connecting, and each send or receive.
struct RequestLimits {
  DWORD connectMs = kNetworkWaitLimitMs;
  DWORD transferMs = kNetworkWaitLimitMs;
};

// Guarded work that opens URLs: each request a step of its own, none once the caller has gone.
class UrlWork : public GuardedWork {
 protected:
  // An http or https request of `verb` for `address` made and sent on `session` (with `body`
  // ahead of a body of its own to write, for POST): its handle, owned by the work, its
  // connection owned too; null where it could not be made or sent. The limits are set on the
  // connection before the request is made and on the request before it is sent, where every
  // WinINet applies them (Wine takes none from the session).
  HINTERNET SendRequest(HINTERNET session, const WebAddress& address, const char* verb,
                        const RequestLimits& limits, INTERNET_BUFFERSA* body = nullptr);
  // A GET of `address` as SendRequest makes it, its redirects followed as
  // OpenFollowingRedirects follows them; its address in `final`.
  HINTERNET GetFollowingRedirects(HINTERNET session, const WebAddress& address,
                                  const RequestLimits& limits, WebAddress* final);
  // Closes a request SendRequest made, and its connection.
  void CloseRequest(HINTERNET request);

  // The handle (owned by the work) of the final response to `address` on `session`, its
  // address in `final`; null when the URL did not open, a redirect led nowhere allowed, or
  // there were too many.
  HINTERNET OpenFollowingRedirects(HINTERNET session, const WebAddress& address, WebAddress* final);
};

// The status code of an http or https response; 0 where there is none (ftp).
DWORD StatusOf(HINTERNET handle);

// The body length an http or https response declared (Content-Length); false for none.
bool DeclaredLength(HINTERNET handle, ULONGLONG* length);

}  // namespace telvario

#endif
