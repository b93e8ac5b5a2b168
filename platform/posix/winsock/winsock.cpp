// Windows Sockets start-up, its last error, and the calls of Windows Sockets 1.1 over the C
// library's resolver; what the other winsock*.cpp files share (winsock_translation.h).
//
// Reproduced from Windows: the last error is the thread's, the one GetLastError reads; results
// live in storage of the calling thread until its next call; name resolution and sockets fail
// with WSANOTINITIALISED while no WSAStartup is in force; a null or empty name gives the local
// machine's entry; inet_addr gives INADDR_NONE for a null text.
// Where it differs: the local machine's entry is built from the host name and the IPv4 addresses
// of the interfaces that are up (loopback last), without asking the resolver, since the C
// library's gethostbyname(NULL) crashes and gethostbyname("") fails.
#include "winsock_api.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <unistd.h>

#include "kernel.h"
#include "no_throw.h"
#include "winsock_translation.h"

namespace winsock {
namespace {

constexpr int kAfInet = value::kAfInet;
constexpr int kWsaEFault = error::kFault;
constexpr int kWsaEAfNoSupport = error::kAddressFamilyNotSupported;
constexpr int kWsaVerNotSupported = error::kVersionNotSupported;
constexpr int kWsaHostNotFound = error::kHostNotFound;
constexpr int kWsaTryAgain = error::kTryAgain;
constexpr int kWsaNoRecovery = error::kNoRecovery;
constexpr int kWsaNoData = error::kNoData;

std::atomic<int> startups{0};

// A host entry whose strings and arrays this thread owns, as Windows keeps one per thread.
class HostEntry {
 public:
  hostent* Fill(const char* name, char** aliases,
                const std::vector<std::array<char, 4>>& addresses) {
    name_ = name;
    aliases_.clear();
    for (char** alias = aliases; alias != nullptr && *alias != nullptr; ++alias) {
      aliases_.emplace_back(*alias);
    }
    addresses_ = addresses;
    aliasPointers_.clear();
    for (std::string& alias : aliases_) aliasPointers_.push_back(alias.data());
    aliasPointers_.push_back(nullptr);
    addressPointers_.clear();
    for (std::array<char, 4>& address : addresses_) addressPointers_.push_back(address.data());
    addressPointers_.push_back(nullptr);
    entry_ = hostent{name_.data(), aliasPointers_.data(), static_cast<SHORT>(kAfInet), 4,
                     addressPointers_.data()};
    return &entry_;
  }

 private:
  std::string name_;
  std::vector<std::string> aliases_;
  std::vector<std::array<char, 4>> addresses_;
  std::vector<char*> aliasPointers_;
  std::vector<char*> addressPointers_;
  hostent entry_{};
};

thread_local HostEntry threadEntry;

using translation::SetError;
using translation::Started;

int ErrorFromResolver(int resolverError) {
  switch (resolverError) {
    case HOST_NOT_FOUND:
      return kWsaHostNotFound;
    case TRY_AGAIN:
      return kWsaTryAgain;
    case NO_DATA:
      return kWsaNoData;
    default:
      return kWsaNoRecovery;
  }
}

hostent* FromResolverEntry(const ::hostent* found) {
  std::vector<std::array<char, 4>> addresses;
  for (char** address = found->h_addr_list; *address != nullptr; ++address) {
    std::array<char, 4> bytes{};
    std::memcpy(bytes.data(), *address, 4);
    addresses.push_back(bytes);
  }
  return threadEntry.Fill(found->h_name, found->h_aliases, addresses);
}

hostent* LocalMachineEntry() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0) std::strcpy(name, "localhost");
  std::vector<std::array<char, 4>> external;
  std::vector<std::array<char, 4>> loopback;
  ifaddrs* interfaces = nullptr;
  if (getifaddrs(&interfaces) == 0) {
    for (ifaddrs* it = interfaces; it != nullptr; it = it->ifa_next) {
      if (it->ifa_addr == nullptr || it->ifa_addr->sa_family != AF_INET) continue;
      if ((it->ifa_flags & IFF_UP) == 0) continue;
      std::array<char, 4> bytes{};
      std::memcpy(bytes.data(), &reinterpret_cast<sockaddr_in*>(it->ifa_addr)->sin_addr, 4);
      ((it->ifa_flags & IFF_LOOPBACK) != 0 ? loopback : external).push_back(bytes);
    }
    freeifaddrs(interfaces);
  }
  external.insert(external.end(), loopback.begin(), loopback.end());
  if (external.empty()) external.push_back({127, 0, 0, 1});
  return threadEntry.Fill(name, nullptr, external);
}

}  // namespace

int WSAStartup(WORD requestedVersion, WSADATA* data) {
  const auto major = static_cast<BYTE>(requestedVersion & 0xFF);
  if (major == 0) return kWsaVerNotSupported;
  if (data == nullptr) return kWsaEFault;
  const WORD highest = 0x0202;
  const auto minor = static_cast<BYTE>(requestedVersion >> 8);
  data->wVersion = (major > 2 || (major == 2 && minor >= 2)) ? highest : requestedVersion;
  data->wHighVersion = highest;
  std::snprintf(data->szDescription, sizeof data->szDescription, "Telvario POSIX Sockets 2.2");
  std::snprintf(data->szSystemStatus, sizeof data->szSystemStatus, "Running");
  data->iMaxSockets = 0;
  data->iMaxUdpDg = 0;
  data->lpVendorInfo = nullptr;
  ++startups;
  return 0;
}

int WSACleanup() {
  int current = startups.load();
  while (current > 0 && !startups.compare_exchange_weak(current, current - 1)) {
  }
  if (current == 0) {
    SetError(error::kNotInitialised);
    return -1;
  }
  return 0;
}

int WSAGetLastError() {
  return static_cast<int>(GetLastError());
}

ULONG inet_addr(const char* text) {
  if (text == nullptr) return 0xFFFFFFFF;
  return ::inet_addr(text);
}

char* inet_ntoa(in_addr address) {
  thread_local char text[16];
  const auto* bytes = reinterpret_cast<const unsigned char*>(&address.s_addr);
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", bytes[0], bytes[1], bytes[2], bytes[3]);
  return text;
}

hostent* gethostbyname(const char* name) {
  // No exception may leave a sockets call: a failed allocation is the resolver's failure.
  return WithoutThrowing(ReportsLastError<hostent*>{nullptr}, [&]() -> hostent* {
    if (!Started()) return nullptr;
    if (name == nullptr || name[0] == '\0') return LocalMachineEntry();
    ::hostent result{};
    ::hostent* found = nullptr;
    std::vector<char> buffer(1024);
    int resolverError = 0;
    while (gethostbyname_r(name, &result, buffer.data(), buffer.size(), &found, &resolverError) ==
           ERANGE) {
      buffer.resize(buffer.size() * 2);
    }
    if (found == nullptr || found->h_length != 4 || found->h_addr_list[0] == nullptr) {
      SetError(found == nullptr ? ErrorFromResolver(resolverError) : kWsaNoData);
      return nullptr;
    }
    return FromResolverEntry(found);
  });
}

hostent* gethostbyaddr(const char* address, int length, int type) {
  return WithoutThrowing(ReportsLastError<hostent*>{nullptr}, [&]() -> hostent* {
    if (!Started()) return nullptr;
    if (type != kAfInet) {
      SetError(kWsaEAfNoSupport);
      return nullptr;
    }
    if (address == nullptr || length != 4) {
      SetError(kWsaEFault);
      return nullptr;
    }
    ::hostent result{};
    ::hostent* found = nullptr;
    std::vector<char> buffer(1024);
    int resolverError = 0;
    while (gethostbyaddr_r(address, 4, AF_INET, &result, buffer.data(), buffer.size(), &found,
                           &resolverError) == ERANGE) {
      buffer.resize(buffer.size() * 2);
    }
    if (found == nullptr) {
      SetError(ErrorFromResolver(resolverError));
      return nullptr;
    }
    return FromResolverEntry(found);
  });
}

}  // namespace winsock

namespace winsock::translation {

bool Started() {
  if (startups.load() > 0) return true;
  SetError(error::kNotInitialised);
  return false;
}

void SetError(int code) {
  SetLastError(static_cast<DWORD>(code));
}

int ErrorOf(int systemError) {
  switch (systemError) {
    case 0:
      return 0;
    case EINTR:
      return error::kInterrupted;
    case EBADF:
    case ENOTSOCK:
      return error::kNotSocket;
    case EACCES:
    case EPERM:
      return error::kAccess;
    case EFAULT:
      return error::kFault;
    case EINVAL:
      return error::kInvalid;
    case EMFILE:
    case ENFILE:
      return error::kTooManyOpen;
    case EAGAIN:
    case EINPROGRESS:  // a non-blocking connect under way: Windows says it would block
      return error::kWouldBlock;
    case EALREADY:
      return error::kAlready;
    case EDESTADDRREQ:
      return error::kDestinationRequired;
    case EMSGSIZE:
      return error::kMessageSize;
    case EPROTOTYPE:
      return error::kProtocolType;
    case ENOPROTOOPT:
      return error::kNoProtocolOption;
    case EPROTONOSUPPORT:
      return error::kProtocolNotSupported;
    case ESOCKTNOSUPPORT:
      return error::kSocketTypeNotSupported;
    case EOPNOTSUPP:
      return error::kOperationNotSupported;
    case EAFNOSUPPORT:
      return error::kAddressFamilyNotSupported;
    case EADDRINUSE:
      return error::kAddressInUse;
    case EADDRNOTAVAIL:
      return error::kAddressNotAvailable;
    case ENETDOWN:
      return error::kNetworkDown;
    case ENETUNREACH:
      return error::kNetworkUnreachable;
    case ENETRESET:
      return error::kNetworkReset;
    case ECONNABORTED:
      return error::kConnectionAborted;
    case ECONNRESET:
    case EPIPE:  // what the system says once a reset connection was reported
      return error::kConnectionReset;
    case ENOBUFS:
    case ENOMEM:
      return error::kNoBuffers;
    case EISCONN:
      return error::kIsConnected;
    case ENOTCONN:
      return error::kNotConnected;
    case ESHUTDOWN:
      return error::kShutdown;
    case ETIMEDOUT:
      return error::kTimedOut;
    case ECONNREFUSED:
      return error::kConnectionRefused;
    case EHOSTDOWN:
      return error::kHostDown;
    case EHOSTUNREACH:
      return error::kHostUnreachable;
    default:
      return error::kNetworkDown;
  }
}

int SystemFamily(int family) {
  switch (family) {
    case value::kAfUnspec:
      return AF_UNSPEC;
    case value::kAfInet:
      return AF_INET;
    case value::kAfInet6:
      return AF_INET6;
    default:
      return -1;
  }
}

int WindowsFamily(int systemFamily) {
  switch (systemFamily) {
    case AF_UNSPEC:
      return value::kAfUnspec;
    case AF_INET:
      return value::kAfInet;
    case AF_INET6:
      return value::kAfInet6;
    default:
      return -1;
  }
}

bool ToSystem(const sockaddr* name, int length, ::sockaddr_storage* address,
              socklen_t* addressLength) {
  *address = ::sockaddr_storage{};
  if (name == nullptr || length < static_cast<int>(sizeof(ADDRESS_FAMILY))) {
    SetError(error::kFault);
    return false;
  }
  // The layouts match the system's field for field; only the family's value differs.
  std::size_t size = 0;
  switch (name->sa_family) {
    case value::kAfInet:
      size = sizeof(::sockaddr_in);
      break;
    case value::kAfInet6:
      size = sizeof(::sockaddr_in6);
      break;
    default:
      SetError(error::kAddressFamilyNotSupported);
      return false;
  }
  if (static_cast<std::size_t>(length) < size) {
    SetError(error::kFault);
    return false;
  }
  std::memcpy(address, name, size);
  address->ss_family = static_cast<sa_family_t>(SystemFamily(name->sa_family));
  *addressLength = static_cast<socklen_t>(size);
  return true;
}

bool ToWindows(const ::sockaddr_storage& address, socklen_t addressLength, sockaddr* name,
               int* length) {
  const auto size = std::min<std::size_t>(addressLength, sizeof address);
  if (name == nullptr || length == nullptr || *length < 0 ||
      static_cast<std::size_t>(*length) < size) {
    SetError(error::kFault);
    return false;
  }
  std::memcpy(name, &address, size);
  const int family = WindowsFamily(address.ss_family);
  if (size >= sizeof(ADDRESS_FAMILY) && family >= 0) {
    name->sa_family = static_cast<ADDRESS_FAMILY>(family);
  }
  *length = static_cast<int>(size);
  return true;
}

}  // namespace winsock::translation
