// The registry: keys with case-insensitive names that keep their case, typed values, and the
// predefined roots, with Windows' results and error codes.
//
// It lives in an SQLite database, so that what one process writes another reads, as on Windows:
// $TELVARIO_REGISTRY when set, otherwise registry.sqlite3 under $XDG_DATA_HOME/telvario (or
// ~/.local/share/telvario). Processes may use it at once; each change is one transaction.
// Names keep Windows' limits: a key name (one component of a path) of at most 255 UTF-16 units
// and a value name of at most 16,383; longer ones are refused with ERROR_INVALID_PARAMETER.
// Where it differs: HKEY_CLASSES_ROOT is HKEY_LOCAL_MACHINE\Software\Classes, not a merged view;
// there are no security descriptors, classes, volatile keys or change notifications.
#ifndef TELVARIO_PLATFORM_POSIX_REGISTRY_H
#define TELVARIO_PLATFORM_POSIX_REGISTRY_H

#include "kernel.h"
#include "windows_types.h"

struct RegistryKey;
using HKEY = RegistryKey*;
using PHKEY = HKEY*;
using REGSAM = DWORD;
using LSTATUS = LONG;

inline HKEY PredefinedKey(ULONG_PTR value) {
  return reinterpret_cast<HKEY>(value);
}
#define HKEY_CLASSES_ROOT PredefinedKey(0x80000000)
#define HKEY_CURRENT_USER PredefinedKey(0x80000001)
#define HKEY_LOCAL_MACHINE PredefinedKey(0x80000002)
#define HKEY_USERS PredefinedKey(0x80000003)
#define HKEY_PERFORMANCE_DATA PredefinedKey(0x80000004)
#define HKEY_CURRENT_CONFIG PredefinedKey(0x80000005)
#define HKEY_DYN_DATA PredefinedKey(0x80000006)

constexpr DWORD REG_NONE = 0;
constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_EXPAND_SZ = 2;
constexpr DWORD REG_BINARY = 3;
constexpr DWORD REG_DWORD = 4;
constexpr DWORD REG_MULTI_SZ = 7;

constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
constexpr REGSAM KEY_SET_VALUE = 0x0002;
constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
constexpr REGSAM KEY_READ = 0x20019;
constexpr REGSAM KEY_WRITE = 0x20006;
constexpr REGSAM KEY_ALL_ACCESS = 0xF003F;

constexpr DWORD REG_OPTION_NON_VOLATILE = 0;
constexpr DWORD REG_CREATED_NEW_KEY = 1;
constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

constexpr LONG ERROR_FILE_NOT_FOUND = 2;
constexpr LONG ERROR_MORE_DATA = 234;
constexpr LONG ERROR_NO_MORE_ITEMS = 259;
constexpr LONG ERROR_KEY_DELETED = 1018;
constexpr LONG ERROR_REGISTRY_IO_FAILED = 1016;

// Not in Windows: empties the whole registry, for the tests and fuzzers that want a fresh one.
LSTATUS RegistryDeleteAll();

LSTATUS RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD options, REGSAM access, PHKEY result);
LSTATUS RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD reserved, LPSTR keyClass, DWORD options,
                        REGSAM access, void* security, PHKEY result, DWORD* disposition);
LSTATUS RegCloseKey(HKEY key);
LSTATUS RegSetValueExA(HKEY key, LPCSTR valueName, DWORD reserved, DWORD type, const BYTE* data,
                       DWORD size);
LSTATUS RegQueryValueExA(HKEY key, LPCSTR valueName, DWORD* reserved, DWORD* type, BYTE* data,
                         DWORD* size);
LSTATUS RegDeleteValueA(HKEY key, LPCSTR valueName);
LSTATUS RegDeleteKeyA(HKEY key, LPCSTR subKey);
LSTATUS RegEnumKeyExA(HKEY key, DWORD index, LPSTR name, DWORD* nameLength, DWORD* reserved,
                      LPSTR keyClass, DWORD* classLength, FILETIME* lastWrite);
LSTATUS RegQueryInfoKeyA(HKEY key, LPSTR keyClass, DWORD* classLength, DWORD* reserved,
                         DWORD* subKeys, DWORD* maxSubKeyLength, DWORD* maxClassLength,
                         DWORD* values, DWORD* maxValueNameLength, DWORD* maxValueLength,
                         DWORD* securityDescriptorLength, FILETIME* lastWrite);

#endif
