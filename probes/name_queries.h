// Questions about names and configuration, answered by the system's resolver and registry.
#ifndef TELVARIO_PROBES_NAME_QUERIES_H
#define TELVARIO_PROBES_NAME_QUERIES_H

#include "windows_api.h"

namespace telvario {

// The host whose resolution is_DNS_OK checks, and the address it must resolve to first.
extern const char* const dnsCheckHost;
extern const char* const dnsCheckAddress;

// The dotted-decimal text of an IPv4 address (network byte order) as an automation string.
BSTR AddressText(ULONG address);

// True on the NT family, where DHCPServer does not consult the registry.
bool IsNtFamily();

// Reads a value below a path that starts with a root abbreviation ("HKLM\\..."); the byte
// count the registry reported (also when the buffer was too small), or 0 on failure.
DWORD ReadRegistryDword(const char* path, const char* valueName, void* buffer, DWORD size);

}  // namespace telvario

#endif
