// Windows Sockets 1.1 over the C library's resolver.
//
// Reproduced from Windows: results live in storage of the calling thread until its next call;
// name resolution fails with WSANOTINITIALISED while no WSAStartup is in force; a null or empty
// name gives the local machine's entry; inet_addr gives INADDR_NONE for a null text.
// Where it differs: the local machine's entry is built from the host name and the IPv4 addresses
// of the interfaces that are up (loopback last), without asking the resolver, since the C
// library's gethostbyname(NULL) crashes and gethostbyname("") fails.
#include "winsock_api.h"

#include <array>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <unistd.h>

#include "no_throw.h"

namespace winsock {
namespace {

constexpr int kAfInet = 2;
constexpr int kWsaNotEnoughMemory = 8;  // WSA_NOT_ENOUGH_MEMORY
constexpr int kWsaEFault = 10014;
constexpr int kWsaEAfNoSupport = 10047;
constexpr int kWsaVerNotSupported = 10092;
constexpr int kWsaNotInitialised = 10093;
constexpr int kWsaHostNotFound = 11001;
constexpr int kWsaTryAgain = 11002;
constexpr int kWsaNoRecovery = 11003;
constexpr int kWsaNoData = 11004;

std::atomic<int> startups{0};
thread_local int lastError = 0;

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

// The sockets calls report through their own last error, which WSAGetLastError reads: a failed
// allocation is WSA_NOT_ENOUGH_MEMORY there.
template <typename Result>
struct ReportsSocketsError {
  Result failure;
  Result OutOfMemory() const {
    lastError = kWsaNotEnoughMemory;
    return failure;
  }
};

bool Started() {
  if (startups.load() > 0) return true;
  lastError = kWsaNotInitialised;
  return false;
}

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
    lastError = kWsaNotInitialised;
    return -1;
  }
  return 0;
}

int WSAGetLastError() {
  return lastError;
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
  return WithoutThrowing(ReportsSocketsError<hostent*>{nullptr}, [&]() -> hostent* {
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
      lastError = found == nullptr ? ErrorFromResolver(resolverError) : kWsaNoData;
      return nullptr;
    }
    return FromResolverEntry(found);
  });
}

hostent* gethostbyaddr(const char* address, int length, int type) {
  return WithoutThrowing(ReportsSocketsError<hostent*>{nullptr}, [&]() -> hostent* {
    if (!Started()) return nullptr;
    if (type != kAfInet) {
      lastError = kWsaEAfNoSupport;
      return nullptr;
    }
    if (address == nullptr || length != 4) {
      lastError = kWsaEFault;
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
      lastError = ErrorFromResolver(resolverError);
      return nullptr;
    }
    return FromResolverEntry(found);
  });
}

}  // namespace winsock
