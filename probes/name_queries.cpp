#include "name_queries.h"

#include <cstring>

#include "sonde_probe.h"
#include "string_conversion.h"

namespace telvario {

// A name with one long-stable IPv4 address: with a single address record, the expected address
// is always the first one.
const char* const dnsCheckHost = "a.root-servers.net";
const char* const dnsCheckAddress = "198.41.0.4";

namespace {

struct RootKey {
  const char* abbreviation;
  HKEY root;
};

const RootKey rootKeyTable[] = {
    {"HKCR", HKEY_CLASSES_ROOT},
    {"HKCU", HKEY_CURRENT_USER},
    {"HKLM", HKEY_LOCAL_MACHINE},
    {"HKUS", HKEY_USERS},
    {"HKCC", HKEY_CURRENT_CONFIG},
    {"HKDD", HKEY_DYN_DATA},
    {"", nullptr},
};

constexpr char kDhcpInfoPath[] = "HKLM\\System\\CurrentControlSet\\Services\\VxD\\DHCP\\DhcpInfo00";
constexpr char kDhcpServerValue[] = "DhcpServer";
constexpr size_t kAbbreviationLength = 4;

bool SameIgnoringCase(const char* a, const char* b, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
    if (x != y) return false;
    if (x == '\0') return true;
  }
  return true;
}

}  // namespace

BSTR AddressText(ULONG address) {
  in_addr parts;
  parts.s_addr = address;
  return ToWideBstr(inet_ntoa(parts));
}

bool IsNtFamily() {
  return (GetVersion() & 0x80000000u) == 0;
}

DWORD ReadRegistryDword(const char* path, const char* valueName, void* buffer, DWORD size) {
  if (path == nullptr) return 0;
  HKEY root = nullptr;
  for (const RootKey* entry = rootKeyTable; entry->root != nullptr; ++entry) {
    if (SameIgnoringCase(path, entry->abbreviation, kAbbreviationLength)) {
      root = entry->root;
      break;
    }
  }
  if (root == nullptr) return 0;
  // The subkey starts after the abbreviation and one separator; a path that ends with the
  // abbreviation names the root itself, and nothing past its end is read.
  const char* subKey =
      std::strlen(path) > kAbbreviationLength ? path + kAbbreviationLength + 1 : "";
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, subKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return 0;
  DWORD count = size;
  const LONG result =
      RegQueryValueExA(key, valueName, nullptr, nullptr, static_cast<BYTE*>(buffer), &count);
  RegCloseKey(key);
  return result == ERROR_SUCCESS || result == ERROR_MORE_DATA ? count : 0;
}

HRESULT SondeProbe::get_HostName(BSTR Addr, BSTR* pVal) {
  const NarrowArgument text(Addr);
  const ULONG address = text.HasEmbeddedNul() ? INADDR_NONE : inet_addr(text.Get());
  const HOSTENT* entry = nullptr;
  if (address != INADDR_NONE) {
    entry = gethostbyaddr(reinterpret_cast<const char*>(&address), 4, AF_INET);
  }
  *pVal = entry != nullptr ? ToWideBstr(entry->h_name) : EmptyBstr();
  return S_OK;
}

HRESULT SondeProbe::get_Addr(BSTR HostName, BSTR* pVal) {
  const NarrowArgument name(HostName);
  const HOSTENT* entry = name.HasEmbeddedNul() ? nullptr : gethostbyname(name.Get());
  if (entry == nullptr || entry->h_addr_list[0] == nullptr) {
    *pVal = EmptyBstr();
    return S_OK;
  }
  ULONG first = 0;
  std::memcpy(&first, entry->h_addr_list[0], sizeof first);
  *pVal = AddressText(first);
  return S_OK;
}

HRESULT SondeProbe::get_is_DNS_OK(LONG* pVal) {
  const HOSTENT* entry = gethostbyname(dnsCheckHost);
  const ULONG expected = inet_addr(dnsCheckAddress);
  ULONG first = 0;
  if (entry != nullptr && entry->h_addr_list[0] != nullptr) {
    std::memcpy(&first, entry->h_addr_list[0], sizeof first);
  }
  *pVal = entry != nullptr && first == expected ? 1 : 0;
  return S_OK;
}

HRESULT SondeProbe::get_DHCPServer(BSTR* pVal) {
  ULONG address = 0;
  if (!IsNtFamily()) ReadRegistryDword(kDhcpInfoPath, kDhcpServerValue, &address, sizeof address);
  *pVal = address != 0 ? AddressText(address) : EmptyBstr();
  return S_OK;
}

}  // namespace telvario
