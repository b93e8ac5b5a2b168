#include "web_address.h"

namespace telvario {
namespace {

char Lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool IsAlpha(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

bool IsHexDigit(char c) {
  return IsDigit(c) || (Lower(c) >= 'a' && Lower(c) <= 'f');
}

bool IsControl(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return byte < 0x20 || byte == 0x7F;
}

// RFC 3986's unreserved characters and sub-delimiters, which every part below may hold as they
// are; each part adds its own extras.
bool IsPlain(char c) {
  return IsAlpha(c) || IsDigit(c) ||
         std::string_view("-._~!$&'()*+,;=").find(c) != std::string_view::npos;
}
constexpr std::string_view kUserInfoExtras = ":";
constexpr std::string_view kPathExtras = ":@/";
constexpr std::string_view kQueryExtras = ":@/?";

// A part with every byte it may not hold as it is percent-encoded: a "%" that starts an escape
// stays, any other becomes "%25".
std::string Encoded(std::string_view part, std::string_view extras) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string encoded;
  for (std::size_t i = 0; i < part.size(); ++i) {
    const char c = part[i];
    const bool escape =
        c == '%' && i + 2 < part.size() && IsHexDigit(part[i + 1]) && IsHexDigit(part[i + 2]);
    if (IsPlain(c) || extras.find(c) != std::string_view::npos || escape) {
      encoded.push_back(c);
    } else {
      const auto byte = static_cast<unsigned char>(c);
      encoded += '%';
      encoded += kHex[byte >> 4];
      encoded += kHex[byte & 0xF];
    }
  }
  return encoded;
}

bool IsNameCharacter(char c) {
  return IsAlpha(c) || IsDigit(c) || c == '-' || c == '.' || c == '_' || c == '~';
}

// An IPv6 literal's text inside its brackets: hexadecimal groups, colons, an IPv4 tail, and a
// zone after "%25" (RFC 6874) or a plain "%"; stored with a plain "%".
bool ReadIpv6Literal(std::string_view inside, std::string* host) {
  std::string_view zone;
  if (const std::size_t percent = inside.find('%'); percent != std::string_view::npos) {
    zone = inside.substr(percent + 1);
    if (zone.substr(0, 2) == "25") zone.remove_prefix(2);
    inside = inside.substr(0, percent);
    if (zone.empty()) return false;
    for (const char c : zone) {
      if (!IsNameCharacter(c)) return false;
    }
  }
  if (inside.find(':') == std::string_view::npos) return false;
  for (const char c : inside) {
    if (!IsHexDigit(c) && c != ':' && c != '.') return false;
  }
  *host = std::string(inside);
  if (!zone.empty()) *host += "%" + std::string(zone);
  return true;
}

// The host and what follows it (":port") of an authority without its user information.
bool ReadHost(std::string_view authority, WebAddress* address, std::string_view* port) {
  std::string_view rest;
  if (!authority.empty() && authority.front() == '[') {
    const std::size_t close = authority.find(']');
    if (close == std::string_view::npos) return false;
    if (!ReadIpv6Literal(authority.substr(1, close - 1), &address->host)) return false;
    address->ipv6 = true;
    rest = authority.substr(close + 1);
  } else {
    const std::size_t colon = authority.find(':');
    address->host = std::string(authority.substr(0, colon));
    if (colon != std::string_view::npos) rest = authority.substr(colon);
    for (const char c : address->host) {
      if (!IsNameCharacter(c)) return false;
    }
  }
  if (address->host.empty()) return false;
  if (rest.empty()) return true;
  if (rest.front() != ':') return false;
  *port = rest.substr(1);
  return true;
}

// "host:" keeps the scheme's port, as RFC 3986 allows; otherwise 1 to 65535.
bool ReadPort(std::string_view text, unsigned* port) {
  unsigned number = 0;
  for (const char c : text) {
    if (!IsDigit(c)) return false;
    number = number * 10 + static_cast<unsigned>(c - '0');
    if (number > 65535) return false;
  }
  if (!text.empty() && number == 0) return false;
  *port = number;
  return true;
}

// A stored zone as an address writes it: after "%25".
std::string ZoneForUrl(const std::string& host) {
  const std::size_t percent = host.find('%');
  if (percent == std::string::npos) return host;
  return host.substr(0, percent) + "%25" + host.substr(percent + 1);
}

// The generic parts of a reference (RFC 3986, appendix B), each with whether it is present.
struct Reference {
  std::string_view scheme, authority, path, query, fragment;
  bool hasScheme = false, hasAuthority = false, hasQuery = false, hasFragment = false;
};

Reference Split(std::string_view text) {
  Reference parts;
  // A scheme is a letter, then letters, digits, "+", "-" or "."; up to the first ":".
  std::size_t i = 0;
  if (!text.empty() && IsAlpha(text[0])) {
    i = 1;
    while (i < text.size() && (IsAlpha(text[i]) || IsDigit(text[i]) || text[i] == '+' ||
                               text[i] == '-' || text[i] == '.')) {
      ++i;
    }
    if (i < text.size() && text[i] == ':') {
      parts.hasScheme = true;
      parts.scheme = text.substr(0, i);
      text.remove_prefix(i + 1);
    }
  }
  if (const std::size_t hash = text.find('#'); hash != std::string_view::npos) {
    parts.hasFragment = true;
    parts.fragment = text.substr(hash + 1);
    text = text.substr(0, hash);
  }
  if (const std::size_t question = text.find('?'); question != std::string_view::npos) {
    parts.hasQuery = true;
    parts.query = text.substr(question + 1);
    text = text.substr(0, question);
  }
  if (text.substr(0, 2) == "//") {
    text.remove_prefix(2);
    const std::size_t slash = text.find('/');
    parts.hasAuthority = true;
    parts.authority = text.substr(0, slash);
    text = slash == std::string_view::npos ? std::string_view() : text.substr(slash);
  }
  parts.path = text;
  return parts;
}

// RFC 3986, section 5.2.4.
std::string RemoveDotSegments(std::string_view input) {
  std::string output;
  while (!input.empty()) {
    if (input.substr(0, 3) == "../") {
      input.remove_prefix(3);
    } else if (input.substr(0, 2) == "./") {
      input.remove_prefix(2);
    } else if (input.substr(0, 3) == "/./") {
      input.remove_prefix(2);
    } else if (input == "/.") {
      input = "/";
    } else if (input.substr(0, 4) == "/../" || input == "/..") {
      input = input.size() == 3 ? std::string_view("/") : input.substr(3);
      const std::size_t last = output.rfind('/');
      output.erase(last == std::string::npos ? 0 : last);
    } else if (input == "." || input == "..") {
      input = {};
    } else {
      const std::size_t next = input.find('/', 1);
      output.append(input.substr(0, next));
      input = next == std::string_view::npos ? std::string_view() : input.substr(next);
    }
  }
  return output;
}

// RFC 3986, section 5.2.3.
std::string Merge(const Reference& base, std::string_view path) {
  std::string merged;
  if (base.hasAuthority && base.path.empty()) {
    merged = "/";
  } else if (const std::size_t slash = base.path.rfind('/'); slash != std::string_view::npos) {
    merged = base.path.substr(0, slash + 1);
  }
  merged.append(path);
  return merged;
}

}  // namespace

bool ParseWebAddress(std::string_view text, WebAddress* address) {
  for (const char c : text) {
    if (IsControl(c)) return false;  // refused, never mended: it could split a request
  }
  const Reference parts = Split(text);
  if (!parts.hasScheme || !parts.hasAuthority) return false;
  WebAddress parsed;
  for (const char c : parts.scheme) parsed.scheme.push_back(Lower(c));
  std::string_view authority = parts.authority;
  if (const std::size_t at = authority.rfind('@'); at != std::string_view::npos) {
    parsed.userInfo = Encoded(authority.substr(0, at), kUserInfoExtras);
    authority.remove_prefix(at + 1);
  }
  std::string_view port;
  if (!ReadHost(authority, &parsed, &port) || !ReadPort(port, &parsed.port)) return false;
  parsed.path = parts.path.empty() ? "/" : Encoded(parts.path, kPathExtras);
  if (parsed.path.front() != '/') return false;  // "http://h" is "/"; nothing else is a path
  if (parts.hasQuery) parsed.path += "?" + Encoded(parts.query, kQueryExtras);
  *address = std::move(parsed);
  return true;
}

unsigned WebAddress::EffectivePort() const {
  if (port != 0) return port;
  if (scheme == "http") return 80;
  if (scheme == "https") return 443;
  return scheme == "ftp" ? 21 : 0;
}

std::string WebAddress::Authority() const {
  std::string authority = ipv6 ? "[" + ZoneForUrl(host) + "]" : host;
  if (port != 0) authority += ":" + std::to_string(port);
  return authority;
}

std::string WebAddress::Text() const {
  return scheme + "://" + (userInfo.empty() ? "" : userInfo + "@") + Authority() + path;
}

std::string WebAddress::Shown() const {
  return scheme + "://" + Authority() + path;
}

bool IsFetchable(std::string_view text) {
  WebAddress address;
  if (!ParseWebAddress(text, &address)) return false;
  return address.IsHttp() || address.scheme == "ftp";
}

bool IsHttpAddress(std::string_view text) {
  WebAddress address;
  return ParseWebAddress(text, &address) && address.IsHttp();
}

std::string ShownAddress(std::string_view text) {
  WebAddress address;
  if (ParseWebAddress(text, &address)) return address.Shown();
  // Not an address this reads, but it may still carry a password: whatever stands between
  // "//" and the last "@" of what would be its authority is left out.
  const std::size_t slashes = text.find("//");
  if (slashes == std::string_view::npos) return std::string(text);
  const std::size_t authorityStart = slashes + 2;
  const std::size_t authorityEnd = text.find_first_of("/?#", authorityStart);
  const std::string_view authority = text.substr(authorityStart, authorityEnd - authorityStart);
  const std::size_t at = authority.rfind('@');
  if (at == std::string_view::npos) return std::string(text);
  return std::string(text.substr(0, authorityStart)) +
         std::string(text.substr(authorityStart + at + 1));
}

bool ResolveReference(std::string_view baseText, std::string_view referenceText,
                      std::string* target) {
  const Reference base = Split(baseText);
  const Reference reference = Split(referenceText);
  if (!base.hasScheme) return false;
  Reference result;
  std::string path;
  if (reference.hasScheme) {
    result = reference;
    path = RemoveDotSegments(reference.path);
  } else {
    result.scheme = base.scheme;
    if (reference.hasAuthority) {
      result.hasAuthority = true;
      result.authority = reference.authority;
      path = RemoveDotSegments(reference.path);
      result.hasQuery = reference.hasQuery;
      result.query = reference.query;
    } else {
      result.hasAuthority = base.hasAuthority;
      result.authority = base.authority;
      if (reference.path.empty()) {
        path = base.path;
        result.hasQuery = reference.hasQuery || base.hasQuery;
        result.query = reference.hasQuery ? reference.query : base.query;
      } else {
        path = RemoveDotSegments(reference.path.front() == '/' ? std::string(reference.path)
                                                               : Merge(base, reference.path));
        result.hasQuery = reference.hasQuery;
        result.query = reference.query;
      }
    }
  }
  std::string text(result.scheme);
  text += ":";
  if (result.hasAuthority) {
    text += "//";
    text += result.authority;
  }
  text += path;
  if (result.hasQuery) {
    text += "?";
    text += result.query;
  }
  // A fragment names a part of the document: it is never sent, so it is dropped here.
  *target = text;
  return true;
}

}  // namespace telvario
