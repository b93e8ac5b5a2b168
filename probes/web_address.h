// The web addresses the measurements fetch, read and checked once, the same way on every
// platform, before anything is sent: everything below works from the parsed form, in which no
// byte a caller gave can reach a request unchecked. A redirect's target is worked out here too
// rather than by the platform's client, and checked again, so that every build follows the same
// redirects.
#ifndef TELVARIO_PROBES_WEB_ADDRESS_H
#define TELVARIO_PROBES_WEB_ADDRESS_H

#include <string>
#include <string_view>

namespace telvario {

// An absolute address with an authority ("scheme://user@host:port/path?query"), checked:
//   scheme    letters, digits, "+", "-", "."; kept in lower case;
//   host      a name of letters, digits, "-", ".", "_" and "~", or an IPv4 literal, or an IPv6
//             literal in brackets with an optional zone ("[fe80::1%25eth0]", or "%eth0");
//   port      1 to 65535 where written;
//   path      printable ASCII only: a space, a byte above 126 and the characters RFC 3986 leaves
//             out of a path or query are percent-encoded, a "%" not followed by two hex digits
//             becomes "%25"; a fragment is dropped, as it is never sent;
// and no control character anywhere (such an address is refused, not mended).
struct WebAddress {
  std::string scheme;
  std::string host;      // without brackets; an IPv6 zone follows a single "%"
  bool ipv6 = false;     // the host is an IPv6 literal
  unsigned port = 0;     // as written, else 0
  std::string path;      // "/" at least, with "?query" where there is one
  std::string userInfo;  // "user[:password]", percent-encoded as the path is; never shown

  bool IsHttp() const { return scheme == "http" || scheme == "https"; }
  bool IsSecure() const { return scheme == "https"; }
  // The port the address names, or its scheme's (80, 443, 21; 0 for another scheme).
  unsigned EffectivePort() const;
  // "host[:port]", the host in brackets where it is an IPv6 literal: a request's Host header.
  std::string Authority() const;
  // The whole address, as it is fetched (its user information included).
  std::string Text() const;
  // The address as records and messages show it: its user information left out.
  std::string Shown() const;
};

// Reads and checks an address; false where it is not of the form above.
bool ParseWebAddress(std::string_view text, WebAddress* address);

// Whether the address may be fetched: http, https or ftp, and of the form above.
bool IsFetchable(std::string_view text);
// Whether it is a fetchable http or https address, the only schemes a redirect may lead to.
bool IsHttpAddress(std::string_view text);

// A redirect's `reference` resolved against the address it came from (RFC 3986, section 5.2);
// false when the base has no scheme. The target is checked by ParseWebAddress before use.
bool ResolveReference(std::string_view base, std::string_view reference, std::string* target);

// Text that may name an address, for a record or a message: its user information left out where
// it reads as an address at all, else the text as given.
std::string ShownAddress(std::string_view text);

}  // namespace telvario

#endif
