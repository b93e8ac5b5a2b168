// The web addresses the measurements fetch, read the same way on every platform: an address is
// checked before anything is sent, and a redirect's target is worked out here rather than by
// the platform's client, so that every build follows the same redirects.
#ifndef TELVARIO_PROBES_WEB_ADDRESS_H
#define TELVARIO_PROBES_WEB_ADDRESS_H

#include <string>
#include <string_view>

namespace telvario {

// The parts of an absolute address with an authority ("scheme://host:port/path?query").
struct WebAddress {
  std::string scheme;  // lower case
  std::string host;    // as written, brackets of an IPv6 literal included
  long port = 0;       // 0 when none is written
  std::string pathAndQuery;
};

// Splits an absolute address; false when it has no scheme, no authority, an empty host, or a
// port that is not a number from 1 to 65535.
bool ParseWebAddress(std::string_view text, WebAddress* address);

// Whether the address may be fetched: http, https or ftp, with a host and a port in range.
bool IsFetchable(std::string_view text);
// Whether it is http or https, the only schemes a redirect may lead to.
bool IsHttpAddress(std::string_view text);

// A redirect's `reference` resolved against the address it came from (RFC 3986, section 5.2);
// false when the base has no scheme.
bool ResolveReference(std::string_view base, std::string_view reference, std::string* target);

// Whether `text` starts with `prefix`, letters compared without case; `prefix` is lower case.
bool StartsWithNoCase(std::string_view text, std::string_view prefix);

}  // namespace telvario

#endif
