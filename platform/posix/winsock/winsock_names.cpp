// Name resolution and address text of Windows Sockets 2 (ws2tcpip.h) over the C library's.
//
// Reproduced from Windows: getaddrinfo needs a start-up in force, returns Windows' error code
// (also left as the last error), keeps the resolver's order, and gives addresses with Windows'
// families (AF_INET6 is 23) in Windows' addrinfo layout, freed only by this freeaddrinfo; hints
// whose address, name, length or next member is set fail with WSANO_RECOVERY. getnameinfo takes
// Windows' socket addresses and NI_ flags, and answers with Windows' codes as getaddrinfo does.
// inet_pton gives 1, 0 for a text that is no address of the family, or -1 with WSAEAFNOSUPPORT (or
// WSAEFAULT for a null pointer); inet_ntop gives null with WSAEAFNOSUPPORT, or
// WSA_INVALID_PARAMETER for a missing or short buffer. Where it differs: the flags beyond
// AI_PASSIVE, AI_CANONNAME, AI_NUMERICHOST, AI_NUMERICSERV, AI_ALL, AI_ADDRCONFIG and AI_V4MAPPED
// have no counterpart here and fail with WSAEINVAL; address text is formatted by the C library,
// which writes a single zero group in full where Windows may shorten it.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <new>

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>

#include "winsock_api.h"
#include "winsock_translation.h"

namespace winsock {
namespace {

using translation::SetError;

// One entry of a result list: Windows' addrinfo, its address and its name, freed together.
struct Entry {
  addrinfo info{};
  sockaddr_storage address{};
  std::unique_ptr<char[]> canonicalName;
};

struct FlagPair {
  int windows;
  int system;
};
constexpr FlagPair kFlags[] = {
    {value::kAiPassive, AI_PASSIVE},
    {value::kAiCanonName, AI_CANONNAME},
    {value::kAiNumericHost, AI_NUMERICHOST},
    {value::kAiNumericServ, AI_NUMERICSERV},
    {value::kAiAll, AI_ALL},
    {value::kAiAddrConfig, AI_ADDRCONFIG},
    {value::kAiV4Mapped, AI_V4MAPPED},
};

// The system's flags for Windows', -1 when one has no counterpart.
int SystemFlags(int flags) {
  int system = 0;
  for (const FlagPair& pair : kFlags) {
    if ((flags & pair.windows) != 0) {
      system |= pair.system;
      flags &= ~pair.windows;
    }
  }
  return flags == 0 ? system : -1;
}

int ErrorOfResolver(int resolverError) {
  switch (resolverError) {
    case EAI_AGAIN:
      return error::kTryAgain;
    case EAI_BADFLAGS:
      return error::kInvalid;
    case EAI_FAMILY:
      return error::kAddressFamilyNotSupported;
    case EAI_MEMORY:
      return error::kNotEnoughMemory;
    case EAI_NONAME:
      return error::kHostNotFound;
    case EAI_NODATA:
    case EAI_ADDRFAMILY:
      return error::kNoData;
    case EAI_SERVICE:
      return error::kTypeNotFound;
    case EAI_SOCKTYPE:
      return error::kSocketTypeNotSupported;
    case EAI_OVERFLOW:
      return error::kFault;
    case EAI_SYSTEM:
      return translation::ErrorOf(errno);
    default:
      return error::kNoRecovery;
  }
}

void FreeEntries(addrinfo* list) {
  while (list != nullptr) {
    // Every entry of a list is an Entry, whose first member is its addrinfo.
    std::unique_ptr<Entry> entry(reinterpret_cast<Entry*>(list));
    list = list->ai_next;
  }
}

// Windows' list for the system's; null (the error set) when memory ran out or an entry has an
// address of a family Windows does not know here.
addrinfo* ToWindowsList(const ::addrinfo* found) {
  addrinfo* head = nullptr;
  addrinfo** next = &head;
  for (; found != nullptr; found = found->ai_next) {
    const int family = translation::WindowsFamily(found->ai_family);
    if (family < 0 || found->ai_addr == nullptr || found->ai_addrlen > sizeof(::sockaddr_storage)) {
      continue;
    }
    auto entry = std::unique_ptr<Entry>(new (std::nothrow) Entry);
    if (entry == nullptr) {
      FreeEntries(head);
      SetError(error::kNotEnoughMemory);
      return nullptr;
    }
    ::sockaddr_storage address{};
    std::memcpy(&address, found->ai_addr, found->ai_addrlen);
    int length = sizeof entry->address;
    translation::ToWindows(address, found->ai_addrlen, reinterpret_cast<sockaddr*>(&entry->address),
                           &length);
    if (found->ai_canonname != nullptr) {
      const std::size_t size = std::strlen(found->ai_canonname) + 1;
      entry->canonicalName.reset(new (std::nothrow) char[size]);
      if (entry->canonicalName == nullptr) {
        FreeEntries(head);
        SetError(error::kNotEnoughMemory);
        return nullptr;
      }
      std::memcpy(entry->canonicalName.get(), found->ai_canonname, size);
    }
    entry->info.ai_flags = 0;
    entry->info.ai_family = family;
    entry->info.ai_socktype = found->ai_socktype;
    entry->info.ai_protocol = found->ai_protocol;
    entry->info.ai_addrlen = found->ai_addrlen;
    entry->info.ai_canonname = entry->canonicalName.get();
    entry->info.ai_addr = reinterpret_cast<sockaddr*>(&entry->address);
    *next = &entry->info;
    next = &entry->info.ai_next;
    static_cast<void>(entry.release());  // the list owns it now
  }
  return head;
}

}  // namespace

int getaddrinfo(const char* nodeName, const char* serviceName, const addrinfo* hints,
                addrinfo** result) {
  if (result == nullptr) {
    SetError(error::kFault);
    return error::kFault;
  }
  *result = nullptr;
  if (!translation::Started()) return error::kNotInitialised;
  ::addrinfo systemHints{};
  if (hints != nullptr) {
    if (hints->ai_addrlen != 0 || hints->ai_canonname != nullptr || hints->ai_addr != nullptr ||
        hints->ai_next != nullptr) {
      SetError(error::kNoRecovery);
      return error::kNoRecovery;
    }
    systemHints.ai_flags = SystemFlags(hints->ai_flags);
    systemHints.ai_family = translation::SystemFamily(hints->ai_family);
    if (systemHints.ai_flags < 0) {
      SetError(error::kInvalid);
      return error::kInvalid;
    }
    if (systemHints.ai_family < 0) {
      SetError(error::kAddressFamilyNotSupported);
      return error::kAddressFamilyNotSupported;
    }
    systemHints.ai_socktype = hints->ai_socktype;
    systemHints.ai_protocol = hints->ai_protocol;
  }
  ::addrinfo* found = nullptr;
  const int failed = ::getaddrinfo(nodeName, serviceName, &systemHints, &found);
  if (failed != 0) {
    const int code = ErrorOfResolver(failed);
    SetError(code);
    return code;
  }
  *result = ToWindowsList(found);
  ::freeaddrinfo(found);
  if (*result == nullptr) {
    // Memory ran out, or nothing of a family Windows knows was found.
    if (WSAGetLastError() != error::kNotEnoughMemory) SetError(error::kNoData);
    return WSAGetLastError();
  }
  SetError(0);
  return 0;
}

void freeaddrinfo(addrinfo* list) {
  FreeEntries(list);
}

int getnameinfo(const sockaddr* address, int addressLength, char* host, DWORD hostLength,
                char* service, DWORD serviceLength, int flags) {
  if (!translation::Started()) return error::kNotInitialised;
  constexpr FlagPair kNameFlags[] = {
      {value::kNiNoFqdn, NI_NOFQDN},     {value::kNiNumericHost, NI_NUMERICHOST},
      {value::kNiNameReqd, NI_NAMEREQD}, {value::kNiNumericServ, NI_NUMERICSERV},
      {value::kNiDgram, NI_DGRAM},
  };
  int systemFlags = 0;
  for (const FlagPair& pair : kNameFlags) {
    if ((flags & pair.windows) != 0) systemFlags |= pair.system;
  }
  ::sockaddr_storage system{};
  socklen_t systemLength = 0;
  if (address == nullptr ||
      !translation::ToSystem(address, addressLength, &system, &systemLength)) {
    SetError(error::kFault);
    return error::kFault;
  }
  const int failed = ::getnameinfo(reinterpret_cast<const ::sockaddr*>(&system), systemLength, host,
                                   host != nullptr ? hostLength : 0, service,
                                   service != nullptr ? serviceLength : 0, systemFlags);
  const int code = failed != 0 ? ErrorOfResolver(failed) : 0;
  SetError(code);
  return code;
}

const char* inet_ntop(int family, const void* address, char* text, SIZE_T size) {
  const int systemFamily = translation::SystemFamily(family);
  if (systemFamily != AF_INET && systemFamily != AF_INET6) {
    SetError(error::kAddressFamilyNotSupported);
    return nullptr;
  }
  if (address == nullptr || text == nullptr || size == 0) {
    SetError(error::kInvalidParameter);
    return nullptr;
  }
  const auto room = static_cast<socklen_t>(std::min<SIZE_T>(size, 0x7FFFFFFF));
  if (::inet_ntop(systemFamily, address, text, room) == nullptr) {
    SetError(error::kInvalidParameter);  // the only failure left: the buffer is too short
    return nullptr;
  }
  return text;
}

int inet_pton(int family, const char* text, void* address) {
  const int systemFamily = translation::SystemFamily(family);
  if (systemFamily != AF_INET && systemFamily != AF_INET6) {
    SetError(error::kAddressFamilyNotSupported);
    return -1;
  }
  if (text == nullptr || address == nullptr) {
    SetError(error::kFault);
    return -1;
  }
  return ::inet_pton(systemFamily, text, address);
}

}  // namespace winsock
