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

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (Lower(text[i]) != prefix[i]) return false;
  }
  return true;
}

bool ParseWebAddress(std::string_view text, WebAddress* address) {
  const Reference parts = Split(text);
  if (!parts.hasScheme || !parts.hasAuthority) return false;
  std::string_view authority = parts.authority;
  if (const std::size_t at = authority.rfind('@'); at != std::string_view::npos) {
    authority.remove_prefix(at + 1);
  }
  std::string_view host = authority;
  std::string_view port;
  bool hasPort = false;
  if (!authority.empty() && authority.front() == '[') {
    const std::size_t close = authority.find(']');
    if (close == std::string_view::npos) return false;
    host = authority.substr(0, close + 1);
    const std::string_view rest = authority.substr(close + 1);
    if (!rest.empty()) {
      if (rest.front() != ':') return false;
      hasPort = true;
      port = rest.substr(1);
    }
  } else if (const std::size_t colon = authority.rfind(':'); colon != std::string_view::npos) {
    host = authority.substr(0, colon);
    hasPort = true;
    port = authority.substr(colon + 1);
  }
  if (host.empty() || host == "[]") return false;
  long number = 0;
  if (hasPort && !port.empty()) {  // "host:" keeps the scheme's port, as RFC 3986 allows
    for (const char c : port) {
      if (!IsDigit(c)) return false;
      number = number * 10 + (c - '0');
      if (number > 65535) return false;
    }
    if (number == 0) return false;
  }
  address->scheme.clear();
  for (const char c : parts.scheme) address->scheme.push_back(Lower(c));
  address->host = host;
  address->port = number;
  address->pathAndQuery = parts.path;
  if (parts.hasQuery) {
    address->pathAndQuery += '?';
    address->pathAndQuery.append(parts.query);
  }
  return true;
}

bool IsFetchable(std::string_view text) {
  WebAddress address;
  if (!ParseWebAddress(text, &address)) return false;
  return address.scheme == "http" || address.scheme == "https" || address.scheme == "ftp";
}

bool IsHttpAddress(std::string_view text) {
  WebAddress address;
  if (!ParseWebAddress(text, &address)) return false;
  return address.scheme == "http" || address.scheme == "https";
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
