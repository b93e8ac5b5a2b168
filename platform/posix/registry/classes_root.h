// HKEY_CLASSES_ROOT as the COM and OLE Automation services here use it: identifiers as key
// names, UTF-16 names and paths as the registry's UTF-8 text, and default values read as text.
#ifndef TELVARIO_PLATFORM_POSIX_CLASSES_ROOT_H
#define TELVARIO_PLATFORM_POSIX_CLASSES_ROOT_H

#include <string>

#include "com.h"

namespace classes_root {

// UTF-16 text as UTF-8, and back; null or unconvertible text gives the empty string.
std::string Utf8(LPCOLESTR text);
std::u16string Utf16(const std::string& text);

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", as the keys name identifiers.
std::string GuidKeyName(REFGUID guid);

// The default value of a key below HKEY_CLASSES_ROOT, when it is text.
bool ReadDefault(const std::string& path, std::string* value);

}  // namespace classes_root

#endif
