// Identifiers as text, in the registry's form: {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}.
#include <cstdio>

#include "com.h"

int StringFromGUID2(REFGUID guid, LPOLESTR text, int maxChars) {
  constexpr int kLength = 39;  // with the terminator
  if (text == nullptr || maxChars < kLength) return 0;
  char narrow[kLength + 1];
  std::snprintf(narrow, sizeof narrow, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                guid.Data1, guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1], guid.Data4[2],
                guid.Data4[3], guid.Data4[4], guid.Data4[5], guid.Data4[6], guid.Data4[7]);
  for (int i = 0; i < kLength; ++i) text[i] = static_cast<OLECHAR>(narrow[i]);
  return kLength;
}
